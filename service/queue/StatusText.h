// A message's status text grows with every report on it: what is appended
// is kept, and the text keeps its last kStatusTextLimit characters, so a
// message retried without end cannot grow its file without end.
#pragma once

#include "platform/Bstr.h"

#include <string_view>

namespace velmo::queue {

inline constexpr std::size_t kStatusTextLimit = 4096;

// text with more after it; cut at the front to kStatusTextLimit characters
// (beginning "[earlier status text cut]", never half a surrogate pair).
void AppendStatusText(Bstr& text, std::u16string_view more);

}  // namespace velmo::queue
