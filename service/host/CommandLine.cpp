// The velmosvc command line.
#include "service/host/ServiceModule.h"

#include "platform/Activation.h"
#include "platform/MainLoop.h"
#include "platform/StopSignals.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace velmo::host {

void ServiceMainEntry(DWORD argc, LPWSTR* argv);

namespace {

// What the running service writes (messages, device files, handler output)
// is for its own user and group: files 0640, folders 0750.
void KeepFilesPrivate() { SetFileCreationMask(027); }

void RunAsService(ServiceModule& module)
{
    KeepFilesPrivate();
    module.serviceMode = true;
    std::u16string name = module.serviceName;
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMainEntry}, {nullptr, nullptr}};
    // Not started by systemd or the bus: the program ends at once.
    (void)StartServiceCtrlDispatcherW(table);
}

void RunInConsole(ServiceModule& module)
{
    KeepFilesPrivate();
    module.serviceMode = false;
    module.mainThreadId = GetCurrentThreadId();
    SetEventLogConsoleMirror(true);
    // Before any thread starts, so that every thread leaves the signals to it.
    // Ctrl-C or SIGTERM in the console stops the service in its normal order.
    (void)OnStopSignals([](StopSignal) { TheModule().RequestStop(); });  // without them the signals end it at once
    RunService(module);
}

}  // namespace

int RunCommandLine(int argc, char** argv)
{
    ServiceModule& module = TheModule();
    (void)CoInitialize(nullptr);  // bookkeeping only; cannot fail here
    std::u16string arg = argc > 1 ? Utf8ToUtf16(argv[1]) : std::u16string();
    int code = 0;
    if (EqualsNoCase(arg, u"/REGISTER"))
        RegisterServer(module);
    else if (EqualsNoCase(arg, u"/UNREGISTER"))
        UnregisterServer(module);
    else if (EqualsNoCase(arg, u"/NOGO"))
        ;
    else if (EqualsNoCase(arg, u"/CHECK"))
        code = CheckConfiguration(module, stdout);
    else if (EqualsNoCase(arg, u"/MOVE"))
        code = MoveQueue(module, argc > 2 ? argv[2] : "", stdout);
    else if (EqualsNoCase(arg, u"/DEBUG"))
        RunInConsole(module);
    else
        RunAsService(module);
    CoUninitialize();
    return code;
}

}  // namespace velmo::host
