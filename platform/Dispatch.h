// IDispatch and the member-table helper that implements it.
//
// A dual interface is described once, as a table of its members (name,
// DISPID, kind, result type, arguments). DispatchTable answers
// GetIDsOfNames from it (names compare without regard to case) and turns an
// Invoke into a call with the arguments in declared order, already coerced
// to their declared types: positional arguments arrive in DISPPARAMS in
// reverse order, a property put takes its value as the named argument
// DISPID_PROPERTYPUT, and a missing optional argument becomes VT_ERROR with
// DISP_E_PARAMNOTFOUND. The same table drives the automation bus.
#pragma once

#include "platform/Unknown.h"
#include "platform/Variant.h"

#include <functional>
#include <span>

struct ITypeInfo;

inline constexpr IID IID_IDispatch = velmo::MakeGuid("{00020400-0000-0000-C000-000000000046}");

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids) = 0;
    virtual HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* excepInfo, UINT* argErr) = 0;

protected:
    ~IDispatch() = default;
};
VELMO_INTERFACE_ID(IDispatch, IID_IDispatch);

namespace velmo {

// How an argument is passed.
enum class ArgDir : unsigned char { In, Out, Retval };

struct DispArg {
    const char16_t* name;
    VARTYPE type;  // VT_VARIANT accepts any value unchanged
    ArgDir dir;
    bool optional;
};

struct DispMember {
    const char16_t* name;
    DISPID dispid;
    WORD kind;       // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
    VARTYPE result;  // VT_VOID when nothing is returned; for a put, the value's type
    std::span<const DispArg> args;
};

struct DispInterface {
    const char16_t* name;     // "IVelmo"
    const char16_t* busName;  // "org.norvane.Velmo.IVelmo"
    IID iid;
    const char16_t* helpString;
    std::span<const DispMember> members;
};

// The typed call behind one member. args holds the declared arguments in
// order (in-arguments coerced; out-arguments as the caller's VT_BYREF
// variants, or VT_ERROR/DISP_E_PARAMNOTFOUND when omitted); for a put, the
// single argument is the new value. result receives a propget's or a
// retval's value (null when the caller did not ask for one).
using DispCall = std::function<HRESULT(const DispMember& member, std::span<Variant> args, VARIANT* result)>;

class VELMO_PLATFORM_API DispatchTable {
public:
    explicit DispatchTable(const DispInterface& iface) : iface_(iface) {}

    const DispInterface& Interface() const { return iface_; }
    // The member with this DISPID whose kind matches flags; null when none.
    const DispMember* Find(DISPID id, WORD flags) const;
    const DispMember* FindByName(std::u16string_view name, WORD kind) const;

    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* dispids) const;
    // Fills EXCEPINFO from the thread's error information when the call
    // returns DISP_E_EXCEPTION.
    HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr,
                   const DispCall& call) const;

private:
    const DispInterface& iface_;
};

}  // namespace velmo
