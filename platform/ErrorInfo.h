// Error information: the automation way of saying why a call failed.
//
// A failing method creates an error object (CreateErrorInfo), fills in its
// source and description, and stores it for the thread (SetErrorInfo); the
// caller takes it with GetErrorInfo, which hands it over and clears the
// thread's slot. The slot lives in libvelmo_platform.so, so it is one per
// thread for the whole process, plugins included.
#pragma once

#include "platform/Bstr.h"
#include "platform/Unknown.h"

#include <optional>

inline constexpr IID IID_IErrorInfo = velmo::MakeGuid("{1CF2B120-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ICreateErrorInfo = velmo::MakeGuid("{22F03340-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ISupportErrorInfo = velmo::MakeGuid("{DF0B3D60-548F-101B-8E65-08002B2BD119}");

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID guid) = 0;
    virtual HRESULT SetSource(LPOLESTR source) = 0;
    virtual HRESULT SetDescription(LPOLESTR description) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD helpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
    // S_OK when the object sets error information for calls on riid, S_FALSE otherwise.
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

VELMO_INTERFACE_ID(IErrorInfo, IID_IErrorInfo);
VELMO_INTERFACE_ID(ICreateErrorInfo, IID_ICreateErrorInfo);
VELMO_INTERFACE_ID(ISupportErrorInfo, IID_ISupportErrorInfo);

VELMO_PLATFORM_API HRESULT CreateErrorInfo(ICreateErrorInfo** out);
// Replaces the thread's error object (null clears it). reserved must be 0.
VELMO_PLATFORM_API HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// S_OK and the object, which leaves the thread; S_FALSE and null when none.
VELMO_PLATFORM_API HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** out);

namespace velmo {
// Sets the thread's error object with source and description and
// GUID_NULL as interface, and returns DISP_E_EXCEPTION, as automation
// methods report failures. Returns the creation failure if that fails.
VELMO_PLATFORM_API HRESULT ReportError(const char16_t* source, const char16_t* description);
// Takes the thread's error object (GetErrorInfo, which clears it) and gives
// its description; nullopt when there is no error object or no description.
VELMO_PLATFORM_API std::optional<Bstr> TakeErrorDescription();
}  // namespace velmo
