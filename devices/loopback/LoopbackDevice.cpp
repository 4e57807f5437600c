#include "devices/loopback/LoopbackDevice.h"

#include "platform/ClassFactory.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "platform/Variant.h"

#include <filesystem>
#include <optional>
#include <pugixml.hpp>

namespace velmo::loopback {

namespace {

constexpr const char16_t* kSource = u"Loopback.Device.1";

std::optional<LONG> ToResult(std::u16string_view word)
{
    if (EqualsNoCase(word, u"ok"))
        return SEND_OK;
    if (EqualsNoCase(word, u"retry"))
        return SEND_RETRY;
    if (EqualsNoCase(word, u"failed"))
        return SEND_FAILED;
    if (EqualsNoCase(word, u"none"))
        return kNoReport;
    Variant text = Variant::FromBstr(word);
    Variant number;
    if (FAILED(VariantChangeType(&number, &text, 0, VT_I4)))
        return std::nullopt;
    return number.lVal;
}

void Apply(Settings& s, std::u16string_view name, std::u16string_view value)
{
    Variant text = Variant::FromBstr(value);
    Variant converted;
    if (EqualsNoCase(name, u"result")) {
        std::vector<LONG> list;
        std::size_t start = 0;
        while (start <= value.size()) {
            std::size_t comma = value.find(u',', start);
            std::u16string_view item =
                value.substr(start, comma == std::u16string_view::npos ? value.npos : comma - start);
            while (!item.empty() && item.front() == u' ')
                item.remove_prefix(1);
            while (!item.empty() && item.back() == u' ')
                item.remove_suffix(1);
            auto result = ToResult(item);
            if (!result)
                return;
            list.push_back(*result);
            if (comma == std::u16string_view::npos)
                break;
            start = comma + 1;
        }
        s.results = list;
    } else if (EqualsNoCase(name, u"statustext")) {
        s.hasStatusText = true;
        s.statusText = value;
    } else if (EqualsNoCase(name, u"delay")) {
        if (SUCCEEDED(VariantChangeType(&converted, &text, 0, VT_I4)) && converted.lVal >= 0)
            s.delay = static_cast<DWORD>(converted.lVal);
    } else if (EqualsNoCase(name, u"fail")) {
        s.fail = value;
    } else if (EqualsNoCase(name, u"failwhile")) {
        s.failWhile = Utf16ToUtf8(value);
    } else if (EqualsNoCase(name, u"stopafter")) {
        if (SUCCEEDED(VariantChangeType(&converted, &text, 0, VT_I4)) && converted.lVal >= 0)
            s.stopAfter = converted.lVal;
    } else if (EqualsNoCase(name, u"log")) {
        s.log = Utf16ToUtf8(value);
    } else if (EqualsNoCase(name, u"echo")) {
        if (SUCCEEDED(VariantChangeType(&converted, &text, 0, VT_BOOL)))
            s.echo = converted.boolVal != VARIANT_FALSE;
    } else if (EqualsNoCase(name, u"delivery")) {
        if (EqualsNoCase(value, u"delivered"))
            s.delivery = DELIVERY_DONE;
        else if (EqualsNoCase(value, u"undelivered"))
            s.delivery = DELIVERY_FAILED;
        else if (EqualsNoCase(value, u"none"))
            s.delivery = -1;
    } else if (EqualsNoCase(name, u"signal")) {
        if (SUCCEEDED(VariantChangeType(&converted, &text, 0, VT_I4)))
            s.signal = converted.lVal;
    } else if (EqualsNoCase(name, u"registration")) {
        if (SUCCEEDED(VariantChangeType(&converted, &text, 0, VT_I4)))
            s.registration = converted.lVal;
    } else if (EqualsNoCase(name, u"operator")) {
        s.operatorName = value;
    }
}

void Visit(const pugi::xml_node& node, Settings& s)
{
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element)
            continue;
        if (EqualsNoCase(Utf8ToUtf16(child.name()), u"param"))
            Apply(s, Utf8ToUtf16(child.attribute("name").value()), Utf8ToUtf16(child.attribute("value").value()));
        Visit(child, s);
    }
}

std::string Escape(std::u16string_view text)
{
    std::string out;
    for (char c : Utf16ToUtf8(text)) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

}  // namespace

bool ParseSettings(std::u16string_view xml, Settings& settings)
{
    pugi::xml_document doc;
    std::string text = Utf16ToUtf8(xml);
    if (!doc.load_buffer(text.data(), text.size()))
        return false;
    Visit(doc, settings);
    return true;
}

LoopbackDevice::~LoopbackDevice()
{
    if (log_ != INVALID_HANDLE_VALUE)
        CloseHandle(log_);
}

HRESULT LoopbackDevice::InterfaceSupportsErrorInfo(REFIID riid)
{
    return riid == IID_IVelmoDevice || riid == IID_IPersistXMLParam ? S_OK : S_FALSE;
}

HRESULT LoopbackDevice::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_LoopbackDevice;
    return S_OK;
}

HRESULT LoopbackDevice::Load(BSTR xml)
{
    if (!xml || !ParseSettings(std::u16string_view(xml, SysStringLen(xml)), settings_))
        return ReportError(kSource, u"Loopback parameters are not XML");
    if (EqualsNoCase(settings_.fail, u"load"))
        return ReportError(kSource, u"Loopback Load refused");
    return S_OK;
}

HRESULT LoopbackDevice::Open(BSTR)
{
    if (EqualsNoCase(settings_.fail, u"open"))
        return ReportError(kSource, u"Loopback Open refused");
    std::error_code unknown;  // a path that cannot be looked at counts as not there
    if (!settings_.failWhile.empty() && std::filesystem::exists(settings_.failWhile, unknown))
        return ReportError(kSource,
                           (u"Loopback Open refused: " + Utf8ToUtf16(settings_.failWhile) + u" is there").c_str());
    if (!settings_.log.empty()) {
        log_ = CreateFileA(settings_.log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (log_ == INVALID_HANDLE_VALUE)
            return ReportError(kSource, u"Loopback cannot open its log file");
    }
    return S_OK;
}

HRESULT LoopbackDevice::Close()
{
    if (log_ != INVALID_HANDLE_VALUE)
        CloseHandle(log_);
    log_ = INVALID_HANDLE_VALUE;
    return S_OK;
}

void LoopbackDevice::AppendToLog(const GUID& id, const Bstr& to, const Bstr& body, LONG result)
{
    if (log_ == INVALID_HANDLE_VALUE)
        return;
    std::string line =
        GuidToUtf8(id) + "\t" + Escape(to.view()) + "\t" + Escape(body.view()) + "\t" + std::to_string(result) + "\n";
    SetFilePointer(log_, 0, nullptr, FILE_END);
    DWORD written = 0;
    // The log is a test aid: a line that cannot be written is left out.
    (void)WriteFile(log_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

HRESULT LoopbackDevice::Run(IVelmo_Q* queue)
{
    if (!queue)
        return E_POINTER;
    if (EqualsNoCase(settings_.fail, u"run"))
        return ReportError(kSource, u"Loopback Run refused");
    std::size_t turn = 0;
    long handled = 0;
    while (settings_.stopAfter == 0 || handled < settings_.stopAfter) {
        LONG reason = WAKE_NONE;
        GUID id{};
        Bstr to, body;
        if (FAILED(queue->WaitForMsg(nullptr, &reason, &id, to.Receive(), body.Receive())))
            break;
        if (reason != WAKE_MESSAGE)
            continue;
        if (settings_.delay)
            Sleep(settings_.delay);
        LONG result = settings_.results[turn++ % settings_.results.size()];
        AppendToLog(id, to, body, result);
        ++handled;
        if (result == kNoReport)
            continue;  // taken and never reported, as by a device that then dies
        Bstr status;
        if (settings_.hasStatusText)
            status = Bstr(settings_.statusText);
        else if (result == SEND_RETRY)
            status = Bstr(u"Loopback retry");
        else if (result != SEND_OK)
            status = Bstr(u"Loopback failure");
        queue->ReportMsgResult(id, 0, result, status.get());
        if (settings_.delivery >= 0 && result == SEND_OK)
            ReportDelivery(queue, id);
        if (settings_.echo && result == SEND_OK)
            (void)queue->ReportIncomingMsg(0, to.get(), body.get());  // a refused echo is the service's to log
    }
    return S_OK;
}

void LoopbackDevice::ReportDelivery(IVelmo_Q* queue, const GUID& id)
{
    ComPtr<IVelmo_Q3> host;
    if (FAILED(queue->QueryInterface(IID_IVelmo_Q3, host.ReceiveVoid())) || !host)
        return;  // a host that keeps no reports
    SYSTEMTIME now{};
    GetSystemTime(&now);
    bool done = settings_.delivery == DELIVERY_DONE;
    Bstr text(done ? u"\r\nLoopback delivered" : u"\r\nLoopback not delivered");
    (void)host->ReportDelivery(id, settings_.delivery, text.get(), &now, &now);  // what is refused stays SENT
}

HRESULT LoopbackDevice::GetModemState(LONG* signal, LONG* registration, BSTR* operatorName)
{
    if (!signal || !registration || !operatorName)
        return E_POINTER;
    *signal = settings_.signal;
    *registration = settings_.registration;
    *operatorName = settings_.operatorName.empty() ? nullptr : Bstr(settings_.operatorName).Detach();
    return S_OK;
}

}  // namespace velmo::loopback
