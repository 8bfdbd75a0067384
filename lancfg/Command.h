#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

// Exit codes of the console tool. Misuse of the command line is a failure of its own, so that
// scripts can tell it from success.
enum ExitCode : int {
    ExitOk = 0,
    ExitFailed = -1,   // device not found, configuration not readable, update or write failed
    ExitKeyError = -2, // key missing or rejected
    ExitUsage = 2,
};

// Writes printf-formatted text to a stream.
void Print(std::ostream& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// What a command prints to (results on out, explanations for the user on err), and the options
// that every command takes.
struct CommandContext {
    std::ostream& out;
    std::ostream& err;
    std::string address; // -a: the requests go to this address instead of the group
    bool json = false;   // --json: out holds one JSON document, the messages go to err
    // Several -a, or a range: every address to ask (address is then empty).
    std::vector<std::string> addresses;
    std::istream* in = nullptr; // where "-k -" reads the key; standard input when null
    bool refused = false;       // the command said why it refused its input: no usage text
    // out is a terminal, where progress may be redrawn in place.
    bool terminal = false;
    // What was wrong with a command line that a command refused as misuse (ExitUsage): printed
    // as one line on err before the usage text.
    std::string misuse;
    // The networks the last search by the group could not be sent on.
    std::vector<std::string> unasked;

    // Where the messages of a failed command go: err when out holds JSON.
    std::ostream& Messages() { return json ? err : out; }
};

// One command of the console tool. args holds the words after the program name, the command word
// first. A command that finds its arguments misused returns ExitUsage without touching the network.
class Command {
public:
    virtual ~Command() = default;
    virtual const char* Name() const = 0;
    // Number of words after the command word before its options: 1 for the serial number.
    virtual size_t Positionals() const { return 1; }
    virtual bool TakesJson() const { return false; }
    // True for a command that takes one or more serial numbers (every word before its first
    // option) and reads its options itself, -a and --json included.
    virtual bool TakesSeveralSerials() const { return false; }
    // Whether the first word after the command word is a serial number, checked before Execute.
    virtual bool TakesSerial() const { return Positionals() == 1; }
    // Options of the command that take no value, so that the scan for -a and --json steps over
    // them by one word.
    virtual bool IsFlag(const std::string& /*word*/) const { return false; }
    virtual int Execute(const std::vector<std::string>& args, CommandContext& context) = 0;
};

// Options of set and fwupdate: pairs of option word and value from the third word on.
struct CommandOptions {
    std::string ip, netmask, gateway, dhcp, crypt, key, file;
    bool hasIp = false, hasNetmask = false, hasGateway = false, hasDhcp = false, hasCrypt = false,
         hasKey = false, hasFile = false;

    // allowed lists the option letters the command takes, e.g. "ingdyk". False on an unknown
    // option or an option without a value; problem then receives what was wrong.
    bool Parse(const std::vector<std::string>& args, const std::string& allowed,
               std::string* problem = nullptr);
};

// "on" in either letter case, and any longer value that begins so.
bool IsOn(const std::string& value);

// An IPv4 address as typed: four decimal numbers 0 to 255 joined by points, without leading
// zeros (010 is refused: some tools read it as octal), nothing before or after.
bool IsAddressText(const std::string& text);
// "on" or "off" in any letter case; false for anything else (on is then left alone).
bool ParseFlag(const std::string& text, bool* on);

// Names the first few of names and counts the rest: "a, b, c, d and 3 more networks".
std::string NameAFew(const std::vector<std::string>& names);
// When no device answered: one line on err that names the networks asked and the usual causes.
void PrintNothingFound(CommandContext& context);
// When no device answered for serial: searches for all devices and says on err how many answered
// (with a hint when one differs from serial only in letter case), or, when none did, what
// PrintNothingFound says.
void PrintNotFound(CommandContext& context, const std::string& serial);
