#include "CommandLine.h"

#include "CommandTable.h"
#include "ConsoleTexts.h"
#include "LanProtocol.h"

#include <map>

namespace {

ParsedLine Misuse(std::string message) {
    ParsedLine parsed;
    parsed.kind = ParsedLine::Misuse;
    parsed.message = std::move(message);
    return parsed;
}

bool IsOptionLike(const std::string& word) {
    return !word.empty() && word[0] == '-';
}

// Where a stray word stands, for the misuse line.
const char* AfterPositionals(Positional positional) {
    switch (positional) {
    case Positional::Serial:
    case Positional::MaybeSerial:
        return " after the serial number";
    case Positional::Serials:
        return " among its options (the serial numbers come first)";
    case Positional::File:
        return " after the file";
    default:
        return "";
    }
}

// Takes the positionals of syntax from words at i: for a serial number or a file the next word,
// for serial numbers every word up to the first option.
void TakePositionals(const CommandSyntax& syntax, const std::vector<std::string>& words, size_t& i,
                     CommandLine& line) {
    for (; i < words.size() && !IsOptionLike(words[i]); ++i) {
        if (syntax.positional == Positional::None)
            return;
        if (syntax.positional == Positional::File) {
            line.planFile = words[i++];
            return;
        }
        line.serials.push_back(words[i]);
        if (syntax.positional == Positional::Serial || syntax.positional == Positional::MaybeSerial) {
            ++i;
            return;
        }
    }
}

// The values given to each option word, in order.
using GivenValues = std::map<const OptionWord*, std::vector<std::string>>;

// Collects the option words from i on with their values. Returns the misuse line of a word the
// command does not take or an option without its value, else nothing.
std::string GatherOptions(const CommandSyntax& syntax, const std::vector<std::string>& words, size_t i,
                          GivenValues& given) {
    for (; i < words.size(); ++i) {
        const std::string& word = words[i];
        const OptionWord* option = syntax.Find(word);
        if (!option && IsOptionLike(word))
            return TextOf<kNoSuchOption>(syntax.name, lanproto::PrintableText(word).c_str());
        if (!option)
            return TextOf<kNoArgument>(syntax.name, lanproto::PrintableText(word).c_str(),
                                       AfterPositionals(syntax.positional));
        if (option->value && i + 1 >= words.size())
            return TextOf<kNeedsValue>(option->word);
        given[option].push_back(option->value ? words[++i] : std::string());
    }
    return std::string();
}

// Checks the values that count (every one of -a, the later of any other option given twice) in
// the order the command declares its options, and puts them into line. Returns the misuse line
// of the first value refused, else nothing.
std::string TakeValues(const CommandSyntax& syntax, GivenValues& given, CommandLine& line) {
    for (const OptionWord& option : syntax.options) {
        const auto found = given.find(&option);
        if (found == given.end())
            continue;
        std::vector<std::string>& values = found->second;
        if (!option.repeats)
            values.erase(values.begin(), values.end() - 1);
        for (const std::string& value : values) {
            if (option.check && !option.check(value))
                return TextOf<kBadValue>(option.word, lanproto::PrintableText(value).c_str(),
                                         option.refusal);
            option.take(line, value);
        }
    }
    return std::string();
}

// The positionals, or the flag that stands in their place, must be there; not both.
std::string CheckPositionals(const CommandSyntax& syntax, const GivenValues& given,
                             const CommandLine& line) {
    if (syntax.positional == Positional::None || syntax.positional == Positional::MaybeSerial)
        return std::string();
    const bool positionals = !line.serials.empty() || !line.planFile.empty();
    const bool instead = syntax.instead && given.count(syntax.Find(syntax.instead));
    const bool alsoInstead = syntax.alsoInstead && given.count(syntax.Find(syntax.alsoInstead));
    if (!positionals && !instead && !alsoInstead)
        return TextOf<kNeeds>(syntax.name, syntax.needs,
                              syntax.instead ? (std::string(" (or ") + syntax.instead + ")").c_str()
                                           : "");
    if (positionals && instead)
        return TextOf<kNotBoth>(syntax.name, syntax.needs, syntax.instead);
    return std::string();
}

} // namespace

ParsedLine ParseCommandLine(const std::vector<std::string>& words, const CommandTable& table) {
    ParsedLine parsed;
    // The two options every console user tries first; anything else stays a command word.
    if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h")) {
        parsed.kind = ParsedLine::Help;
        return parsed;
    }
    if (words.size() == 1 && words[0] == "--version") {
        parsed.kind = ParsedLine::Version;
        return parsed;
    }
    std::vector<std::string> leading; // -a before the command word
    size_t i = 0;
    for (; i < words.size() && words[i] == SharedOptions::Address.word; i += 2) {
        if (i + 1 >= words.size())
            return Misuse(TextOf<kNeedsValue>(SharedOptions::Address.word));
        leading.push_back(words[i + 1]);
    }
    if (i >= words.size())
        return Misuse(TextOf<kNoCommand>());
    parsed.command = table.Find(words[i]);
    if (!parsed.command)
        return Misuse(TextOf<kUnknownCommand>(lanproto::PrintableText(words[i]).c_str(),
                                              table.Names().c_str()));
    const CommandSyntax& syntax = parsed.command->Syntax();
    CommandLine& line = parsed.line;
    line.command = syntax.name;
    ++i;
    TakePositionals(syntax, words, i, line);

    // The values are checked once all are known, as the later of two values counts.
    GivenValues given;
    if (!leading.empty())
        given[syntax.Find(SharedOptions::Address.word)] = leading;
    std::string misuse = GatherOptions(syntax, words, i, given);
    if (misuse.empty())
        misuse = TakeValues(syntax, given, line);
    if (misuse.empty())
        misuse = CheckPositionals(syntax, given, line);
    if (misuse.empty())
        misuse = parsed.command->Misuse(line);
    if (!misuse.empty())
        return Misuse(std::move(misuse));

    // '*' is the wire's wildcard: a serial number holding it would reach any device.
    for (const std::string& serial : line.serials) {
        if (!lanproto::IsSingleSerial(serial)) {
            parsed.kind = ParsedLine::Refused;
            parsed.message = TextOf<kNotOneSerial>(lanproto::PrintableText(serial).c_str());
            return parsed;
        }
    }
    parsed.kind = ParsedLine::Run;
    return parsed;
}
