#include "platform/Guid.h"

#include "platform/Activation.h"
#include "platform/Text.h"

#include <cstdio>
#include <sys/random.h>

namespace velmo {

int HexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

std::u16string GuidToString(const GUID& g) { return Utf8ToUtf16(GuidToUtf8(g)); }

std::string GuidToUtf8(const GUID& g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::optional<GUID> ParseGuid(std::u16string_view t)
{
    if (t.size() != 38 || t[0] != u'{' || t[37] != u'}' || t[9] != u'-' || t[14] != u'-' || t[19] != u'-' ||
        t[24] != u'-')
        return std::nullopt;
    auto read = [&](std::size_t pos, std::size_t n, std::uint32_t& out) {
        out = 0;
        for (std::size_t i = 0; i < n; ++i) {
            int d = HexValue(t[pos + i]);
            if (d < 0)
                return false;
            out = (out << 4) | static_cast<std::uint32_t>(d);
        }
        return true;
    };
    GUID g{};
    std::uint32_t v;
    if (!read(1, 8, v))
        return std::nullopt;
    g.Data1 = v;
    if (!read(10, 4, v))
        return std::nullopt;
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!read(15, 4, v))
        return std::nullopt;
    g.Data3 = static_cast<std::uint16_t>(v);
    for (std::size_t i = 0; i < 2; ++i) {
        if (!read(20 + 2 * i, 2, v))
            return std::nullopt;
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    for (std::size_t i = 0; i < 6; ++i) {
        if (!read(25 + 2 * i, 2, v))
            return std::nullopt;
        g.Data4[2 + i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

std::optional<GUID> ParseGuid(std::string_view text) { return ParseGuid(std::u16string_view(Utf8ToUtf16(text))); }

}  // namespace velmo

int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax)
{
    if (!buf || cchMax < 39)
        return 0;
    std::u16string s = velmo::GuidToString(guid);
    std::copy(s.begin(), s.end(), buf);
    buf[38] = 0;
    return 39;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid)
{
    if (!clsid)
        return E_INVALIDARG;
    if (!text || !*text)
        return CO_E_CLASSSTRING;
    std::u16string_view t(text);
    if (t.front() == u'{') {
        auto g = velmo::ParseGuid(t);
        if (!g)
            return CO_E_CLASSSTRING;
        *clsid = *g;
        return S_OK;
    }
    // A ProgID stands for the class it names.
    return CLSIDFromProgID(text, clsid);
}

HRESULT CoCreateGuid(GUID* guid)
{
    if (!guid)
        return E_INVALIDARG;
    unsigned char b[16];
    std::size_t got = 0;
    while (got < sizeof b) {
        ssize_t n = getrandom(b + got, sizeof b - got, 0);
        if (n < 0)
            return E_FAIL;
        got += static_cast<std::size_t>(n);
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    guid->Data1 = (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
    guid->Data2 = static_cast<std::uint16_t>((b[4] << 8) | b[5]);
    guid->Data3 = static_cast<std::uint16_t>((b[6] << 8) | b[7]);
    for (int i = 0; i < 8; ++i)
        guid->Data4[i] = b[8 + i];
    return S_OK;
}
