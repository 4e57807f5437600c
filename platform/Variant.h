// VARIANT, the automation value, and its owner Variant.
//
// A VARIANT holds one value of the kinds the system passes (empty, null,
// 16- and 32-bit integers, unsigned 16-bit, double, date, string, dispatch
// and unknown pointers, error codes, booleans) or a by-reference pointer to
// one of them. VariantClear frees what it owns (string, reference) and leaves
// VT_EMPTY. VariantChangeType converts by the automation rules; a conversion
// that does not fit leaves the destination untouched and returns
// DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW.
#pragma once

#include "platform/Bstr.h"
#include "platform/Unknown.h"

#include <string>

struct IDispatch;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_USERDEFINED = 29,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT;
using VARIANTARG = VARIANT;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        SHORT iVal;
        USHORT uiVal;
        ULONG ulVal;
        INT intVal;
        float fltVal;
        DOUBLE dblVal;
        DATE date;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        LONG* plVal;
        SHORT* piVal;
        USHORT* puiVal;
        DOUBLE* pdblVal;
        DATE* pdate;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        void* byref;
    };
};

// Flags of VariantChangeType.
constexpr WORD VARIANT_NOVALUEPROP = 0x01;
constexpr WORD VARIANT_ALPHABOOL = 0x02;

VELMO_PLATFORM_API void VariantInit(VARIANT* v);
VELMO_PLATFORM_API HRESULT VariantClear(VARIANT* v);
// Deep copy: strings duplicated, interface pointers AddRef'd. dest is cleared first.
VELMO_PLATFORM_API HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Like VariantCopy, but a by-reference source is copied as the value it points at.
VELMO_PLATFORM_API HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);
// dest may be src. Text converts as decimal, leading and trailing blanks
// allowed; to VT_BOOL also "true"/"false" in any case, or a number (0 false).
VELMO_PLATFORM_API HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD flags, VARTYPE vt);

namespace velmo {

// Owns one VARIANT and clears it.
class VELMO_PLATFORM_API Variant : public VARIANT {
public:
    Variant() { VariantInit(this); }
    Variant(const Variant& o) : Variant() { VariantCopy(this, &o); }
    Variant(const VARIANT& o) : Variant() { VariantCopy(this, &o); }
    Variant& operator=(const Variant& o)
    {
        if (this != &o)
            VariantCopy(this, &o);
        return *this;
    }
    Variant(Variant&& o) noexcept : VARIANT(static_cast<VARIANT&>(o)) { VariantInit(&o); }
    ~Variant() { VariantClear(this); }

    static Variant FromBstr(std::u16string_view text);
    static Variant FromI4(LONG v);
    static Variant FromBool(bool v);
    static Variant FromDate(DATE d);
    static Variant FromError(SCODE code);
    // A VT_DISPATCH holding a new reference.
    static Variant FromDispatch(IDispatch* d);

    VARIANT* Receive()
    {
        VariantClear(this);
        return this;
    }
    // Hands the value over to a raw VARIANT the caller owns; this becomes empty.
    void Detach(VARIANT* out)
    {
        *out = static_cast<VARIANT&>(*this);
        VariantInit(this);
    }
};

}  // namespace velmo
