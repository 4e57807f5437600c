// LoadConfiguration: config.xml in the root folder gives the dispatcher's
// limits, the devices, the routing rules and the event handlers.
#include "service/host/ServiceModule.h"
#include "messagefile/Duration.h"

#include "service/host/ConfigReport.h"
#include "interfaces/EntryText.h"
#include "service/routing/RoutingRule.h"

#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"
#include "platform/Variant.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <pugixml.hpp>

namespace velmo::host {

namespace {

constexpr char kNoDevices[] = "no devices specified";

std::optional<LONG> ToInteger(const pugi::xml_attribute& attribute)
{
    if (!attribute)
        return std::nullopt;
    Variant text = Variant::FromBstr(Utf8ToUtf16(attribute.value()));
    Variant number;
    if (FAILED(VariantChangeType(&number, &text, 0, VT_I4)))
        return std::nullopt;
    return number.lVal;
}

std::optional<bool> ToBoolean(const pugi::xml_attribute& attribute)
{
    if (!attribute)
        return std::nullopt;
    Variant text = Variant::FromBstr(Utf8ToUtf16(attribute.value()));
    Variant flag;
    if (FAILED(VariantChangeType(&flag, &text, 0, VT_BOOL)))
        return std::nullopt;
    return flag.boolVal != VARIANT_FALSE;
}

// The registry text form; a text that does not convert leaves the class all
// zero, which no device or handler can be created from.
CLSID ToClsid(const std::u16string& text)
{
    CLSID clsid{};
    if (FAILED(CLSIDFromString(text.c_str(), &clsid)))
        clsid = CLSID{};
    return clsid;
}

// Reads one document into the dispatcher (limits, devices, rules), the
// handler queue (handlers) and the report. A faulty entry is skipped with
// its reason; a missing required element or limit is a problem. From the
// first problem on nothing more is loaded or read for the report, but every later required element is still
// looked for, so each missing one is reported.
class Reader {
public:
    Reader(queue::Dispatcher& dispatcher, handlers::EventHandlerQueue& handlers, ConfigReport& report, std::string text)
        : dispatcher_(dispatcher), handlers_(handlers), report_(report), text_(std::move(text))
    {}

    bool Read()
    {
        pugi::xml_document doc;
        pugi::xml_parse_result parsed = doc.load_buffer(text_.data(), text_.size());
        // A malformed file keeps what came before the fault; whether that is
        // enough is decided below, and the fault is reported either way.
        std::string parseFault =
            parsed ? std::string() : PositionOf(text_, parsed.offset) + ": " + parsed.description();

        ReadLimit(doc, "queue", report_.queueMax, dispatcher_.queueMax);
        ReadLimit(doc, "retries", report_.retryMax, dispatcher_.retryMax);
        ReadExpiry(doc);
        ReadStore(doc);
        LONG firstDevice = 0;
        if (pugi::xml_node devices = Required(doc, "/velmo/devices"))
            firstDevice = ReadDevices(devices);
        if (pugi::xml_node rules = Required(doc, "/velmo/rules"))
            ReadRules(rules, firstDevice);
        if (pugi::xml_node handlers = Required(doc, "/velmo/eventhandlers"))
            ReadHandlers(handlers);

        if (!parseFault.empty()) {
            if (report_.problems.empty())
                report_.warnings.push_back(parseFault + ": the service reads what comes before it");
            else
                report_.problems.insert(report_.problems.begin(), parseFault);
        }
        return report_.problems.empty();
    }

private:
    bool Loading() const { return report_.problems.empty(); }

    // An element's place is its "<" (pugixml gives its name's).
    std::string Where(const pugi::xml_node& node, std::ptrdiff_t skip = 0) const
    {
        std::ptrdiff_t offset = node.offset_debug();
        if (node.type() == pugi::node_element && offset > 0)
            --offset;
        return PositionOf(text_, offset + skip);
    }

    pugi::xml_node Required(const pugi::xml_document& doc, const char* path)
    {
        pugi::xml_node node = doc.select_node(path).node();
        if (!node)
            report_.problems.push_back(std::string(path) + " is missing");
        return Loading() ? node : pugi::xml_node();
    }

    void ReadLimit(const pugi::xml_document& doc, const char* name, LONG& reported, LONG& loaded)
    {
        std::string path = std::string("/velmo/configuration/") + name;
        pugi::xml_node node = doc.select_node(path.c_str()).node();
        auto value = ToInteger(node.attribute("max"));
        if (!value) {
            report_.problems.push_back(node ? Where(node) + ": " + path +
                                                  ": the attribute max is missing or not a number"
                                            : path + " is missing");
            return;
        }
        reported = *value;
        if (Loading())
            loaded = *value;
    }

    // The queue's optional expire attribute: a period, at most ten years.
    void ReadExpiry(const pugi::xml_document& doc)
    {
        pugi::xml_node node = doc.select_node("/velmo/configuration/queue").node();
        pugi::xml_attribute expire = node.attribute("expire");
        if (!expire)
            return;
        std::optional<std::uint64_t> period = messagefile::ParseDuration(expire.value());
        if (!period || *period == 0) {
            report_.problems.push_back(Where(node) + ": /velmo/configuration/queue: expire \"" +
                                       EscapeControls(std::string(expire.value()).substr(0, 40)) +
                                       "\" is not a period such as 30m, 6h or 4d");
            return;
        }
        report_.queueExpire = static_cast<std::uint32_t>(*period);
        if (Loading())
            dispatcher_.queueExpire = report_.queueExpire;
    }

    // The queue store the queue element names (StoreSettings.h).
    void ReadStore(const pugi::xml_document& doc)
    {
        pugi::xml_node node = doc.select_node("/velmo/configuration/queue").node();
        auto value = [&](const char* name) {
            pugi::xml_attribute a = node.attribute(name);
            return a ? std::optional<std::string>(a.value()) : std::nullopt;
        };
        std::vector<std::string> faults;
        std::optional<StoreChoice> choice = ReadStoreChoice(
            {value("store"), value("connection"), value("passfile"), value("host"), value("lease")}, faults);
        for (const std::string& fault : faults)
            report_.problems.push_back(Where(node) + ": /velmo/configuration/queue: " + fault);
        if (choice)
            report_.store = std::move(*choice);
    }

    // True for an element; text among the entries is reported as skipped,
    // comments and white space are no entries at all.
    bool IsEntry(const pugi::xml_node& node)
    {
        if (node.type() == pugi::node_element)
            return true;
        if (node.type() != pugi::node_pcdata && node.type() != pugi::node_cdata)
            return false;
        std::string text = node.value();
        std::size_t first = text.find_first_not_of(" \t\r\n");
        if (first != std::string::npos)
            report_.skipped.push_back(Where(node, static_cast<std::ptrdiff_t>(first)) +
                                      ": text among the entries is ignored");
        return false;
    }

    void Skip(const pugi::xml_node& entry, const char* kind, const std::string& why)
    {
        report_.skipped.push_back(Where(entry) + ": " + kind + " <" + entry.name() + ">: " + why);
    }

    // The id of the first device added, 0 when none was.
    LONG ReadDevices(const pugi::xml_node& devices)
    {
        LONG firstId = 0;
        bool first = true;
        for (pugi::xml_node entry : devices.children()) {
            if (!IsEntry(entry))
                continue;
            auto status = ToInteger(entry.attribute("status"));
            auto id = ToInteger(entry.attribute("id"));
            pugi::xml_attribute clsid = entry.attribute("clsid"), name = entry.attribute("name");
            if (!status) {
                Skip(entry, "device", "the attribute status is missing or not a number");
                continue;
            }
            if (*status == 0) {
                report_.devices.push_back({id.value_or(0), name.value(), clsid.value(), false});
                continue;
            }
            if (!clsid || !id || !name) {
                Skip(entry, "device",
                     std::string("the attribute ") + (!clsid ? "clsid is missing"
                                                      : !id  ? "id is missing or not a number"
                                                             : "name is missing"));
                continue;
            }
            std::u16string params = EntryText(entry);
            if (*id <= 0) {
                Skip(entry, "device", "id " + std::to_string(*id) + " is refused: ids are 1 or more");
            } else if (table().Has(*id)) {
                Skip(entry, "device", "id " + std::to_string(*id) + " is taken by an earlier entry");
            } else {
                report_.devices.push_back({*id, name.value(), clsid.value(), true});
                (void)table().Add(*id, Utf8ToUtf16(name.value()), ToClsid(Utf8ToUtf16(clsid.value())),
                                  std::move(params));  // S_OK: the id was checked above
                if (firstId == 0)
                    firstId = *id;
            }
            // The first enabled entry names the default device, even one refused.
            if (first)
                table().SetDefaultDevice(*id);
            first = false;
        }
        return firstId;
    }

    // unmatched="leave": a recipient no rule matches is left to the other
    // hosts of a shared store, never sent by this host's default device.
    void ReadUnmatched(const pugi::xml_node& rules)
    {
        pugi::xml_attribute unmatched = rules.attribute("unmatched");
        std::string value = unmatched.value();
        if (!unmatched || value == "default")
            return;
        if (value != "leave")
            report_.problems.push_back(Where(rules) + ": /velmo/rules: unmatched \"" +
                                       EscapeControls(value.substr(0, 40)) + "\" is neither \"default\" nor \"leave\"");
        else if (!report_.store.postgres)
            report_.problems.push_back(Where(rules) +
                                       ": /velmo/rules: unmatched=\"leave\" needs a store that other hosts share "
                                       "(store=\"postgresql\"): with the folders such messages would wait forever");
        report_.leaveUnmatched = value == "leave";
        if (Loading())
            table().SetLeaveUnmatched(report_.leaveUnmatched);
    }

    void ReadRules(const pugi::xml_node& rules, LONG firstDevice)
    {
        if (auto def = ToInteger(rules.attribute("def_device_id")))
            table().SetDefaultDevice(*def);
        std::string choose = rules.attribute("choose").value();
        if (choose == "fewest_waiting")
            table().SetChoice(routing::Router::Choice::FewestWaiting);
        else if (!choose.empty() && choose != "random")
            report_.warnings.push_back("rules choose=\"" + choose + "\" is not known: the choice is random");
        ReadUnmatched(rules);
        for (pugi::xml_node entry : rules.children()) {
            if (!IsEntry(entry))
                continue;
            auto deviceId = ToInteger(entry.attribute("device_id"));
            bool continueSearch = ToBoolean(entry.attribute("continue")).value_or(true);
            pugi::xml_attribute match = entry.attribute("match");
            if (!deviceId || !match) {
                Skip(entry, "rule",
                     !deviceId ? "the attribute device_id is missing or not a number"
                               : "the attribute match is missing");
                continue;
            }
            std::u16string pattern = Utf8ToUtf16(match.value());
            if (!table().Has(*deviceId)) {
                report_.warnings.push_back("the rule [" + std::string(match.value()) + "] names device " +
                                           std::to_string(*deviceId) +
                                           ", which is not configured or not enabled: the rule is skipped");
                continue;
            }
            int error = table().AddRule(pattern, *deviceId, continueSearch);
            if (error != 0) {
                Skip(entry, "rule",
                     "the pattern [" + std::string(match.value()) + "] does not compile: " +
                         routing::PatternErrorText(error) + " (error " + std::to_string(error) + ")");
                continue;
            }
            report_.rules.push_back({match.value(), *deviceId, continueSearch});
            std::string anchor = routing::AnchorWarning(pattern);
            if (!anchor.empty())
                report_.warnings.push_back("the rule [" + std::string(match.value()) + "] may never match: " + anchor);
        }
        LONG def = table().DefaultDevice();
        if (!table().Has(def) && firstDevice != 0) {
            report_.warnings.push_back("the default device " + std::to_string(def) +
                                       " is not configured or not enabled: device " + std::to_string(firstDevice) +
                                       " is the default");
            table().SetDefaultDevice(firstDevice);
        }
    }

    void ReadHandlers(const pugi::xml_node& handlers)
    {
        for (pugi::xml_node entry : handlers.children()) {
            if (!IsEntry(entry))
                continue;
            pugi::xml_attribute clsid = entry.attribute("clsid");
            if (!clsid) {
                Skip(entry, "event handler", "the attribute clsid is missing");
                continue;
            }
            std::string why;
            std::optional<handlers::SenderFilter> filter =
                handlers::SenderFilter::Parse(entry.attribute("allow").value(), entry.attribute("deny").value(), why);
            if (!filter) {
                Skip(entry, "event handler", why);
                continue;
            }
            handlers_.AddHandler(ToClsid(Utf8ToUtf16(clsid.value())), std::move(*filter));
            report_.handlers.push_back(clsid.value());
        }
    }

    devices::DeviceTable& table() { return dispatcher_.Devices(); }

    queue::Dispatcher& dispatcher_;
    handlers::EventHandlerQueue& handlers_;
    ConfigReport& report_;
    std::string text_;
};

std::string Joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += (out.empty() ? "" : "; ") + line;
    return out;
}

// The database store takes the place of the folders. A database that cannot
// be used now does not stop the service: its modems go on, clients are
// refused, and each later call tries again.
void OpenPostgres(ServiceModule& module, const pgstore::PgSettings& settings)
{
    std::string why;
    if (SUCCEEDED(module.store.UsePostgres(settings, why)))
        module.LogEvent(EVENTLOG_INFORMATION_TYPE, "The queue store is PostgreSQL, as host %s", settings.host.c_str());
    else
        module.LogEvent(EVENTLOG_ERROR_TYPE,
                        "The queue store PostgreSQL cannot be used yet: %s. The service goes on and tries again "
                        "at every call",
                        why.c_str());
}

}  // namespace

std::string PositionOf(const std::string& text, std::ptrdiff_t offset)
{
    std::size_t end = offset < 0 ? 0 : std::min(static_cast<std::size_t>(offset), text.size());
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;  // a character, not a continuation byte of one
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool ReadConfiguration(ServiceModule& module, ConfigReport& report)
{
    report.path = Utf16ToUtf8(module.rootFolder) + "config.xml";
    std::ifstream in(report.path, std::ios::binary);
    if (!in) {
        report.problems.push_back("the file " + report.path + " cannot be read: " + std::strerror(errno));
        report.rejected = true;
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!Reader(module.dispatcher, module.eventHandlers, report, std::move(text)).Read()) {
        report.rejected = true;
        return false;
    }
    if (module.dispatcher.Devices().Count() == 0) {
        report.problems.push_back(kNoDevices);
        return false;
    }
    return true;
}

bool LoadConfiguration(ServiceModule& module)
{
    ConfigReport report;
    bool ok = ReadConfiguration(module, report);
    for (const std::string& warning : report.warnings)
        module.LogEvent(EVENTLOG_WARNING_TYPE, "config.xml: %s", warning.c_str());
    if (report.rejected) {
        module.LogEvent(EVENTLOG_ERROR_TYPE, "config.xml: invalid configuration file");
        module.LogEvent(EVENTLOG_ERROR_TYPE, "config.xml: %s", Joined(report.problems).c_str());
    } else if (!ok) {
        module.LogEvent(EVENTLOG_ERROR_TYPE, "config.xml: %s", kNoDevices);
    }
    if (ok && report.store.postgres) {
        module.dispatcher.shared = true;
        pgstore::PgSettings settings = report.store.settings;
        settings.journalFolder = Utf16ToUtf8(module.rootFolder) + "pgjournal/";
        OpenPostgres(module, settings);
    }
    return ok;
}

}  // namespace velmo::host
