#include "platform/Service.h"
#include "platform/StopSignals.h"

#include "platform/File.h"
#include "platform/KernelObject.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <cstdlib>
#include <mutex>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using velmo::detail::Object;

// A handle of the service layer: the manager or one service.
struct ServiceHandle {
    bool manager = false;
    std::u16string name;
};

// A signalfd as a waitable object: signalled while a signal is pending.
class SignalObject final : public Object {
public:
    explicit SignalObject(const sigset_t& set) : Object(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC), Adopt{}) {}
    bool TryAcquire() override
    {
        signalfd_siginfo info{};
        if (read(fd(), &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            return false;
        last_ = static_cast<int>(info.ssi_signo);
        return true;
    }
    int last() const { return last_; }

private:
    int last_ = 0;
};

BOOL Fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

std::string UnitFolder() { return velmo::SysRootPath("etc/systemd/system"); }

// systemd is asked to reread its units only on a real installation.
void ReloadSystemd()
{
    const char* root = std::getenv("VELMO_SYSROOT");
    if ((root && *root) || sd_booted() <= 0)
        return;
    char arg0[] = "systemctl";
    char arg1[] = "daemon-reload";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv, environ) == 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace

std::string velmo::QuoteForUnit(const std::string& path)
{
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

namespace {

struct ControlState {
    std::mutex mu;
    LPHANDLER_FUNCTION handler = nullptr;
    std::u16string name;
    bool dispatching = false;
    std::function<void(velmo::StopSignal)> onStop;
    bool stopWatcher = false;
};

ControlState& Control()
{
    static ControlState* s = new ControlState();  // used by late-ending threads
    return *s;
}

bool StartedByManager(const std::u16string& name)
{
    if (std::getenv("DBUS_STARTER_BUS_TYPE"))
        return true;
    char* unit = nullptr;
    if (sd_pid_get_unit(0, &unit) < 0 || !unit)
        return false;
    bool ours = velmo::Utf8ToUtf16(unit) == name + u".service";
    std::free(unit);
    return ours;
}

struct MainArgs {
    LPSERVICE_MAIN_FUNCTIONW proc;
    LPWSTR name;
};

DWORD RunServiceMain(void* p)
{
    auto* args = static_cast<MainArgs*>(p);
    LPWSTR argv[] = {args->name, nullptr};
    args->proc(1, argv);
    return 0;
}

DWORD StopWatcher(void* p)
{
    auto* signals = static_cast<SignalObject*>(p);
    HANDLE h = signals;
    while (WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0) {
        std::function<void(velmo::StopSignal)> onStop;
        {
            std::lock_guard lock(Control().mu);
            onStop = Control().onStop;
        }
        onStop(signals->last() == SIGINT ? velmo::StopSignal::Interrupt : velmo::StopSignal::Terminate);
    }
    return 0;
}

}  // namespace

SC_HANDLE OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD)
{
    if (machine || database) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string folder = UnitFolder();
    if (!velmo::MakeDirectories(folder) || access(folder.c_str(), W_OK) != 0) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return new ServiceHandle{true, {}};
}

SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR displayName, DWORD, DWORD serviceType, DWORD, DWORD,
                         LPCWSTR binaryPath, LPCWSTR, DWORD*, LPCWSTR, LPCWSTR account, LPCWSTR)
{
    auto* m = static_cast<ServiceHandle*>(manager);
    if (!m || !m->manager) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!name || !*name || !binaryPath || serviceType != SERVICE_WIN32_OWN_PROCESS) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string user = account ? velmo::Utf16ToUtf8(account) : std::string();
    if (user.find_first_of(" \t\n\\/\"") != std::string::npos) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = velmo::ServiceUnitPath(name);
    std::string unit = "[Unit]\nDescription=" + velmo::Utf16ToUtf8(displayName ? displayName : name) +
                       "\n\n[Service]\nType=notify\nNotifyAccess=main\nExecStart=" +
                       velmo::QuoteForUnit(velmo::Utf16ToUtf8(binaryPath)) + "\nRestart=always\nRestartSec=30\n" +
                       (user.empty() ? std::string() : "User=" + user + "\nGroup=" + user + "\n") +
                       "\n[Install]\nWantedBy=multi-user.target\n";
    // The unit is created exclusively: an existing one is an installed service.
    HANDLE file = CreateFileW(velmo::Utf8ToUtf16(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(GetLastError() == ERROR_FILE_EXISTS ? ERROR_SERVICE_EXISTS : GetLastError());
        return nullptr;
    }
    DWORD written = 0;
    BOOL ok =
        WriteFile(file, unit.data(), static_cast<DWORD>(unit.size()), &written, nullptr) && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) {
        unlink(path.c_str());
        Fail(error);
        return nullptr;
    }
    ReloadSystemd();
    return new ServiceHandle{false, name};
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD)
{
    auto* m = static_cast<ServiceHandle*>(manager);
    if (!m || !m->manager) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!name || !*name || !velmo::PathExists(velmo::ServiceUnitPath(name))) {
        Fail(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return new ServiceHandle{false, name};
}

BOOL DeleteService(SC_HANDLE service)
{
    auto* s = static_cast<ServiceHandle*>(service);
    if (!s || s->manager)
        return Fail(ERROR_INVALID_HANDLE);
    if (unlink(velmo::ServiceUnitPath(s->name).c_str()) != 0)
        return Fail(errno == ENOENT ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_ACCESS_DENIED);
    ReloadSystemd();
    return TRUE;
}

BOOL velmo::AddServiceSettings(SC_HANDLE service, std::string_view settings)
{
    auto* s = static_cast<ServiceHandle*>(service);
    if (!s || s->manager)
        return Fail(ERROR_INVALID_HANDLE);
    if (settings.empty() || settings.back() != '\n' || settings.front() == '[' ||
        settings.find("\n[") != std::string_view::npos)
        return Fail(ERROR_INVALID_PARAMETER);
    std::string path = ServiceUnitPath(s->name);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Fail(errno == ENOENT ? ERROR_SERVICE_DOES_NOT_EXIST : ERROR_ACCESS_DENIED);
    std::string unit((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return Fail(ERROR_READ_FAULT);
    // The settings end the [Service] section, before the blank line of the next one.
    std::size_t end = unit.find("\n\n[Install]");
    unit.insert(end == std::string::npos ? unit.size() : end + 1, settings);
    if (!WriteFileDurably(path, unit.data(), unit.size()))
        return FALSE;  // the write set the error
    ReloadSystemd();
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle)
{
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    delete static_cast<ServiceHandle*>(handle);
    return TRUE;
}

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table)
{
    if (!table || !table->lpServiceName || !table->lpServiceProc)
        return Fail(ERROR_INVALID_PARAMETER);
    std::u16string name = table->lpServiceName;
    if (!StartedByManager(name))
        return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);

    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // before the service thread exists: it inherits the mask
    auto* signals = new SignalObject(set);
    velmo::Handle signalHandle(signals);
    if (!signals->ok())
        return Fail(ERROR_INVALID_FUNCTION);
    {
        std::lock_guard lock(Control().mu);
        Control().dispatching = true;
    }
    MainArgs args{table->lpServiceProc, table->lpServiceName};
    velmo::Handle thread(CreateThread(nullptr, 0, RunServiceMain, &args, 0, nullptr));
    if (!thread)
        return FALSE;
    HANDLE waits[] = {thread.get(), signalHandle.get()};
    while (true) {
        DWORD r = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (r != WAIT_OBJECT_0 + 1)
            break;
        LPHANDLER_FUNCTION handler;
        {
            std::lock_guard lock(Control().mu);
            handler = Control().handler;
        }
        if (handler)
            handler(SERVICE_CONTROL_STOP);
    }
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR name, LPHANDLER_FUNCTION handler)
{
    if (!name || !handler) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(Control().mu);
    if (!Control().dispatching) {
        Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return nullptr;
    }
    Control().handler = handler;
    Control().name = name;
    return &Control();
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE status, const SERVICE_STATUS* report)
{
    if (status != &Control() || !report)
        return Fail(ERROR_INVALID_HANDLE);
    const char* text = nullptr;
    switch (report->dwCurrentState) {
    case SERVICE_RUNNING: text = "READY=1\nSTATUS=running"; break;
    case SERVICE_STOP_PENDING: text = "STOPPING=1\nSTATUS=stopping"; break;
    case SERVICE_STOPPED: text = "STATUS=stopped"; break;
    case SERVICE_START_PENDING: text = "STATUS=starting"; break;
    default: return TRUE;
    }
    // Without a notification socket (bus activation) there is nobody to tell.
    return sd_notify(0, text) >= 0 ? TRUE : Fail(ERROR_INVALID_FUNCTION);
}

namespace velmo {

bool OnStopSignals(std::function<void(StopSignal)> onStop)
{
    if (!onStop)
        return false;
    std::lock_guard lock(Control().mu);
    Control().onStop = std::move(onStop);
    if (Control().stopWatcher)
        return true;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    auto* signals = new SignalObject(set);
    if (!signals->ok()) {
        signals->Unref();
        return false;
    }
    // The watcher owns the signal object and lives as long as the process.
    HANDLE thread = CreateThread(nullptr, 0, StopWatcher, signals, 0, nullptr);
    if (!thread) {
        signals->Unref();
        return false;
    }
    CloseHandle(thread);
    Control().stopWatcher = true;
    return true;
}

std::string ServiceUnitPath(std::u16string_view name) { return UnitFolder() + "/" + Utf16ToUtf8(name) + ".service"; }

}  // namespace velmo
