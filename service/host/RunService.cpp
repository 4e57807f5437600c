// The service body on the main thread, the service's entry for systemd and
// its stop control.
#include "service/host/ServiceModule.h"

#include "interfaces/VelmoLib.h"
#include "platform/Activation.h"
#include "platform/Automation.h"
#include "platform/ClassFactory.h"
#include "platform/Message.h"
#include "platform/Process.h"
#include "platform/SystemTime.h"
#include "platform/Timing.h"

#include "service/automation/MessageCenter.h"
#include "service/automation/NewSms.h"

#include <cstdlib>
#include <ctime>

namespace velmo::host {

namespace {

constexpr DWORD kWorkerWait = 15000;

ClassFactory<automation::NewSms> newSmsFactory;
ClassFactory<automation::MessageCenter> messageCenterFactory;

struct PublishedClass {
    const CLSID& clsid;
    IUnknown* factory;
};
const PublishedClass kPublished[] = {{CLSID_NewSMS, &newSmsFactory}, {CLSID_MessageCenter, &messageCenterFactory}};

// Publishes the classes in order; stops at the first that fails.
void RegisterClassObjects(DWORD (&cookies)[std::size(kPublished)])
{
    RegisterBusInterfaces(velmolib::kInterfaces);
    for (std::size_t i = 0; i < std::size(kPublished); ++i)
        if (FAILED(CoRegisterClassObject(kPublished[i].clsid, kPublished[i].factory,
                                         CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, REGCLS_MULTIPLEUSE, &cookies[i])))
            return;
}

// Revokes in the same order; at the first failure the rest stay registered.
void RevokeClassObjects(DWORD (&cookies)[std::size(kPublished)])
{
    for (DWORD cookie : cookies)
        if (cookie == 0 || FAILED(CoRevokeClassObject(cookie)))
            return;
}

void ReportStatus(ServiceModule& module, DWORD state)
{
    if (!module.serviceMode)
        return;
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, state, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    // A failed report changes nothing for the service itself.
    (void)SetServiceStatus(module.statusHandle, &status);
}

void ControlHandler(DWORD control)
{
    if (control != SERVICE_CONTROL_STOP)
        return;
    ServiceModule& module = TheModule();
    PostThreadMessageW(module.mainThreadId, WM_QUIT, 0, 0);
    ReportStatus(module, SERVICE_STOP_PENDING);
}

} // namespace

void ServiceMainEntry(DWORD, LPWSTR*)
{
    ServiceModule& module = TheModule();
    // Known before the handler exists, so an early stop reaches the loop.
    module.mainThreadId = GetCurrentThreadId();
    module.statusHandle = RegisterServiceCtrlHandlerW(module.serviceName.c_str(), ControlHandler);
    RunService(module);
}

void RunService(ServiceModule& module)
{
    if (module.serviceMode)
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // bookkeeping only; cannot fail here
    // No access list: every client may call, as the bus policy allows.
    (void)CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE,
                               nullptr, EOAC_NONE, nullptr);
    module.mainThreadId = GetCurrentThreadId();

    DWORD cookies[std::size(kPublished)] = {};
    RegisterClassObjects(cookies);

    DWORD workerId = 0;
    module.workerThread = Handle(CreateThread(nullptr, 0, ServiceWorker, &module, 0, &workerId));
    module.workerThreadId = workerId;

    SYSTEMTIME now;
    GetSystemTime(&now);
    std::srand(static_cast<unsigned>(std::time(nullptr)) + now.wMilliseconds);

    ReportStatus(module, SERVICE_RUNNING);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    RevokeClassObjects(cookies);

    SetEvent(module.stopEvent.get());
    // Programs that handlers started end now, so the handler thread can.
    SetEvent(ProcessStopEvent());
    if (module.workerThread && WaitForSingleObject(module.workerThread.get(), DesignWait(kWorkerWait)) != WAIT_OBJECT_0)
        TerminateThread(module.workerThread.get(), static_cast<DWORD>(-1));
    ReportStatus(module, SERVICE_STOPPED);
    if (module.serviceMode)
        CoUninitialize();
    module.LogEvent(EVENTLOG_INFORMATION_TYPE, "service is stopped");
}

} // namespace velmo::host
