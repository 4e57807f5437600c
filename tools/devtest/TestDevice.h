// devtest's dialog, "Velmo Test Device": the devices of config.xml in a
// list, To and Body fields, and Send, which loads, opens and runs the
// chosen device with a queue of one message, logging every step.
#pragma once

#include "platform/Dialog.h"

namespace velmo::devtest {

enum : int {
    IDC_SEND = 1000,
    IDC_TO = 1001,
    IDC_BODY = 1002,
    IDC_DEVICE = 1003,
    IDC_LOG = 1004,
    IDC_CLEARALL = 3,
    IDC_CLEARLOG = 4,
};

// Shows the dialog until Exit; 0.
INT_PTR RunTestDevice();

}  // namespace velmo::devtest
