// The opening of the modem, once per device run. Each step is treated by
// what sending in PDU mode needs of it (docs/cellgate.md has the table):
//
//   ATE0             echo off; no answer at all: no modem, the device fails
//   AT+CMEE=1        numeric errors; a refusal is only warned about
//   AT+CPIN?         the SIM unlocked without ever risking its PIN
//   AT+CSMS=0        the message service; required
//   identity         AT+CGMI, +CGMM, +CGMR, +CGSN, +CIMI; each optional
//   AT+CNMI          new-message indications: the configured setting, else
//                    the nearest one AT+CNMI=? offers, else none (the device
//                    then lists the modem's storage at every idle check)
//   AT+CPMS          the storages received messages are read from
//   AT+CSCA          the service centre: the SMSCentral parameter, or the
//                    SIM's own (AT+CSCA?) when the parameter is empty
//   AT+CMGF=0        PDU mode; required
//   AT+CSCS, ATS0    not needed in PDU mode: a refusal is only warned about
//
// What it learns goes into the modem's state; on success the modem is
// marked open. A refusal of a required step fails the device run.
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
    void EchoOff();
    void UnlockSim();
    void StartMessageService();
    void ReadIdentity();
    void ChooseNotification();
    // For direct delivery: acknowledged delivery (AT+CSMS=1) when the modem
    // offers it, said in the log either way; true when it is on.
    bool AcknowledgeDirect(const std::string& cnmi);
    // With StatusReport: the notification setting with ds 1 (+CDS), else
    // ds 2 (+CDSI); a modem that takes neither has its reports found when
    // its storage is listed.
    void AskForReports();
    void ChooseStorage();
    void ChooseServiceCentre();
    // A step sending does not need: its refusal is warned about, once.
    void Optional(const std::string& command, const char* why);
    // Throws when the modem's line has closed under the command.
    AtModem::Result Ask(const std::string& command, AtExpect expect = {});

    AtModem& modem_;
    const AtSettings& settings_;
};

}  // namespace velmo::cellgate
