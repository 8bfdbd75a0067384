#include "Lancfg.h"

#include "AddressRange.h"
#include "CommandLine.h"
#include "CommandTable.h"
#include "ConsoleTexts.h"
#include "Inventory.h"

#include <string>
#include <vector>

namespace {

// The keys of a command that takes -k: from -k, LANCFG_KEY or the keys file. False after
// printing why they are refused.
bool LoadKeys(const CommandLine& line, const ConsoleIo& io, CommandContext& context) {
    context.keys = KeySource(line.key, io.environment, KeySource::DefaultKeysFile(io.environment));
    std::string reason;
    if (context.keys.Load(&io.in, &reason))
        return true;
    Say<kErrorLine>(context, reason.c_str());
    return false;
}

} // namespace

int RunLancfg(int argc, const char* const* argv, const ConsoleIo& io) {
    const std::string program = argc > 0 && argv[0] ? argv[0] : "lancfg";
    const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    const CommandTable table;
    const ParsedLine parsed = ParseCommandLine(words, table);
    CommandContext context(io.out, io.err);
    switch (parsed.kind) {
    case ParsedLine::Help:
        io.out << UsageText(program, table) << std::flush;
        return ExitOk;
    case ParsedLine::Version:
        Say<kVersion>(context, VK_PRODUCT_VERSION);
        return ExitOk;
    case ParsedLine::Misuse:
        Say<kErrorLine>(context, parsed.message.c_str());
        io.out << UsageText(program, table) << std::flush;
        return ExitUsage;
    case ParsedLine::Refused:
        io.err << parsed.message << std::flush;
        return ExitUsage;
    case ParsedLine::Run:
        break;
    }
    const CommandLine& line = parsed.line;
    context.json = line.json;
    context.terminal = io.terminal;
    context.in = &io.in;
    context.environment = io.environment;
    context.inputTerminal = io.inputTerminal;
    context.inventory = Inventory::DefaultPath(io.environment);
    const char* off = io.environment ? io.environment("LANCFG_NO_INVENTORY") : nullptr;
    context.remember = !line.noInventory && !(off && off[0] != '\0' && std::string(off) != "0");
    if (!ResolveAddresses(line.addresses, context))
        return ExitUsage;
    if (parsed.command->Syntax().Find(SharedOptions::Key.word) && !LoadKeys(line, io, context))
        return ExitUsage;
    const int result = parsed.command->Execute(line, context);
    // A result that could not be written is no result: a backup cut short by a full disk, a
    // reader that went away. The work itself was done; the status says what was lost.
    context.out.flush();
    if (!context.out.good()) {
        Say<kOutputLost>(context);
        return ExitFailed;
    }
    return result;
}
