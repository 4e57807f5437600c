// RegHelper: the catalogue of installed device modules, devices.xml in the
// root folder (the registry value "root" of HKLM\Software\Norvane\Velmo).
//
// Every call loads the whole file, changes it and saves it whole; nothing
// is kept between calls but the path. The catalogue's document element is
// installed.devices; each entry is one module's device element, found by
// the XPath /installed.devices/device[@clsid="{UPPER-CASE CLSID}"].
// Failures: no root value or no readable, well-formed devices.xml gives
// E_FAIL and writes nothing; Add of text that is not XML gives S_OK and
// writes nothing; Add of XML without a device element, or into a catalogue
// without installed.devices, gives E_FAIL and writes nothing.
#pragma once

#include "interfaces/RegHelper.h"
#include "platform/ClassFactory.h"

#include <atomic>
#include <pugixml.hpp>
#include <string>

namespace velmo::catalogue {

class RegHelper final : public ComObject<IRegHelper> {
public:
    HRESULT Add(GUID clsid, BSTR deviceXml) override;
    HRESULT Remove(GUID clsid) override;

private:
    HRESULT OpenDevicesDocument(pugi::xml_document& doc);
    static HRESULT RemoveDeviceEntry(pugi::xml_document& doc, const GUID& clsid);
    HRESULT SaveDevicesDocument(const pugi::xml_document& doc) const;

    std::string path_;
};

}  // namespace velmo::catalogue
