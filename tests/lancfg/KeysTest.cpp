#include "LancfgRun.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>
#include <string>

using namespace simtest;

namespace {

class KeysTest : public SimTest {
protected:
    void SetUp() override {
        char dir[] = "/tmp/keystestXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
        environment = {{"XDG_CONFIG_HOME", folder}};
        mkdir((folder + "/velantrix-konfigurator").c_str(), 0700);
        keysFile = folder + "/velantrix-konfigurator/keys";
        StartWith({CryptDevice()});
    }
    void TearDown() override {
        SimTest::TearDown();
        std::system(("rm -rf '" + folder + "'").c_str());
    }
    void WriteKeys(const std::string& text, mode_t mode) {
        std::ofstream(keysFile) << text;
        chmod(keysFile.c_str(), mode);
    }
    LancfgRun Set(const std::string& dhcp, const std::vector<std::string>& more = {}) {
        std::vector<std::string> words{"set", kCryptSerial, "-d", dhcp};
        words.insert(words.end(), more.begin(), more.end());
        return RunTool(words, environment);
    }
    // set with the key read from standard input.
    LancfgRun SetWithKeyOnInput(const std::string& input) {
        return RunTool({"set", kCryptSerial, "-d", "on", "-k", "-"}, environment, input);
    }
    std::string folder, keysFile;
    LancfgEnvironment environment;
};

TEST_F(KeysTest, TheKeysFileIsUsedOnlyWhenPrivateAndNeverPrinted) {
    WriteKeys("# site keys\nKPL0000009 " + kWrongKeyText + "\n" + kCryptSerial + " " +
                  kKeyText + "\n",
              0644);
    LancfgRun r = Set("on");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: the keys file " + keysFile +
                         " is accessible by others (mode 0644); it is not used until only its "
                         "owner may read and write it (chmod 600)\n");
    EXPECT_EQ(Commands(), "");

    if (geteuid() == 0) { // a file of another user is refused as well
        chmod(keysFile.c_str(), 0600);
        ASSERT_EQ(chown(keysFile.c_str(), 65534, 65534), 0);
        r = Set("on");
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, "Error: the keys file " + keysFile +
                             " belongs to another user; it is not used\n");
        ASSERT_EQ(chown(keysFile.c_str(), 0, 0), 0);
    }

    chmod(keysFile.c_str(), 0600);
    r = Set("on");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "KPL0000002 was updated successfully\n"
                     "KPL0000002 is rebooting for the changes to become active...\n");

    WriteKeys(kCryptSerial + " " + kWrongKeyText + "\n", 0600);
    sleep(1); // the device restarts
    r = Set("off");
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.out, "the key from " + keysFile +
                         " is probably the wrong crypt key for KPL0000002\n");

    // LANCFG_KEY goes before the file, and -k before both.
    environment["LANCFG_KEY"] = kWrongKeyText;
    WriteKeys(kCryptSerial + " " + kKeyText + "\n", 0600);
    r = Set("off");
    EXPECT_EQ(r.out, "the key from LANCFG_KEY is probably the wrong crypt key for KPL0000002\n");
    r = Set("off", {"-k", kWrongKeyText});
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

// A key text that is not 32 hexadecimal digits would switch the encryption off or be rejected:
// refused before anything is sent, naming where it came from but not the key.
TEST_F(KeysTest, AKeyThatIsNot32HexDigitsIsRefusedBeforeAnythingIsSent) {
    LancfgRun r = SetWithKeyOnInput("zz\n");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Error: the key from standard input is not 32 hexadecimal digits\n");
    environment["LANCFG_KEY"] = "0011";
    r = Set("on");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Error: the key from LANCFG_KEY is not 32 hexadecimal digits\n");
    environment.erase("LANCFG_KEY");
    WriteKeys("KPL0000009 " + kKeyText + "\n" + kCryptSerial + " ZZ" + kKeyText.substr(2) + "\n",
              0600);
    r = Set("on");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: the keys file " + keysFile + ", line 2: the key for " + kCryptSerial +
                         " is not 32 hexadecimal digits\n");
    EXPECT_EQ(Commands(), "");
}

// An empty LANCFG_KEY is no key: the keys file gives it. A keys file is read up to 64 KiB only.
TEST_F(KeysTest, AnEmptyVariableLeavesTheKeysFileAndALargeFileIsRefused) {
    WriteKeys(kCryptSerial + " " + kKeyText + "\n", 0600);
    environment["LANCFG_KEY"] = "";
    LancfgRun r = Set("on");
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(truncate(keysFile.c_str(), 1LL << 30), 0); // sparse: costs no disk
    r = Set("off");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Error: the keys file " + keysFile + " is larger than 64 KiB; it is not used\n");
    EXPECT_EQ(Commands(), "INcC*");
}

} // namespace
