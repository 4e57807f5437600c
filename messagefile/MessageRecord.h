// One short message, outgoing or received, in memory and in its ".velmo"
// file.
//
// The record is shared by reference count (AddRef/Release, atomic; a new
// record has count 1 and is owned by its creator); at any moment only one
// holder changes its fields. The four strings are BSTRs, and a null string
// stays distinct from an empty one through saving and loading.
//
// File layout (little-endian, no header): Id (16), RetryCount (4), Created,
// Completed, Received (16 each, SYSTEMTIME), Status (4), then the string
// blocks StatusText, To, From, Body, each a u32 byte count L and L bytes:
// L = 0 for null, else the UTF-16LE units and a zero terminator. A record
// with four null strings gives the smallest file, 88 bytes. After the Body
// block an optional trailer may follow, written only when one of its
// fields is set: the mark "VXT1", then blocks of a u16 tag, a u16 length
// and its bytes (tag 1: Accepted and Discharged; tag 2: ExpireAfter).
// Readers skip tags they do not know, take a known block only at its own
// length, and stop at a block longer than what is left (older readers
// never read past Body), so a file stays readable both ways; a trailer
// never makes a load fail. At most 4,096 bytes of it are read.
//
// SaveToFile replaces the file durably (temporary file, sync, rename, sync
// of the folder), so a crash leaves the old or the new file whole; it makes
// three attempts to create the file with 300 ms pauses and gives E_FAIL.
// LoadFromFile opens with a shared lock (a writer holding the file locked
// makes it fail), never follows a symbolic link and reads only a regular
// file, with three attempts and 300 ms pauses when the open or a read
// fails. It gives E_FAIL for a file that is missing, cut short, holds a
// block count of 1 or one larger than what the file still holds, or is a
// link, a FIFO or a device (damaged: only such a file belongs in bad/; a
// link or a non-file fails at once), E_OUTOFMEMORY when a string cannot be
// allocated, and HRESULT_FROM_WIN32 of the system's reason when the file
// exists but could not be opened or read (an I/O error, a lock held): such
// a file is good and may be read later. A failed load may leave the record
// partly filled;
// callers discard it.
#pragma once

#include "interfaces/VelmoLib.h"
#include "platform/Bstr.h"
#include "platform/Guid.h"
#include "platform/Sync.h"
#include "platform/SystemTime.h"
#include "platform/Unknown.h"

#include <atomic>
#include <string>
#include <vector>

namespace velmo::messagefile {

class MessageRecord;
// The one way to hold a record: a counted reference.
using RecordPtr = ComPtr<MessageRecord>;

class MessageRecord {
public:
    // A new, empty record held by the pointer given back.
    static RecordPtr New() { return RecordPtr::Attach(new MessageRecord()); }

    MessageRecord() = default;
    MessageRecord(const MessageRecord&) = delete;
    MessageRecord& operator=(const MessageRecord&) = delete;

    void AddRef() { ++refs_; }
    void Release()
    {
        if (--refs_ == 0)
            delete this;
    }

    // Fresh Id, Created now (UTC), Completed and Received zero, no status
    // text, no retries, QUEUED; To, Body and From are kept.
    void Initialise();
    HRESULT SaveToFile(const std::u16string& path) const;
    HRESULT LoadFromFile(const std::u16string& path);
    // The same load through an 8-bit (UTF-8) path, as the viewer opens it.
    HRESULT LoadFromFileA(const std::string& path);

    // The file's bytes, exactly as SaveToFile writes them.
    std::vector<unsigned char> Serialize() const;
    // Fills the record from a file's bytes (a store that keeps them
    // elsewhere than in a file): S_OK, E_FAIL for bytes that are cut short
    // or damaged as LoadFromFile states, E_OUTOFMEMORY. A failure may leave
    // the record partly filled.
    HRESULT Deserialize(const unsigned char* bytes, std::size_t size);
    // The file name of this record: "{ID}.velmo".
    std::u16string FileName() const;

    GUID Id{};
    LONG RetryCount = 0;
    Bstr To;
    Bstr Body;
    Bstr From;
    SYSTEMTIME Created{};
    SYSTEMTIME Completed{};
    SYSTEMTIME Received{};
    LONG Status = 0;
    Bstr StatusText;
    // From the trailer. The network's report on a sent message: when its
    // centre took it and when it was delivered (or last tried), both UTC,
    // zero when no report told.
    SYSTEMTIME Accepted{};
    SYSTEMTIME Discharged{};
    // Seconds the message may wait in the queue before it is failed
    // unsent; 0 for the queue's own limit.
    std::uint32_t ExpireAfter = 0;

private:
    ~MessageRecord() = default;
    HRESULT Load(HANDLE file);
    // The trailer's fields from its bytes; the fields stay zero for what
    // it does not hold.
    void ReadTrailer(const unsigned char* bytes, std::size_t size);
    std::atomic<LONG> refs_{1};
};

}  // namespace velmo::messagefile
