// The gateway: one bus object at a fixed path whose methods each do their
// whole job in one call, for clients that open a connection per call
// (busctl, gdbus, scripts, velmo, velmo-http), and whose signals tell of
// every message queued, finished or received, so no client has to poll.
//
// Methods (interface org.norvane.Velmo.IGateway):
//   Send(s to, s text) -> (s id)
//   Status(s id) -> (s status, s statusText, s date)
//   List(s folder, u limit, s cursor) -> (a(sssss) messages, s next)
//       each (id, status, to, from, date), newest first
//   Get(s id) -> (a{sv} message)
//       id, folder, status, to, from, text, statusText, created,
//       completed, received (all s), retries (i)
//   Devices() -> (a(ississ) devices)
//       each (id, name, state, signal, registration, operator), of this host
//   DeviceDetails() -> (aa{sv} devices)
//       each with id, failedStarts, signal (i) and name, state,
//       registration, operator, lastError, nextTry (s), and what the device
//       tells of its hardware: manufacturer, model, revision, imei, imsi,
//       smsc, storages, notification, port (s) where known. When the queue
//       is shared: every host's devices, each with its host (s)
//   Counters() -> (t queued, t waiting, a(sttt) devices)
//       messages queued since this host's service started, messages in the
//       queue now (of every host), and by device (sent, failed, received)
//       since the start
//   Deliveries() -> (a(stt) devices, ad bounds, at buckets, d sum, t count)
//       by device (delivered, undelivered), and the delivery times
//   HostCounters() -> (a(sxtatdt) hosts, a(ssttttt) devices)
//       when the queue is shared, the counts of every host since its start:
//       each host (host, reported, queued, buckets, sum, count), reported
//       in seconds since 1970, and each device (host, device, sent, failed,
//       received, delivered, undelivered); both empty when it is not
// Signals:
//   StatusChanged(s id, s status, s statusText)  QUEUED, SENT or FAILED
//   Received(s id, s sender, s device)
//
// Errors: org.freedesktop.DBus.Error.InvalidArgs for a bad argument,
// org.norvane.Velmo.Error.NotFound for an id no folder holds,
// org.norvane.Velmo.Error.Unreadable for a message file that cannot be
// read, org.norvane.Velmo.Error.Refused when the queue takes no message or
// the service is still starting after kStartWait.
// docs/gateway.md describes every value.
#pragma once

#include "interfaces/GatewayNames.h"
#include "platform/Types.h"
#include "service/devices/DeviceTable.h"
#include "service/gateway/HostBoard.h"
#include "service/gateway/MessageCounters.h"
#include "service/queue/MessageIntake.h"
#include "service/queue/QueueStore.h"

#include <functional>

namespace velmo::gateway {

// What the gateway's methods use; each must outlive the publication.
struct GatewayParts {
    queue::MessageIntake& intake;   // Send
    queue::QueueStore& store;       // Status, List, Get, Counters
    devices::DeviceTable& devices;  // Devices
    MessageCounters& counters;      // what this host counts of its messages
    HostBoard& board;               // the other hosts sharing the queue
    // Waits, at most kStartWait, until the service has loaded its
    // configuration and queue; false when it has not by then. Every method
    // waits for it first, so a call that starts the service is answered
    // from the whole queue, never from one half recovered.
    std::function<bool()> started;
};

// How long a call waits for the start before it is refused with "The
// service is starting" (kRefusedError): less than the bus's own time-out
// of a call.
inline constexpr DWORD kStartWait = 20000;

// Publishes the object (it appears on the bus with the automation classes)
// and turns the service's message events into its signals. E_INVALIDARG
// when it is published already.
HRESULT Publish(const GatewayParts& parts);
// Takes it off the bus and stops the signals.
void Withdraw();

}  // namespace velmo::gateway
