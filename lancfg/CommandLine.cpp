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

// Takes the positionals of spec from words at i: for a serial number or a file the next word,
// for serial numbers every word up to the first option.
void TakePositionals(const CommandSpec& spec, const std::vector<std::string>& words, size_t& i,
                     CommandLine& line) {
    for (; i < words.size() && !IsOptionLike(words[i]); ++i) {
        if (spec.positional == Positional::None)
            return;
        if (spec.positional == Positional::File) {
            line.planFile = words[i++];
            return;
        }
        line.serials.push_back(words[i]);
        if (spec.positional == Positional::Serial || spec.positional == Positional::MaybeSerial) {
            ++i;
            return;
        }
    }
}

// The values given to each option word, in order.
using GivenValues = std::map<const OptionWord*, std::vector<std::string>>;

// Collects the option words from i on with their values. Returns the misuse line of a word the
// command does not take or an option without its value, else nothing.
std::string GatherOptions(const CommandSpec& spec, const std::vector<std::string>& words, size_t i,
                          GivenValues& given) {
    for (; i < words.size(); ++i) {
        const std::string& word = words[i];
        const OptionWord* option = spec.Find(word);
        if (!option && IsOptionLike(word))
            return TextOf<kNoSuchOption>(spec.name, lanproto::PrintableText(word).c_str());
        if (!option)
            return TextOf<kNoArgument>(spec.name, lanproto::PrintableText(word).c_str(),
                                       AfterPositionals(spec.positional));
        if (option->value && i + 1 >= words.size())
            return TextOf<kNeedsValue>(option->word);
        given[option].push_back(option->value ? words[++i] : std::string());
    }
    return std::string();
}

// Checks the values that count (every one of -a, the later of any other option given twice) in
// the order the command declares its options, and puts them into line. Returns the misuse line
// of the first value refused, else nothing.
std::string TakeValues(const CommandSpec& spec, GivenValues& given, CommandLine& line) {
    for (const OptionWord& option : spec.options) {
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
std::string CheckPositionals(const CommandSpec& spec, const GivenValues& given,
                             const CommandLine& line) {
    if (spec.positional == Positional::None || spec.positional == Positional::MaybeSerial)
        return std::string();
    const bool positionals = !line.serials.empty() || !line.planFile.empty();
    const bool instead = spec.instead && given.count(spec.Find(spec.instead));
    const bool alsoInstead = spec.alsoInstead && given.count(spec.Find(spec.alsoInstead));
    if (!positionals && !instead && !alsoInstead)
        return TextOf<kNeeds>(spec.name, spec.needs,
                              spec.instead ? (std::string(" (or ") + spec.instead + ")").c_str()
                                           : "");
    if (positionals && instead)
        return TextOf<kNotBoth>(spec.name, spec.needs, spec.instead);
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
    const CommandSpec& spec = parsed.command->Spec();
    CommandLine& line = parsed.line;
    line.command = spec.name;
    ++i;
    TakePositionals(spec, words, i, line);

    // The values are checked once all are known, as the later of two values counts.
    GivenValues given;
    if (!leading.empty())
        given[spec.Find(SharedOptions::Address.word)] = leading;
    std::string misuse = GatherOptions(spec, words, i, given);
    if (misuse.empty())
        misuse = TakeValues(spec, given, line);
    if (misuse.empty())
        misuse = CheckPositionals(spec, given, line);
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
