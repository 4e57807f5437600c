#include "tools/devtest/TestDevice.h"

#include "interfaces/VelmoDevice.h"
#include "platform/Activation.h"
#include "platform/ErrorInfo.h"
#include "platform/Guid.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "interfaces/EntryText.h"
#include "tools/devtest/OneMessageQueue.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <vector>

namespace velmo::devtest {

namespace {

constexpr DialogControl kControls[] = {
    {-1, ControlKind::Label, "Device", 8, 9, 28, 9, 0},
    {IDC_DEVICE, ControlKind::DropDown, nullptr, 40, 7, 160, 14, 0},
    {-1, ControlKind::Label, "To", 8, 27, 28, 9, 0},
    {IDC_TO, ControlKind::Edit, nullptr, 40, 25, 160, 12, WS_DISABLED},
    {-1, ControlKind::Label, "Body", 8, 43, 28, 9, 0},
    {IDC_BODY, ControlKind::Edit, nullptr, 40, 41, 289, 48, ES_MULTILINE | ES_WANTRETURN | WS_DISABLED},
    {-1, ControlKind::Label, "Log", 8, 95, 28, 9, 0},
    {IDC_LOG, ControlKind::Edit, nullptr, 40, 95, 289, 104, ES_MULTILINE | ES_READONLY | WS_VSCROLL},
    {IDC_SEND, ControlKind::DefaultButton, "Send", 40, 208, 50, 14, WS_DISABLED},
    {IDC_CLEARALL, ControlKind::Button, "Clear All", 100, 208, 50, 14, 0},
    {IDC_CLEARLOG, ControlKind::Button, "Clear Log", 160, 208, 50, 14, 0},
    {IDCANCEL, ControlKind::Button, "Exit", 279, 208, 50, 14, 0},
};
constexpr DialogTemplate kDialog{"Velmo Test Device", 337, 230, kControls};

struct Entry {
    CLSID clsid;
    std::u16string xml;
    std::u16string name;
};

struct State {
    std::vector<std::unique_ptr<Entry>> entries;  // kept while the dialog lives
};
State* gState = nullptr;

void Log(HWND dialog, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Log(HWND dialog, const char* format, ...)
{
    char entry[2048];  // longer entries are cut
    va_list args;
    va_start(args, format);
    std::vsnprintf(entry, sizeof entry, format, args);
    va_end(args);
    HWND log = GetDlgItem(dialog, IDC_LOG);
    SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(entry));
}

std::string Text(HWND dialog, int id)
{
    char buffer[4096];
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

// The installation root from the registry, "" when it is not there.
std::string InstallationRoot()
{
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Norvane\\Velmo", &key) != ERROR_SUCCESS)
        return std::string();
    char root[260] = {};
    DWORD size = sizeof root - 1;  // a longer value does not fit and counts as missing
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key, "root", nullptr, &type, reinterpret_cast<BYTE*>(root), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(root) : std::string();
}

void ListDevices(HWND dialog, const pugi::xml_document& doc)
{
    HWND list = GetDlgItem(dialog, IDC_DEVICE);
    int added = 0;
    bool complete = true;
    pugi::xml_node devices = doc.select_node("/velmo/devices").node();
    if (!devices)
        complete = false;
    for (pugi::xml_node child : devices.children()) {
        pugi::xml_attribute name = child.attribute("name"), clsid = child.attribute("clsid");
        // A comment, or an entry without name or clsid, ends the walk.
        if (child.type() != pugi::node_element || !name || !clsid) {
            complete = false;
            break;
        }
        INT_PTR index = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.value()));
        if (index < 0)
            continue;
        auto entry = std::make_unique<Entry>();
        (void)CLSIDFromString(Utf8ToUtf16(clsid.value()).c_str(), &entry->clsid);  // not examined, as designed
        entry->xml = EntryText(child);
        entry->name = Utf8ToUtf16(name.value());
        SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(entry.get()));
        gState->entries.push_back(std::move(entry));
        ++added;
    }
    if (!complete)
        return;
    SendMessageA(list, CB_SETCURSEL, 0, 0);
    if (added > 0) {
        EnableWindow(GetDlgItem(dialog, IDC_TO), TRUE);
        EnableWindow(GetDlgItem(dialog, IDC_BODY), TRUE);
        EnableWindow(GetDlgItem(dialog, IDC_SEND), TRUE);
        SetFocus(GetDlgItem(dialog, IDC_TO));
    }
}

void SetUp(HWND dialog)
{
    std::string root = InstallationRoot();
    if (root.empty()) {
        MessageBoxA(dialog, "Velmo is not installed on this computer!", "Error", MB_ICONERROR);
        return;
    }
    pugi::xml_document doc;
    if (!doc.load_file((root + "config.xml").c_str())) {
        MessageBoxA(dialog, "config.xml is invalid", "Error", MB_ICONERROR);
        return;
    }
    ListDevices(dialog, doc);
}

void Send(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_DEVICE);
    INT_PTR selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (selected < 0)
        return;
    auto* entry = reinterpret_cast<Entry*>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0));
    if (!entry || reinterpret_cast<INT_PTR>(entry) == CB_ERR)
        return;
    Log(dialog, "- - - - - - - - - -\r\nTrying to send using device : [%s]\r\n", Utf16ToUtf8(entry->name).c_str());

    ComPtr<IVelmoDevice> device;
    HRESULT hr = CoCreateInstance(entry->clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVelmoDevice, device.ReceiveVoid());
    Log(dialog, "CoCreateInstance returned 0x%08X\r\n", static_cast<unsigned>(hr));
    if (FAILED(hr))
        return;
    ComPtr<IPersistXMLParam> params;
    hr = device.As(params);
    Log(dialog, "QueryInterface(IPersistXMLParam) returned 0x%08X\r\n", static_cast<unsigned>(hr));
    if (FAILED(hr))
        return;
    Bstr xml(entry->xml);
    hr = params->Load(xml.get());
    Log(dialog, "IPersistXMLParam::Load returned 0x%08X\r\n", static_cast<unsigned>(hr));
    if (FAILED(hr))
        return;
    Bstr name(entry->name);
    hr = device->Open(name.get());
    Log(dialog, "IVelmoDevice::Open() returned 0x%08X\r\n", static_cast<unsigned>(hr));
    if (FAILED(hr)) {
        ComPtr<ISupportErrorInfo> support;
        std::optional<Bstr> description;
        if (SUCCEEDED(device.As(support)) && (description = TakeErrorDescription()))
            Log(dialog, "ISupportErrorInfo:[%s]", Utf16ToUtf8(AnsiToUtf16(Utf16ToAnsi(description->view()))).c_str());
        return;
    }
    OneMessageQueue queue(Utf8ToUtf16(Text(dialog, IDC_TO)), Utf8ToUtf16(Text(dialog, IDC_BODY)),
                          [dialog](const std::string& line) { Log(dialog, "%s", line.c_str()); });
    Log(dialog, "Calling IVelmoDevice::Run(...)\r\n");
    hr = device->Run(&queue);
    Log(dialog, "IVelmoDevice::Run(...) returned 0x%08X\r\n", static_cast<unsigned>(hr));
    hr = device->Close();
    Log(dialog, "IVelmoDevice::Close(...) returned 0x%08X\r\n", static_cast<unsigned>(hr));
}

INT_PTR Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: SetUp(dialog); return TRUE;
    case WM_COMMAND:
        switch (static_cast<int>(wParam & 0xFFFF)) {
        case IDC_SEND: Send(dialog); return TRUE;
        case IDC_CLEARALL:
            SetDlgItemTextA(dialog, IDC_TO, "");
            SetDlgItemTextA(dialog, IDC_BODY, "");
            SetDlgItemTextA(dialog, IDC_LOG, "");
            return TRUE;
        case IDC_CLEARLOG: SetDlgItemTextA(dialog, IDC_LOG, ""); return TRUE;
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        default: return FALSE;
        }
    default: return FALSE;
    }
}

}  // namespace

INT_PTR RunTestDevice()
{
    State state;
    gState = &state;
    (void)CoInitialize(nullptr);  // bookkeeping only
    INT_PTR result = DialogBoxParamA(nullptr, &kDialog, GetActiveWindow(), Proc, 0);
    CoUninitialize();
    gState = nullptr;
    return result;
}

}  // namespace velmo::devtest
