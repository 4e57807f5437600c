// A message's identifier in the forms files and clients use: the braced
// upper-case GUID of 38 characters, and "{ID}.velmo", the name of its file.
#pragma once

#include "platform/Guid.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmo::messagefile {

// "{ID}.velmo"
inline std::u16string MessageFileName(const GUID& id) { return GuidToString(id) + u".velmo"; }

// The id a client gave: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces
// optional, any case; nullopt for anything else.
std::optional<GUID> ParseMessageId(std::string_view text);

// The id a file name holds before suffix ("{ID}.velmo", "{ID}.claimed"),
// the suffix compared without regard to case, as folders are listed;
// nullopt when the name does not end in suffix or the rest is no id.
std::optional<GUID> IdOfFileName(std::u16string_view name, std::u16string_view suffix);

}  // namespace velmo::messagefile
