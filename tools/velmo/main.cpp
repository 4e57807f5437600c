// velmo: the command line for people and scripts.
#include "tools/velmo/DropCommand.h"
#include "tools/velmo/PduCommand.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::cout << "usage: velmo pdu encode [--nosmsc] NUMBER TEXT\n"
                     "       velmo pdu decode [--nosmsc] PDU\n"
                     "       velmo drop NUMBER TEXT\n";
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "drop")
        return velmo::cli::DropCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
    if (args[0] == "pdu")
        return velmo::cli::PduCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
    std::cerr << "velmo: unknown command " << args[0] << " (try velmo --help)\n";
    return 2;
}
