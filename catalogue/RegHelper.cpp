#include "catalogue/RegHelper.h"

#include "platform/ClassFactory.h"
#include "platform/File.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <sstream>

namespace velmo::catalogue {

namespace {

std::string EntryPath(const GUID& clsid) { return "/installed.devices/device[@clsid=\"" + GuidToUtf8(clsid) + "\"]"; }

}  // namespace

HRESULT RegHelper::OpenDevicesDocument(pugi::xml_document& doc)
{
    auto root = ReadRegistryString(Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root");
    if (!root)
        return E_FAIL;
    std::string folder = Utf16ToUtf8(*root);
    path_ = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + "devices.xml";
    return doc.load_file(path_.c_str()) ? S_OK : E_FAIL;
}

HRESULT RegHelper::RemoveDeviceEntry(pugi::xml_document& doc, const GUID& clsid)
{
    pugi::xml_node entry = doc.select_node(EntryPath(clsid).c_str()).node();
    if (!entry)
        return S_FALSE;
    pugi::xml_node catalogue = doc.select_node("/installed.devices").node();
    if (!catalogue)
        return E_FAIL;
    return catalogue.remove_child(entry) ? S_OK : E_FAIL;
}

HRESULT RegHelper::SaveDevicesDocument(const pugi::xml_document& doc) const
{
    if (path_.empty())
        return E_FAIL;
    std::ostringstream text;
    doc.save(text, "\t", pugi::format_default, pugi::encoding_utf8);
    std::string bytes = text.str();
    return WriteFileDurably(path_, bytes.data(), bytes.size()) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

HRESULT RegHelper::Add(GUID clsid, BSTR deviceXml)
{
    pugi::xml_document catalogue;
    HRESULT hr = OpenDevicesDocument(catalogue);
    if (FAILED(hr))
        return hr;
    (void)RemoveDeviceEntry(catalogue, clsid);  // replaced, never doubled
    pugi::xml_document device;
    std::string text = Utf16ToUtf8(deviceXml ? std::u16string_view(deviceXml, SysStringLen(deviceXml)) : u"");
    if (!device.load_buffer(text.data(), text.size()))
        return S_OK;  // not XML: the catalogue keeps what it had
    pugi::xml_node element = device.select_node("/device").node();
    pugi::xml_node root = catalogue.select_node("/installed.devices").node();
    if (!element || !root)
        return E_FAIL;
    root.append_copy(element);
    return SaveDevicesDocument(catalogue);
}

HRESULT RegHelper::Remove(GUID clsid)
{
    pugi::xml_document catalogue;
    HRESULT hr = OpenDevicesDocument(catalogue);
    if (FAILED(hr))
        return hr;
    hr = RemoveDeviceEntry(catalogue, clsid);
    if (FAILED(hr))
        return hr;
    return SaveDevicesDocument(catalogue);
}

}  // namespace velmo::catalogue
