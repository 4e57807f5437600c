#include "platform/Variant.h"

#include "platform/Dispatch.h"
#include "platform/Text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

void VariantInit(VARIANT* v)
{
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->dblVal = 0;
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v)
        return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR: SysFreeString(v->bstrVal); break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (v->punkVal)
                v->punkVal->Release();
            break;
        default: break;
        }
    }
    VariantInit(v);
    return S_OK;
}

namespace {

HRESULT CopyValue(VARIANT* dest, const VARIANT* src)
{
    VARIANT tmp = *src;
    if (!(src->vt & VT_BYREF)) {
        switch (src->vt) {
        case VT_BSTR:
            tmp.bstrVal = src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
            if (src->bstrVal && !tmp.bstrVal)
                return E_OUTOFMEMORY;
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (tmp.punkVal)
                tmp.punkVal->AddRef();
            break;
        default: break;
        }
    }
    VariantClear(dest);
    *dest = tmp;
    return S_OK;
}

// The value a by-reference variant points at, as a by-value variant that
// shares (does not own) the pointed-at string or interface.
std::optional<VARIANT> Deref(const VARIANT* src)
{
    if (!(src->vt & VT_BYREF))
        return *src;
    VARIANT v;
    VariantInit(&v);
    VARTYPE base = src->vt & VT_TYPEMASK;
    if (!src->byref)
        return std::nullopt;
    v.vt = base;
    switch (base) {
    case VT_I2: v.iVal = *src->piVal; break;
    case VT_I4: v.lVal = *src->plVal; break;
    case VT_UI2: v.uiVal = *src->puiVal; break;
    case VT_R8: v.dblVal = *src->pdblVal; break;
    case VT_DATE: v.date = *src->pdate; break;
    case VT_BOOL: v.boolVal = *src->pboolVal; break;
    case VT_ERROR: v.scode = *src->pscode; break;
    case VT_BSTR: v.bstrVal = *src->pbstrVal; break;
    case VT_DISPATCH: v.pdispVal = *src->ppdispVal; break;
    case VT_UNKNOWN: v.punkVal = *src->ppunkVal; break;
    case VT_VARIANT: return Deref(src->pvarVal);
    default: return std::nullopt;
    }
    return v;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Decimal text: optional blanks, sign, digits, an optional fraction, blanks.
// Returns nullopt when the text is not a number.
std::optional<double> ParseDecimal(std::u16string_view t)
{
    std::size_t b = 0, e = t.size();
    while (b < e && IsBlank(t[b]))
        ++b;
    while (e > b && IsBlank(t[e - 1]))
        --e;
    t = t.substr(b, e - b);
    std::string ascii;
    bool digits = false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char16_t c = t[i];
        if (c >= u'0' && c <= u'9') {
            digits = true;
            ascii += static_cast<char>(c);
        } else if ((c == u'+' || c == u'-') && i == 0) {
            ascii += static_cast<char>(c);
        } else if (c == u'.' && ascii.find('.') == std::string::npos) {
            ascii += '.';
        } else {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    return std::strtod(ascii.c_str(), nullptr);
}

// Automation rounds to even when converting a fraction to an integer.
double RoundHalfEven(double d) { return std::nearbyint(d); }

std::optional<double> NumericValue(const VARIANT& v, HRESULT& hr)
{
    hr = S_OK;
    switch (v.vt) {
    case VT_EMPTY: return 0.0;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4: return v.ulVal;
    case VT_INT: return v.intVal;
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    case VT_DATE: return v.date;
    case VT_BOOL: return v.boolVal ? -1.0 : 0.0;
    case VT_BSTR: {
        auto d = ParseDecimal(std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)));
        if (!d)
            hr = DISP_E_TYPEMISMATCH;
        return d;
    }
    default: hr = DISP_E_TYPEMISMATCH; return std::nullopt;
    }
}

std::optional<bool> BoolFromText(BSTR s)
{
    std::u16string_view t(s ? s : u"", SysStringLen(s));
    std::size_t b = 0, e = t.size();
    while (b < e && IsBlank(t[b]))
        ++b;
    while (e > b && IsBlank(t[e - 1]))
        --e;
    t = t.substr(b, e - b);
    if (velmo::EqualsNoCase(t, u"true"))
        return true;
    if (velmo::EqualsNoCase(t, u"false"))
        return false;
    if (auto d = ParseDecimal(t))
        return *d != 0.0;
    return std::nullopt;
}

std::u16string NumberText(double d)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return velmo::Utf8ToUtf16(buf);
}

HRESULT ToText(const VARIANT& v, WORD flags, std::u16string& out)
{
    switch (v.vt) {
    case VT_EMPTY: out.clear(); return S_OK;
    case VT_BSTR: out.assign(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)); return S_OK;
    case VT_BOOL:
        if (flags & VARIANT_ALPHABOOL)
            out = v.boolVal ? u"True" : u"False";
        else
            out = v.boolVal ? u"-1" : u"0";
        return S_OK;
    case VT_I2: out = NumberText(v.iVal); return S_OK;
    case VT_I4: out = NumberText(v.lVal); return S_OK;
    case VT_UI2: out = NumberText(v.uiVal); return S_OK;
    case VT_UI4: out = NumberText(v.ulVal); return S_OK;
    case VT_INT: out = NumberText(v.intVal); return S_OK;
    case VT_R4: out = NumberText(v.fltVal); return S_OK;
    case VT_R8: out = NumberText(v.dblVal); return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

template <class T>
HRESULT ToInteger(const VARIANT& v, T& out)
{
    HRESULT hr;
    auto d = NumericValue(v, hr);
    if (!d)
        return hr;
    double r = RoundHalfEven(*d);
    if (std::isnan(r) || r < static_cast<double>(std::numeric_limits<T>::min()) ||
        r > static_cast<double>(std::numeric_limits<T>::max()))
        return DISP_E_OVERFLOW;
    out = static_cast<T>(r);
    return S_OK;
}

}  // namespace

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return S_OK;
    return CopyValue(dest, src);
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    auto v = Deref(src);
    if (!v)
        return DISP_E_BADVARTYPE;
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = CopyValue(&copy, &*v);
    if (FAILED(hr))
        return hr;
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD flags, VARTYPE vt)
{
    if (!dest || !src)
        return E_INVALIDARG;
    auto in = Deref(src);
    if (!in)
        return DISP_E_BADVARTYPE;
    const VARIANT& s = *in;
    VARIANT out;
    VariantInit(&out);
    out.vt = vt;
    HRESULT hr = S_OK;

    if (s.vt == vt && !(src->vt & VT_BYREF)) {
        if (dest == src)
            return S_OK;
        return VariantCopy(dest, src);
    }
    if (s.vt == VT_NULL && vt != VT_NULL && vt != VT_EMPTY)
        return DISP_E_TYPEMISMATCH;

    switch (vt) {
    case VT_EMPTY:
    case VT_NULL: break;
    case VT_I2: hr = ToInteger(s, out.iVal); break;
    case VT_I4: hr = ToInteger(s, out.lVal); break;
    case VT_UI2: hr = ToInteger(s, out.uiVal); break;
    case VT_UI4: hr = ToInteger(s, out.ulVal); break;
    case VT_INT: hr = ToInteger(s, out.intVal); break;
    case VT_R8:
    case VT_DATE: {
        auto d = NumericValue(s, hr);
        if (d) {
            if (vt == VT_R8)
                out.dblVal = *d;
            else
                out.date = *d;
        }
        break;
    }
    case VT_BOOL:
        if (s.vt == VT_BSTR) {
            auto b = BoolFromText(s.bstrVal);
            if (!b)
                hr = DISP_E_TYPEMISMATCH;
            else
                out.boolVal = *b ? VARIANT_TRUE : VARIANT_FALSE;
        } else {
            auto d = NumericValue(s, hr);
            if (d)
                out.boolVal = *d != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
        }
        break;
    case VT_BSTR: {
        std::u16string text;
        hr = ToText(s, flags, text);
        if (SUCCEEDED(hr)) {
            out.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!out.bstrVal)
                hr = E_OUTOFMEMORY;
        }
        break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        if (s.vt != VT_DISPATCH && s.vt != VT_UNKNOWN) {
            hr = DISP_E_TYPEMISMATCH;
        } else if (!s.punkVal) {
            out.punkVal = nullptr;
        } else {
            const IID& iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
            hr = s.punkVal->QueryInterface(iid, reinterpret_cast<void**>(&out.punkVal));
            if (FAILED(hr))
                hr = DISP_E_TYPEMISMATCH;
        }
        break;
    default: hr = DISP_E_BADVARTYPE; break;
    }
    if (FAILED(hr))
        return hr;
    VariantClear(dest);
    *dest = out;
    return S_OK;
}

namespace velmo {

Variant Variant::FromBstr(std::u16string_view text)
{
    Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

Variant Variant::FromI4(LONG value)
{
    Variant v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

Variant Variant::FromBool(bool value)
{
    Variant v;
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Variant Variant::FromDate(DATE d)
{
    Variant v;
    v.vt = VT_DATE;
    v.date = d;
    return v;
}

Variant Variant::FromError(SCODE code)
{
    Variant v;
    v.vt = VT_ERROR;
    v.scode = code;
    return v;
}

Variant Variant::FromDispatch(IDispatch* d)
{
    Variant v;
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    if (d)
        d->AddRef();
    return v;
}

}  // namespace velmo
