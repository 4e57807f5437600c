#include "platform/BusValue.h"

#include "platform/ErrorInfo.h"
#include "platform/Text.h"
#include "platform/TypeLib.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace velmo::detail {

namespace {

const VARIANT& Deref(const VARIANT& v)
{
    if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal)
        return Deref(*v.pvarVal);
    return v;
}

std::string Utf8Of(BSTR s) { return s ? Utf16ToUtf8(std::u16string_view(s, SysStringLen(s))) : std::string(); }

Variant Coerced(const VARIANT& value, VARTYPE vt)
{
    Variant out;
    HRESULT hr = VariantChangeType(&out, &value, 0, vt);
    if (FAILED(hr))
        throw BusValueError(hr, "value of type " + std::to_string(value.vt) + " cannot be sent as type " +
                                    std::to_string(vt));
    return out;
}

template <class Int>
Variant IntegerVariant(const sdbus::Variant& v)
{
    auto n = v.get<Int>();
    if (static_cast<long long>(n) < std::numeric_limits<LONG>::min() ||
        (n > 0 &&
         static_cast<unsigned long long>(n) > static_cast<unsigned long long>(std::numeric_limits<LONG>::max())))
        throw BusValueError(DISP_E_OVERFLOW, "integer does not fit 32 bits");
    return Variant::FromI4(static_cast<LONG>(n));
}

}  // namespace

std::string InputSignature(const DispMember& member)
{
    std::string sig;
    for (const auto& a : member.args)
        if (a.dir == ArgDir::In)
            sig += BusType(a.type);
    return sig;
}

std::string OutputSignature(const DispMember& member)
{
    std::string sig;
    for (const auto& a : member.args)
        if (a.dir == ArgDir::Retval)
            sig += BusType(a.type);
    for (const auto& a : member.args)
        if (a.dir == ArgDir::Out)
            sig += BusType(a.type);
    return sig;
}

sdbus::Variant ToBusVariant(const VARIANT& value)
{
    const VARIANT& v = Deref(value);
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR:  // an omitted argument, or an output left alone
        return sdbus::Variant(std::vector<std::uint8_t>{});
    case VT_BSTR: return sdbus::Variant(Utf8Of(v.bstrVal));
    case VT_I2: return sdbus::Variant(static_cast<std::int32_t>(v.iVal));
    case VT_UI2: return sdbus::Variant(static_cast<std::int32_t>(v.uiVal));
    case VT_I4:
    case VT_INT: return sdbus::Variant(static_cast<std::int32_t>(v.lVal));
    case VT_BOOL: return sdbus::Variant(v.boolVal != VARIANT_FALSE);
    case VT_R8: return sdbus::Variant(v.dblVal);
    case VT_DATE: return sdbus::Variant(v.date);
    default: throw BusValueError(DISP_E_BADVARTYPE, "value of type " + std::to_string(v.vt) + " has no bus form");
    }
}

Variant FromBusVariant(const sdbus::Variant& value)
{
    std::string type = value.peekValueType();
    if (type.empty() || type[0] == 'a')
        return Variant();
    switch (type[0]) {
    case 's': return Variant::FromBstr(Utf8ToUtf16(value.get<std::string>()));
    case 'b': return Variant::FromBool(value.get<bool>());
    case 'd': return Variant::FromDate(value.get<double>());
    case 'y': return IntegerVariant<std::uint8_t>(value);
    case 'n': return IntegerVariant<std::int16_t>(value);
    case 'q': return IntegerVariant<std::uint16_t>(value);
    case 'i': return IntegerVariant<std::int32_t>(value);
    case 'u': return IntegerVariant<std::uint32_t>(value);
    case 'x': return IntegerVariant<std::int64_t>(value);
    case 't': return IntegerVariant<std::uint64_t>(value);
    default: throw BusValueError(DISP_E_TYPEMISMATCH, "bus value of type '" + type + "' is not accepted");
    }
}

void AppendValue(sdbus::Message& msg, VARTYPE declared, const VARIANT& value, const ExportObject& exportObject)
{
    const VARIANT& v = Deref(value);
    switch (BusType(declared)[0]) {
    case 's':
        if (v.vt == VT_BSTR)
            msg << Utf8Of(v.bstrVal);
        else if (v.vt == VT_EMPTY || v.vt == VT_NULL)
            msg << std::string();
        else
            msg << Utf8Of(Coerced(v, VT_BSTR).bstrVal);
        break;
    case 'i': msg << static_cast<std::int32_t>(v.vt == VT_I4 ? v.lVal : Coerced(v, VT_I4).lVal); break;
    case 'b':
        msg << (v.vt == VT_BOOL ? v.boolVal != VARIANT_FALSE : Coerced(v, VT_BOOL).boolVal != VARIANT_FALSE);
        break;
    case 'd': msg << (v.vt == VT_DATE ? v.date : v.vt == VT_R8 ? v.dblVal : Coerced(v, VT_R8).dblVal); break;
    case 'o': {
        IDispatch* object = (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) ? v.pdispVal : nullptr;
        if (!object)
            throw BusValueError(E_POINTER, "no object to return");
        msg << sdbus::ObjectPath(exportObject(object));
        break;
    }
    default: msg << ToBusVariant(v); break;
    }
}

Variant ReadValue(sdbus::Message& msg, VARTYPE declared, const ImportObject& importObject)
{
    switch (BusType(declared)[0]) {
    case 's': {
        std::string s;
        msg >> s;
        return Variant::FromBstr(Utf8ToUtf16(s));
    }
    case 'i': {
        std::int32_t n = 0;
        msg >> n;
        return Variant::FromI4(n);
    }
    case 'b': {
        bool b = false;
        msg >> b;
        return Variant::FromBool(b);
    }
    case 'd': {
        double d = 0;
        msg >> d;
        Variant out = Variant::FromDate(d);
        if (declared == VT_R8)
            out.vt = VT_R8;
        return out;
    }
    case 'o': {
        sdbus::ObjectPath path;
        msg >> path;
        return importObject(path);
    }
    default: {
        sdbus::Variant v;
        msg >> v;
        return FromBusVariant(v);
    }
    }
}

sdbus::Error ErrorFromHResult(HRESULT hr, const EXCEPINFO* excepInfo)
{
    if (hr == DISP_E_EXCEPTION) {
        std::string text = excepInfo ? Utf8Of(excepInfo->bstrDescription) : std::string();
        if (text.empty())
            if (auto description = TakeErrorDescription())
                text = description->Utf8();
        return sdbus::Error(kExceptionError, text);
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return sdbus::Error(kHResultError, code);
}

HRESULT HResultFromError(const sdbus::Error& error, HRESULT fallback)
{
    if (error.getName() == kHResultError) {
        char* end = nullptr;
        unsigned long code = std::strtoul(error.getMessage().c_str(), &end, 16);
        if (end && *end == '\0' && code <= 0xFFFFFFFFul && code != 0)
            return static_cast<HRESULT>(static_cast<std::uint32_t>(code));
        return fallback;
    }
    std::u16string text = Utf8ToUtf16(error.getMessage().empty() ? error.getName() : error.getMessage());
    HRESULT reported = ReportError(u"org.norvane.Velmo", text.c_str());
    if (error.getName() == "org.freedesktop.DBus.Error.AccessDenied")
        return E_ACCESSDENIED;  // the bus policy refused the call
    return error.getName() == kExceptionError ? reported : fallback;
}

}  // namespace velmo::detail
