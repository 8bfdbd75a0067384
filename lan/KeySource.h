#pragma once

// Where the keys of the devices come from when the user does not type one for every request.
// Shared by the programs: the console tool passes its -k option, the dialog program none.

#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <string>

class LanInterface;

// The key chosen for one device, and how a message names it.
struct ChosenKey {
    bool present = false;
    std::string text;   // 32 hexadecimal digits, for SetCryptKey
    std::string source; // empty when typed on the command line, else where the key was read

    // What the wrong-key message names: the key itself when the user typed it, else its source,
    // so that a key kept off the command line never reaches the screen.
    std::string Named() const { return source.empty() ? text : "the key from " + source; }
};

// Chooses each device's key: the option first (its value "-" reads the first line of the
// input), then the environment variable LANCFG_KEY (an empty one counts as unset), then the
// user's keys file (lines "SERIAL KEY", '#' comments). The keys file is used only when it is
// private to its owner, as ssh treats keys, and only up to 64 KiB. Every key read must be 32
// hexadecimal digits: any other text would switch the encryption off or be rejected by the
// device, so it is refused before any device hears of it.
class KeySource {
public:
    // A getenv-like lookup: the value of a variable, or nullptr when it is not set.
    using Environment = std::function<const char*(const char* name)>;

    static constexpr size_t MaxKeysFileSize = 64 * 1024;

    // No key for any device.
    KeySource() = default;
    // option: the value of -k when given, already checked by the caller to be a key text or
    // "-"; nullopt where there is no such option. environment gives LANCFG_KEY; keysFile is the
    // path of the keys file.
    KeySource(std::optional<std::string> option, const Environment& environment,
              std::string keysFile);

    // Reads the input (for the option "-") or the keys file, when the key comes from there.
    // False, with one line for the user in reason, when no key is on the input, a key read is
    // not 32 hexadecimal digits, or the keys file is refused.
    bool Load(std::istream* input, std::string* reason);

    // The key for the device with this serial number; present is false when there is none.
    ChosenKey For(const std::string& serial) const;
    // The same, and sets it into the device's record when there is one.
    ChosenKey GiveTo(LanInterface& device, const std::string& serial) const;

    // $XDG_CONFIG_HOME/velantrix-konfigurator/keys, by default under ~/.config.
    static std::string DefaultKeysFile(const Environment& environment);
    // 32 hexadecimal digits, in either letter case.
    static bool IsKeyText(const std::string& text);

private:
    bool LoadKeysFile(std::string* reason);

    std::optional<std::string> option_;
    std::optional<std::string> environment_; // LANCFG_KEY, when set and not empty
    std::string keysFile_;
    ChosenKey common_;                        // the one key for every device, when there is one
    std::map<std::string, std::string> keys_; // serial number to key text, from the keys file
};
