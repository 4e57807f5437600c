// The service body on the main thread, the service's entry for systemd and
// its stop control.
#include "service/host/ServiceModule.h"

#include "interfaces/VelmoLib.h"
#include "platform/Activation.h"
#include "platform/Automation.h"
#include "platform/ClassFactory.h"
#include "platform/MainLoop.h"
#include "platform/Process.h"
#include "platform/SystemTime.h"
#include "platform/Text.h"
#include "platform/Timing.h"

#include <algorithm>
#include <array>
#include <new>

#include "service/automation/MessageCenter.h"
#include "service/automation/NewSms.h"
#include "service/gateway/Gateway.h"
#include "service/host/InstanceLock.h"

namespace velmo::host {

namespace {

constexpr DWORD kWorkerWait = 15000;
constexpr DWORD kBusRetryInterval = 5000;  // how often a service without its bus tries it again

struct PublishedClass {
    const CLSID& clsid;
    IUnknown* factory;
};

// The classes the service serves; their objects queue through the module
// and read its store. Made once, with the process's module, and never
// destroyed: the bus may still hold a factory while it is revoked.
const std::array<PublishedClass, 2>& Published()
{
    static ClassFactory<automation::NewSms> newSms([] { return new (std::nothrow) automation::NewSms(TheModule()); });
    static ClassFactory<automation::MessageCenter> messageCenter([] {
        ServiceModule& module = TheModule();
        return new (std::nothrow) automation::MessageCenter(module, module.store, module);
    });
    static const std::array<PublishedClass, 2> published{
        {{CLSID_NewSMS, &newSms}, {CLSID_MessageCenter, &messageCenter}}};
    return published;
}

using Cookies = DWORD[2];

// Revokes in the same order; at the first failure the rest stay registered.
void RevokeClassObjects(Cookies& cookies)
{
    for (DWORD& cookie : cookies) {
        if (cookie == 0 || FAILED(CoRevokeClassObject(cookie)))
            return;
        cookie = 0;
    }
}

// Publishes the classes in order; true when all are on the bus. At the
// first failure those already published are revoked again.
bool RegisterClassObjects(Cookies& cookies)
{
    RegisterBusInterfaces(velmolib::kInterfaces);
    const auto& published = Published();
    for (std::size_t i = 0; i < published.size(); ++i) {
        if (FAILED(CoRegisterClassObject(published[i].clsid, published[i].factory,
                                         CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, REGCLS_MULTIPLEUSE,
                                         &cookies[i]))) {
            RevokeClassObjects(cookies);
            return false;
        }
    }
    return true;
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
    module.RequestStop();
    ReportStatus(module, SERVICE_STOP_PENDING);
}

// Takes the root's instance lock; false when another service holds it
// (logged). A lock that cannot be opened is logged and the service goes on.
bool TakeRoot(ServiceModule& module, InstanceLock& lock)
{
    switch (lock.Take(module.rootFolder)) {
    case InstanceLock::Result::HeldElsewhere:
        module.LogEvent(
            EVENTLOG_ERROR_TYPE,
            "Another velmosvc (pid %s) serves the root folder %s: this one stops without touching the queue",
            lock.Holder().empty() ? "unknown" : lock.Holder().c_str(), Utf16ToUtf8(module.rootFolder).c_str());
        return false;
    case InstanceLock::Result::Unavailable:
        module.LogEvent(EVENTLOG_WARNING_TYPE,
                        "The lock file %s cannot be opened: a second service on this root would not be stopped",
                        lock.Path().c_str());
        return true;
    case InstanceLock::Result::Taken: return true;
    }
    return true;
}

// The main loop: serves the bus until the service is asked to stop; a
// service off its bus tries it again at a fixed interval.
void ServeUntilStopped(ServiceModule& module, Cookies& cookies, bool onBus)
{
    std::int64_t nextTry = SteadyMs() + DesignWait(kBusRetryInterval);
    while (true) {
        int wait = onBus ? -1 : static_cast<int>(std::max<std::int64_t>(0, nextTry - SteadyMs()));
        LoopEvent event = RunMainLoop(wait);
        if (event == LoopEvent::Quit || event == LoopEvent::Failed)
            return;
        if (event == LoopEvent::BusLost) {
            RevokeClassObjects(cookies);
            onBus = false;
            nextTry = SteadyMs() + DesignWait(kBusRetryInterval);
            if (StartedByBus()) {
                // The bus that started the service is gone: a new bus starts a new one.
                module.LogEvent(EVENTLOG_ERROR_TYPE, "The bus that started the service is gone: the service stops");
                return;
            }
            module.LogEvent(EVENTLOG_WARNING_TYPE, "The system bus connection is lost: it is tried again every %u s",
                            static_cast<unsigned>(kBusRetryInterval / 1000));
        } else if (!onBus && SteadyMs() >= nextTry) {
            onBus = RegisterClassObjects(cookies);
            nextTry = SteadyMs() + DesignWait(kBusRetryInterval);
            if (onBus)
                module.LogEvent(EVENTLOG_INFORMATION_TYPE, "The service is on the system bus now");
        }
    }
}

}  // namespace

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

    // One service per root: a second one stops before it touches the queue.
    InstanceLock lock;
    if (!TakeRoot(module, lock)) {
        ReportStatus(module, SERVICE_STOPPED);
        if (module.serviceMode)
            CoUninitialize();
        module.LogEvent(EVENTLOG_INFORMATION_TYPE, "service is stopped");
        return;
    }

    // The gateway goes on and off the bus with the classes.
    if (FAILED(gateway::Publish({module, module.store, module.dispatcher.Devices(), module.counters, module.store,
                                 [&module] { return module.WaitForDispatcher(gateway::kStartWait); }})))
        module.LogEvent(EVENTLOG_WARNING_TYPE,
                        "The gateway object cannot be published: only the automation classes are on the bus");

    // A failed registration logs nothing; it is tried again at a fixed
    // interval, so a service started before its bus joins it later.
    Cookies cookies = {};
    bool onBus = RegisterClassObjects(cookies);

    DWORD workerId = 0;
    module.workerThread = Handle(CreateThread(nullptr, 0, ServiceWorker, &module, 0, &workerId));
    module.workerThreadId = workerId;

    ReportStatus(module, SERVICE_RUNNING);

    ServeUntilStopped(module, cookies, onBus);
    RevokeClassObjects(cookies);
    gateway::Withdraw();

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

}  // namespace velmo::host
