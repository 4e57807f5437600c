#include "service/events/EventSink.h"

#include "platform/Bstr.h"
#include "platform/ErrorInfo.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace velmo::events {

namespace {

std::string FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0)
        return {};
    std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

}  // namespace

void EventSink::LogEvent(WORD type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    Report(type, text);
}

std::string CallFailureText(HRESULT hr, IUnknown* object, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string call = FormatV(format, args);
    va_end(args);

    std::optional<Bstr> description;
    ComPtr<ISupportErrorInfo> support;
    if (object && SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, support.ReceiveVoid())) && support)
        description = TakeErrorDescription();
    if (description)
        return call + " failed: " + description->Utf8();
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return call + " failed with code " + code;
}

void EventSink::LogCallFailure(WORD type, HRESULT hr, IUnknown* object, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string call = FormatV(format, args);
    va_end(args);
    Report(type, CallFailureText(hr, object, "%s", call.c_str()));
}

}  // namespace velmo::events
