#include "LancfgRun.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

using namespace simtest;

namespace {

class KeysTest : public SimTest {
protected:
    void SetUp() override {
        char dir[] = "/tmp/keystestXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        unsetenv("LANCFG_KEY");
        mkdir((folder + "/velantrix-konfigurator").c_str(), 0700);
        keysFile = folder + "/velantrix-konfigurator/keys";
        StartWith({CryptDevice()});
    }
    void TearDown() override {
        SimTest::TearDown();
        unsetenv("LANCFG_KEY");
        std::system(("rm -rf '" + folder + "'").c_str());
    }
    void WriteKeys(const std::string& text, mode_t mode) {
        std::ofstream(keysFile) << text;
        chmod(keysFile.c_str(), mode);
    }
    // set with the key read from standard input.
    LancfgRun SetWithKeyOnInput(const std::string& input) {
        std::istringstream in(input);
        std::streambuf* saved = std::cin.rdbuf(in.rdbuf());
        LancfgRun r = RunTool({"set", kCryptSerial, "-d", "on", "-k", "-"});
        std::cin.rdbuf(saved);
        return r;
    }
    std::string folder, keysFile;
};

TEST_F(KeysTest, TheKeysFileIsUsedOnlyWhenPrivateAndNeverPrinted) {
    WriteKeys("# site keys\nKPL0000009 " + kWrongKeyText + "\n" + kCryptSerial + " " +
                  kKeyText + "\n",
              0644);
    LancfgRun r = RunTool({"set", kCryptSerial, "-d", "on"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: the keys file " + keysFile +
                         " is accessible by others (mode 0644); it is not used until only its "
                         "owner may read and write it (chmod 600)\n");
    EXPECT_EQ(Commands(), "");

    if (geteuid() == 0) { // a file of another user is refused as well
        chmod(keysFile.c_str(), 0600);
        ASSERT_EQ(chown(keysFile.c_str(), 65534, 65534), 0);
        r = RunTool({"set", kCryptSerial, "-d", "on"});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, "Error: the keys file " + keysFile +
                             " belongs to another user; it is not used\n");
        ASSERT_EQ(chown(keysFile.c_str(), 0, 0), 0);
    }

    chmod(keysFile.c_str(), 0600);
    r = RunTool({"set", kCryptSerial, "-d", "on"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "KPL0000002 was updated successfully\n"
                     "KPL0000002 is rebooting for the changes to become active...\n");

    WriteKeys(kCryptSerial + " " + kWrongKeyText + "\n", 0600);
    sleep(1); // the device restarts
    r = RunTool({"set", kCryptSerial, "-d", "off"});
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out, "the key from " + keysFile +
                         " is probably the wrong crypt key for KPL0000002\n");

    // LANCFG_KEY goes before the file, and -k before both.
    setenv("LANCFG_KEY", kWrongKeyText.c_str(), 1);
    WriteKeys(kCryptSerial + " " + kKeyText + "\n", 0600);
    r = RunTool({"set", kCryptSerial, "-d", "off"});
    EXPECT_EQ(r.out, "the key from LANCFG_KEY is probably the wrong crypt key for KPL0000002\n");
    r = RunTool({"set", kCryptSerial, "-d", "off", "-k", kWrongKeyText});
    EXPECT_EQ(r.out, kWrongKeyText + " is probably the wrong crypt key for KPL0000002\n");
}

TEST_F(KeysTest, KeyFromStandardInput) {
    LancfgRun r = SetWithKeyOnInput(kWrongKeyText + "\n");
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out,
              "the key from standard input is probably the wrong crypt key for KPL0000002\n");
    EXPECT_EQ(r.err, "");

    r = SetWithKeyOnInput(kKeyText + "\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "KPL0000002 was updated successfully\n"
                     "KPL0000002 is rebooting for the changes to become active...\n");

    r = SetWithKeyOnInput("");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Error: -k - found no key on the first line of standard input\n");
}

} // namespace
