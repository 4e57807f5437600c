// The installed-device catalogue's interface, shared by the Rigstock module
// that implements it and the device modules that enter themselves into it.
//
// Add puts a device template (the module's "device" element) into
// devices.xml under the root folder, replacing an entry of the same class;
// Remove takes it out. An entry is found by its clsid attribute in upper
// case, exactly as StringFromGUID2 writes it.
#pragma once

#include "platform/Bstr.h"
#include "platform/Unknown.h"

inline constexpr CLSID CLSID_RegHelper = velmo::MakeGuid("{23B89E70-0EE8-473F-9669-C6CFEF9754B9}");
inline constexpr IID IID_IRegHelper = velmo::MakeGuid("{78629F9B-72A1-41C4-9EAA-55CD8015C1ED}");
inline constexpr GUID LIBID_RIGSTOCKLib = velmo::MakeGuid("{FCCBD3DD-2E11-408A-BAE2-ED505253C246}");

struct IRegHelper : IUnknown {
    // Enters deviceXml (a document whose element is "device") for clsid,
    // replacing an entry of that class, and saves devices.xml durably.
    // S_OK, also for text that is not XML (nothing is written then);
    // E_FAIL when the catalogue cannot be found or read, is not
    // well-formed, has no installed.devices element, or deviceXml has no
    // device element (nothing is written then either); the save's failure
    // otherwise.
    virtual HRESULT Add(GUID clsid, BSTR deviceXml) = 0;
    // Removes clsid's entry and saves devices.xml. S_OK also when there was
    // none; E_FAIL when the catalogue cannot be found or read; the save's
    // failure otherwise.
    virtual HRESULT Remove(GUID clsid) = 0;

protected:
    ~IRegHelper() = default;
};
VELMO_INTERFACE_ID(IRegHelper, IID_IRegHelper);
