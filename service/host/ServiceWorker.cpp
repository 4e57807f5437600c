// The worker thread: configuration, then supervision until the stop event,
// then the orderly end that posts the quit message to the main thread.
#include "service/host/ServiceModule.h"

#include "platform/Activation.h"
#include "platform/Message.h"

namespace velmo::host {

DWORD ServiceWorker(void* param)
{
    auto& module = *static_cast<ServiceModule*>(param);
    (void)CoInitialize(nullptr);  // bookkeeping only; cannot fail here
    if (LoadConfiguration(module)) {
        // Supervision: with no device thread to watch yet, only the stop
        // event ends the wait.
        WaitForSingleObject(module.stopEvent.get(), INFINITE);
    }
    module.dispatcher.ClearDevices();
    CoUninitialize();
    PostThreadMessageW(module.mainThreadId, WM_QUIT, 0, 0);
    return 0;
}

} // namespace velmo::host
