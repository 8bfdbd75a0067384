// The command line checked against the commands' declarations, and the usage text written from
// them; no network.
#include "CommandLine.h"
#include "CommandTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ParsedLine Parse(const std::vector<std::string>& words) {
    return ParseCommandLine(words, CommandTable());
}

TEST(CommandLine, TheWordsOfACommandBecomeItsTypedLine) {
    const ParsedLine set = Parse({"-a", "10.0.0.1", "set", "KPL0000001", "-i", "10.0.0.9", "-d",
                                  "ON", "-i", "10.0.0.10", "-a", "10.1.0.0/24", "-k", "-"});
    ASSERT_EQ(set.kind, ParsedLine::Run) << set.message;
    EXPECT_EQ(set.line.command, "set");
    EXPECT_EQ(set.line.serials, std::vector<std::string>{"KPL0000001"});
    EXPECT_EQ(set.line.ip, "10.0.0.10"); // the later value counts
    EXPECT_EQ(set.line.dhcp, true);
    EXPECT_FALSE(set.line.crypt.has_value());
    EXPECT_EQ(set.line.key, "-");
    EXPECT_EQ(set.line.addresses, (std::vector<std::string>{"10.0.0.1", "10.1.0.0/24"}));

    // -a among the options of every command; one range of -j for every command that takes it.
    const ParsedLine fwupdate = Parse({"fwupdate", "KPL0000001", "KPL0000002", "-f", "fw.enc", "-a",
                                       "10.1.0.0/24", "-j", "1024", "--json"});
    ASSERT_EQ(fwupdate.kind, ParsedLine::Run) << fwupdate.message;
    EXPECT_EQ(fwupdate.line.serials.size(), 2u);
    EXPECT_EQ(fwupdate.line.firmwareFile, "fw.enc");
    EXPECT_EQ(fwupdate.line.addresses, std::vector<std::string>{"10.1.0.0/24"});
    EXPECT_EQ(fwupdate.line.jobs, 1024u);
    EXPECT_TRUE(fwupdate.line.json);
    const ParsedLine apply = Parse({"apply", "site.json", "-j", "1000", "--dry-run"});
    ASSERT_EQ(apply.kind, ParsedLine::Run) << apply.message;
    EXPECT_EQ(apply.line.planFile, "site.json");
    EXPECT_EQ(apply.line.jobs, 1000u);
    EXPECT_TRUE(apply.line.dryRun);
    EXPECT_EQ(Parse({"show", "--all", "-a", "10.0.0.5"}).line.all, true);
}

TEST(CommandLine, MisuseIsOneLineThatSaysWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> misuses = {
        {{"apply"}, "apply needs a file of configurations (from show --all --json)"},
        {{"apply", "site.json", "--bogus"}, "apply has no option \"--bogus\""},
        {{"apply", "site.json", "-j", "1025"}, "-j 1025 is not a number of devices from 1 to 1024"},
        {{"fwupdate", "S", "-f", "F", "-j", "0"}, "-j 0 is not a number of devices from 1 to 1024"},
        {{"fwupdate", "-f", "F"}, "fwupdate needs the serial number of a device (or --all)"},
        {{"fwupdate", "S", "--all", "-f", "F"},
         "fwupdate takes the serial number of a device or --all, not both"},
        {{"show", "S", "extra"}, "show takes no argument \"extra\" after the serial number"},
        {{"set", "S", "-d", "on", "-k", "0011"},
         "-k 0011 is not a crypt key (32 hexadecimal digits, or - to read it from standard input)"},
        {{"set", "S", "-i", "10.0.0.1", "-a"}, "option -a needs a value"},
        {{"list", "-a", "host.example"},
         "-a host.example is neither an IPv4 address nor a range A.B.C.D/NN"},
    };
    for (const auto& [words, message] : misuses) {
        const ParsedLine parsed = Parse(words);
        EXPECT_EQ(parsed.kind, ParsedLine::Misuse) << message;
        EXPECT_EQ(parsed.message, message);
    }
    // A well-formed line with a serial number for more than one device is refused, not misuse.
    const ParsedLine wildcard = Parse({"show", "KPL*"});
    EXPECT_EQ(wildcard.kind, ParsedLine::Refused);
    EXPECT_EQ(wildcard.message, "Error: KPL* is not the serial number of one device (it holds '*' "
                                "or a character outside printable ASCII)\n");
}

// The classic eight lines first, byte for byte; then every form and option of the tables.
TEST(CommandLine, TheUsageTextIsWrittenFromTheTables) {
    const CommandTable table;
    const std::string usage = UsageText("lancfg", table);
    const std::string classic =
        "lancfg list\n"
        "\tlist all devices in local network\n"
        "lancfg fwupdate <serial-number> -f <firmware-file> [-k crypt_key]\n"
        "\tupdate firmware of one device\n"
        "lancfg set <serial-number> [-i <ip>] [-n <netmask>] [-g <gateway>] [-d <dhcp_flag>] "
        "[-y <crypt_flag>] [-k crypt_key]\n"
        "\tset configuration parameters of one device\n"
        "lancfg show <serial-number>\n"
        "\tshow configuration parameters of one device\n";
    EXPECT_EQ(usage.substr(0, classic.size()), classic);
    for (const auto& command : table.Commands()) {
        for (const OptionWord& option : command->Syntax().options)
            EXPECT_NE(usage.find("\t" + std::string(option.word) + " "), std::string::npos)
                << option.word;
        EXPECT_GE(command->Syntax().forms.size(), 1u);
    }
    EXPECT_NE(usage.find("lancfg fwupdate <serial-number>... -f <firmware-file> [-k crypt_key] "
                         "[-j <jobs>] [--json] [--verify]\n"),
              std::string::npos);
    EXPECT_NE(usage.find("lancfg apply <file> [--dry-run] [--json] [-j <jobs>] [-k crypt_key]\n"),
              std::string::npos);
}

} // namespace
