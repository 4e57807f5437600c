// The queue folders under the root folder (which always ends in "/"): where
// each lies and the name clients know it by.
//
//   out/          queued   messages waiting to be sent
//   out/sent/     sent     messages a device sent
//   out/failed/   failed   messages that could not be sent
//   in/           received messages the devices received
//   bad/          bad      files that are no readable message, kept aside
//   pickup/                message files other programs drop in to be sent
#pragma once

#include <string_view>

namespace velmo::messagefile {

inline constexpr const char16_t* kOutFolder = u"out/";
inline constexpr const char16_t* kSentFolder = u"out/sent/";
inline constexpr const char16_t* kFailedFolder = u"out/failed/";
inline constexpr const char16_t* kInFolder = u"in/";
inline constexpr const char16_t* kBadFolder = u"bad/";
inline constexpr const char16_t* kPickupFolder = u"pickup/";

// The folders that hold messages, in the order a message is looked for.
enum class Folder { Queued, Sent, Failed, Received, Bad };

struct FolderName {
    Folder folder;
    const char* name;          // as clients name it: "queued", "sent", "failed", "received", "bad"
    const char16_t* relative;  // under the root, ending in "/"
};

inline constexpr FolderName kFolders[] = {{Folder::Queued, "queued", kOutFolder},
                                          {Folder::Sent, "sent", kSentFolder},
                                          {Folder::Failed, "failed", kFailedFolder},
                                          {Folder::Received, "received", kInFolder},
                                          {Folder::Bad, "bad", kBadFolder}};

// The entry of a folder; never fails.
const FolderName& NameOf(Folder folder);
// The folder clients call name; null for any other name.
const FolderName* FindFolder(std::string_view name);

}  // namespace velmo::messagefile
