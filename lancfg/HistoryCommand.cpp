#include "HistoryCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "JsonLines.h"
#include "UpdateHistory.h"

const CommandSyntax& HistoryCommand::Syntax() const {
    static const CommandSyntax syntax{
        "history",
        Positional::MaybeSerial,
        nullptr,
        nullptr,
        {SharedOptions::Json},
        {{{"[<serial-number>]", "[--json]"},
          "the firmware updates of every device, or of one, oldest first"}}};
    return syntax;
}

int HistoryCommand::Execute(const CommandLine& line, CommandContext& context) const {
    const UpdateHistory history(UpdateHistory::DefaultPath(context.environment));
    std::vector<HistoryEntry> entries;
    std::string error;
    if (!history.Read(line.serials.empty() ? std::string() : line.serials.front(), &entries,
                      &error)) {
        Say<kErrorLine>(context, error.c_str());
        return ExitFailed;
    }
    std::vector<JsonObject> array;
    for (const HistoryEntry& e : entries) {
        if (context.json) {
            JsonObject o{{"time", e.time},
                         {"serialNumber", e.serialNumber},
                         {"previousVersion", JsonAddress(e.previousVersion)},
                         {"version", JsonAddress(e.version)},
                         {"result", e.result}};
            if (!e.reason.empty())
                o["reason"] = e.reason;
            o["attempts"] = e.attempts;
            o["durationS"] = e.durationS;
            o["file"] = e.file;
            array.push_back(o);
            continue;
        }
        const std::string versions =
            (e.previousVersion.empty() ? "?" : e.previousVersion) + " -> " +
            (e.version.empty() ? "?" : e.version);
        const std::string result = e.reason.empty() ? e.result : e.result + " (" + e.reason + ")";
        Say<kHistoryLine>(context, e.time.c_str(), e.serialNumber.c_str(), versions.c_str(),
                          result.c_str(), e.attempts, e.attempts == 1 ? "" : "s", e.durationS);
    }
    if (context.json)
        context.out << JsonArrayLines(array) << std::flush;
    return ExitOk;
}
