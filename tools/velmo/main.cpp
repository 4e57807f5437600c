// velmo: the command line for people and scripts.
#include "tools/velmo/DropCommand.h"
#include "tools/velmo/PduCommand.h"
#include "tools/velmo/SendCommand.h"
#include "tools/velmo/GatewayCommands.h"
#include "tools/velmo/ModemsCommand.h"

#include "interfaces/StandardOptions.h"

#include <iostream>

namespace {

const char kUsage[] = "usage: velmo send [--host [USER@]HOST] [--expire PERIOD] TO [TEXT...]\n"
                      "       velmo status [--host [USER@]HOST] [--wait [--delivered] [--timeout S]] [--json] ID\n"
                      "       velmo list [--host [USER@]HOST] [--folder FOLDER] [--limit N] [--json]\n"
                      "       velmo show [--host [USER@]HOST] [--json] ID\n"
                      "       velmo watch [--host [USER@]HOST] [--json]\n"
                      "       velmo devices [--host [USER@]HOST] [--json]\n"
                      "       velmo modems [--json] [--comm SETTINGS] [PATH...]\n"
                      "       velmo drop NUMBER TEXT\n"
                      "       velmo pdu encode [--nosmsc] [--full] [--parts N] NUMBER TEXT\n"
                      "       velmo pdu decode [--nosmsc] PDU\n"
                      "       velmo --help | --version\n"
                      "\n"
                      "send    queue a message through the service; prints its identifier\n"
                      "        (the text is read from standard input when none is given)\n"
                      "status  the state of a message: status word, date (UTC), status text;\n"
                      "        exit code 3 when the identifier is not known; --wait waits until it\n"
                      "        is sent (exit 0) or failed (exit 1), or S seconds pass (exit 124)\n"
                      "list    the messages of a folder, newest first: queued (the default),\n"
                      "        sent, failed, received or bad\n"
                      "show    every field of one message\n"
                      "watch   one line per message queued, sent, failed or received, as it happens\n"
                      "devices the devices, their state, signal, registration and operator\n"
                      "modems  find the modems on this machine's serial lines (without the service)\n"
                      "        and print a device entry for each; exit 1 when none answers\n"
                      "drop    queue a message by writing it into the pickup folder (no bus)\n"
                      "pdu     encode or decode an SMS PDU as the GSM device does\n"
                      "\n"
                      "--host reaches the service on another machine over SSH; --json prints JSON.\n"
                      "See velmo(1).\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "-h")
        argv[1] = const_cast<char*>("--help");
    if (auto answered = velmo::AnswerStandardOptions(argc, argv, "velmo", kUsage))
        return *answered;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return velmo::UsageError("velmo", "a command is missing", kUsage);
    if (args[0] == "send")
        return velmo::cli::SendCommand({args.begin() + 1, args.end()}, std::cin, std::cout, std::cerr);
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "status")
        return velmo::cli::StatusCommand(rest, std::cout, std::cerr);
    if (args[0] == "list")
        return velmo::cli::ListCommand(rest, std::cout, std::cerr);
    if (args[0] == "show")
        return velmo::cli::ShowCommand(rest, std::cout, std::cerr);
    if (args[0] == "watch")
        return velmo::cli::WatchCommand(rest, std::cout, std::cerr);
    if (args[0] == "devices")
        return velmo::cli::DevicesCommand(rest, std::cout, std::cerr);
    if (args[0] == "modems")
        return velmo::cli::ModemsCommand(rest, std::cout, std::cerr);
    if (args[0] == "drop")
        return velmo::cli::DropCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
    if (args[0] == "pdu")
        return velmo::cli::PduCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
    return velmo::UsageError("velmo", (args[0][0] == '-' ? "unknown option " : "unknown command ") + args[0], kUsage);
}
