// Automation strings (BSTR) and their owner, Bstr.
//
// A BSTR points at UTF-16 text preceded by a 32-bit length in bytes and
// followed by a zero character; it may hold zeros of its own. A null BSTR and
// an empty one are different values: SysStringLen gives 0 for both, but only
// the empty one is a string. Every BSTR is freed with SysFreeString.
#pragma once

#include "platform/Types.h"

#include <string>
#include <string_view>
#include <utility>

using BSTR = OLECHAR*;

// Null when psz is null or memory is short.
VELMO_PLATFORM_API BSTR SysAllocString(const OLECHAR* psz);
// A string of len characters copied from psz, or uninitialised (zeroed) when psz is null.
VELMO_PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* psz, UINT len);
VELMO_PLATFORM_API void SysFreeString(BSTR bstr);
// Characters in the string, not counting the terminator; 0 for null.
VELMO_PLATFORM_API UINT SysStringLen(BSTR bstr);
VELMO_PLATFORM_API UINT SysStringByteLen(BSTR bstr);

// Task memory, for strings that COM hands out (ProgIDFromCLSID).

namespace velmo {

// Owns one BSTR (possibly null) and frees it.
class VELMO_PLATFORM_API Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::u16string_view text) : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    explicit Bstr(const char16_t* text) : s_(SysAllocString(text)) {}
    Bstr(const Bstr& other) : s_(other.s_ ? SysAllocStringLen(other.s_, SysStringLen(other.s_)) : nullptr) {}
    Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    Bstr& operator=(Bstr other) noexcept
    {
        std::swap(s_, other.s_);
        return *this;
    }
    ~Bstr() { SysFreeString(s_); }

    static Bstr FromUtf8(std::string_view text);
    // Takes ownership of an existing BSTR.
    static Bstr Attach(BSTR s)
    {
        Bstr b;
        b.s_ = s;
        return b;
    }

    BSTR get() const { return s_; }
    BSTR Detach() { return std::exchange(s_, nullptr); }
    // Frees the current string and gives its slot, for out-parameters.
    BSTR* Receive()
    {
        reset();
        return &s_;
    }
    void reset()
    {
        SysFreeString(s_);
        s_ = nullptr;
    }
    BSTR Copy() const { return s_ ? SysAllocStringLen(s_, SysStringLen(s_)) : nullptr; }
    bool IsNull() const { return s_ == nullptr; }
    bool IsEmpty() const { return SysStringLen(s_) == 0; }
    UINT Length() const { return SysStringLen(s_); }
    std::u16string_view view() const { return s_ ? std::u16string_view(s_, SysStringLen(s_)) : std::u16string_view(); }
    std::u16string str() const { return std::u16string(view()); }
    std::string Utf8() const;

private:
    BSTR s_ = nullptr;
};

}  // namespace velmo
