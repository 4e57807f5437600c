// Where the GSM device keeps what must outlive its runs and the service's:
// files named after the device in "<root>cellgate/", <root> being the
// installation root folder. A device name becomes a file name with every
// character but letters, digits, ".", "-" and "_" made "_".
#pragma once

#include <string>

namespace velmo::cellgate {

// "<root>cellgate/<device><suffix>".
std::string DeviceFile(const std::string& device, const std::string& suffix);
// "<root>cellgate/", created when missing; false when it cannot be.
bool MakeDeviceFolder();

}  // namespace velmo::cellgate
