// The one way the system lists a folder.
//
// ListFolder gives the entries of one folder whose names match a pattern
// ("*" and "?", compared without regard to case; a leading "." must be
// matched by a "." of the pattern), in the order the file system returns
// them, never "." or "..". The listing is taken whole before it is
// returned, so the caller may change the folder while it goes through it.
// A missing or unreadable folder gives an empty list.
#pragma once

#include "platform/Types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

struct FolderEntry {
    std::string name;           // UTF-8, as the file system holds it
    std::uint64_t written = 0;  // last written, in 100 ns steps since 1601-01-01 UTC; 0 when unknown
    bool folder = false;        // a folder (a link to one counts as one)
};

VELMO_PLATFORM_API std::vector<FolderEntry> ListFolder(const std::string& folder, std::string_view pattern = "*");
// The same for a UTF-16 folder name.
VELMO_PLATFORM_API std::vector<FolderEntry> ListFolder(const std::u16string& folder, std::string_view pattern = "*");
// Now, in the steps of FolderEntry::written (to compare with them).
VELMO_PLATFORM_API std::uint64_t WrittenNow();
// The names of the files (not folders) that match, in the listing's order.
VELMO_PLATFORM_API std::vector<std::string> ListFileNames(const std::string& folder, std::string_view pattern = "*");

}  // namespace velmo
