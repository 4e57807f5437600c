#include "messagefile/QueueFolders.h"

#include "platform/File.h"

namespace velmo::store {

std::vector<FolderFile> ListFilesWithTimes(const std::u16string& folder, const std::u16string& pattern)
{
    std::vector<FolderFile> files;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back({data.cFileName, (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                                 data.ftLastWriteTime.dwLowDateTime});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return files;
}

std::vector<std::u16string> ListFiles(const std::u16string& folder, const std::u16string& pattern)
{
    std::vector<std::u16string> names;
    for (FolderFile& f : ListFilesWithTimes(folder, pattern))
        names.push_back(std::move(f.name));
    return names;
}

bool FileExists(const std::u16string& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace velmo::store
