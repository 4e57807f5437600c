// Service control on Linux: systemd is the service control manager.
//
// Installing a service writes its unit file
// ($VELMO_SYSROOT/etc/systemd/system/<name>.service: Type=notify, ExecStart=
// the binary path, Restart=always with RestartSec=30); the unit file
// existing is "the service exists" (ERROR_SERVICE_EXISTS), a missing one
// ERROR_SERVICE_DOES_NOT_EXIST. The manager cannot be opened when the unit
// folder cannot be created or written. With VELMO_SYSROOT unset and systemd
// running, installing and deleting also run `systemctl daemon-reload`.
//
// StartServiceCtrlDispatcherW succeeds only in a process started by the
// manager: by systemd (the process belongs to the unit <name>.service) or by
// D-Bus activation (DBUS_STARTER_BUS_TYPE set); otherwise it fails at once
// with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT. It runs the service's main
// function on a thread of its own and waits for it; SIGTERM, taken with a
// signalfd on the dispatcher's thread, becomes the stop control for the
// registered handler. SetServiceStatus reports to systemd with sd_notify
// (READY=1 when running, STOPPING=1 when stop-pending).
//
// A program that stops in order on SIGINT and SIGTERM takes them with
// OnStopSignals (StopSignals.h).
#pragma once

#include "platform/Sync.h"

#include <string>
#include <string_view>

using SC_HANDLE = void*;
using SERVICE_STATUS_HANDLE = void*;

constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;
constexpr DWORD DELETE = 0x10000;
constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr DWORD SERVICE_DEMAND_START = 3;
constexpr DWORD SERVICE_ERROR_NORMAL = 1;
constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;
constexpr DWORD SERVICE_ACCEPT_STOP = 1;
constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
constexpr LONG ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
constexpr LONG ERROR_SERVICE_MARKED_FOR_DELETE = 1072;

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};

using LPSERVICE_MAIN_FUNCTIONW = void (*)(DWORD argc, LPWSTR* argv);
using LPHANDLER_FUNCTION = void (*)(DWORD control);

struct SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

// machine and database must be null.
VELMO_PLATFORM_API SC_HANDLE OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access);
// Only the name, display name, binary path, own-process type and account
// are used; the unit is started on demand (no [Install] target is enabled).
// An account (a plain user name) runs the service as that user and its
// group (User=, Group=); none runs it as root.
VELMO_PLATFORM_API SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR displayName, DWORD access,
                                            DWORD serviceType, DWORD startType, DWORD errorControl, LPCWSTR binaryPath,
                                            LPCWSTR loadOrderGroup, DWORD* tagId, LPCWSTR dependencies, LPCWSTR account,
                                            LPCWSTR password);
VELMO_PLATFORM_API SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access);
VELMO_PLATFORM_API BOOL DeleteService(SC_HANDLE service);
VELMO_PLATFORM_API BOOL CloseServiceHandle(SC_HANDLE handle);

// table ends with an entry whose name is null; only the first entry runs.
VELMO_PLATFORM_API BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table);
VELMO_PLATFORM_API SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR name, LPHANDLER_FUNCTION handler);
VELMO_PLATFORM_API BOOL SetServiceStatus(SERVICE_STATUS_HANDLE status, const SERVICE_STATUS* report);

namespace velmo {
// Path of the unit file of a service name.
VELMO_PLATFORM_API std::string ServiceUnitPath(std::u16string_view name);
// A path as one quoted word of a unit setting, so spaces survive.
VELMO_PLATFORM_API std::string QuoteForUnit(const std::string& path);
// Adds settings (lines of the unit's [Service] section, each ending in a
// newline) to the unit of an installed service, after the ones
// CreateServiceW wrote; the unit is replaced durably. FALSE with
// ERROR_INVALID_HANDLE for a manager or null handle, ERROR_INVALID_PARAMETER
// for settings that are not whole lines or open a section, or the error of
// reading or writing the unit.
VELMO_PLATFORM_API BOOL AddServiceSettings(SC_HANDLE service, std::string_view settings);
}  // namespace velmo
