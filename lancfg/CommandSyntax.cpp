#include "CommandSyntax.h"

#include "AddressRange.h"
#include "CommandLine.h"
#include "KeySource.h"

namespace {

bool IsJobs(const std::string& text) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long n = std::stoul(text);
    return n >= 1 && n <= SharedOptions::MaxJobs;
}

} // namespace

const OptionWord SharedOptions::Address{
    "-a",
    "<ip>[/<prefix>]",
    AddressRange::IsAddressOrRange,
    "is neither an IPv4 address nor a range A.B.C.D/NN",
    [](CommandLine& line, const std::string& value) { line.addresses.push_back(value); },
    "ask this address, or every address of the range (/22 to /32), instead of the\n"
    "local networks; may be given several times, before or after the command word",
    true};

const OptionWord SharedOptions::Json{
    "--json",
    nullptr,
    nullptr,
    nullptr,
    [](CommandLine& line, const std::string&) { line.json = true; },
    "print JSON; the messages go to standard error"};

const OptionWord SharedOptions::Key{
    "-k",
    "crypt_key",
    [](const std::string& value) { return value == "-" || KeySource::IsKeyText(value); },
    "is not a crypt key (32 hexadecimal digits, or - to read it from standard input)",
    [](CommandLine& line, const std::string& value) { line.key = value; },
    "the device's key, 32 hexadecimal digits; -k - reads it from standard input;\n"
    "without -k, LANCFG_KEY or the keys file ~/.config/velantrix-konfigurator/keys\n"
    "(lines: serial key) give it"};

const OptionWord SharedOptions::Jobs{
    "-j",
    "<jobs>",
    IsJobs,
    "is not a number of devices from 1 to 1024",
    [](CommandLine& line, const std::string& value) {
        line.jobs = static_cast<unsigned>(std::stoul(value));
    },
    "how many devices are handled at once: 1 to 1024 (by default 16; fwupdate: 64)"};

const OptionWord SharedOptions::All{"--all",
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    [](CommandLine& line, const std::string&) { line.all = true; },
                                    "every device a search finds, in the order of list"};

const OptionWord SharedOptions::NoInventory{
    "--no-inventory",
    nullptr,
    nullptr,
    nullptr,
    [](CommandLine& line, const std::string&) { line.noInventory = true; },
    "leave the remembered devices (~/.local/state/velantrix-konfigurator/\n"
    "inventory.json) as they are; so does LANCFG_NO_INVENTORY=1"};

const OptionWord* CommandSyntax::Find(const std::string& word) const {
    for (const OptionWord& option : options)
        if (word == option.word)
            return &option;
    return nullptr;
}
