// libFuzzer entry for the message-file loader: any byte string is a
// ".velmo" file a crash, a disk or a person may leave in a queue folder.
// The loader must read it without touching memory outside it, never claim
// more text than the file holds, and what it loads must save and load back
// the same.
#include "messagefile/MessageRecord.h"
#include "platform/Text.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// One regular file in the temporary folder, rewritten for every input (the
// loader reads regular files only, never through a link such as /proc's).
struct ScratchFile {
    std::string path;
    int fd = -1;
    ScratchFile()
    {
        char name[] = "/tmp/velmo-fuzz-XXXXXX";
        fd = mkstemp(name);
        path = name;
    }
    ~ScratchFile()
    {
        if (fd >= 0)
            unlink(path.c_str());
    }
};

ScratchFile& Scratch()
{
    static ScratchFile file;
    return file;
}

bool Same(const velmo::messagefile::MessageRecord& a, const velmo::messagefile::MessageRecord& b)
{
    return a.Serialize() == b.Serialize();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using velmo::messagefile::MessageRecord;
    ScratchFile& file = Scratch();
    int fd = file.fd;
    Check(fd >= 0 && ftruncate(fd, 0) == 0);
    Check(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    std::u16string path = velmo::Utf8ToUtf16(file.path);
    velmo::messagefile::RecordPtr record = MessageRecord::New();
    HRESULT hr = record->LoadFromFile(path);
    if (FAILED(hr))
        return 0;
    std::size_t text =
        record->StatusText.Length() + record->To.Length() + record->From.Length() + record->Body.Length();
    Check(2 * text <= size);
    // What loaded, saved again, loads back the same.
    std::vector<unsigned char> bytes = record->Serialize();
    Check(ftruncate(fd, 0) == 0 && pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    velmo::messagefile::RecordPtr again = MessageRecord::New();
    Check(again->LoadFromFile(path) == S_OK && Same(*record.get(), *again.get()));
    return 0;
}
