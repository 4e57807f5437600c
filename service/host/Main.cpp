#include "service/host/ServiceModule.h"

#include "interfaces/StandardOptions.h"

namespace {

const char kUsage[] = "usage: velmosvc [/DEBUG | /CHECK | /MOVE postgresql|folders | /REGISTER | /UNREGISTER | /NOGO]\n"
                      "       velmosvc --help | --version\n"
                      "\n"
                      "Without an argument it runs as the service, started by systemd or the bus.\n"
                      "/DEBUG       run in the foreground, events also on standard error; Ctrl-C stops it\n"
                      "/CHECK       read config.xml as the service would and print what it finds;\n"
                      "             exit 0 when the service would start, 1 when not\n"
                      "/MOVE postgresql|folders\n"
                      "             with the service stopped, move the queue from the folders into\n"
                      "             the PostgreSQL store config.xml names, or back; safe to run again\n"
                      "/REGISTER    install the service and register its classes\n"
                      "/UNREGISTER  remove the service and its classes\n"
                      "/NOGO        do nothing\n"
                      "See velmosvc(8) and config.xml(5).\n";

}  // namespace

int main(int argc, char** argv)
{
    if (auto answered = velmo::AnswerStandardOptions(argc, argv, "velmosvc", kUsage))
        return *answered;
    // The service's own switches begin with "/"; an option in the Linux form
    // that is not known is a mistake, not a request to run as the service.
    if (argc > 1 && argv[1][0] == '-')
        return velmo::UsageError("velmosvc", std::string("unknown option ") + argv[1], kUsage);
    int code = velmo::host::RunCommandLine(argc, argv);
    // A worker abandoned at shutdown may still run: end without static destructors then.
    velmo::ExitProcess(code);
}
