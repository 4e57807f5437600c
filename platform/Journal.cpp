#include "platform/Journal.h"

#include <sys/uio.h>
#include <systemd/sd-journal.h>

namespace velmo {

bool SendJournalEntry(const std::vector<std::string>& fields)
{
    std::vector<iovec> parts;
    parts.reserve(fields.size());
    for (const std::string& field : fields)
        parts.push_back({const_cast<char*>(field.data()), field.size()});
    return sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0;
}

}  // namespace velmo
