// devtest: sends one message through a chosen device, outside the service.
#include "tools/devtest/TestDevice.h"

#include "interfaces/StandardOptions.h"

#include <cstdio>

namespace {

const char kUsage[] = "usage: devtest\n"
                      "       devtest --help | --version\n"
                      "\n"
                      "A terminal dialog that sends one message through a device of config.xml,\n"
                      "outside the service, and logs every step of the device. See devtest(1).\n";

}  // namespace

int main(int argc, char** argv)
{
    if (auto answered = velmo::AnswerStandardOptions(argc, argv, "devtest", kUsage))
        return *answered;
    if (argc > 1)
        return velmo::UsageError(
            "devtest", std::string(argv[1][0] == '-' ? "unknown option " : "unexpected argument ") + argv[1], kUsage);
    if (!velmo::DialogsUseTerminal()) {
        std::fprintf(stderr, "devtest: needs a terminal (run it in one, or over ssh -t)\n");
        return 1;
    }
    return static_cast<int>(velmo::devtest::RunTestDevice());
}
