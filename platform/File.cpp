#include "platform/File.h"

#include "platform/FileFault.h"
#include "platform/KernelObject.h"
#include "platform/Text.h"
#include "platform/WriteAll.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using velmo::detail::FileObject;
using velmo::detail::Object;

DWORD FromErrno(int e)
{
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    case ENOSPC: return ERROR_DISK_FULL;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EIO: return ERROR_IO_DEVICE;
    case EDQUOT: return ERROR_DISK_QUOTA_EXCEEDED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY: return ERROR_BUSY;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    default: return ERROR_INVALID_FUNCTION;
    }
}

BOOL Fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

BOOL FailErrno() { return Fail(FromErrno(errno)); }

std::string Narrow(LPCWSTR path) { return path ? velmo::Utf16ToUtf8(path) : std::string(); }

FileObject* AsFile(HANDLE h) { return dynamic_cast<FileObject*>(velmo::detail::FromHandle(h)); }

std::string FolderOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Syncs the folder that holds path; false and errno when the folder cannot
// be opened or synced.
bool SyncFolder(const std::string& path)
{
    std::string folder = FolderOf(path);
    if (velmo::detail::FileFault(velmo::FileOp::SyncFolder, folder))
        return false;
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    int rc = fsync(dir);
    int e = errno;
    close(dir);
    errno = e;
    return rc == 0;
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD creation, DWORD options)
{
    const bool ownFile = options & FILE_FLAG_OPEN_REPARSE_POINT;
    int flags = O_CLOEXEC | O_NONBLOCK | (ownFile ? O_NOFOLLOW : 0);
    bool reads = access & GENERIC_READ;
    bool writes = access & GENERIC_WRITE;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    bool truncate = false;
    switch (creation) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS:
        flags |= O_CREAT;
        truncate = true;
        break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: truncate = true; break;
    default: Fail(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    if (truncate && !writes) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int fd = velmo::detail::FileFault(velmo::FileOp::Open, path) ? -1 : open(path.c_str(), flags, 0644);
    if (fd < 0) {
        DWORD code = ownFile && errno == ELOOP ? ERROR_CANT_RESOLVE_FILENAME : FromErrno(errno);
        if (code == ERROR_ALREADY_EXISTS)
            code = ERROR_FILE_EXISTS;
        Fail(code);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || (ownFile && !S_ISREG(st.st_mode)))) {
        close(fd);
        Fail(ownFile ? ERROR_BAD_FILE_TYPE : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Reads and writes block as they always do; only the open must not.
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // cannot fail on a descriptor just opened
    int lock = 0;
    if (!(share & FILE_SHARE_WRITE))
        lock = (writes || !(share & FILE_SHARE_READ)) ? LOCK_EX : LOCK_SH;
    if (lock) {
        int rc;
        while ((rc = flock(fd, lock | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            int e = errno;
            close(fd);
            Fail(FromErrno(e));
            return INVALID_HANDLE_VALUE;
        }
    }
    if (truncate && ftruncate(fd, 0) != 0) {
        int e = errno;
        close(fd);
        Fail(FromErrno(e));
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(0);
    return new FileObject(fd, path);
}

// A COM port as Windows opens it: one that another program holds is
// ERROR_ACCESS_DENIED there.
HANDLE OpenComPort(const std::string& name, DWORD access)
{
    HANDLE port = velmo::detail::OpenSerial(name, access);
    if (port == INVALID_HANDLE_VALUE && GetLastError() == static_cast<DWORD>(ERROR_SHARING_VIOLATION))
        SetLastError(ERROR_ACCESS_DENIED);
    return port;
}

}  // namespace

namespace velmo::detail {

BOOL FileObject::Read(void* buffer, DWORD size, DWORD* done)
{
    auto* out = static_cast<char*>(buffer);
    *done = 0;
    if (FileFault(FileOp::Read, path_))
        return FailErrno();
    while (*done < size) {
        ssize_t n = ::read(fd(), out + *done, size - *done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return FailErrno();
        }
        if (n == 0)
            break;
        *done += static_cast<DWORD>(n);
    }
    return TRUE;
}

BOOL FileObject::Write(const void* buffer, DWORD size, DWORD* done)
{
    const auto* in = static_cast<const char*>(buffer);
    *done = 0;
    if (FileFault(FileOp::Write, path_))
        return FailErrno();
    while (*done < size) {
        ssize_t n = ::write(fd(), in + *done, size - *done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return FailErrno();
        }
        *done += static_cast<DWORD>(n);
    }
    return TRUE;
}

}  // namespace velmo::detail

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, const void*, DWORD creation, DWORD flags, HANDLE)
{
    if (!path) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string name = Narrow(path);
    if (velmo::detail::IsSerialName(name) && !(flags & FILE_FLAG_OPEN_REPARSE_POINT))
        return OpenComPort(name, access);
    return OpenFile(name, access, share, creation, flags);
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD share, const void*, DWORD creation, DWORD flags, HANDLE)
{
    if (!path) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (velmo::detail::IsSerialName(path) && !(flags & FILE_FLAG_OPEN_REPARSE_POINT))
        return OpenComPort(path, access);
    return OpenFile(path, access, share, creation, flags);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped)
{
    FileObject* f = AsFile(file);
    DWORD done = 0;
    if (read)
        *read = 0;
    if (!f || overlapped)
        return Fail(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    BOOL ok = f->Read(buffer, toRead, &done);
    if (read)
        *read = done;
    return ok;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped)
{
    FileObject* f = AsFile(file);
    DWORD done = 0;
    if (written)
        *written = 0;
    if (!f || overlapped)
        return Fail(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    BOOL ok = f->Write(buffer, toWrite, &done);
    if (written)
        *written = done;
    return ok;
}

BOOL FlushFileBuffers(HANDLE file)
{
    FileObject* f = AsFile(file);
    if (!f)
        return Fail(ERROR_INVALID_HANDLE);
    if (velmo::detail::FileFault(velmo::FileOp::Sync, f->path()))
        return FailErrno();
    return fsync(f->fd()) == 0 ? TRUE : FailErrno();
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method)
{
    FileObject* f = AsFile(file);
    if (!f) {
        Fail(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t offset = distanceHigh ? static_cast<off_t>((static_cast<std::int64_t>(*distanceHigh) << 32) |
                                                     static_cast<std::uint32_t>(distance))
                                : static_cast<off_t>(distance);
    off_t pos = lseek(f->fd(), offset, whence);
    if (pos < 0) {
        FailErrno();
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh)
        *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(pos) >> 32);
    SetLastError(0);
    return static_cast<DWORD>(pos);
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh)
{
    FileObject* f = AsFile(file);
    struct stat st {};
    if (!f || fstat(f->fd(), &st) != 0) {
        Fail(f ? FromErrno(errno) : ERROR_INVALID_HANDLE);
        return 0xFFFFFFFFu;
    }
    auto size = static_cast<std::uint64_t>(st.st_size);
    if (sizeHigh)
        *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(0);  // a size whose low part is 0xFFFFFFFF is no failure
    return static_cast<DWORD>(size);
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) { return MoveFileExW(from, to, 0); }

BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    if (!from || !to)
        return Fail(ERROR_INVALID_PARAMETER);
    std::string source = Narrow(from);
    std::string target = Narrow(to);
    int rc = velmo::detail::FileFault(velmo::FileOp::Rename, source, target) ? -1
             : (flags & MOVEFILE_REPLACE_EXISTING)
                 ? rename(source.c_str(), target.c_str())
                 : renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (rc != 0)
        return FailErrno();
    if (flags & MOVEFILE_WRITE_THROUGH) {
        // The move is done, but not known to last: the caller hears so.
        if (!SyncFolder(target))
            return FailErrno();
        if (FolderOf(source) != FolderOf(target) && !SyncFolder(source))
            return FailErrno();
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR path)
{
    if (!path)
        return Fail(ERROR_INVALID_PARAMETER);
    std::string name = Narrow(path);
    if (velmo::detail::FileFault(velmo::FileOp::Unlink, name))
        return FailErrno();
    return unlink(name.c_str()) == 0 ? TRUE : FailErrno();
}

DWORD GetFileAttributesW(LPCWSTR path)
{
    struct stat st {};
    if (!path || stat(Narrow(path).c_str(), &st) != 0) {
        path ? FailErrno() : Fail(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

namespace velmo {

namespace {

// Creates "<prefix>" followed by six random letters and digits, exclusively
// and with mode 0666 less the umask, as any new file; the name is written
// into prefix. -1 with errno when no name could be made.
int CreateTemporary(std::string& prefix)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 6; ++i)
            name += kLetters[pick(random)];
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            prefix = name;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

BOOL WriteFileDurably(const std::string& path, const void* data, std::size_t size, bool* openFailed)
{
    if (openFailed)
        *openFailed = false;
    std::string folder = FolderOf(path);
    std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::string name = folder + "/." + base + ".";
    int fd = detail::FileFault(FileOp::Open, name + "XXXXXX") ? -1 : CreateTemporary(name);
    if (fd < 0) {
        if (openFailed)
            *openFailed = true;
        return FailErrno();
    }
    bool ok = !detail::FileFault(FileOp::Write, name.data()) &&
              detail::WriteAll(fd, std::string_view(static_cast<const char*>(data), size));
    int e = errno;
    if (ok && (detail::FileFault(FileOp::Sync, name.data()) || fsync(fd) != 0)) {
        ok = false;
        e = errno;
    }
    close(fd);
    if (ok && (detail::FileFault(FileOp::Rename, name.data(), path) || rename(name.data(), path.c_str()) != 0)) {
        ok = false;
        e = errno;
    }
    if (!ok) {
        unlink(name.data());
        return Fail(FromErrno(e));
    }
    // The new file stands; whether it outlives a crash rests on the folder.
    if (!SyncFolder(path))
        return FailErrno();
    return TRUE;
}

bool DeleteFileDurably(const std::string& path)
{
    if (detail::FileFault(FileOp::Unlink, path) || unlink(path.c_str()) != 0 || !SyncFolder(path)) {
        FailErrno();
        return false;
    }
    return true;
}

bool IsExecutableFile(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool IsOwnerOnly(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

bool PathExists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

void SetFileCreationMask(unsigned mask) { umask(static_cast<mode_t>(mask)); }

}  // namespace velmo
