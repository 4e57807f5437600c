// The service's figures in the Prometheus text format (version 0.0.4):
//
//   velmo_messages_queued_total              counter, since the service started
//   velmo_messages_sent_total{device}        counter
//   velmo_messages_failed_total{device}      counter ("" for failures no device took)
//   velmo_messages_received_total{device}    counter
//   velmo_messages_waiting                   gauge: messages in the queue now
//   velmo_devices_up                         gauge: devices running now
//   velmo_device_up{device,state}            gauge: 1 running, 0 otherwise
//   velmo_modem_signal_dbm{device}           gauge, for devices that tell it
//   velmo_modem_registered{device,registration}  gauge: 1 home or roaming
//   velmo_modem_info{device,manufacturer,model,revision,imei,port}  gauge: 1 (no IMSI: /metrics may be open)
//   velmo_device_failed_starts{device}       gauge: starts since it last ran that failed
//   velmo_device_next_try_timestamp_seconds{device}  gauge, for a device that does not run
//   velmo_device_last_error_info{device,error}       gauge: 1, for a device that does not run
//   velmo_message_delivery_seconds{le}       histogram of the network's delivery reports
//
// When gateway hosts share the queue, every family but velmo_messages_waiting
// carries a host label too (the per-host ones: queued, the histogram,
// velmo_devices_up), and velmo_host_reported_timestamp_seconds{host} tells
// when each host last reported.
#pragma once

#include "gatewayclient/GatewayClient.h"

#include <string>
#include <vector>

namespace velmo::http {

std::string RenderMetrics(const gatewayclient::Counters& counters, const std::vector<gatewayclient::Device>& devices);

// A label value with \, " and line ends escaped as the format wants.
std::string LabelValue(const std::string& value);

}  // namespace velmo::http
