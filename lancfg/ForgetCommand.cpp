#include "ForgetCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "Inventory.h"

const CommandSyntax& ForgetCommand::Syntax() const {
    static const CommandSyntax syntax{
        "forget",
        Positional::Serial,
        "the serial number of a device",
        nullptr,
        {},
        {{{"<serial-number>"}, "drop a device from the remembered ones (list --known)"}}};
    return syntax;
}

int ForgetCommand::Execute(const CommandLine& line, CommandContext& context) const {
    const std::string& serial = line.serials.front();
    size_t dropped = 0;
    std::string notice;
    const bool written = Inventory(context.inventory).Forget(serial, &dropped, &notice);
    if (!written) {
        Say<kErrorLine>(context, notice.c_str());
        return ExitFailed;
    }
    if (!notice.empty())
        Say<kWarning>(context, notice.c_str());
    if (dropped == 0) {
        Say<kNotRemembered>(context, serial.c_str());
        return ExitFailed;
    }
    Say<kForgotten>(context, serial.c_str());
    return ExitOk;
}
