#include "service/host/ServiceModule.h"

int main(int argc, char** argv)
{
    int code = velmo::host::RunCommandLine(argc, argv);
    // A worker abandoned at shutdown may still run: end without static destructors then.
    velmo::ExitProcess(code);
}
