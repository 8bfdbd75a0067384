#include "Command.h"

#include "LanProtocol.h"
#include "MulticastSender.h"

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

bool CommandOptions::Parse(const std::vector<std::string>& args, const std::string& allowed) {
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
        if (i + 1 >= args.size() || option.size() != 2 || option[0] != '-' ||
            allowed.find(option[1]) == std::string::npos)
            return false;
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
    std::string asked;
    for (const MulticastSender::Interface& i : MulticastSender::Interfaces())
        asked += (asked.empty() ? "on " : ", ") + i.name + " (" + i.address + ")";
    if (asked.empty())
        asked = "(no network interface is up with an IPv4 address and multicast)";
    Print(context.err,
          "No LAN interface answered %s. Check the cable, that no firewall blocks UDP port %u, "
          "and for a device behind a router give its address with -a <ip>.\n",
          asked.c_str(), lanproto::Port);
}
