// Files with their Win32 meanings: open with sharing, read, write, flush,
// move, delete and enumerate, plus the durable replacement of a whole file.
//
// Paths are UTF-16 (W forms) or UTF-8 (A forms) and have no length limit
// below the system's. Linux has no share modes, so sharing is an advisory
// flock taken without waiting at open: an opener that writes without
// FILE_SHARE_WRITE, or that shares nothing, takes an exclusive lock; one
// that shares reading takes a shared lock; FILE_SHARE_WRITE takes none. A
// lock that cannot be had fails the open with ERROR_SHARING_VIOLATION and
// changes nothing (CREATE_ALWAYS truncates only once the lock is held).
// Only openers that go through this layer see each other's locks.
//
// MoveFileW never replaces an existing file: the move fails with
// ERROR_ALREADY_EXISTS and the file stays where it was. MoveFileExW with
// MOVEFILE_WRITE_THROUGH syncs both folders and fails when a sync does (the
// file is moved then, but the move may not outlive a crash). I/O errors have
// their own codes: ERROR_IO_DEVICE (EIO), ERROR_DISK_FULL (ENOSPC),
// ERROR_DISK_QUOTA_EXCEEDED, ERROR_WRITE_PROTECT (a read-only file system),
// ERROR_TOO_MANY_OPEN_FILES. Failures set GetLastError to the Win32 code.
// Folders are listed with ListFolder (FolderListing.h).
#pragma once

#include "platform/Sync.h"

#include <cstddef>
#include <string>

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
constexpr LONG ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr LONG ERROR_WRITE_PROTECT = 19;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_SHARING_VIOLATION = 32;
constexpr LONG ERROR_HANDLE_EOF = 38;
constexpr LONG ERROR_FILE_EXISTS = 80;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_BUSY = 170;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LONG ERROR_FILE_TOO_LARGE = 223;
constexpr LONG ERROR_IO_DEVICE = 1117;
constexpr LONG ERROR_DISK_QUOTA_EXCEEDED = 1295;
constexpr LONG ERROR_FILE_CORRUPT = 1392;
constexpr LONG ERROR_DIRECTORY = 267;
constexpr LONG ERROR_BAD_FILE_TYPE = 222;
constexpr LONG ERROR_CANT_RESOLVE_FILENAME = 1921;
// Opens the link itself, never what it names: on Linux the open of a link
// fails with ERROR_CANT_RESOLVE_FILENAME, and whatever is not a regular
// file (a FIFO, a device, a socket) with ERROR_BAD_FILE_TYPE.
constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;

// security and templateFile are ignored; of the flags only
// FILE_FLAG_OPEN_REPARSE_POINT counts (FILE_FLAG_WRITE_THROUGH: call
// FlushFileBuffers). The open itself never blocks: a FIFO with no writer
// is opened at once (its reads then wait as reads of a FIFO do).
VELMO_PLATFORM_API HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, const void* security, DWORD creation,
                                      DWORD flags, HANDLE templateFile);
VELMO_PLATFORM_API HANDLE CreateFileA(const char* path, DWORD access, DWORD share, const void* security, DWORD creation,
                                      DWORD flags, HANDLE templateFile);
// overlapped must be null. A read at the end of the file succeeds with 0 bytes.
VELMO_PLATFORM_API BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
VELMO_PLATFORM_API BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
VELMO_PLATFORM_API BOOL FlushFileBuffers(HANDLE file);
VELMO_PLATFORM_API DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
VELMO_PLATFORM_API DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
VELMO_PLATFORM_API BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
// MOVEFILE_REPLACE_EXISTING replaces the target; MOVEFILE_WRITE_THROUGH
// makes the move durable (the target's folder is synced).
VELMO_PLATFORM_API BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
VELMO_PLATFORM_API BOOL DeleteFileW(LPCWSTR path);
VELMO_PLATFORM_API DWORD GetFileAttributesW(LPCWSTR path);
// The found entry's attributes, size, last write and last access times are
// filled in; Linux keeps no creation time, so ftCreationTime stays zero.

namespace velmo {

// Replaces the file at path with data, durably: a temporary file in the same
// folder (a dot name that ends in random letters, never in the target's
// extension) is written, synced, renamed over the target, and the folder is
// synced. A crash leaves the old file or the new one whole, never a part.
// FALSE when any step fails, GetLastError telling why: up to the rename the
// target is unchanged and the temporary file removed; when only the folder's
// sync failed, the new file stands but may not outlive a crash (the caller
// decides whether to remove it). openFailed says whether the temporary file
// could not even be created (nothing was written then). The file's mode is
// 0666 less the process's umask, as open(2) would give it.
VELMO_PLATFORM_API BOOL WriteFileDurably(const std::string& path, const void* data, std::size_t size,
                                         bool* openFailed = nullptr);

// Removes a file and syncs its folder, so the removal outlives a crash;
// false with GetLastError when either fails (the file may be gone though
// the folder's sync failed).
VELMO_PLATFORM_API bool DeleteFileDurably(const std::string& path);

// True when path names a regular file the process may execute.
VELMO_PLATFORM_API bool IsExecutableFile(const std::string& path);

// True when path names an existing file or folder.
VELMO_PLATFORM_API bool PathExists(const std::string& path);

// Whether only its owner may read, write or run the file at path (no
// group or other permission bits); false also when nothing is there.
VELMO_PLATFORM_API bool IsOwnerOnly(const std::string& path);
// The process's file creation mask (umask): what files and folders made from
// now on may not allow. Never fails.
VELMO_PLATFORM_API void SetFileCreationMask(unsigned mask);

}  // namespace velmo
