#include "service/host/ServiceModule.h"

#include "platform/Bstr.h"
#include "platform/ErrorInfo.h"
#include "platform/Text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace velmo::host {

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

ServiceModule::ServiceModule() = default;

void ServiceModule::WaitForDispatcher()
{
    if (!workerThread)
        return;
    HANDLE started[] = {workerStarted.get(), workerThread.get()};
    (void)WaitForMultipleObjects(2, started, FALSE, INFINITE);  // either way the dispatcher now answers for itself
}

ServiceModule& TheModule()
{
    static ServiceModule* module = new ServiceModule();  // used by threads that may outlive main
    return *module;
}

void ServiceModule::LogEvent(WORD type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    ReportEventText(serviceName, type, text);
}

void ServiceModule::LogCallFailure(WORD type, HRESULT hr, IUnknown* object, const char* format, ...)
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
        LogEvent(type, "%s failed: %s", call.c_str(), description->Utf8().c_str());
    else
        LogEvent(type, "%s failed with code 0x%08X", call.c_str(), static_cast<unsigned>(hr));
}

}  // namespace velmo::host
