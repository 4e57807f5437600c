// Plain bus values (BusData.h) written into and read out of sdbus-c++
// messages by signature. Internal to the platform library.
//
// A signature is one or more complete D-Bus types; the values are given
// and returned one per complete type. Writing a value whose shape does not
// fit its type, or reading a message whose contents do not fit the
// signature, throws BusDataError; the D-Bus library may throw sdbus::Error.
#pragma once

#include "platform/BusData.h"

#include <sdbus-c++/sdbus-c++.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::detail {

struct BusDataError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The complete types of a signature, in order; throws BusDataError for a
// signature that is not well formed.
std::vector<std::string> SplitSignature(std::string_view signature);

void WriteBusData(sdbus::Message& msg, std::string_view signature, const std::vector<BusData>& values);
std::vector<BusData> ReadBusData(sdbus::Message& msg, std::string_view signature);

}  // namespace velmo::detail
