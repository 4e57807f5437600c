// msgview FILE: shows one stored message. On a terminal it is a dialog;
// with standard output elsewhere it lists the fields as text.
#include "tools/viewer/MessageViewer.h"

#include <string>

int main(int argc, char** argv)
{
    // The command line is taken whole, as the program's Windows form gets it.
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    std::string path = velmo::viewer::PathFromCommandLine(commandLine);
    if (!path.empty())
        velmo::viewer::ShowMessage(path);
    return 0;
}
