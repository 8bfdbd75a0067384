#include "CommandTable.h"

#include "ApplyCommand.h"
#include "CommandSyntax.h"
#include "ExportCommand.h"
#include "ForgetCommand.h"
#include "FwupdateCommand.h"
#include "HistoryCommand.h"
#include "ListCommand.h"
#include "SetCommand.h"
#include "ShowCommand.h"
#include "WatchCommand.h"

#include <algorithm>
#include <cstdio>

CommandTable::CommandTable() {
    commands_.push_back(std::make_unique<ListCommand>());
    commands_.push_back(std::make_unique<FwupdateCommand>());
    commands_.push_back(std::make_unique<SetCommand>());
    commands_.push_back(std::make_unique<ShowCommand>());
    commands_.push_back(std::make_unique<ApplyCommand>());
    commands_.push_back(std::make_unique<HistoryCommand>());
    commands_.push_back(std::make_unique<WatchCommand>());
    commands_.push_back(std::make_unique<ExportCommand>());
    commands_.push_back(std::make_unique<ForgetCommand>());
}

std::string CommandTable::Names() const {
    std::vector<std::string> names = {"list", "show", "set", "fwupdate", "apply"};
    for (const auto& command : commands_)
        if (std::find(names.begin(), names.end(), command->Syntax().name) == names.end())
            names.push_back(command->Syntax().name);
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

const Command* CommandTable::Find(const std::string& word) const {
    for (const auto& command : commands_)
        if (word == command->Syntax().name)
            return command.get();
    return nullptr;
}

namespace {

std::string OptionText(const OptionWord& option) {
    return option.value ? std::string(option.word) + " " + option.value : option.word;
}

// One form as its two lines: the command line and, indented, what it does.
std::string FormLines(const std::string& program, const char* name,
                      const std::vector<OptionWord>& options, const UsageForm& form) {
    std::string text = program;
    if (name)
        text += std::string(" ") + name;
    for (const std::string word : form.words) {
        const bool optional = word.rfind("[-", 0) == 0;
        const std::string bare = optional ? word.substr(1, word.size() - 2) : word;
        std::string shown = word;
        for (const OptionWord& option : options)
            if (bare == option.word)
                shown = optional ? "[" + OptionText(option) + "]" : OptionText(option);
        text += " " + shown;
    }
    return text + "\n\t" + form.help + "\n";
}

// The lines that say what an option does, each continuation under the first, and the commands
// that take it when not all of them do.
std::string OptionLines(const OptionWord& option, const std::string& takenBy) {
    char head[32];
    std::snprintf(head, sizeof head, "\t%-20s ", OptionText(option).c_str());
    std::string text = head;
    for (const char* c = option.help; *c; ++c)
        text += *c == '\n' ? "\n\t" + std::string(21, ' ') : std::string(1, *c);
    return text + (takenBy.empty() ? "" : " (" + takenBy + ")") + "\n";
}

// The commands of table that take the option word, or nothing when all do.
std::string TakenBy(const char* word, const CommandTable& table) {
    std::string names;
    size_t count = 0;
    for (const auto& command : table.Commands()) {
        if (!command->Syntax().Find(word))
            continue;
        names += (names.empty() ? "" : ", ") + std::string(command->Syntax().name);
        ++count;
    }
    return count == table.Commands().size() ? std::string() : names;
}

} // namespace

std::string UsageText(const std::string& program, const CommandTable& table) {
    std::string text;
    for (const auto& command : table.Commands()) {
        const CommandSyntax& syntax = command->Syntax();
        text += FormLines(program, syntax.name, syntax.options, syntax.forms.front());
    }
    for (const auto& command : table.Commands()) {
        const CommandSyntax& syntax = command->Syntax();
        for (size_t n = 1; n < syntax.forms.size(); ++n)
            text += FormLines(program, syntax.name, syntax.options, syntax.forms[n]);
    }
    text += FormLines(program, nullptr, {SharedOptions::Address},
                      {{"[-a]", "<command>", "[<arguments>]", "[-a]"},
                       "send the requests to these addresses instead of the local networks"});
    // Each option once, in the order the commands declare them.
    text += "options:\n";
    std::vector<std::string> listed;
    for (const auto& command : table.Commands()) {
        for (const OptionWord& option : command->Syntax().options) {
            bool seen = false;
            for (const std::string& word : listed)
                seen = seen || word == option.word;
            if (seen)
                continue;
            listed.push_back(option.word);
            text += OptionLines(option, TakenBy(option.word, table));
        }
    }
    return text;
}
