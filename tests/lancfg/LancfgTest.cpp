// The console tool, run in-process on a stream of its own and as the real program, against the
// simulator inside a private network namespace. Exact output and exit codes are compared.
#include "CommandTable.h"
#include "LancfgRun.h"
#include "LanProtocol.h"
#include "ProgressPrinter.h"
#include "SimFixture.h"
#include "SimNetwork.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace simtest;
using lanproto::PrintableText;

extern char** environ;

namespace {

const std::string kData = VK_SOURCE_DIR "/tests/data/firmware/";

using Outcome = LancfgRun;

Outcome Lancfg(std::vector<std::string> words) { return RunTool(std::move(words)); }

// Runs the built program and collects its standard output and exit status.
Outcome LancfgProgram(const std::vector<std::string>& words, std::string* err = nullptr) {
    std::string program = VK_BIN_DIR "/lancfg";
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copy = words;
    for (auto& w : copy)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return {-100, "", ""};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0)
        return {-100, "", ""};
    auto drain = [](int fd) {
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            text.append(buf, static_cast<size_t>(n));
        close(fd);
        return text;
    };
    std::string out = drain(outPipe[0]);
    std::string errText = drain(errPipe[0]);
    if (err)
        *err = errText;
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -101, out, errText};
}

std::string Usage(const std::string& program) {
    return UsageText(program, CommandTable());
}

class LancfgTest : public SimTest {};

// What the simulator holds for a device now.
lanifsim::SimDevice Stored(const lanifsim::Simulator& sim, const std::string& serial) {
    lanifsim::SimDevice d;
    EXPECT_TRUE(sim.GetDevice(serial, &d)) << serial;
    return d;
}

TEST_F(LancfgTest, MisuseHelpAndVersionPrintTheUsageOrVersionAndNeverReachTheNetwork) {
    StartWith({PlainDevice()});
    const std::vector<std::vector<std::string>> misuses = {
        {},
        {"lst"},
        {"List"},
        {"list", "extra"},
        {"show"},
        {"show", kPlainSerial, "extra"},
        {"set"},
        {"set", kPlainSerial, "-i"},
        {"set", kPlainSerial, "-x", "1"},
        {"set", kPlainSerial, "-f", "file"},
        {"fwupdate", kPlainSerial},
        {"fwupdate", kPlainSerial, "-k", kKeyText},
        {"fwupdate", kPlainSerial, "-f", "x", "-i", "1.2.3.4"},
        {"list", "-a", "10.1.2"},
        {"-a", "host.example", "show", kPlainSerial},
        {"set", kPlainSerial, "--json"},
        {"list", "--json", "extra"},
        {"--help", "list"},
        {"list", "--version"},
        {"apply"},
        {"apply", "site.json", "--bogus"},
        {"apply", "site.json", "-j", "1025"},
        {"fwupdate", kPlainSerial, "-f", "x", "-j", "0"},
        {"set", kPlainSerial, "-d", "on", "-k", "0011"},
        {"-a"},
    };
    for (const auto& words : misuses) {
        Outcome r = Lancfg(words);
        EXPECT_EQ(r.code, 2) << words.size();
        EXPECT_EQ(r.out, Usage("lancfg"));
        // One line on standard error says what was wrong.
        EXPECT_TRUE(r.err.rfind("Error: ", 0) == 0 &&
                    std::count(r.err.begin(), r.err.end(), '\n') == 1)
            << r.err;
    }
    EXPECT_EQ(Lancfg({"lst"}).err.rfind("Error: unknown command \"lst\" (the commands are list, "
                                        "show, set, fwupdate, apply",
                                        0),
              0u);
    EXPECT_EQ(Lancfg({"set", kPlainSerial, "-i"}).err, "Error: option -i needs a value\n");
    EXPECT_EQ(Lancfg({"fwupdate", kPlainSerial}).err,
              "Error: fwupdate needs the firmware file: -f <firmware-file>\n");
    EXPECT_EQ(Lancfg({"apply"}).err,
              "Error: apply needs a file of configurations (from show --all --json)\n");
    EXPECT_EQ(Lancfg({"apply", "site.json", "-j", "1025"}).err,
              "Error: -j 1025 is not a number of devices from 1 to 1024\n");
    EXPECT_EQ(Lancfg({"list", "-a", "10.1.2"}).err,
              "Error: -a 10.1.2 is neither an IPv4 address nor a range A.B.C.D/NN\n");
    // Asked for on their own, the usage text and the version are answers, not misuse.
    Outcome r = Lancfg({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, Usage("lancfg"));
    EXPECT_EQ(Lancfg({"-h"}).out, Usage("lancfg"));
    r = Lancfg({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "lancfg " VK_PRODUCT_VERSION "\n");
    EXPECT_EQ(r.err + Commands(), "");
}

TEST_F(LancfgTest, ListPrintsOneLinePerDevice) {
    auto dhcpCrypt = PlainDevice("KPL0000005");
    dhcpCrypt.dhcp = true;
    dhcpCrypt.crypt = true;
    StartWith({PlainDevice(), BootloaderDevice(), LoopbackDevice(), dhcpCrypt});
    Outcome r = Lancfg({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "KPL0000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN\n"
              "KPL0000003  0.010 Maintenance \n"
              "KPL0000004  1.234 Run n/a/n/a GW=n/a STAT PLAIN\n"
              "KPL0000005  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 DHCP CRYPT\n");
    // Only running devices are asked for their addresses, all at the same time.
    std::string letters = Commands();
    std::sort(letters.begin(), letters.end());
    EXPECT_EQ(letters, "INNNccc");
}

TEST_F(LancfgTest, ListWithoutDevicesPrintsNothing) {
    StartWith({});
    Outcome r = Lancfg({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(LancfgTest, ShowStaticAndDhcpConfigurations) {
    auto dhcp = PlainDevice("KPL0000005");
    dhcp.dhcp = true;
    dhcp.currentIp = {10, 0, 0, 77};
    dhcp.crypt = true;
    StartWith({PlainDevice(), dhcp});
    Outcome r = Lancfg({"show", kPlainSerial});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "KPL0000001 configuration parameters:\n"
                     "  Static IP:       192.168.1.50\n"
                     "  Static Netmask:  255.255.255.0\n"
                     "  Static Gateway:  192.168.1.1\n"
                     "  DHCP:            Off\n"
                     "  Lan Encryption:  Off\n");
    r = Lancfg({"show", "KPL0000005"});
    EXPECT_EQ(r.out, "KPL0000005 configuration parameters:\n"
                     "  DHCP IP:         10.0.0.77\n"
                     "  DHCP Netmask:    255.255.255.0\n"
                     "  DHCP Gateway:    192.168.1.1\n"
                     "  DHCP:            On\n"
                     "  Lan Encryption:  On\n");
}

TEST_F(LancfgTest, ShowReportsAMissingDeviceAndAnUnreadableConfiguration) {
    auto d = PlainDevice();
    d.dropFirstReplyTo = "c";
    StartWith({d});
    Outcome r = Lancfg({"show", "KPLMISSING"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "Error: Lan Interface KPLMISSING not found on LAN.\n");
    // Others answered: the cable is fine, the serial number is not.
    EXPECT_EQ(r.err, "1 LAN interface answered, none with the serial number KPLMISSING; "
                     "`lancfg list` shows them.\n");
    r = Lancfg({"show", "kpl0000001"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.err, "1 LAN interface answered, none with the serial number kpl0000001; "
                     "`lancfg list` shows them. Did you mean KPL0000001? Serial numbers are "
                     "compared with their letter case.\n");
    r = Lancfg({"show", kPlainSerial});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "Error reading configuration from Lan Interface KPL0000001.\n");
}

TEST_F(LancfgTest, SetWritesTheOptionsAndKeepsTheRest) {
    StartWith({PlainDevice()});
    Outcome r = Lancfg({"set", kPlainSerial, "-i", "10.0.0.9", "-g", "10.0.0.1", "-d", "ON", "-y",
                        "Off", "-i", "10.0.0.10"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "KPL0000001 was updated successfully\n");
    lanifsim::SimDevice after;
    ASSERT_TRUE(sim.GetDevice(kPlainSerial, &after));
    EXPECT_EQ(after.staticIp, (lanifsim::Address{10, 0, 0, 10})); // the later value counts
    EXPECT_EQ(after.staticGateway, (lanifsim::Address{10, 0, 0, 1}));
    EXPECT_EQ(after.staticNetmask, (lanifsim::Address{255, 255, 255, 0}));
    EXPECT_EQ(after.staticAddress4, (lanifsim::Address{10, 0, 0, 4}));
    EXPECT_TRUE(after.dhcp);
    EXPECT_FALSE(after.crypt);
    EXPECT_EQ(Commands(), "INcCc");
}

TEST_F(LancfgTest, SetRefusesValuesItCannotWriteAsTypedAndSendsNothing) {
    StartWith({PlainDevice()});
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"-i", "300.1.1.1"}, "-i 300.1.1.1 is not an IPv4 address"},
        {{"-i", "hello"}, "-i hello is not an IPv4 address"},
        {{"-g", "1.2.3.4.5"}, "-g 1.2.3.4.5 is not an IPv4 address"},
        {{"-i", "192.168.1"}, "-i 192.168.1 is not an IPv4 address"},
        {{"-n", "255.255.255.00"}, "-n 255.255.255.00 is not an IPv4 address"},
        {{"-d", "1"}, "-d 1 is neither on nor off"},
        {{"-d", "yes"}, "-d yes is neither on nor off"},
        {{"-i", "10.0.0.9", "-y", "maybe"}, "-y maybe is neither on nor off"},
        {{}, "set without -i, -n, -g, -d or -y changes nothing"},
        {{"-k", kKeyText}, "set without -i, -n, -g, -d or -y changes nothing"},
    };
    for (const auto& [options, reason] : refused) {
        std::vector<std::string> words{"set", kPlainSerial};
        words.insert(words.end(), options.begin(), options.end());
        Outcome r = Lancfg(words);
        EXPECT_EQ(r.code, 2) << reason;
        EXPECT_EQ(r.out, Usage("lancfg"));
        EXPECT_EQ(r.err.rfind("Error: " + reason, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(Commands(), ""); // nothing reached the device
    // The flags in any letter case.
    EXPECT_EQ(Lancfg({"set", kPlainSerial, "-d", "oN", "-y", "ON"}).code, 0);
    EXPECT_TRUE(Stored(sim, kPlainSerial).dhcp && Stored(sim, kPlainSerial).crypt);
    EXPECT_EQ(Lancfg({"set", kPlainSerial, "-d", "OFF", "-i", "0.0.0.0"}).code, 0);
    EXPECT_FALSE(Stored(sim, kPlainSerial).dhcp);
}

TEST_F(LancfgTest, SetWithTheKeyOnADeviceThatRestarts) {
    StartWith({CryptDevice()});
    Outcome r = Lancfg({"set", kCryptSerial, "-k", kKeyText, "-n", "255.255.0.0"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "KPL0000002 was updated successfully\n"
                     "KPL0000002 is rebooting for the changes to become active...\n");
    EXPECT_EQ(Commands(), "INcC*");
}

TEST_F(LancfgTest, SetKeyErrors) {
    StartWith({CryptDevice()});
    Outcome r = Lancfg({"set", kCryptSerial, "-d", "off"});
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out, "You need to specify KPL0000002s crypt key with \"-k\"\n");
    r = Lancfg({"set", kCryptSerial, "-k", kWrongKeyText, "-d", "off"});
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out, kWrongKeyText + " is probably the wrong crypt key for KPL0000002\n");
}

TEST_F(LancfgTest, SetFailures) {
    auto refused = PlainDevice();
    refused.writeConfigCode = 0;
    StartWith({refused});
    Outcome r = Lancfg({"set", kPlainSerial, "-i", "1.2.3.4"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "Updating KPL0000001 failed\n");
    r = Lancfg({"set", "KPLMISSING", "-d", "on"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "Error: Lan Interface KPLMISSING not found on LAN.\n");
}

TEST_F(LancfgTest, FwupdatePrintsTheProgressLineAndTheOutcome) {
    StartWith({BootloaderDevice()});
    Outcome r = Lancfg({"fwupdate", kBootSerial, "-f", kData + "TwoRecords.hex"});
    EXPECT_EQ(r.code, 0);
    const std::string bar = "\r[Performing update                               ]: ";
    EXPECT_EQ(r.out, bar + "  0% done" + bar + " 55% done" + bar + "100% done\n" +
                         "KPL0000003 was updated successfully\n");

    r = Lancfg({"fwupdate", kBootSerial, "-f", kData + "BrokenTruncatedRecord.hex"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "\nUpdating KPL0000003 failed\n");

    r = Lancfg({"fwupdate", "KPLMISSING", "-f", kData + "TwoRecords.hex"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "Error: Lan Interface KPLMISSING not found on LAN.\n");
}

TEST_F(LancfgTest, FwupdateKeyErrors) {
    StartWith({CryptDevice()});
    Outcome r = Lancfg({"fwupdate", kCryptSerial, "-f", kData + "TwoRecords.hex"});
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out, "\nYou need to specify KPL0000002s crypt key with \"-k\"\n");
    r = Lancfg({"fwupdate", kCryptSerial, "-k", kWrongKeyText, "-f", kData + "TwoRecords.hex"});
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out, "\n" + kWrongKeyText + " is probably the wrong crypt key for KPL0000002\n");
}

TEST_F(LancfgTest, FwupdateSaysWhyAFileIsRefused) {
    StartWith({PlainDevice()});
    char dir[] = "/tmp/lancfg-fw-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/fifo.hex";
    const std::string huge = std::string(dir) + "/huge.hex";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    {
        std::FILE* f = std::fopen(huge.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        ASSERT_EQ(truncate(huge.c_str(), 200'000'000), 0); // sparse: costs no disk
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {kData + "NoSuchFile.hex", "not found"},
        {"/dev/zero", "not a regular file"},
        {fifo, "not a regular file"},
        {dir, "not a regular file"},
        {huge, "too large (200000000 bytes; a firmware file holds at most 134479874)"},
        {kData + "BrokenEmpty.hex", "holds no record"},
        {kData + "BrokenNonHexDigit.hex", "bad character at byte 18"},
        {kData + "BrokenTruncatedRecord.hex", "record at byte 11 cut short"},
        {kData + "BrokenRecordTooLong.hex", "record at byte 1 longer than 1024 bytes"},
    };
    for (const auto& [file, reason] : cases) {
        Outcome r = Lancfg({"fwupdate", kPlainSerial, "-f", file});
        EXPECT_EQ(r.code, -1) << file;
        EXPECT_EQ(r.out, "\nUpdating KPL0000001 failed\n") << file;
        EXPECT_EQ(r.err, "Firmware file " + file + ": " + reason + "\n");
    }
    EXPECT_EQ(Commands(), std::string(cases.size(), 'I')); // the device never left its work
    std::remove(fifo.c_str());
    std::remove(huge.c_str());
    rmdir(dir);
}

TEST_F(LancfgTest, ASerialNumberForMoreThanOneDeviceIsRefusedAndNothingIsSent) {
    StartWith({PlainDevice(), CryptDevice()});
    for (const std::string serial : {"*", "KPL*", "KPL\x1b[2J"}) {
        for (const auto& words : std::vector<std::vector<std::string>>{
                 {"show", serial},
                 {"set", serial, "-i", "10.9.9.9"},
                 {"fwupdate", serial, "-f", kData + "TwoRecords.hex"}}) {
            Outcome r = Lancfg(words);
            EXPECT_EQ(r.code, 2) << serial;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "Error: " + PrintableText(serial) +
                                 " is not the serial number of one device (it holds '*' or a "
                                 "character outside printable ASCII)\n");
        }
    }
    EXPECT_EQ(Commands(), "");
}

TEST_F(LancfgTest, ListPrintsBytesFromTheNetworkAsVisibleEscapes) {
    // A hostile device: a serial number that clears the screen, rings the bell and holds the
    // wildcard, which must not make the reads of its row reach the other device.
    auto hostile = PlainDevice(std::string("\x1b[2J*\x07\xff", 7));
    StartWith({hostile, PlainDevice()});
    Outcome r = Lancfg({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "\\x1b[2J*\\x07\\xff  1.234 Run ?/? GW=? ? ?\n"
              "KPL0000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN\n");
    EXPECT_EQ(Commands(), "INc");
}

TEST_F(LancfgTest, ADeviceAtAnAddressBeginningWith3IsReadLikeAnyOther) {
    // Its status and configuration replies carry a 3 where a challenge has its code.
    auto plain = PlainDevice(kBootSerial);
    plain.currentIp = plain.staticIp = {3, 1, 2, 3};
    plain.currentGateway = plain.staticGateway = {3, 1, 2, 1};
    auto crypt = CryptDevice(); // wants the key for every request, reads included
    crypt.challengeReads = true;
    crypt.currentIp = crypt.staticIp = {3, 1, 2, 3};
    StartWith({plain, crypt});
    Outcome r = Lancfg({"list"});
    EXPECT_EQ(r.out, "KPL0000003  1.234 Run 3.1.2.3/255.255.255.0 GW=3.1.2.1 STAT PLAIN\n"
                     "KPL0000002  1.234 Run ?/? GW=? ? ?\n"); // not read: unknown, never PLAIN
    r = Lancfg({"show", kBootSerial});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "KPL0000003 configuration parameters:\n"
                     "  Static IP:       3.1.2.3\n"
                     "  Static Netmask:  255.255.255.0\n"
                     "  Static Gateway:  3.1.2.1\n"
                     "  DHCP:            Off\n"
                     "  Lan Encryption:  Off\n");
    // A real challenge is never taken for the configuration: the device wants its key.
    r = Lancfg({"show", kCryptSerial});
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out, "You need to specify KPL0000002s crypt key with \"-k\"\n");
    r = Lancfg({"show", kCryptSerial, "-k", kWrongKeyText});
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out, kWrongKeyText + " is probably the wrong crypt key for KPL0000002\n");
    r = Lancfg({"show", kCryptSerial, "-k", kKeyText});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, 64), "KPL0000002 configuration parameters:\n"
                                   "  Static IP:       3.1.2.3\n");

    r = Lancfg({"set", kBootSerial, "-g", "3.1.2.254"});
    EXPECT_EQ(r.out, "KPL0000003 was updated successfully\n");
    r = Lancfg({"set", kBootSerial, "-k", kKeyText, "-i", "3.1.2.9"});
    EXPECT_EQ(r.out, "KPL0000003 was updated successfully\n");
    EXPECT_EQ(Stored(sim, kBootSerial).staticIp, (lanifsim::Address{3, 1, 2, 9}));
    EXPECT_EQ(Stored(sim, kBootSerial).staticGateway, (lanifsim::Address{3, 1, 2, 254}));
    // The key opens the reads as well as the write.
    r = Lancfg({"set", kCryptSerial, "-k", kKeyText, "-i", "3.1.2.8"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "KPL0000002 was updated successfully\n"
                     "KPL0000002 is rebooting for the changes to become active...\n");
    EXPECT_EQ(Stored(sim, kCryptSerial).staticIp, (lanifsim::Address{3, 1, 2, 8}));
    EXPECT_TRUE(Stored(sim, kCryptSerial).crypt);
}

TEST_F(LancfgTest, ListIsBoundedByItsWindowsNotByDevicesThatFallSilent) {
    // One host answers the search for ten serial numbers, then answers nothing.
    std::vector<lanifsim::SimDevice> ghosts;
    for (int i = 0; i < 10; ++i) {
        auto d = PlainDevice("KPG000000" + std::to_string(i));
        d.answersOnlySearch = true;
        ghosts.push_back(d);
    }
    StartWith(ghosts);
    const auto start = std::chrono::steady_clock::now();
    Outcome r = Lancfg({"list"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 10);
    EXPECT_EQ(r.out.substr(0, 35), "KPG0000000  1.234 Run ?/? GW=? ? ?\n");
    // The search window (2 s) and one reply window (2 s), not two reply windows per device.
    EXPECT_GE(took, std::chrono::milliseconds(3900));
    EXPECT_LT(took, std::chrono::milliseconds(6000));
}

TEST(ProgressPrinter, OverwritesTheLine) {
    std::ostringstream out;
    ProgressPrinter printer(out);
    printer.OnProgress(7, "Waiting for device to enter bootloader");
    EXPECT_EQ(out.str(), "\r[Waiting for device to enter bootloader          ]:   7% done");
}

// The real program: exit statuses as the shell sees them, and nothing on standard error.
TEST_F(LancfgTest, TheProgramExitsWith0_255_254_And2) {
    StartWith({PlainDevice(), CryptDevice()});
    std::string err;
    Outcome r = LancfgProgram({"show", kPlainSerial}, &err);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, 36), "KPL0000001 configuration parameters:");
    EXPECT_EQ(err, "");
    r = LancfgProgram({"show", "KPLMISSING"}, &err);
    EXPECT_EQ(r.code, 255);
    r = LancfgProgram({"set", kCryptSerial, "-d", "off"}, &err);
    EXPECT_EQ(r.code, 254);
    EXPECT_EQ(r.out, "You need to specify KPL0000002s crypt key with \"-k\"\n");
    r = LancfgProgram({}, &err);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, Usage(VK_BIN_DIR "/lancfg"));
    EXPECT_EQ(err, "Error: no command given\n");
}

// Several networks: simulators in namespaces of their own, each linked to the test's namespace
// by a virtual Ethernet link (see SimNetwork.h).
namespace several {

using lanifsim::SimNetwork;

std::string Letters(const lanifsim::Simulator& sim) {
    std::string letters;
    for (const auto& r : sim.Requests())
        letters += r.command;
    return letters;
}

std::vector<std::string> Datagrams(const lanifsim::Simulator& sim) {
    std::vector<std::string> bytes;
    for (const auto& r : sim.Requests())
        bytes.push_back(r.bytes);
    return bytes;
}

std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

class LancfgNetworks : public SimTest {
protected:
    void Link(SimNetwork& network, const std::vector<lanifsim::SimDevice>& devices, int links = 1) {
        ASSERT_TRUE(network.Start(devices, links)) << network.LastError();
    }
    // Networks vkd0.. (10.88.n.1/24) on veth pairs with nothing behind them.
    void AddEmptyNetworks(int count) {
        for (int n = 0; n < count; ++n) {
            const std::string index = std::to_string(n);
            ASSERT_EQ(std::system(("ip link add vkd" + index + " type veth peer name vkp" + index +
                                   " && ip addr add 10.88." + index + ".1/24 dev vkd" + index +
                                   " && ip link set vkp" + index + " up && ip link set vkd" +
                                   index + " multicast on up")
                                      .c_str()),
                      0);
        }
    }
    SimNetwork first{1};
    SimNetwork second{2};
};

TEST_F(LancfgNetworks, ListShowsTheDevicesOfEveryNetwork) {
    Link(first, {PlainDevice("KPN1000001"), BootloaderDevice()});
    Link(second, {PlainDevice("KPN2000001")});
    Outcome r = Lancfg({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(SortedLines(r.out),
              (std::vector<std::string>{
                  "KPL0000003  0.010 Maintenance ",
                  "KPN1000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN",
                  "KPN2000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN"}));
    EXPECT_EQ(r.err, "");
}

TEST_F(LancfgNetworks, ADeviceOnTheSecondNetworkGetsTheRequestsOfOneNetworkOnce) {
    const std::string firmware = kData + "TwoRecords.hex";
    auto run = [&] {
        std::string out = Lancfg({"show", kPlainSerial}).out;
        out += Lancfg({"set", kPlainSerial, "-i", "10.0.0.9", "-y", "on"}).out;
        out += Lancfg({"fwupdate", kBootSerial, "-f", firmware}).out;
        return out;
    };
    // The same commands against the same devices on the one loopback network first.
    StartWith({PlainDevice(), BootloaderDevice()});
    const std::string single = run();
    const std::vector<std::string> expected = Datagrams(sim);
    sim.Stop();

    Link(first, {PlainDevice("KPN1000001")});
    Link(second, {PlainDevice(), BootloaderDevice()});
    EXPECT_EQ(run(), single);
    EXPECT_EQ(Datagrams(second.Sim()), expected);
    EXPECT_EQ(Letters(second.Sim()), "INcINcCcIBUWW");
    // Only the searches for the serial numbers. The last one may still be on its way there, as
    // the search ended with the other network's answer.
    for (int i = 0; i < 100 && Letters(first.Sim()).size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Letters(first.Sim()), "III");
}

TEST_F(LancfgNetworks, NothingFoundNamesTheNetworksAskedOnStandardError) {
    Link(first, {});
    Link(second, {});
    const std::string line =
        "No LAN interface answered on lo (127.0.0.1), vklan1 (10.77.1.1), vklan2 (10.77.2.1). "
        "Check the cable, that no firewall blocks UDP port 23272, and for a device behind a "
        "router give its address with -a <ip>.\n";
    Outcome r = Lancfg({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, line);
    r = Lancfg({"set", "KPLMISSING", "-d", "on"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, "Error: Lan Interface KPLMISSING not found on LAN.\n");
    EXPECT_EQ(r.err, line);
}

// Many networks: the line names a few and counts the rest, so it stays one short line.
TEST_F(LancfgNetworks, NothingFoundOnManyNetworksNamesAFewAndCountsTheRest) {
    Link(first, {});
    Link(second, {});
    AddEmptyNetworks(3);
    const Outcome r = Lancfg({"list"});
    EXPECT_EQ(r.err, "No LAN interface answered on lo (127.0.0.1), vklan1 (10.77.1.1), vklan2 "
                     "(10.77.2.1), vkd0 (10.88.0.1) and 2 more networks. Check the cable, that no "
                     "firewall blocks UDP port 23272, and for a device behind a router give its "
                     "address with -a <ip>.\n");
}

// Out of descriptors part way through the networks: the search goes out on the first ones, and
// the messages name the networks it could not reach instead of counting them as asked.
TEST_F(LancfgNetworks, NetworksWithoutASocketAreNamedAsNotAsked) {
    Link(first, {PlainDevice()});
    Link(second, {});
    AddEmptyNetworks(3);
    // Runs lancfg with room for this many more descriptors: the networks are listed on one that is
    // closed again, then each socket takes one.
    auto withSockets = [](int sockets, std::vector<std::string> words) {
        rlimit saved{};
        EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit tight = saved;
        int free = 0;
        for (int fd = 0; free < sockets; ++fd)
            if (::fcntl(fd, F_GETFD) < 0)
                tight.rlim_cur = static_cast<rlim_t>(fd) + 1, ++free;
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        Outcome r = Lancfg(std::move(words));
        ::setrlimit(RLIMIT_NOFILE, &saved);
        return r;
    };
    // lo, vklan1 and vklan2 are asked; the device on vklan1 answers.
    const Outcome found = withSockets(3, {"list", "--json"});
    EXPECT_EQ(found.code, 0);
    EXPECT_NE(found.out.find("\"KPL0000001\""), std::string::npos) << found.out;
    EXPECT_EQ(found.err, "The search could not be sent on vkd0, vkd1, vkd2 (Too many open files); "
                         "devices there are not listed.\n");
    // Only lo is asked.
    const Outcome none = withSockets(1, {"list"});
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "The search could not be sent on vklan1, vklan2, vkd0, vkd1 and 1 more "
                        "networks (Too many open files); devices there are not listed.\n"
                        "No LAN interface answered on lo (127.0.0.1). Check the cable, that no "
                        "firewall blocks UDP port 23272, and for a device behind a router give "
                        "its address with -a <ip>.\n");
}

TEST_F(LancfgNetworks, DashAReachesADeviceByItsAddressOnly) {
    Link(first, {PlainDevice("KPN1000001")});
    Link(second, {PlainDevice(), PlainDevice("KPN2000002")});
    Outcome r = Lancfg({"show", kPlainSerial, "-a", second.DeviceAddress()});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, 36), "KPL0000001 configuration parameters:");
    r = Lancfg({"-a", second.DeviceAddress(), "list"});
    EXPECT_EQ(SortedLines(r.out),
              (std::vector<std::string>{
                  "KPL0000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN",
                  "KPN2000002  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN"}));
    EXPECT_EQ(Letters(first.Sim()), "");

    r = Lancfg({"show", "KPN1000001", "-a", second.DeviceAddress()});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.err, "2 LAN interfaces answered, none with the serial number KPN1000001; "
                     "`lancfg list` shows them.\n");
    r = Lancfg({"show", "KPN1000001", "-a", "10.77.2.9"}); // no host there
    EXPECT_EQ(r.err, "No LAN interface answered at 10.77.2.9. Check the address, the cable, and "
                     "that no firewall blocks UDP port 23272.\n");
}

TEST_F(LancfgNetworks, TwoPortsOnOneBridgedNetworkListEachDeviceOnce) {
    Link(first, {PlainDevice(), PlainDevice("KPN1000002")}, 2);
    Outcome r = Lancfg({"list"});
    EXPECT_EQ(SortedLines(r.out),
              (std::vector<std::string>{
                  "KPL0000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN",
                  "KPN1000002  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN"}));
}

TEST_F(LancfgNetworks, OneSerialAnsweringOnTwoNetworksIsTwoDevices) {
    Link(first, {PlainDevice()});
    Link(second, {PlainDevice()});
    Outcome r = Lancfg({"list"});
    const std::string line =
        "KPL0000001  1.234 Run 192.168.1.50/255.255.255.0 GW=192.168.1.1 STAT PLAIN\n";
    EXPECT_EQ(r.out, line + line);
}

// The text line of list, rebuilt from one object of list --json.
std::string LineOf(const QJsonObject& o) {
    auto text = [&](const char* name) {
        return o.value(name).isNull() ? std::string("n/a") : o.value(name).toString().toStdString();
    };
    char version[16];
    std::snprintf(version, sizeof version, "%6s", text("version").c_str());
    std::string line = text("serialNumber") + " " + version + " " + text("state") + " ";
    if (o.contains("ip"))
        line += text("ip") + "/" + text("netmask") + " GW=" + text("gateway") +
                (o.value("dhcp").toBool() ? " DHCP" : " STAT") +
                (o.value("encryption").toBool() ? " CRYPT" : " PLAIN");
    return line;
}

TEST_F(LancfgTest, JsonOfListAndShowHoldsWhatTheTextShows) {
    auto dhcp = PlainDevice("KPL0000005");
    dhcp.dhcp = true;
    dhcp.crypt = true;
    auto hostile = PlainDevice(std::string("KP\"\\\x1b\x01"
                                           "0007",
                                           10));
    StartWith({PlainDevice(), BootloaderDevice(), LoopbackDevice(), dhcp, hostile});
    const std::string text = Lancfg({"list"}).out;
    Outcome r = Lancfg({"list", "--json"});
    EXPECT_EQ(r.code, 0);
    QJsonParseError error{};
    QJsonDocument list = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    ASSERT_TRUE(list.isArray());
    std::string rebuilt;
    for (const QJsonValue& device : list.array())
        rebuilt += LineOf(device.toObject()) + "\n";
    EXPECT_EQ(rebuilt, text);
    EXPECT_EQ(list.array()[4].toObject().value("serialNumber").toString().toStdString(),
              "KP\"\\\\x1b\\x010007");
    EXPECT_TRUE(list.array()[3].toObject().value("dhcp").toBool());

    r = Lancfg({"show", "KPL0000004", "--json"});
    QJsonDocument show = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    EXPECT_EQ(show.object(), QJsonObject({{"serialNumber", "KPL0000004"},
                                          {"ip", "192.168.1.50"},
                                          {"netmask", "255.255.255.0"},
                                          {"gateway", "192.168.1.1"},
                                          {"dhcp", false},
                                          {"encryption", false},
                                          {"address", "127.0.0.1"},
                                          {"network", "lo"}}));
    r = Lancfg({"show", "KPLMISSING", "--json"});
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.out, ""); // the messages go to standard error, so out stays a document or empty
    EXPECT_EQ(r.err.substr(0, 50), "Error: Lan Interface KPLMISSING not found on LAN.\n");
}

} // namespace several

} // namespace
