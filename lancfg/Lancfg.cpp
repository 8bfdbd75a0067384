#include "Lancfg.h"

#include "AddressRange.h"
#include "ApplyCommand.h"
#include "Command.h"
#include "FwupdateCommand.h"
#include "LanProtocol.h"
#include "ListCommand.h"
#include "SetCommand.h"
#include "ShowCommand.h"

#include <arpa/inet.h>

#include <cstddef>
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
    Print(out, "%s list --json\n", program);
    Print(out, "\tlist all devices as a JSON array\n");
    Print(out, "%s show <serial-number> --json\n", program);
    Print(out, "\tshow configuration parameters of one device as a JSON object\n");
    Print(out, "%s <command> [<arguments>] -a <ip>\n", program);
    Print(out, "\tsend the command's requests to one address instead of the local networks\n");
    Print(out,
          "%s fwupdate <serial-number>... -f <firmware-file> [-k crypt_key] [-j <jobs>] [--json] "
          "[--confirm]\n",
          program);
    Print(out, "\tupdate firmware of several devices at once, each confirmed running it\n");
    Print(out, "%s fwupdate --all -f <firmware-file> [-k crypt_key] [-j <jobs>] [--json]\n",
          program);
    Print(out, "\tupdate firmware of every device found, at most <jobs> at once (default 16)\n");
    Print(out, "%s show --all [--json]\n", program);
    Print(out, "\tshow configuration parameters of every device found\n");
    Print(out, "%s apply <file> [--dry-run] [--json] [-j <jobs>] [-k crypt_key]\n", program);
    Print(out, "\twrite the configurations of a file (from show --all --json) where they differ\n");
    Print(out, "%s <command> [<arguments>] -a <ip>[/<prefix>] [-a ...]\n", program);
    Print(out, "\tsend the requests to several addresses or ranges (/22 to /32)\n");
    Print(out, "\t-k - reads the key from standard input; without -k, LANCFG_KEY or the keys\n");
    Print(out, "\tfile ~/.config/velantrix-konfigurator/keys (lines: serial key) give it\n");
}

namespace {

// Keeps the value of -a; every value given counts, and all are checked once they are taken.
bool TakeAddress(const std::string& value, CommandContext& context) {
    context.addresses.push_back(value);
    return true;
}

// Takes -a <ip> (where the options of the command may stand) and --json (after the arguments
// of a command that has it) out of args. Returns whether the address that counts is valid, which
// valid tells for an address taken before.
bool TakeSharedOptions(std::vector<std::string>& args, const Command& command,
                       CommandContext& context, bool valid) {
    for (size_t i = 1 + command.Positionals(); i < args.size();) {
        const auto at = args.begin() + static_cast<std::ptrdiff_t>(i);
        if (args[i] == "-a" && i + 1 < args.size()) {
            valid = TakeAddress(args[i + 1], context);
            args.erase(at, at + 2);
        } else if (args[i] == "--json" && command.TakesJson()) {
            context.json = true;
            args.erase(at);
        } else if (command.IsFlag(args[i])) {
            ++i;
        } else {
            i += 2; // an option of the command and its value, checked by the command
        }
    }
    return valid;
}

} // namespace

int RunLancfg(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
              bool terminal) {
    const char* program = argc > 0 && argv[0] ? argv[0] : "lancfg";
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);

    // Compared in this order, names exactly.
    std::unique_ptr<Command> commands[] = {
        std::make_unique<ListCommand>(), std::make_unique<FwupdateCommand>(),
        std::make_unique<SetCommand>(), std::make_unique<ShowCommand>(),
        std::make_unique<ApplyCommand>()};
    // The two options every console user tries first; anything else stays a command word.
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        PrintUsage(program, out);
        return ExitOk;
    }
    if (args.size() == 1 && args[0] == "--version") {
        Print(out, "lancfg %s\n", VK_PRODUCT_VERSION);
        return ExitOk;
    }
    CommandContext context{out, err, std::string(), false, {}, nullptr, false, terminal};
    // -a <ip> may also come before the command word.
    bool valid = true;
    while (args.size() >= 2 && args[0] == "-a") {
        valid = TakeAddress(args[1], context);
        args.erase(args.begin(), args.begin() + 2);
    }
    int result = ExitUsage;
    if (args.empty() && valid)
        context.misuse = "no command given";
    if (!args.empty()) {
        bool known = false;
        for (auto& command : commands)
            known = known || args[0] == command->Name();
        if (!known)
            context.misuse = "unknown command \"" + lanproto::PrintableText(args[0]) +
                             "\" (the commands are list, show, set, fwupdate and apply)";
        for (auto& command : commands) {
            if (args[0] != command->Name())
                continue;
            const bool several = command->TakesSeveralSerials();
            if (several ? !valid : !TakeSharedOptions(args, *command, context, valid))
                break;
            const AddressRange::Outcome reach = ResolveAddresses(context);
            if (reach == AddressRange::RangeRefused)
                return ExitUsage;
            if (reach != AddressRange::RangeOk)
                break;
            size_t serials = !several && command->TakesSerial() && args.size() >= 2 ? 1 : 0;
            while (several && serials + 1 < args.size() && args[serials + 1].rfind('-', 0) != 0)
                ++serials;
            // '*' is the wire's wildcard: a serial number holding it would reach any device.
            for (size_t i = 1; i <= serials; ++i) {
                if (lanproto::IsSingleSerial(args[i]))
                    continue;
                Print(err,
                      "Error: %s is not the serial number of one device (it holds '*' or a "
                      "character outside printable ASCII)\n",
                      lanproto::PrintableText(args[i]).c_str());
                return ExitUsage;
            }
            if (command->Positionals() == 1 && args.size() < 2) {
                context.misuse = args[0] + " needs the serial number of a device";
                break;
            }
            result = command->Execute(args, context);
            break;
        }
    }
    if (result == ExitUsage && !context.refused) {
        if (!context.misuse.empty())
            Print(err, "Error: %s\n", context.misuse.c_str());
        PrintUsage(program, out);
    }
    return result;
}
