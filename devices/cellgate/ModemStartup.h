// The opening of the modem, once per device run: echo off, numeric errors,
// the SIM unlocked without ever risking its PIN, the message service, new
// message indications, the service centre, PDU mode, then what the modem
// says of its radio. On success the modem is marked open; on failure the
// device does not run.
#pragma once

#include "devices/cellgate/AtModem.h"

namespace velmo::cellgate {

class ModemStartup {
public:
    // modem must be on an open, configured port.
    explicit ModemStartup(AtModem& modem) : modem_(modem), settings_(modem.Settings()) {}

    // S_OK, or the failure as error information (DISP_E_EXCEPTION).
    HRESULT Run();

private:
    void Open();
    void UnlockSim();

    AtModem& modem_;
    const AtSettings& settings_;
};

}  // namespace velmo::cellgate
