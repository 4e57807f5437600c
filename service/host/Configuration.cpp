// LoadConfiguration: config.xml in the root folder gives the dispatcher's
// limits, the devices, the routing rules and the event handlers.
#include "service/host/ServiceModule.h"

#include "service/host/EntryText.h"

#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"
#include "platform/Variant.h"

#include <optional>
#include <pugixml.hpp>
#include <sstream>

namespace velmo::host {

namespace {

// A device, rule or handler entry that cannot be used is skipped.
struct SkipEntry {};

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

LONG RequireInteger(const pugi::xml_node& node, const char* name)
{
    auto value = ToInteger(node.attribute(name));
    if (!value)
        throw SkipEntry{};
    return *value;
}

std::u16string RequireText(const pugi::xml_node& node, const char* name)
{
    pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute)
        throw SkipEntry{};
    return Utf8ToUtf16(attribute.value());
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

// The id of the first device added, 0 when none was.
LONG ReadDevices(ServiceModule& module, const pugi::xml_node& devices)
{
    LONG firstId = 0;
    bool first = true;
    for (pugi::xml_node entry : devices.children()) {
        try {
            if (entry.type() != pugi::node_element)
                throw SkipEntry{};
            if (RequireInteger(entry, "status") == 0)
                continue;
            CLSID clsid = ToClsid(RequireText(entry, "clsid"));
            LONG id = RequireInteger(entry, "id");
            std::u16string name = RequireText(entry, "name");
            std::u16string params = EntryText(entry);
            if (params.empty())
                throw SkipEntry{};
            // Refused ids (0 or less, or taken) are dropped silently.
            bool added = SUCCEEDED(module.dispatcher.AddDevice(id, std::move(name), clsid, std::move(params)));
            if (first)
                module.dispatcher.SetDefaultDevice(id);
            if (added && firstId == 0)
                firstId = id;
            first = false;
        } catch (const SkipEntry&) {
        }
    }
    return firstId;
}

void ReadRules(ServiceModule& module, const pugi::xml_node& rules, LONG firstDevice)
{
    if (auto def = ToInteger(rules.attribute("def_device_id")))
        module.dispatcher.SetDefaultDevice(*def);
    std::string choose = rules.attribute("choose").value();
    if (choose == "fewest_waiting")
        module.dispatcher.choice = store::Dispatcher::Choice::FewestWaiting;
    else if (!choose.empty() && choose != "random")
        module.LogEvent(EVENTLOG_WARNING_TYPE, "config.xml: rules choose=\"%s\" is not known: the choice is random",
                        choose.c_str());
    for (pugi::xml_node entry : rules.children()) {
        try {
            if (entry.type() != pugi::node_element)
                throw SkipEntry{};
            LONG deviceId = RequireInteger(entry, "device_id");
            bool continueSearch = ToBoolean(entry.attribute("continue")).value_or(true);
            std::u16string pattern = RequireText(entry, "match");
            if (!module.dispatcher.HasDevice(deviceId)) {
                module.LogEvent(EVENTLOG_WARNING_TYPE,
                                "config.xml: the rule [%s] names device %d, which is not configured or not enabled: "
                                "the rule is skipped",
                                Utf16ToUtf8(pattern).c_str(), static_cast<int>(deviceId));
                continue;
            }
            // A pattern that does not compile is skipped like any faulty rule.
            (void)module.dispatcher.AddRule(pattern, deviceId, continueSearch);
        } catch (const SkipEntry&) {
        }
    }
    LONG def = module.dispatcher.DefaultDevice();
    if (!module.dispatcher.HasDevice(def) && firstDevice != 0) {
        module.LogEvent(EVENTLOG_WARNING_TYPE,
                        "config.xml: the default device %d is not configured or not enabled: device %d is the default",
                        static_cast<int>(def), static_cast<int>(firstDevice));
        module.dispatcher.SetDefaultDevice(firstDevice);
    }
}

void ReadHandlers(ServiceModule& module, const pugi::xml_node& handlers)
{
    for (pugi::xml_node entry : handlers.children()) {
        try {
            if (entry.type() != pugi::node_element)
                throw SkipEntry{};
            module.eventHandlers.AddHandler(ToClsid(RequireText(entry, "clsid")));
        } catch (const SkipEntry&) {
        }
    }
}

pugi::xml_node Select(const pugi::xml_document& doc, const char* path)
{
    return doc.select_node(path).node();
}

// The limits, devices, rules and handlers; false when the file is rejected.
bool ReadDocument(ServiceModule& module, const std::string& path)
{
    pugi::xml_document doc;
    // A missing or malformed file leaves an empty document, rejected below.
    (void)doc.load_file(path.c_str());

    auto queueMax = ToInteger(Select(doc, "/velmo/configuration/queue").attribute("max"));
    if (!queueMax)
        return false;
    module.dispatcher.queueMax = *queueMax;
    auto retryMax = ToInteger(Select(doc, "/velmo/configuration/retries").attribute("max"));
    if (!retryMax)
        return false;
    module.dispatcher.retryMax = *retryMax;

    pugi::xml_node devices = Select(doc, "/velmo/devices");
    if (!devices)
        return false;
    LONG firstDevice = ReadDevices(module, devices);

    pugi::xml_node rules = Select(doc, "/velmo/rules");
    if (!rules)
        return false;
    ReadRules(module, rules, firstDevice);

    pugi::xml_node handlers = Select(doc, "/velmo/eventhandlers");
    if (!handlers)
        return false;
    ReadHandlers(module, handlers);
    return true;
}

} // namespace

bool LoadConfiguration(ServiceModule& module)
{
    module.rootFolder = InstallationRoot();
    if (!ReadDocument(module, Utf16ToUtf8(module.rootFolder) + "config.xml")) {
        module.LogEvent(EVENTLOG_ERROR_TYPE, "config.xml: invalid configuration file");
        return false;
    }
    if (module.dispatcher.DeviceCount() == 0) {
        module.LogEvent(EVENTLOG_ERROR_TYPE, "config.xml: no devices specified");
        return false;
    }
    return true;
}

} // namespace velmo::host
