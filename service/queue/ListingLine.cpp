// The line a listing gives for one message, the same from every store.
#include "service/queue/QueueStore.h"

#include "interfaces/StatusWords.h"
#include "messagefile/StatusWords.h"
#include "messagefile/TextLines.h"
#include "platform/SystemTime.h"

namespace velmo::queue {

namespace {

// A recipient or sender as a listing carries it (an old file may hold one
// of any length).
std::string Party(const Bstr& s) { return messagefile::BoundedText(s.view(), messagefile::kMaxPartyUnits); }

}  // namespace

ListedMessage ListingLineOf(const messagefile::MessageRecord& record)
{
    return {GuidToUtf8(record.Id), messagefile::StatusName(record.Status), Party(record.To), Party(record.From),
            IsoDate(messagefile::MessageDate(record))};
}

ListedMessage BadLineOf(std::string id, const messagefile::MessageRecord* record)
{
    ListedMessage m{std::move(id), status::kBad, {}, {}, {}};
    if (record) {
        m.to = Party(record->To);
        m.from = Party(record->From);
        m.date = IsoDate(messagefile::MessageDate(*record));
    }
    return m;
}

}  // namespace velmo::queue
