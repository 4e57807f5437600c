#include "tools/velmo/DropCommand.h"

#include "platform/Text.h"
#include "messagefile/MessageRecord.h"
#include "messagefile/MessageRules.h"
#include "messagefile/QueueFolders.h"
#include "platform/SysRoot.h"

#include <ostream>

namespace velmo::cli {

int DropCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.size() != 2 || args[0].empty()) {
        err << "usage: velmo drop NUMBER TEXT\n";
        return 2;
    }
    // The service refuses a file that breaks the rules (into bad/): they
    // are told here, before anything is written.
    std::string why;
    std::u16string text = Utf8ToUtf16(args[1]);
    std::optional<std::u16string> to = messagefile::CheckNewMessage(Utf8ToUtf16(args[0]), text, why);
    if (!to) {
        err << "velmo: " << why << "\n";
        return 2;
    }
    auto* record = new messagefile::MessageRecord();
    record->Initialise();
    record->To = Bstr(*to);
    record->Body = Bstr(text);
    // The save writes a temporary dot file and renames it: the pickup scan
    // only ever sees the complete file.
    std::u16string path = InstallationRoot() + messagefile::kPickupFolder + record->FileName();
    HRESULT hr = record->SaveToFile(path);
    record->Release();
    if (FAILED(hr)) {
        err << "velmo: cannot write " << Utf16ToUtf8(path) << " (is the pickup folder there and writable?)\n";
        return 1;
    }
    out << Utf16ToUtf8(path) << "\n";
    return 0;
}

}  // namespace velmo::cli
