#include "service/gateway/Gateway.h"

#include "interfaces/StatusWords.h"
#include "messagefile/Duration.h"
#include "messagefile/MessageId.h"
#include "messagefile/MessageRules.h"
#include "messagefile/StatusWords.h"
#include "messagefile/TextLines.h"
#include "platform/BusObject.h"
#include "platform/SystemTime.h"
#include "platform/Text.h"
#include "service/events/MessageEvents.h"

#include <algorithm>
#include <ctime>
#include <utility>

namespace velmo::gateway {

namespace {

std::string Text(const Bstr& s) { return Utf16ToUtf8(s.str()); }

BusReply BadId(const std::string& id)
{
    return BusReply::Error(kInvalidArgsError,
                           "'" + id + "' is not a message id: it looks like {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
}

BusReply NotFound(const GUID& id)
{
    return BusReply::Error(kNotFoundError, "No message " + GuidToUtf8(id) + " is known");
}

class Handlers {
public:
    explicit Handlers(const GatewayParts& parts) : parts_(parts) {}

    BusReply Send(const std::string& to, const std::string& text, const std::string& expire = "") const
    {
        std::string why;
        std::u16string body = Utf8ToUtf16(text);
        std::optional<std::u16string> recipient = messagefile::CheckNewMessage(Utf8ToUtf16(to), body, why);
        if (!recipient)
            return BusReply::Error(kInvalidArgsError, why);
        std::optional<std::uint64_t> period = expire.empty() ? 0 : messagefile::ParseDuration(expire);
        if (!period || (!expire.empty() && *period == 0))
            return BusReply::Error(kInvalidArgsError, "The expiry '" + EscapeControls(expire.substr(0, 40)) +
                                                          "' is not a period such as 30m, 6h or 4d");
        GUID id{};
        HRESULT hr =
            parts_.intake.QueueExpiring(Bstr(*recipient), Bstr(body), static_cast<std::uint32_t>(*period), &id);
        if (hr == queue::kStoreAway)
            return BusReply::Error(kRefusedError, "The queue store cannot be reached: the message is not queued, try "
                                                  "again later.");
        if (FAILED(hr))
            return BusReply::Error(kRefusedError, "Dispatcher failed queuing message.");
        return BusReply::Success({GuidToUtf8(id)});
    }

    BusReply Status(const std::string& idText) const
    {
        Lookup found = Find(idText);
        if (!found.record)
            return found.failure;
        const messagefile::MessageRecord& r = *found.record.get();
        std::string status = messagefile::StatusName(r.Status),
                    statusText = messagefile::PlainLines(Text(r.StatusText)),
                    date = IsoDate(messagefile::MessageDate(r));
        return BusReply::Success({status, statusText, date});
    }

    BusReply List(const std::string& folderName, std::uint32_t limit, const std::string& cursor) const
    {
        const messagefile::FolderName* folder = messagefile::FindFolder(folderName);
        if (!folder)
            return BusReply::Error(kInvalidArgsError,
                                   "'" + folderName + "' is not a folder: queued, sent, failed, received or bad");
        std::optional<queue::Page> page = parts_.store.List(folder->folder, limit, cursor);
        if (!page)
            return BusReply::Error(kInvalidArgsError, "'" + cursor + "' is not a cursor a listing gave");
        if (page->error == queue::kStoreAway)
            return StoreAway();
        BusData::List rows;
        for (const queue::ListedMessage& m : page->messages)
            rows.push_back(BusData::List{m.id, m.status, m.to, m.from, m.date});
        return BusReply::Success({std::move(rows), page->next});
    }

    BusReply Get(const std::string& idText) const
    {
        Lookup found = Find(idText);
        if (!found.record)
            return found.failure;
        const messagefile::MessageRecord& r = *found.record.get();
        BusData::Entries fields{{"id", GuidToUtf8(r.Id)},
                                {"folder", messagefile::NameOf(found.folder).name},
                                {"status", messagefile::StatusName(r.Status)},
                                {"to", messagefile::BoundedText(r.To.view(), messagefile::kMaxPartyUnits)},
                                {"from", messagefile::BoundedText(r.From.view(), messagefile::kMaxPartyUnits)},
                                {"text", messagefile::BoundedText(r.Body.view(), messagefile::kMaxTextUnits)},
                                {"statusText", messagefile::PlainLines(Text(r.StatusText))},
                                {"created", IsoDate(r.Created)},
                                {"completed", IsoDate(r.Completed)},
                                {"received", IsoDate(r.Received)},
                                {"accepted", IsoDate(r.Accepted)},
                                {"discharged", IsoDate(r.Discharged)},
                                {"retries", static_cast<std::int32_t>(r.RetryCount)}};
        std::sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        return BusReply::Success({std::move(fields)});
    }

    BusReply Devices() const
    {
        BusData::List rows;
        for (const DeviceFigures& d : DeviceFiguresOf(parts_.devices))
            rows.push_back(BusData::List{d.id, d.name, d.state, d.signal, d.registration, d.op});
        return BusReply::Success({std::move(rows)});
    }

    BusReply DeviceDetails() const
    {
        BusData::List rows;
        std::string self = parts_.board.HostName();
        for (const DeviceFigures& d : DeviceFiguresOf(parts_.devices))
            rows.push_back(DetailEntries(d, self));
        if (!self.empty())
            for (const HostFigures& other : parts_.board.OtherHosts())
                for (const DeviceFigures& d : other.devices)
                    rows.push_back(DetailEntries(d, other.host));
        return BusReply::Success({std::move(rows)});
    }

    BusReply Counters() const
    {
        CountsSnapshot counts = parts_.counters.Read();
        std::uint64_t waiting = parts_.store.CountQueued();
        BusData::List devices;
        for (const auto& [name, c] : counts.devices)
            devices.push_back(BusData::List{name, c.sent, c.failed, c.received});
        return BusReply::Success({counts.queued, waiting, std::move(devices)});
    }

    BusReply HostCounters() const
    {
        BusData::List hosts, devices;
        std::string self = parts_.board.HostName();
        if (self.empty())
            return BusReply::Success({std::move(hosts), std::move(devices)});
        std::vector<HostFigures> all = parts_.board.OtherHosts();
        all.push_back({self, static_cast<std::int64_t>(std::time(nullptr)), parts_.counters.Read(), {}});
        for (const HostFigures& h : all) {
            const TimeHistogram& t = h.counts.deliveryTimes;
            hosts.push_back(BusData::List{h.host, h.reported, h.counts.queued,
                                          BusData::List(t.buckets.begin(), t.buckets.end()), t.sum, t.count});
            for (const auto& [name, c] : h.counts.devices)
                devices.push_back(
                    BusData::List{h.host, name, c.sent, c.failed, c.received, c.delivered, c.undelivered});
        }
        return BusReply::Success({std::move(hosts), std::move(devices)});
    }

    BusReply Deliveries() const
    {
        CountsSnapshot counts = parts_.counters.Read();
        BusData::List devices;
        for (const auto& [name, c] : counts.devices)
            devices.push_back(BusData::List{name, c.delivered, c.undelivered});
        BusData::List bounds(TimeHistogram::kBounds.begin(), TimeHistogram::kBounds.end());
        BusData::List buckets(counts.deliveryTimes.buckets.begin(), counts.deliveryTimes.buckets.end());
        return BusReply::Success({std::move(devices), std::move(bounds), std::move(buckets), counts.deliveryTimes.sum,
                                  counts.deliveryTimes.count});
    }

private:
    // A message found by the id a client gave, or the error reply that
    // says why there is none.
    struct Lookup {
        messagefile::RecordPtr record;
        messagefile::Folder folder = messagefile::Folder::Queued;
        BusReply failure;
    };

    Lookup Find(const std::string& idText) const
    {
        std::optional<GUID> id = messagefile::ParseMessageId(idText);
        if (!id)
            return {{}, {}, BadId(idText)};
        std::optional<queue::Found> found = parts_.store.Find(*id);
        if (!found)
            return {{}, {}, NotFound(*id)};
        if (!found->record)
            return {{}, {}, found->readError == queue::kStoreAway ? StoreAway() : Unreadable(*id, found->readError)};
        return {found->record, found->folder, {}};
    }

    static BusReply StoreAway()
    {
        return BusReply::Error(kRefusedError, "The queue store cannot be reached: try again later.");
    }

    static BusReply Unreadable(const GUID& id, HRESULT why)
    {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(why));
        return BusReply::Error(kUnreadableError,
                               "The file of message " + GuidToUtf8(id) + " cannot be read (" + code + ")");
    }

    GatewayParts parts_;
};

// The arguments as the method's types (the bus has checked the signature);
// the work runs on a worker, once the service has started.
template <class... Args, class Call>
std::function<BusWork(std::vector<BusData>)> Reading(std::function<bool()> started, Call call)
{
    return [started, call](std::vector<BusData> in) -> BusWork {
        return [started, call, in = std::move(in)] {
            if (started && !started())
                return BusReply::Error(kRefusedError, "The service is starting: it is still loading its queue; "
                                                      "try again in a moment");
            return [&]<std::size_t... I>(std::index_sequence<I...>) { return call(in[I].As<Args>()...); }
            (std::index_sequence_for<Args...>{});
        };
    };
}

void Signal(const events::AuditEntry& e)
{
    std::string id = GuidToUtf8(e.id);
    switch (e.kind) {
    case events::AuditKind::Queued:
    case events::AuditKind::Sent:
    case events::AuditKind::Failed:
    case events::AuditKind::Delivered:
    case events::AuditKind::Undelivered: {
        std::string word = e.kind == events::AuditKind::Queued      ? status::kQueued
                           : e.kind == events::AuditKind::Sent      ? status::kSent
                           : e.kind == events::AuditKind::Failed    ? status::kFailed
                           : e.kind == events::AuditKind::Delivered ? status::kDelivered
                                                                    : status::kUndelivered;
        EmitBusSignal(kPath, "StatusChanged", {id, word, messagefile::PlainLines(e.statusText)});
        break;
    }
    case events::AuditKind::Received: EmitBusSignal(kPath, "Received", {id, e.party, e.device}); break;
    }
}

}  // namespace

HRESULT Publish(const GatewayParts& parts)
{
    auto h = std::make_shared<Handlers>(parts);
    BusObjectSpec spec{kPath, kInterface, {}, {}};
    spec.methods = {
        {"Send",
         "ss",
         {"to", "text"},
         "s",
         {"id"},
         Reading<std::string, std::string>(
             parts.started, [h](const std::string& to, const std::string& text) { return h->Send(to, text); })},
        {"SendExpiring",
         "sss",
         {"to", "text", "expire"},
         "s",
         {"id"},
         Reading<std::string, std::string, std::string>(
             parts.started, [h](const std::string& to, const std::string& text,
                                const std::string& expire) { return h->Send(to, text, expire); })},
        {"Status",
         "s",
         {"id"},
         "sss",
         {"status", "statusText", "date"},
         Reading<std::string>(parts.started, [h](const std::string& id) { return h->Status(id); })},
        {"List",
         "sus",
         {"folder", "limit", "cursor"},
         "a(sssss)s",
         {"messages", "next"},
         Reading<std::string, std::uint32_t, std::string>(
             parts.started, [h](const std::string& folder, std::uint32_t limit,
                                const std::string& cursor) { return h->List(folder, limit, cursor); })},
        {"Get",
         "s",
         {"id"},
         "a{sv}",
         {"message"},
         Reading<std::string>(parts.started, [h](const std::string& id) { return h->Get(id); })},
        {"Devices", "", {}, "a(ississ)", {"devices"}, Reading<>(parts.started, [h] { return h->Devices(); })},
        {"DeviceDetails", "", {}, "aa{sv}", {"devices"}, Reading<>(parts.started, [h] { return h->DeviceDetails(); })},
        {"Counters",
         "",
         {},
         "tta(sttt)",
         {"queued", "waiting", "devices"},
         Reading<>(parts.started, [h] { return h->Counters(); })},
        {"Deliveries",
         "",
         {},
         "a(stt)adatdt",
         {"devices", "bounds", "buckets", "sum", "count"},
         Reading<>(parts.started, [h] { return h->Deliveries(); })},
        {"HostCounters",
         "",
         {},
         "a(sxtatdt)a(ssttttt)",
         {"hosts", "devices"},
         Reading<>(parts.started, [h] { return h->HostCounters(); })},
    };
    spec.signals = {{"StatusChanged", "sss", {"id", "status", "statusText"}},
                    {"Received", "sss", {"id", "sender", "device"}}};
    HRESULT hr = PublishBusObject(std::move(spec));
    if (SUCCEEDED(hr))
        events::SetMessageListener([counters = &parts.counters](const events::AuditEntry& e) {
            counters->Count(e);
            Signal(e);
        });
    return hr;
}

void Withdraw()
{
    events::SetMessageListener({});
    (void)WithdrawBusObject(kPath);  // S_FALSE when it was never published: nothing to take off
}

}  // namespace velmo::gateway
