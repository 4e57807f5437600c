#include "platform/EventLog.h"

#include "platform/Text.h"
#include "platform/WriteAll.h"

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <syslog.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_mirror{false};

struct EventSource {
    static constexpr std::uint32_t kMagic = 0x45564C47;  // marks a live source
    std::uint32_t magic = kMagic;
    std::string name;
};

// syslog keeps a pointer to its ident: idents live for the whole process,
// and every syslog call goes through this lock so two sources never mix.
std::mutex& LogLock()
{
    static auto* m = new std::mutex();
    return *m;
}

const char* StableIdent(const std::string& name)
{
    static auto* idents = new std::set<std::string>();
    return idents->insert(name).first->c_str();
}

EventSource* AsSource(HANDLE h)
{
    auto* s = static_cast<EventSource*>(h);
    return s && s->magic == EventSource::kMagic ? s : nullptr;
}

}  // namespace

HANDLE RegisterEventSourceW(LPCWSTR server, LPCWSTR source)
{
    if (server || !source || !*source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* s = new EventSource();
    s->name = velmo::Utf16ToUtf8(source);
    return s;
}

BOOL DeregisterEventSource(HANDLE source)
{
    EventSource* s = AsSource(source);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    s->magic = 0;
    delete s;
    return TRUE;
}

BOOL ReportEventW(HANDLE source, WORD type, WORD, DWORD, void*, WORD numStrings, DWORD, LPCWSTR* strings, void*)
{
    EventSource* s = AsSource(source);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::u16string insertion = numStrings > 0 && strings && strings[0] ? std::u16string(strings[0]) : u"";
    std::string text = velmo::EventText(insertion);
    int priority = LOG_INFO;
    const char* word = "information";
    if (type == EVENTLOG_ERROR_TYPE) {
        priority = LOG_ERR;
        word = "error";
    } else if (type == EVENTLOG_WARNING_TYPE) {
        priority = LOG_WARNING;
        word = "warning";
    }
    {
        std::lock_guard lock(LogLock());
        openlog(StableIdent(s->name), LOG_PID, LOG_DAEMON);
        syslog(priority, "%s", text.c_str());
    }
    if (g_mirror)
        velmo::detail::WriteAll(2, s->name + ": " + word + ": " + text + "\n");
    return TRUE;
}

namespace velmo {

void SetEventLogConsoleMirror(bool on) { g_mirror = on; }

std::string EventText(std::u16string_view insertion) { return EscapeControls(Utf16ToUtf8(insertion)) + "."; }

void ReportEventText(std::u16string_view source, WORD type, std::string_view utf8)
{
    constexpr std::size_t kEventChars = 2047;
    std::u16string text = Utf8ToUtf16(utf8);
    if (text.size() > kEventChars)
        text.resize(kEventChars);
    std::u16string name(source);
    HANDLE log = RegisterEventSourceW(nullptr, name.c_str());
    if (!log)
        return;
    LPCWSTR strings[] = {text.c_str()};
    (void)ReportEventW(log, type, 0, 1, nullptr, 1, 0, strings, nullptr);  // a lost event cannot be reported elsewhere
    DeregisterEventSource(log);
}

void ReportDebugText(std::u16string_view source, std::string_view utf8)
{
    constexpr std::size_t kDebugBytes = 2047;
    std::string text = EscapeControls(utf8.substr(0, kDebugBytes));
    std::string name = Utf16ToUtf8(source);
    {
        std::lock_guard lock(LogLock());
        openlog(StableIdent(name), LOG_PID, LOG_DAEMON);
        syslog(LOG_DEBUG, "%s.", text.c_str());
    }
    if (g_mirror)
        velmo::detail::WriteAll(2, name + ": debug: " + text + ".\n");
}

}  // namespace velmo
