// The complete XML text of a configuration entry, as a device's Load gets
// it: the element with its attributes and children, without declaration
// or added white space.
#pragma once

#include "platform/Text.h"

#include <pugixml.hpp>
#include <sstream>
#include <string>

namespace velmo {

inline std::u16string EntryText(const pugi::xml_node& entry)
{
    std::ostringstream out;
    entry.print(out, "", pugi::format_raw | pugi::format_no_declaration);
    return Utf8ToUtf16(out.str());
}

}  // namespace velmo
