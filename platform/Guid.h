// GUIDs in the Windows layout, their text form, and random generation.
//
// The text form is the braced, upper-case, 38-character form that
// StringFromGUID2 writes, "{C7F74FB8-7146-4AE5-9D83-37751212E0A1}".
// CLSIDFromString accepts that form in any letter case and, like Windows,
// a ProgID in its place; anything else is CO_E_CLASSSTRING.
#pragma once

#include "platform/Types.h"

#include <compare>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b)
    {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID IID_NULL = GUID_NULL;
inline constexpr GUID CLSID_NULL = GUID_NULL;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
constexpr bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

// Orders GUIDs by their 16 bytes in memory order, as memcmp would.
struct GuidByteLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// Writes the braced text form and its terminator into buf; returns the number
// of characters written including the terminator (39), or 0 when cchMax < 39.
VELMO_PLATFORM_API int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax);

// Parses the braced form, or looks a ProgID up in the registry.
// Returns S_OK, CO_E_CLASSSTRING for text of neither kind, E_INVALIDARG for
// a null output.
VELMO_PLATFORM_API HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);

// A new random (version 4, RFC 4122 variant) GUID.
VELMO_PLATFORM_API HRESULT CoCreateGuid(GUID* guid);

namespace velmo {
// The value of a hexadecimal digit (either case); -1 for any other character.
VELMO_PLATFORM_API int HexValue(char16_t c);
// The braced upper-case text form.
VELMO_PLATFORM_API std::u16string GuidToString(const GUID& guid);
VELMO_PLATFORM_API std::string GuidToUtf8(const GUID& guid);
// The braced form only, any letter case; nothing else.
VELMO_PLATFORM_API std::optional<GUID> ParseGuid(std::u16string_view text);
VELMO_PLATFORM_API std::optional<GUID> ParseGuid(std::string_view text);

// A GUID written in code from its text, checked at compile time.
consteval GUID MakeGuid(const char (&t)[39])
{
    auto hex = [](char c) -> std::uint32_t {
        if (c >= '0' && c <= '9')
            return static_cast<std::uint32_t>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<std::uint32_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return static_cast<std::uint32_t>(c - 'A' + 10);
        throw "not a hexadecimal digit";
    };
    if (t[0] != '{' || t[9] != '-' || t[14] != '-' || t[19] != '-' || t[24] != '-' || t[37] != '}')
        throw "not a braced GUID";
    auto read = [&](int pos, int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 4) | hex(t[pos + i]);
        return v;
    };
    GUID g{};
    g.Data1 = read(1, 8);
    g.Data2 = static_cast<std::uint16_t>(read(10, 4));
    g.Data3 = static_cast<std::uint16_t>(read(15, 4));
    g.Data4[0] = static_cast<std::uint8_t>(read(20, 2));
    g.Data4[1] = static_cast<std::uint8_t>(read(22, 2));
    for (int i = 0; i < 6; ++i)
        g.Data4[2 + i] = static_cast<std::uint8_t>(read(25 + 2 * i, 2));
    return g;
}
}  // namespace velmo
