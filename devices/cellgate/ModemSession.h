// The running device, once per device run after the opening: first what
// the modem held (and the status reports earlier runs kept), then the service's queue and the modem's indications on
// the device thread until WaitForMsg ends the run, with the modem checked
// when it has been quiet for kIdleCheck (its state read, and what could
// not be stored offered again).
#pragma once

#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/MessageReceiver.h"
#include "devices/cellgate/MessageSender.h"
#include "devices/cellgate/StatusReports.h"

namespace velmo::cellgate {

class ModemSession {
public:
    explicit ModemSession(AtModem& modem)
        : modem_(modem), records_(modem.Settings().Name), reports_(modem, records_), sender_(modem, records_, reports_),
          receiver_(modem, reports_)
    {}

    // S_OK when WaitForMsg ends the run (at once for a modem not opened);
    // E_POINTER for a null queue; a failure (the line closed, the modem no
    // longer answers) as error information (DISP_E_EXCEPTION).
    HRESULT Run(IVelmo_Q* queue);

private:
    void IdleCheck(IVelmo_Q* queue);

    AtModem& modem_;
    DeliveryReports records_;
    StatusReports reports_;
    MessageSender sender_;
    MessageReceiver receiver_;
};

}  // namespace velmo::cellgate
