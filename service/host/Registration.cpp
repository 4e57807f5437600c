// "/REGISTER" and "/UNREGISTER": the systemd unit, the registry entries of
// the service, its classes and type library, and the D-Bus files.
#include "service/host/ServiceModule.h"

#include "interfaces/VelmoLib.h"
#include "interfaces/VelmoRegistration.h"
#include "platform/Activation.h"
#include "platform/BusFiles.h"
#include "platform/Registrar.h"
#include "platform/Service.h"
#include "platform/SysRoot.h"
#include "platform/Text.h"
#include "platform/TypeLib.h"

#include <cstdio>

namespace velmo::host {

namespace {

constexpr const char* kBusName = "org.norvane.Velmo";
// The system user the service runs as, and the group whose members may call
// it over the bus and read its message files.
constexpr char16_t kServiceUser[] = u"velmo";
constexpr const char* kCallerGroup = "velmo";

// What the service needs, and nothing more: its root folder to write, the
// serial ports (group dialout and the tty devices), the bus and the
// journal, and the handler programs it runs, which may use the network.
// Everything else of the machine is read-only or hidden.
constexpr const char* kSandbox = "SupplementaryGroups=dialout\n"
                                 "UMask=0027\n"
                                 "ProtectSystem=strict\n"
                                 "ReadWritePaths=%ROOT%\n"
                                 "ProtectHome=yes\n"
                                 "PrivateTmp=yes\n"
                                 "PrivateMounts=yes\n"
                                 "NoNewPrivileges=yes\n"
                                 "CapabilityBoundingSet=\n"
                                 "AmbientCapabilities=\n"
                                 "ProtectKernelTunables=yes\n"
                                 "ProtectKernelModules=yes\n"
                                 "ProtectKernelLogs=yes\n"
                                 "ProtectControlGroups=yes\n"
                                 "ProtectClock=yes\n"
                                 "ProtectHostname=yes\n"
                                 "ProtectProc=invisible\n"
                                 "ProcSubset=pid\n"
                                 "RestrictNamespaces=yes\n"
                                 "RestrictRealtime=yes\n"
                                 "RestrictSUIDSGID=yes\n"
                                 "LockPersonality=yes\n"
                                 "RemoveIPC=yes\n"
                                 "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
                                 "SystemCallFilter=@system-service\n"
                                 "SystemCallFilter=~@privileged @resources\n"
                                 "SystemCallArchitectures=native\n"
                                 "DevicePolicy=closed\n"
                                 "DeviceAllow=char-ttyS rw\n"
                                 "DeviceAllow=char-ttyUSB rw\n"
                                 "DeviceAllow=char-ttyACM rw\n";

// Written only when the service was installed: the root folder, the event
// source and the AppID that makes COM (here: the bus) start the service.
constexpr char16_t kServiceScript[] = uR"(
HKLM {
  NoRemove Software { NoRemove Norvane { ForceRemove Velmo { val root = s '%ROOT%' } } }
}
HKCR {
  NoRemove AppId {
    ForceRemove '{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}' = s 'velmosvc' { val LocalService = s 'velmosvc' }
  }
}
)";

constexpr char16_t kEventLogScript[] = uR"(
HKLM {
  NoRemove System { NoRemove CurrentControlSet { NoRemove Services { NoRemove EventLog { NoRemove Application {
    ForceRemove velmosvc { val EventMessageFile = s '%MODULE%' val TypesSupported = d 7 }
  } } } } }
}
)";

std::u16string ModulePath()
{
    std::u16string path(4096, u'\0');
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    return path;
}

// The unit's sandbox with the root folder filled in, quoted for the unit.
std::string SandboxSettings()
{
    std::string text = kSandbox;
    text.replace(text.find("%ROOT%"), 6, QuoteForUnit(SysRootPath("var/lib/velmo/")));
    return text;
}

Registrar MakeRegistrar(const std::u16string& module)
{
    Registrar registrar;
    registrar.AddReplacement(u"MODULE", module);
    registrar.AddReplacement(u"ROOT", Utf8ToUtf16(SysRootPath("var/lib/velmo/")));
    return registrar;
}

void RegisterClasses(const std::u16string& module)
{
    Registrar registrar = MakeRegistrar(module);
    // Registration goes on step by step as on Windows; a step that fails
    // leaves the others to the administrator's next attempt.
    (void)registrar.StringRegister(velmolib::kNewSmsScript);
    (void)registrar.StringRegister(velmolib::kMessageCenterScript);
    (void)WriteBusPolicy(kBusName, Utf16ToUtf8(kServiceUser), kCallerGroup);
    (void)RegisterTypeLib(&velmolib::kVelmoLib, module.c_str(), nullptr);
}

}  // namespace

void RegisterServer(ServiceModule& module)
{
    std::u16string path = ModulePath();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager) {
        SC_HANDLE service =
            CreateServiceW(manager, module.serviceName.c_str(), module.displayName.c_str(), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr,
                           nullptr, nullptr, kServiceUser, nullptr);
        if (!service) {
            std::printf("Service install failed, error 0x%08X\n", static_cast<unsigned>(GetLastError()));
        } else {
            if (!AddServiceSettings(service, SandboxSettings()))
                std::printf("Service sandbox not written, error 0x%08X\n", static_cast<unsigned>(GetLastError()));
            Registrar registrar = MakeRegistrar(path);
            (void)registrar.StringRegister(kServiceScript);
            (void)registrar.StringRegister(kEventLogScript);
            (void)WriteBusActivation(kBusName, Utf16ToUtf8(path), Utf16ToUtf8(module.serviceName) + ".service",
                                     Utf16ToUtf8(kServiceUser));
            std::printf("Service installed\n");
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    RegisterClasses(path);
    std::fflush(stdout);
}

void UnregisterServer(ServiceModule& module)
{
    std::u16string path = ModulePath();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager) {
        SC_HANDLE service = OpenServiceW(manager, module.serviceName.c_str(), DELETE);
        if (!service) {
            std::printf("Service uninstall failed, error 0x%08X\n", static_cast<unsigned>(GetLastError()));
        } else {
            (void)DeleteService(service);  // its result is not examined, as the console line shows
            std::printf("Service uninstalled\n");
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    Registrar registrar = MakeRegistrar(path);
    (void)registrar.StringUnregister(kEventLogScript);
    (void)registrar.StringUnregister(velmolib::kNewSmsScript);
    (void)registrar.StringUnregister(velmolib::kMessageCenterScript);
    (void)RemoveBusPolicy(kBusName);
    std::fflush(stdout);
}

}  // namespace velmo::host
