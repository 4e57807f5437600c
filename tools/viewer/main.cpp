// msgview FILE: shows one stored message. On a terminal it is a dialog;
// with standard output elsewhere it lists the fields as text.
#include "tools/viewer/MessageViewer.h"

#include "interfaces/StandardOptions.h"
#include "platform/File.h"

#include <string>

namespace {

const char kUsage[] = "usage: msgview FILE\n"
                      "       msgview --help | --version\n"
                      "\n"
                      "Shows the stored message FILE (a .velmo file of the queue folders) read-only:\n"
                      "a dialog on a terminal, its fields as text when standard output is not one.\n"
                      "The whole command line is the path, so a path with spaces needs no quotes.\n"
                      "See msgview(1).\n";

}  // namespace

int main(int argc, char** argv)
{
    if (auto answered = velmo::AnswerStandardOptions(argc, argv, "msgview", kUsage))
        return *answered;
    // The command line is taken whole, as the program's Windows form gets it.
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    std::string path = velmo::viewer::PathFromCommandLine(commandLine);
    // A file may begin with "-"; an option is what names no file.
    if (!path.empty() && path[0] == '-' && !velmo::PathExists(path))
        return velmo::UsageError("msgview", "unknown option " + std::string(argv[1]), kUsage);
    // A file that cannot be read is shown as the error it is, and the exit
    // code says so to a script.
    if (!path.empty() && !velmo::viewer::ShowMessage(path))
        return 1;
    return 0;
}
