#include "service/host/ServiceModule.h"

#include "platform/EventLog.h"
#include "platform/MainLoop.h"
#include "platform/SysRoot.h"
#include "platform/SystemTime.h"
#include "service/automation/NewSms.h"

namespace velmo::host {

namespace {

// A received message as the handlers see it: a NewSMS object whose replies
// and forwards are queued through intake.
handlers::EventHandlerQueue::MakeMessage ReceivedMessages(queue::MessageIntake& intake)
{
    return [&intake](const messagefile::MessageRecord& record) {
        DATE received = 0;
        SystemTimeToVariantTime(&record.Received, &received);
        return ComPtr<IVelmo>::Attach(
            automation::NewSms::ForReceived(intake, record.Id, record.From, record.Body, received));
    };
}

}  // namespace

ServiceModule::ServiceModule() : ServiceModule(InstallationRoot()) {}

ServiceModule::ServiceModule(std::u16string root)
    : rootFolder(std::move(root)), eventHandlers(*this, store, ReceivedMessages(*this))
{}

void ServiceModule::Report(WORD type, const std::string& text) { ReportEventText(serviceName, type, text); }

void ServiceModule::WaitForDispatcher()
{
    (void)WaitForDispatcher(INFINITE);  // either way the dispatcher now answers for itself
}

bool ServiceModule::WaitForDispatcher(DWORD ms)
{
    if (!workerThread)
        return true;
    HANDLE started[] = {workerStarted.get(), workerThread.get()};
    DWORD woke = WaitForMultipleObjects(2, started, FALSE, ms);
    return woke == WAIT_OBJECT_0 || woke == WAIT_OBJECT_0 + 1;
}

HRESULT ServiceModule::QueueMessage(const Bstr& to, const Bstr& body, GUID* id)
{
    return QueueExpiring(to, body, 0, id);
}

HRESULT ServiceModule::QueueExpiring(const Bstr& to, const Bstr& body, std::uint32_t expireAfter, GUID* id)
{
    WaitForDispatcher();
    return dispatcher.QueueExpiring(to, body, expireAfter, id);
}

void ServiceModule::RequestStop() { QuitMainLoop(mainThreadId); }

ServiceModule& TheModule()
{
    static ServiceModule* module = new ServiceModule();  // used by threads that may outlive main
    return *module;
}

}  // namespace velmo::host
