// The one ServiceModule of the velmosvc process: the service's names, its
// mode, status handle, stop event, worker thread and main thread id, the
// root folder, and the parts it is made of, each given what it uses:
//
//   store          the queue store config.xml chose: the folders or PostgreSQL
//   eventHandlers  received messages to the handler chain
//   dispatcher     outgoing messages to the devices, with the device table
//   counters       what the gateway counts of this host's messages
//
// The module is the service's event log (EventSink) and its door for new
// messages (MessageIntake), which waits for the start before it hands a
// message to the dispatcher. The parts never reach back into the module.
//
// The main thread id is written once, before the worker starts; the stop
// event is the only object the main thread and the worker share directly.
#pragma once

#include "platform/Service.h"
#include "platform/Unknown.h"
#include "service/events/EventSink.h"
#include "service/gateway/MessageCounters.h"
#include "service/handlers/EventHandlerQueue.h"
#include "service/queue/Dispatcher.h"
#include "service/host/ChosenStore.h"
#include "service/queue/MessageIntake.h"

#include <cstdio>
#include <string>

namespace velmo::host {

class ServiceModule final : public events::EventSink, public queue::MessageIntake {
public:
    // The service of the root folder the registry names.
    ServiceModule();
    // The service of rootFolder (which ends in "/").
    explicit ServiceModule(std::u16string rootFolder);
    ServiceModule(const ServiceModule&) = delete;
    ServiceModule& operator=(const ServiceModule&) = delete;

    // EventSink: one event with event id 1 under the service name. Nothing
    // is reported when the source cannot be opened.
    void Report(WORD type, const std::string& text) override;

    // MessageIntake. A client can call while the service is still starting,
    // as the first call of a bus-activated start does: this waits until the
    // worker has started the dispatcher (or given up), so the call is
    // answered by the dispatcher instead of refused.
    HRESULT QueueMessage(const Bstr& to, const Bstr& body, GUID* id) override;
    HRESULT QueueExpiring(const Bstr& to, const Bstr& body, std::uint32_t expireAfter, GUID* id) override;
    // The wait of QueueMessage; returns at once without a worker.
    void WaitForDispatcher();
    // The same wait for at most ms: true once the worker has loaded the
    // configuration and the queue and started the dispatcher, or has ended
    // (the answers then are the store's as it stands); false when the time
    // passed first.
    bool WaitForDispatcher(DWORD ms);
    // Asks the main thread to end the service in its normal order.
    void RequestStop();

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
    const std::u16string rootFolder;  // always ends in "/"

    ChosenStore store{*this, rootFolder};
    handlers::EventHandlerQueue eventHandlers;
    queue::Dispatcher dispatcher{*this, store, eventHandlers, rootFolder, [this] { RequestStop(); }};
    gateway::MessageCounters counters;
};

// The module of this process.
ServiceModule& TheModule();

// The command line of velmosvc: the first argument counts, compared
// without regard to case (and for /MOVE the second). Returns the exit
// code: 0, or that of /CHECK or /MOVE.
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
// "/MOVE postgresql" or "/MOVE folders": moves the queue between the
// folders and the database config.xml names, with one line per folder (or
// in all) and per message not moved on out. 0 when every message moved, 1
// when some did not (run it again), or the configuration names no
// database, or the service runs; 2 for another word than the two.
int MoveQueue(ServiceModule& module, const std::string& to, std::FILE* out);

}  // namespace velmo::host
