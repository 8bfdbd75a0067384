#include "Command.h"

#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "MulticastSender.h"
#include "TextUtil.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

std::string FormatList(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0)
        return std::string();
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    return std::string(buf.data(), static_cast<size_t>(n));
}

} // namespace

void Print(std::ostream& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatList(format, args);
    va_end(args);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatList(format, args);
    va_end(args);
    return text;
}

bool ParseFlag(const std::string& text, bool* on) {
    const std::string lower = LowerText(text);
    if (lower != "on" && lower != "off")
        return false;
    if (on)
        *on = lower == "on";
    return true;
}

void PrintNothingFound(CommandContext& context) {
    if (!context.addresses.empty()) {
        Say<kNothingAtAddresses>(context, context.addresses.size(), lanproto::Port);
        return;
    }
    if (!context.address.empty()) {
        Say<kNothingAtAddress>(context, context.address.c_str(), lanproto::Port);
        return;
    }
    // Only the networks the search went out on count as asked.
    std::vector<std::string> asked;
    for (const MulticastSender::Interface& network : MulticastSender::Interfaces())
        if (std::find(context.unasked.begin(), context.unasked.end(), network.name) ==
            context.unasked.end())
            asked.push_back(network.name + " (" + network.address + ")");
    if (asked.empty() && !context.unasked.empty()) {
        Say<kNothingSent>(context);
        return;
    }
    const std::string where = asked.empty() ? kNoNetwork.format : "on " + NameAFew(asked);
    Say<kNothingAnswered>(context, where.c_str(), lanproto::Port);
}

std::string NameAFew(const std::vector<std::string>& names) {
    // A few by name, the rest as a count, so that a message stays one line.
    constexpr size_t Named = 4;
    std::string text;
    for (size_t n = 0; n < names.size() && n < Named; ++n)
        text += (text.empty() ? "" : ", ") + names[n];
    if (names.size() > Named)
        text += " and " + std::to_string(names.size() - Named) + " more networks";
    return text;
}

void PrintNotFound(CommandContext& context, const std::string& serial) {
    std::vector<LanInterface> devices;
    DiscoverDevices(context, devices);
    if (devices.empty()) {
        PrintNothingFound(context);
        return;
    }
    std::string hint;
    for (const LanInterface& device : devices) {
        const std::string found = device.SerialText();
        if (found != serial && LowerText(found) == LowerText(serial)) {
            hint = TextOf<kLetterCaseHint>(lanproto::PrintableText(found).c_str());
            break;
        }
    }
    Say<kOthersAnswered>(context, devices.size(), devices.size() == 1 ? "" : "s",
                         lanproto::PrintableText(serial).c_str(), hint.c_str());
}
