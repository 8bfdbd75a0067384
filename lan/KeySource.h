#pragma once

#include <istream>
#include <map>
#include <string>

struct CommandContext;

// The key chosen for one device, and how a message names it.
struct ChosenKey {
    bool present = false;
    std::string text;   // hexadecimal key text, for SetCryptKey
    std::string source; // empty when typed on the command line, else where the key was read

    // What the wrong-key message names: the key itself when the user typed it, else its source,
    // so that a key kept off the command line never reaches the screen.
    std::string Named() const { return source.empty() ? text : "the key from " + source; }
};

// Chooses each device's key: -k first (its value "-" reads the first line of standard input),
// then the environment variable LANCFG_KEY, then the user's keys file (lines "SERIAL KEY",
// '#' comments). The keys file is used only when it is private to its owner, as ssh treats keys.
class KeySource {
public:
    // option: the value of -k when hasOption; environment: the value of LANCFG_KEY or nullptr;
    // keysFile: the path of the keys file.
    KeySource(bool hasOption, std::string option, const char* environment, std::string keysFile);

    // Reads standard input or the keys file when the key comes from there. False, with one line
    // for the user in error, when no key is on standard input or the keys file is refused.
    bool Load(std::istream& in, std::string* error);

    // The key for the device with this serial number; present is false when there is none.
    ChosenKey For(const std::string& serial) const;

    // $XDG_CONFIG_HOME/velantrix-konfigurator/keys, by default under ~/.config.
    static std::string DefaultKeysFile();

private:
    bool LoadKeysFile(std::string* error);

    bool hasOption_;
    std::string option_;
    bool hasEnvironment_;
    std::string environment_;
    std::string keysFile_;
    ChosenKey common_;                        // the one key for every device, when there is one
    std::map<std::string, std::string> keys_; // serial number to key text, from the keys file
};

// The keys of a command from its -k value (when given), LANCFG_KEY and the default keys file.
// False after printing why on the context's err; the command then ends with ExitUsage and the
// context marked refused.
bool LoadKeys(bool hasOption, const std::string& option, CommandContext& context,
              KeySource* keys);
