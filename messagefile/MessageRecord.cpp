#include "messagefile/MessageRecord.h"

#include "platform/File.h"
#include "platform/Text.h"
#include "platform/Timing.h"

#include <algorithm>
#include <cstring>

namespace velmo::messagefile {

namespace {

constexpr int kOpenAttempts = 3;
constexpr DWORD kOpenPause = 300;
constexpr std::size_t kFixedSize = 72;

// The optional trailer after the Body block: the mark, then blocks of a
// u16 tag, a u16 length and that many bytes. Readers skip tags they do not
// know and known tags of another length; a block longer than what is left
// ends the reading, the blocks before it counting.
constexpr unsigned char kTrailerMark[4] = {'V', 'X', 'T', '1'};
constexpr std::uint16_t kDeliveryTag = 1;      // Accepted, Discharged
constexpr std::uint16_t kExpiryTag = 2;        // ExpireAfter (u32 seconds)
constexpr std::size_t kLongestTrailer = 4096;  // what is read of a trailer at most

void PutU16(std::vector<unsigned char>& out, std::uint16_t v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void PutU32(std::vector<unsigned char>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void PutTime(std::vector<unsigned char>& out, const SYSTEMTIME& t)
{
    for (WORD w : {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds})
        PutU16(out, w);
}

void PutString(std::vector<unsigned char>& out, const Bstr& s)
{
    if (s.IsNull()) {
        PutU32(out, 0);
        return;
    }
    PutU32(out, 2 * s.Length() + 2);
    for (char16_t c : s.view())
        PutU16(out, c);
    PutU16(out, 0);
}

std::uint16_t GetU16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t GetU32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsZero(const SYSTEMTIME& t)
{
    const SYSTEMTIME zero{};
    return std::memcmp(&t, &zero, sizeof t) == 0;
}

SYSTEMTIME GetTime(const unsigned char* p)
{
    SYSTEMTIME t;
    WORD* fields[] = {&t.wYear, &t.wMonth, &t.wDayOfWeek, &t.wDay, &t.wHour, &t.wMinute, &t.wSecond, &t.wMilliseconds};
    for (int i = 0; i < 8; ++i)
        *fields[i] = GetU16(p + 2 * i);
    return t;
}

// The failure of a read that did not work at all, as opposed to a file
// that is too short (E_FAIL).
HRESULT ReadFailure() { return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_READ_FAULT); }

// What no later attempt changes: a link, or something that is not a
// regular file, where a message file should be.
bool NeverAFile(DWORD code) { return code == ERROR_CANT_RESOLVE_FILENAME || code == ERROR_BAD_FILE_TYPE; }

// A missing file is E_FAIL, like a damaged one; any other reason an open
// fails (an I/O error, a lock held) may pass.
HRESULT OpenFailure()
{
    DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == 0 ? E_FAIL
                                                                                     : HRESULT_FROM_WIN32(code);
}

// Opens and reads with up to three attempts, pausing after each failure of
// the open or of a read; a file that reads whole but is damaged is not
// tried again.
template <class Open, class Read>
HRESULT ReadWithRetries(Open open, Read read)
{
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        HANDLE file = open();
        if (file == INVALID_HANDLE_VALUE) {
            if (NeverAFile(GetLastError()))
                return E_FAIL;  // damaged, like a file that is cut short
            hr = OpenFailure();
        } else {
            Handle owner(file);
            hr = read(file);
            if (hr == S_OK || hr == E_FAIL || hr == E_OUTOFMEMORY)
                return hr;
        }
        Sleep(DesignWait(kOpenPause));  // after each failed attempt, the last one too
    }
    return hr;
}

}  // namespace

void MessageRecord::Initialise()
{
    RetryCount = 0;
    StatusText.reset();
    CoCreateGuid(&Id);
    GetSystemTime(&Created);
    Completed = SYSTEMTIME{};
    Received = SYSTEMTIME{};
    Status = QUEUED;
}

std::vector<unsigned char> MessageRecord::Serialize() const
{
    std::vector<unsigned char> out;
    out.reserve(88 + 2 * (StatusText.Length() + To.Length() + From.Length() + Body.Length()) + 8);
    PutU32(out, Id.Data1);
    PutU16(out, Id.Data2);
    PutU16(out, Id.Data3);
    out.insert(out.end(), Id.Data4, Id.Data4 + 8);
    PutU32(out, static_cast<std::uint32_t>(RetryCount));
    PutTime(out, Created);
    PutTime(out, Completed);
    PutTime(out, Received);
    PutU32(out, static_cast<std::uint32_t>(Status));
    PutString(out, StatusText);
    PutString(out, To);
    PutString(out, From);
    PutString(out, Body);
    bool delivery = !IsZero(Accepted) || !IsZero(Discharged);
    if (!delivery && ExpireAfter == 0)
        return out;
    out.insert(out.end(), kTrailerMark, kTrailerMark + 4);
    if (delivery) {
        PutU16(out, kDeliveryTag);
        PutU16(out, 32);
        PutTime(out, Accepted);
        PutTime(out, Discharged);
    }
    if (ExpireAfter != 0) {
        PutU16(out, kExpiryTag);
        PutU16(out, 4);
        PutU32(out, ExpireAfter);
    }
    return out;
}

void MessageRecord::ReadTrailer(const unsigned char* p, std::size_t size)
{
    Accepted = Discharged = SYSTEMTIME{};
    ExpireAfter = 0;
    if (size < 4 || std::memcmp(p, kTrailerMark, 4) != 0)
        return;
    for (std::size_t at = 4; at + 4 <= size;) {
        std::uint16_t tag = GetU16(p + at), length = GetU16(p + at + 2);
        at += 4;
        if (length > size - at)
            return;
        if (tag == kDeliveryTag && length == 32) {
            Accepted = GetTime(p + at);
            Discharged = GetTime(p + at + 16);
        } else if (tag == kExpiryTag && length == 4) {
            ExpireAfter = GetU32(p + at);
        }
        at += length;
    }
}

std::u16string MessageRecord::FileName() const { return GuidToString(Id) + u".velmo"; }

HRESULT MessageRecord::SaveToFile(const std::u16string& path) const
{
    std::vector<unsigned char> bytes = Serialize();
    std::string target = Utf16ToUtf8(path);
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        bool openFailed = false;
        if (WriteFileDurably(target, bytes.data(), bytes.size(), &openFailed))
            return S_OK;
        if (!openFailed)
            return E_FAIL;  // a failed write ends the save at once
        Sleep(DesignWait(kOpenPause));
    }
    return E_FAIL;
}

HRESULT MessageRecord::LoadFromFile(const std::u16string& path)
{
    return ReadWithRetries(
        [&] {
            return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        },
        [&](HANDLE file) { return Load(file); });
}

HRESULT MessageRecord::LoadFromFileA(const std::string& path)
{
    return ReadWithRetries(
        [&] {
            return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        },
        [&](HANDLE file) { return Load(file); });
}

HRESULT MessageRecord::Load(HANDLE file)
{
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (low == 0xFFFFFFFFu && GetLastError() != 0)
        return ReadFailure();
    const std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;
    if (size < kFixedSize)
        return E_FAIL;
    // Read whole: a block cannot claim more than the file holds, so a load
    // never takes more memory than the file's own size twice.
    std::vector<unsigned char> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    DWORD read = 0;
    std::size_t have = 0;
    while (have < bytes.size()) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - have, 1u << 30));
        if (!ReadFile(file, bytes.data() + have, want, &read, nullptr))
            return ReadFailure();
        if (read == 0)
            break;
        have += read;
    }
    return Deserialize(bytes.data(), have);
}

HRESULT MessageRecord::Deserialize(const unsigned char* p, std::size_t size)
{
    if (size < kFixedSize)
        return E_FAIL;
    Id.Data1 = GetU32(p);
    Id.Data2 = GetU16(p + 4);
    Id.Data3 = GetU16(p + 6);
    std::memcpy(Id.Data4, p + 8, 8);
    RetryCount = static_cast<LONG>(GetU32(p + 16));
    Created = GetTime(p + 20);
    Completed = GetTime(p + 36);
    Received = GetTime(p + 52);
    Status = static_cast<LONG>(GetU32(p + 68));

    std::size_t position = kFixedSize;
    for (Bstr* target : {&StatusText, &To, &From, &Body}) {
        if (size - position < 4)
            return E_FAIL;
        std::uint32_t count = GetU32(p + position);
        position += 4;
        if (count == 0) {
            target->reset();
            continue;
        }
        if (count == 1 || count > size - position)
            return E_FAIL;
        // An odd count (never written by this system) drops its last byte.
        UINT units = (count - 2) / 2;
        BSTR s = SysAllocStringLen(nullptr, units);
        if (!s)
            return E_OUTOFMEMORY;
        for (UINT i = 0; i < units; ++i)
            s[i] = static_cast<char16_t>(GetU16(p + position + 2 * i));
        *target = Bstr::Attach(s);
        position += count;
    }
    ReadTrailer(p + position, std::min(size - position, kLongestTrailer));
    return S_OK;
}

}  // namespace velmo::messagefile
