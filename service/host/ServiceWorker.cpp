// The worker thread: configuration, stored messages, devices and their
// supervision until the stop event, then the orderly end that asks the
// main thread to quit.
#include "service/host/ServiceModule.h"

#include "platform/Activation.h"
#include "platform/MainLoop.h"

namespace velmo::host {

DWORD ServiceWorker(void* param)
{
    auto& module = *static_cast<ServiceModule*>(param);
    (void)CoInitialize(nullptr);  // bookkeeping only; cannot fail here
    if (LoadConfiguration(module)) {
        int stored = module.dispatcher.LoadStoredMessages();
        module.LogEvent(EVENTLOG_INFORMATION_TYPE,
                        "Service started. Dispatcher loaded %d previously stored messages in the queue folder", stored);
        module.eventHandlers.Start();
        module.dispatcher.Start();
        module.store.StartWatch(
            [&module] { module.dispatcher.ClaimShared(); }, [&module] { return module.dispatcher.HeldIds(); },
            [&module] {
                return gateway::HostFigures{
                    {}, 0, module.counters.Read(), gateway::DeviceFiguresOf(module.dispatcher.Devices())};
            });
        SetEvent(module.workerStarted.get());
        while (true) {
            LONG ended = module.dispatcher.WaitForDevices(module.stopEvent.get());
            if (ended < 0)
                break;
            (void)module.dispatcher.RestartDevice(ended);  // the outcome shows in the events
        }
        module.store.StopWatch();
        module.dispatcher.Stop();
        module.eventHandlers.Stop();
    }
    module.dispatcher.Devices().Clear();
    SetEvent(module.workerStarted.get());
    CoUninitialize();
    module.RequestStop();
    return 0;
}

}  // namespace velmo::host
