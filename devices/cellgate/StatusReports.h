// Status reports from the network, as a running device takes them: a PDU
// that reads as an SMS-STATUS-REPORT (+CDS, a stored +CDSI read back, or
// one found when a storage is listed) is matched to the part it reports on
// (DeliveryReports), and what that comes to is told to the service through
// IVelmo_Q3. A report that matches nothing is logged and dropped; no report
// ever becomes a received message. Device thread only.
#pragma once

#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/DeliveryReports.h"
#include "smscodec/StatusReport.h"

namespace velmo::cellgate {

class StatusReports {
public:
    // Unmatched reports logged in one run; later ones are only counted.
    static constexpr std::size_t kLoggedUnmatched = 20;

    // records must outlive this.
    StatusReports(AtModem& modem, DeliveryReports& records) : modem_(modem), records_(records) {}

    // At the start of a run: whether the host takes reports (IVelmo_Q3),
    // and what earlier runs kept, offered again.
    void Start(IVelmo_Q* queue);
    // At the end of a run: the host is let go.
    void Stop();
    // Whether sent messages are to be recorded for their reports: the
    // device asks for them and the host takes them.
    bool Recording() const { return modem_.Settings().StatusReport && host_; }
    // A status report the modem gave: matched, recorded and told.
    void Take(const sms::StatusReport& report);
    // The final outcomes the service could not record before.
    void OfferAgain();
    // Unmatched reports of this run, for the log at its end.
    std::size_t Unmatched() const { return unmatched_; }

private:
    void Tell(const DeliveryReports::Outcome& outcome);

    AtModem& modem_;
    DeliveryReports& records_;
    ComPtr<IVelmo_Q3> host_;
    std::size_t unmatched_ = 0;
};

}  // namespace velmo::cellgate
