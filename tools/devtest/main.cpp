// devtest: sends one message through a chosen device, outside the service.
#include "tools/devtest/TestDevice.h"

#include <cstdio>

int main()
{
    if (!velmo::DialogsUseTerminal()) {
        std::fprintf(stderr, "devtest: needs a terminal (run it in one, or over ssh -t)\n");
        return 1;
    }
    return static_cast<int>(velmo::devtest::RunTestDevice());
}
