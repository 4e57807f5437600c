// The names of the queue folders under the root folder, and the file name
// of a message id. The root always ends in "/".
#pragma once

#include "platform/Guid.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmo::store {

inline constexpr const char16_t* kOutFolder = u"out/";
inline constexpr const char16_t* kSentFolder = u"out/sent/";
inline constexpr const char16_t* kFailedFolder = u"out/failed/";
inline constexpr const char16_t* kInFolder = u"in/";
inline constexpr const char16_t* kBadFolder = u"bad/";
inline constexpr const char16_t* kPickupFolder = u"pickup/";

// "{ID}.velmo"
inline std::u16string MessageFileName(const GUID& id) { return GuidToString(id) + u".velmo"; }

// A file of a folder and when it was last written, in 100 ns steps since
// 1601 (the platform's FILETIME).
struct FolderFile {
    std::u16string name;
    std::uint64_t written = 0;
};

// The files (not folders) in a folder that match pattern, in the order the
// file system returns them, taken whole before the caller changes the
// folder; empty when the folder is missing.
std::vector<FolderFile> ListFilesWithTimes(const std::u16string& folder, const std::u16string& pattern);
// The same, names only.
std::vector<std::u16string> ListFiles(const std::u16string& folder, const std::u16string& pattern);
inline std::vector<std::u16string> ListMessageFiles(const std::u16string& folder)
{
    return ListFiles(folder, u"*.velmo");
}

bool FileExists(const std::u16string& path);

}  // namespace velmo::store
