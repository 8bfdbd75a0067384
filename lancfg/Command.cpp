#include "Command.h"

#include "DeviceSearch.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "MulticastSender.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <vector>

void Print(std::ostream& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, args);
        out.write(buf.data(), n);
    }
    va_end(args);
    out.flush();
}

bool IsOn(const std::string& value) {
    return value.size() >= 2 && (value[0] == 'o' || value[0] == 'O') &&
           (value[1] == 'n' || value[1] == 'N');
}

bool IsAddressText(const std::string& text) {
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        size_t digits = 0;
        unsigned value = 0;
        while (pos + digits < text.size() && digits < 4 &&
               std::isdigit(static_cast<unsigned char>(text[pos + digits]))) {
            value = value * 10 + static_cast<unsigned>(text[pos + digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[pos] == '0'))
            return false;
        pos += digits;
    }
    return pos == text.size();
}

bool ParseFlag(const std::string& text, bool* on) {
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != "on" && lower != "off")
        return false;
    if (on)
        *on = lower == "on";
    return true;
}

bool CommandOptions::Parse(const std::vector<std::string>& args, const std::string& allowed,
                           std::string* problem) {
    struct Slot {
        char letter;
        std::string* value;
        bool* present;
    };
    const Slot slots[] = {{'i', &ip, &hasIp},           {'n', &netmask, &hasNetmask},
                          {'g', &gateway, &hasGateway}, {'d', &dhcp, &hasDhcp},
                          {'y', &crypt, &hasCrypt},     {'k', &key, &hasKey},
                          {'f', &file, &hasFile}};
    for (size_t i = 2; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (option.size() != 2 || option[0] != '-' ||
            allowed.find(option[1]) == std::string::npos) {
            if (problem)
                *problem = args[0] + " has no option \"" + lanproto::PrintableText(option) + "\"";
            return false;
        }
        if (i + 1 >= args.size()) {
            if (problem)
                *problem = "option " + option + " needs a value";
            return false;
        }
        bool known = false;
        for (const Slot& slot : slots) {
            if (slot.letter == option[1]) {
                *slot.value = args[i + 1]; // a repeated option: the later value counts
                *slot.present = true;
                known = true;
            }
        }
        if (!known)
            return false;
    }
    return true;
}

void PrintNothingFound(CommandContext& context) {
    if (!context.addresses.empty()) {
        Print(context.err,
              "No LAN interface answered at the %zu addresses given with -a. Check the "
              "addresses, the cable, and that no firewall blocks UDP port %u.\n",
              context.addresses.size(), lanproto::Port);
        return;
    }
    if (!context.address.empty()) {
        Print(context.err,
              "No LAN interface answered at %s. Check the address, the cable, and that no "
              "firewall blocks UDP port %u.\n",
              context.address.c_str(), lanproto::Port);
        return;
    }
    // Only the networks the search went out on count as asked.
    std::vector<std::string> asked;
    for (const MulticastSender::Interface& network : MulticastSender::Interfaces())
        if (std::find(context.unasked.begin(), context.unasked.end(), network.name) ==
            context.unasked.end())
            asked.push_back(network.name + " (" + network.address + ")");
    if (asked.empty() && !context.unasked.empty()) {
        Print(context.err, "No LAN interface could answer: the search could not be sent on any "
                           "network.\n");
        return;
    }
    const std::string where = asked.empty()
                                  ? "(no network interface is up with an IPv4 address and multicast)"
                                  : "on " + NameAFew(asked);
    Print(context.err,
          "No LAN interface answered %s. Check the cable, that no firewall blocks UDP port %u, "
          "and for a device behind a router give its address with -a <ip>.\n",
          where.c_str(), lanproto::Port);
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
    auto lower = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    std::string hint;
    for (const LanInterface& device : devices) {
        const std::string found = device.SerialText();
        if (found != serial && lower(found) == lower(serial)) {
            hint = " Did you mean " + lanproto::PrintableText(found) +
                   "? Serial numbers are compared with their letter case.";
            break;
        }
    }
    Print(context.err,
          "%zu LAN interface%s answered, none with the serial number %s; `lancfg list` shows "
          "them.%s\n",
          devices.size(), devices.size() == 1 ? "" : "s", lanproto::PrintableText(serial).c_str(),
          hint.c_str());
}
