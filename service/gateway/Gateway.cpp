#include "service/gateway/Gateway.h"

#include "messagefile/TextLines.h"
#include "platform/BusObject.h"
#include "platform/Text.h"
#include "service/automation/NewSms.h"
#include "service/gateway/MessageCounters.h"
#include "service/gateway/MessageListing.h"
#include "messagefile/QueueFolders.h"
#include "service/host/ServiceModule.h"
#include "service/store/MessageEvents.h"

#include <map>
#include <tuple>

namespace velmo::gateway {

namespace {

// The longest recipient taken: far beyond any phone number, short enough
// that a routing rule never has to match a megabyte.
constexpr std::size_t kMaxRecipient = 256;

using DeviceRow = sdbus::Struct<std::int32_t, std::string, std::string, std::int32_t, std::string, std::string>;
using MessageRow = sdbus::Struct<std::string, std::string, std::string, std::string, std::string>;

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

std::string RegistrationName(LONG registration)
{
    switch (registration) {
    case REGISTRATION_UNKNOWN: return "";
    case REGISTRATION_NONE: return "none";
    case REGISTRATION_HOME: return "home";
    case REGISTRATION_SEARCHING: return "searching";
    case REGISTRATION_DENIED: return "denied";
    case REGISTRATION_ROAMING: return "roaming";
    default: return "unknown";
    }
}

const char* StateName(host::DeviceHost::RunState state)
{
    switch (state) {
    case host::DeviceHost::RunState::Starting: return "starting";
    case host::DeviceHost::RunState::Running: return "running";
    case host::DeviceHost::RunState::Restarting: return "restarting";
    }
    return "unknown";
}

class Handlers {
public:
    explicit Handlers(host::ServiceModule& module) : module_(module) {}

    MessageCounters counters;

    BusReply Send(const std::string& to, const std::string& text) const
    {
        if (to.empty())
            return BusReply::Error(kInvalidArgsError, "Must specify To address");
        if (to.size() > kMaxRecipient)
            return BusReply::Error(kInvalidArgsError, "The recipient is longer than " + std::to_string(kMaxRecipient) +
                                                          " bytes: it is refused");
        std::u16string body = Utf8ToUtf16(text);
        if (body.size() > automation::NewSms::kMaxBody)
            return BusReply::Error(kInvalidArgsError, Utf16ToUtf8(automation::NewSms::kTooLong));
        module_.WaitForDispatcher();
        GUID id{};
        if (FAILED(module_.dispatcher.QueueMessage(Bstr(Utf8ToUtf16(to)), Bstr(body), &id)))
            return BusReply::Error(kRefusedError, "Dispatcher failed queuing message.");
        std::string text8 = GuidToUtf8(id);
        return {{}, {}, [text8](sdbus::MethodReply& r) { r << text8; }};
    }

    BusReply Status(const std::string& idText) const
    {
        Lookup found = Find(idText);
        if (!found.record)
            return found.failure;
        const store::MessageRecord& r = *found.record.get();
        std::string status = StatusName(r.Status), statusText = store::PlainLines(Text(r.StatusText)),
                    date = IsoDate(MessageDate(r));
        return {{}, {}, [=](sdbus::MethodReply& reply) { reply << status << statusText << date; }};
    }

    BusReply List(const std::string& folderName, std::uint32_t limit, const std::string& cursor) const
    {
        const Folder* folder = FindFolder(folderName);
        if (!folder)
            return BusReply::Error(kInvalidArgsError,
                                   "'" + folderName + "' is not a folder: queued, sent, failed, received or bad");
        std::optional<Page> page = ListFolder(module_.rootFolder, *folder, limit, cursor);
        if (!page)
            return BusReply::Error(kInvalidArgsError, "'" + cursor + "' is not a cursor a listing gave");
        return {{}, {}, [page = std::move(*page)](sdbus::MethodReply& reply) {
                    std::vector<MessageRow> rows;
                    for (const ListedMessage& m : page.messages)
                        rows.emplace_back(m.id, m.status, m.to, m.from, m.date);
                    reply << rows << page.next;
                }};
    }

    BusReply Get(const std::string& idText) const
    {
        Lookup found = Find(idText);
        if (!found.record)
            return found.failure;
        const store::MessageRecord& r = *found.record.get();
        std::map<std::string, std::string> fields{{"id", GuidToUtf8(r.Id)},
                                                  {"folder", found.folder->name},
                                                  {"status", StatusName(r.Status)},
                                                  {"to", Text(r.To)},
                                                  {"from", Text(r.From)},
                                                  {"text", Text(r.Body)},
                                                  {"statusText", store::PlainLines(Text(r.StatusText))},
                                                  {"created", IsoDate(r.Created)},
                                                  {"completed", IsoDate(r.Completed)},
                                                  {"received", IsoDate(r.Received)}};
        std::int32_t retries = r.RetryCount;
        return {{}, {}, [fields = std::move(fields), retries](sdbus::MethodReply& reply) {
                    std::map<std::string, sdbus::Variant> message;
                    for (const auto& [key, value] : fields)
                        message.emplace(key, sdbus::Variant(value));
                    message.emplace("retries", sdbus::Variant(retries));
                    reply << message;
                }};
    }

    BusReply Devices() const
    {
        using Row = std::tuple<std::int32_t, std::string, std::string, std::int32_t, std::string, std::string>;
        std::vector<Row> rows;
        module_.dispatcher.ForEachDevice([&](host::DeviceHost& device) {
            LONG signal = SIGNAL_UNKNOWN, registration = REGISTRATION_UNKNOWN;
            Bstr op;
            if (FAILED(device.GetModemState(&signal, &registration, op.Receive()))) {
                signal = SIGNAL_UNKNOWN;  // a device that tells nothing of its radio
                registration = REGISTRATION_UNKNOWN;
                op = Bstr();
            }
            rows.emplace_back(device.Id(), Text(Bstr(device.Name())), StateName(device.State()),
                              signal == SIGNAL_UNKNOWN ? -1 : signal, RegistrationName(registration), Text(op));
        });
        for (const std::u16string& name : module_.dispatcher.RemovedDevices())
            rows.emplace_back(0, Utf16ToUtf8(name), "removed", -1, "", "");
        return {{}, {}, [rows = std::move(rows)](sdbus::MethodReply& reply) {
                    std::vector<DeviceRow> out;
                    for (const Row& r : rows)
                        out.emplace_back(std::get<0>(r), std::get<1>(r), std::get<2>(r), std::get<3>(r), std::get<4>(r),
                                         std::get<5>(r));
                    reply << out;
                }};
    }

    BusReply Counters() const
    {
        CountsSnapshot counts = counters.Read();
        std::uint64_t waiting = store::ListMessageFiles(module_.rootFolder + store::kOutFolder).size();
        return {{}, {}, [counts = std::move(counts), waiting](sdbus::MethodReply& reply) {
                    std::vector<sdbus::Struct<std::string, std::uint64_t, std::uint64_t, std::uint64_t>> devices;
                    for (const auto& [name, c] : counts.devices)
                        devices.emplace_back(name, c.sent, c.failed, c.received);
                    reply << counts.queued << waiting << devices;
                }};
    }

private:
    // A message found by the id a client gave, or the error reply that
    // says why there is none.
    struct Lookup {
        store::RecordPtr record;
        const Folder* folder = nullptr;
        BusReply failure;
    };

    Lookup Find(const std::string& idText) const
    {
        std::optional<GUID> id = ParseMessageId(idText);
        if (!id)
            return {{}, nullptr, BadId(idText)};
        std::optional<Found> found = FindMessage(module_.rootFolder, *id);
        if (!found)
            return {{}, nullptr, NotFound(*id)};
        if (!found->record)
            return {{}, nullptr, Unreadable(*id, found->readError)};
        return {found->record, found->folder, {}};
    }

    static BusReply Unreadable(const GUID& id, HRESULT why)
    {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(why));
        return BusReply::Error(kUnreadableError,
                               "The file of message " + GuidToUtf8(id) + " cannot be read (" + code + ")");
    }

    host::ServiceModule& module_;
};

// Reads the arguments on the bus thread; the work runs on a worker.
template <class... Args, class Call>
std::function<BusWork(sdbus::MethodCall&)> Reading(Call call)
{
    return [call](sdbus::MethodCall& message) -> BusWork {
        std::tuple<Args...> args;
        std::apply([&](auto&... a) { (void)(message >> ... >> a); }, args);
        return [call, args] { return std::apply(call, args); };
    };
}

void Signal(const store::AuditEntry& e)
{
    std::string id = GuidToUtf8(e.id);
    switch (e.kind) {
    case store::AuditKind::Queued:
    case store::AuditKind::Sent:
    case store::AuditKind::Failed: {
        std::string status = e.kind == store::AuditKind::Queued ? "QUEUED"
                             : e.kind == store::AuditKind::Sent ? "SENT"
                                                                : "FAILED";
        EmitBusSignal(kPath, "StatusChanged", [id, status, text = store::PlainLines(e.statusText)](sdbus::Signal& s) {
            s << id << status << text;
        });
        break;
    }
    case store::AuditKind::Received:
        EmitBusSignal(kPath, "Received",
                      [id, sender = e.party, device = e.device](sdbus::Signal& s) { s << id << sender << device; });
        break;
    }
}

}  // namespace

HRESULT Publish(host::ServiceModule& module)
{
    auto h = std::make_shared<Handlers>(module);
    BusObjectSpec spec{kPath, kInterface, {}, {}};
    spec.methods = {
        {"Send",
         "ss",
         {"to", "text"},
         "s",
         {"id"},
         Reading<std::string, std::string>(
             [h](const std::string& to, const std::string& text) { return h->Send(to, text); })},
        {"Status",
         "s",
         {"id"},
         "sss",
         {"status", "statusText", "date"},
         Reading<std::string>([h](const std::string& id) { return h->Status(id); })},
        {"List",
         "sus",
         {"folder", "limit", "cursor"},
         "a(sssss)s",
         {"messages", "next"},
         Reading<std::string, std::uint32_t, std::string>(
             [h](const std::string& folder, std::uint32_t limit, const std::string& cursor) {
                 return h->List(folder, limit, cursor);
             })},
        {"Get", "s", {"id"}, "a{sv}", {"message"}, Reading<std::string>([h](const std::string& id) {
             return h->Get(id);
         })},
        {"Devices", "", {}, "a(ississ)", {"devices"}, Reading<>([h] { return h->Devices(); })},
        {"Counters", "", {}, "tta(sttt)", {"queued", "waiting", "devices"}, Reading<>([h] { return h->Counters(); })},
    };
    spec.signals = {{"StatusChanged", "sss", {"id", "status", "statusText"}},
                    {"Received", "sss", {"id", "sender", "device"}}};
    HRESULT hr = PublishBusObject(std::move(spec));
    if (SUCCEEDED(hr))
        store::SetMessageListener([h](const store::AuditEntry& e) {
            h->counters.Count(e);
            Signal(e);
        });
    return hr;
}

void Withdraw()
{
    store::SetMessageListener({});
    (void)WithdrawBusObject(kPath);  // S_FALSE when it was never published: nothing to take off
}

}  // namespace velmo::gateway
