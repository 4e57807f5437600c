#include "platform/Bstr.h"

#include "platform/Text.h"

#include <cstdlib>
#include <cstring>

namespace {

// Layout: [uint32 byte length][text][zero char]; the BSTR points at the text.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

std::uint32_t* Header(BSTR s) { return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(s) - kPrefix); }

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* psz, UINT len)
{
    if (len > (0xFFFFFFFFu - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR) / 2)
        return nullptr;
    std::size_t bytes = static_cast<std::size_t>(len) * sizeof(OLECHAR);
    void* block = std::malloc(kPrefix + bytes + sizeof(OLECHAR));
    if (!block)
        return nullptr;
    *static_cast<std::uint32_t*>(block) = static_cast<std::uint32_t>(bytes);
    auto* text = reinterpret_cast<OLECHAR*>(static_cast<char*>(block) + kPrefix);
    if (psz)
        std::memcpy(text, psz, bytes);
    else
        std::memset(text, 0, bytes);
    text[len] = 0;
    return text;
}

BSTR SysAllocString(const OLECHAR* psz)
{
    if (!psz)
        return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(velmo::WideLength(psz)));
}

void SysFreeString(BSTR bstr)
{
    if (bstr)
        std::free(Header(bstr));
}

UINT SysStringByteLen(BSTR bstr) { return bstr ? *Header(bstr) : 0; }

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

namespace velmo {

Bstr Bstr::FromUtf8(std::string_view text) { return Bstr(std::u16string_view(Utf8ToUtf16(text))); }

std::string Bstr::Utf8() const { return Utf16ToUtf8(view()); }

}  // namespace velmo
