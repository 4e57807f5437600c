// Keeps the device from locking its SIM: a SIM blocks itself after three
// wrong PINs, so a PIN the SIM refused is never sent again until the Pin
// parameter changes.
//
// One guard per device name. What it remembers is a fingerprint of the
// refused PIN, never the PIN: in the process (for the device's restarts)
// and in the file "<root>cellgate/<device>.pin-refused" (for the service's
// restarts), where <root> is the installation root folder and <device> the
// name with every character but letters, digits, ".", "-" and "_" made "_".
#pragma once

#include <string>

namespace velmo::cellgate {

class PinGuard {
public:
    explicit PinGuard(std::string device);

    // Whether this PIN was refused before (and not accepted since).
    bool Refused(const std::string& pin) const;
    // Notes a refusal; false when the file could not be written (the
    // process still remembers it).
    bool Remember(const std::string& pin);
    // The SIM took a PIN: forgets any refusal.
    void Forget();
    // The file that keeps the refusal across restarts of the service.
    std::string FilePath() const;

private:
    std::string device_;
};

}  // namespace velmo::cellgate
