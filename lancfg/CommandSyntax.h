#pragma once

// How a command declares its words. The command line is checked against these declarations by
// one parser, and the usage text is written from them.

#include <string>
#include <vector>

struct CommandLine;

// One option word: its value (when it takes one), the check of that value, and where it goes in
// the checked command line.
struct OptionWord {
    const char* word;  // "-i"
    const char* value; // how the usage names its value ("<ip>", "crypt_key"); nullptr: a flag
    bool (*check)(const std::string& value); // nullptr: any value
    const char* refusal; // what the misuse line says of a value the check refuses
    void (*take)(CommandLine& line, const std::string& value);
    const char* help;     // one line for the usage text; "\n" continues it on the next
    bool repeats = false; // every value counts (-a); else, given twice, the later one counts
};

// The options that several commands take, each declared once.
struct SharedOptions {
    static const OptionWord Address; // -a <ip>[/<prefix>], also before the command word
    static const OptionWord Json;    // --json
    static const OptionWord Key;     // -k crypt_key
    static const OptionWord Jobs;    // -j <jobs>
    static const OptionWord All;     // --all
    static const OptionWord NoInventory; // --no-inventory
    static constexpr unsigned DefaultJobs = 16;
    static constexpr unsigned DefaultUpdateJobs = 64; // fwupdate: restarts are waited for on no thread
    static constexpr unsigned MaxJobs = 1024;
};

// What stands between the command word and the options.
enum class Positional {
    None,
    Serial,  // one serial number
    MaybeSerial, // one serial number, or none
    Serials, // one or more serial numbers: every word before the first option
    File,    // one file name
};

// One line of the usage text and the line that explains it. A word beginning with '-' names an
// option of the command, written with its value; "[-k]" the same in brackets; any other word is
// written as it stands.
struct UsageForm {
    std::vector<const char*> words;
    const char* help;
};

struct CommandSyntax {
    const char* name;
    Positional positional;
    const char* needs;   // what the misuse line says is missing ("the serial number of a device")
    const char* instead; // a flag of the command that stands in place of the positionals, or null
    // Its options in the order their values are checked; the shared ones copied in.
    std::vector<OptionWord> options;
    // Its forms: the first is the classic one, printed before the forms of all commands.
    std::vector<UsageForm> forms;
    // A second flag that may stand in place of the positionals, beside them or beside instead.
    const char* alsoInstead = nullptr;

    const OptionWord* Find(const std::string& word) const;
};
