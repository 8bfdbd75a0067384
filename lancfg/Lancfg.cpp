#include "Lancfg.h"

#include "Command.h"
#include "FwupdateCommand.h"
#include "LanProtocol.h"
#include "ListCommand.h"
#include "SetCommand.h"
#include "ShowCommand.h"

#include <memory>
#include <string>
#include <vector>

void PrintUsage(const char* program, std::ostream& out) {
    Print(out, "%s list\n", program);
    Print(out, "\tlist all devices in local network\n");
    Print(out, "%s fwupdate <serial-number> -f <firmware-file> [-k crypt_key]\n", program);
    Print(out, "\tupdate firmware of one device\n");
    Print(out,
          "%s set <serial-number> [-i <ip>] [-n <netmask>] [-g <gateway>] [-d <dhcp_flag>] "
          "[-y <crypt_flag>] [-k crypt_key]\n",
          program);
    Print(out, "\tset configuration parameters of one device\n");
    Print(out, "%s show <serial-number>\n", program);
    Print(out, "\tshow configuration parameters of one device\n");
}

int RunLancfg(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    const char* program = argc > 0 && argv[0] ? argv[0] : "lancfg";
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);

    // Compared in this order, names exactly.
    std::unique_ptr<Command> commands[] = {
        std::make_unique<ListCommand>(), std::make_unique<FwupdateCommand>(),
        std::make_unique<SetCommand>(), std::make_unique<ShowCommand>()};
    CommandContext context{out, err};
    int result = ExitUsage;
    if (!args.empty()) {
        for (auto& command : commands) {
            if (args[0] != command->Name())
                continue;
            // '*' is the wire's wildcard: a serial number holding it would reach any device.
            if (command->Positionals() == 1 && args.size() >= 2 &&
                !lanproto::IsSingleSerial(args[1])) {
                Print(err,
                      "Error: %s is not the serial number of one device (it holds '*' or a "
                      "character outside printable ASCII)\n",
                      lanproto::PrintableText(args[1]).c_str());
                return ExitUsage;
            }
            result = command->Execute(args, context);
            break;
        }
    }
    if (result == ExitUsage)
        PrintUsage(program, out);
    return result;
}
