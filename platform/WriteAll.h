// Writes a whole buffer to a descriptor, going on after short writes and
// interruptions. Internal to the platform library.
#pragma once

#include <string_view>

namespace velmo::detail {
// True when everything was written.
bool WriteAll(int fd, std::string_view data);
}  // namespace velmo::detail
