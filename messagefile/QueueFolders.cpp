#include "messagefile/QueueFolders.h"

namespace velmo::messagefile {

const FolderName& NameOf(Folder folder)
{
    for (const FolderName& f : kFolders)
        if (f.folder == folder)
            return f;
    return kFolders[0];
}

const FolderName* FindFolder(std::string_view name)
{
    for (const FolderName& f : kFolders)
        if (name == f.name)
            return &f;
    return nullptr;
}

}  // namespace velmo::messagefile
