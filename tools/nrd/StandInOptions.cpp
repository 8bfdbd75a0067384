#include "StandInOptions.h"

#include <cstdlib>

namespace {

bool ReadNumber(const std::string& text, int& out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::atoi(text.c_str());
    return true;
}

bool ApplyBehaviour(const std::string& word, StandInOptions& o) {
    size_t eq = word.find('=');
    std::string name = word.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
    if (name == "no-event" && value.empty())
        o.postEvent = false;
    else if (name == "no-ready-line" && value.empty())
        o.writeReadyLine = false;
    else if (name == "fault" && value.empty())
        o.fault = true;
    else if (name == "log-calls" && value.empty())
        o.logCalls = true;
    else if (name == "normal-first")
        return ReadNumber(value, o.normalFirst);
    else if (name == "take-port")
        return ReadNumber(value, o.takePortMs);
    else if (name == "long-line")
        return ReadNumber(value, o.longLine);
    else if (name == "exit-after")
        return ReadNumber(value, o.exitAfterMs);
    else if (name == "slow")
        return ReadNumber(value, o.answerDelayMs);
    else if (name == "shape" && !value.empty())
        o.shape = value;
    else if (name == "present" && (value == "up" || value == "down"))
        o.present = value;
    else if (name == "sysroot" && !value.empty())
        o.hidSysRoot = value;
    else if (name == "devroot" && !value.empty())
        o.hidDevRoot = value;
    else
        return false;
    return true;
}

} // namespace

bool ParseStandInOptions(const std::vector<std::string>& args, StandInOptions& options,
                         std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a != "-f" && a != "-e" && a != "-t") {
            error = "unknown argument: " + a;
            return false;
        }
        if (i + 1 >= args.size()) {
            error = a + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (a == "-f") {
            options.configPath = value;
        } else if (a == "-e") {
            options.eventName = value;
        } else if (!ApplyBehaviour(value, options)) {
            error = "unknown test behaviour: " + value;
            return false;
        }
    }
    if (options.configPath.empty() || options.eventName.empty()) {
        error = "-f and -e are required";
        return false;
    }
    return true;
}
