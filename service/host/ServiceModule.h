// The one ServiceModule of the velmosvc process: the service's names, its
// mode, status handle, stop event, worker thread and main thread id, the
// root folder, the dispatcher and the event-handler queue, and the event
// log through which every part of the service reports.
//
// The main thread id is written once, before the worker starts; the stop
// event is the only object the main thread and the worker share directly.
#pragma once

#include "platform/EventLog.h"
#include "platform/Service.h"
#include "platform/Unknown.h"
#include "service/store/Dispatcher.h"
#include "service/store/EventHandlerQueue.h"

#include <cstdio>
#include <string>

namespace velmo::host {

class ServiceModule {
public:
    ServiceModule();
    ServiceModule(const ServiceModule&) = delete;
    ServiceModule& operator=(const ServiceModule&) = delete;

    // One event: the text formatted with printf rules (UTF-8 arguments),
    // at most 2047 characters, reported with event id 1 under the service
    // name. Nothing is reported when the source cannot be opened.
    void LogEvent(WORD type, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // "<call> failed: <description>" when object supports error information
    // and the thread holds a readable error object, else
    // "<call> failed with code 0x%08X".
    void LogCallFailure(WORD type, HRESULT hr, IUnknown* object, const char* format, ...)
        __attribute__((format(printf, 5, 6)));

    // A client can call while the service is still starting, as the first
    // call of a bus-activated start does: this waits until the worker has
    // started the dispatcher (or given up), so the call is answered by the
    // dispatcher instead of refused. Returns at once without a worker.
    void WaitForDispatcher();

    const std::u16string serviceName = u"velmosvc";
    const std::u16string displayName = u"Norvane SMS Service";
    bool serviceMode = false;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    Handle stopEvent{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    Handle workerThread;
    // Set once the worker's dispatcher takes messages, or the worker ends.
    Handle workerStarted{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD workerThreadId = 0;
    DWORD mainThreadId = 0;
    std::u16string rootFolder;  // always ends in "/"
    store::Dispatcher dispatcher{*this};
    store::EventHandlerQueue eventHandlers{*this};
};

// The module of this process.
ServiceModule& TheModule();

// The command line of velmosvc: only the first argument counts, compared
// without regard to case. Returns the exit code: 0, or that of /CHECK.
int RunCommandLine(int argc, char** argv);

// Installation and removal ("/REGISTER", "/UNREGISTER"), with their
// console lines on standard output.
void RegisterServer(ServiceModule& module);
void UnregisterServer(ServiceModule& module);

// The service body: start-up, message loop, shutdown.
void RunService(ServiceModule& module);
// The worker thread's body.
DWORD ServiceWorker(void* module);
struct ConfigReport;

// Reads config.xml; true when start-up goes on. Warnings are logged as
// events; a file that is invalid logs "config.xml: invalid configuration
// file" and then one event that names every problem.
bool LoadConfiguration(ServiceModule& module);
// The same without any event: what was found is kept in report.
bool ReadConfiguration(ServiceModule& module, ConfigReport& report);
// "/CHECK": reads config.xml as the service would, without logging, and
// prints the report and what would start on out. Returns the exit code: 0
// when the service would start, 1 when not.
int CheckConfiguration(ServiceModule& module, std::FILE* out);

}  // namespace velmo::host
