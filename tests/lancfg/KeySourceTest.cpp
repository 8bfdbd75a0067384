// Where the keys come from, without a device: the order of the sources, the default keys file,
// and the keys file's lines.
#include "KeySource.h"
#include "LanInterface.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

const std::string kKey = "000102030405060708090A0B0C0D0E0F";
const std::string kOther = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

KeySource::Environment Lookup(const std::map<std::string, std::string>& variables) {
    return [variables](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
}

TEST(KeySource, TheOptionThenTheVariableThenTheKeysFile) {
    char dir[] = "/tmp/keysourceXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/keys";
    std::ofstream(file) << "# site\n\n KPL0000001 " << kOther << "\nKPL0000001 " << kKey
                        << " spare words\nKPL0000002\t" << kOther << "\n";
    chmod(file.c_str(), 0600);
    std::string reason;

    KeySource fromFile(std::nullopt, Lookup({{"LANCFG_KEY", ""}}), file);
    ASSERT_TRUE(fromFile.Load(nullptr, &reason)) << reason;
    EXPECT_EQ(fromFile.For("KPL0000001").text, kKey); // the later line counts
    EXPECT_EQ(fromFile.For("KPL0000002").Named(), "the key from " + file);
    EXPECT_FALSE(fromFile.For("KPL0000003").present);
    LanInterface device;
    EXPECT_TRUE(fromFile.GiveTo(device, "KPL0000002").present);
    EXPECT_EQ(device.cryptKey, std::string(16, '\xff'));

    KeySource fromVariable(std::nullopt, Lookup({{"LANCFG_KEY", kOther}}), file);
    ASSERT_TRUE(fromVariable.Load(nullptr, &reason));
    EXPECT_EQ(fromVariable.For("KPL0000001").Named(), "the key from LANCFG_KEY");

    std::istringstream input("  " + kOther + "\r\nnext line\n");
    KeySource fromInput(std::string("-"), Lookup({{"LANCFG_KEY", kKey}}), file);
    ASSERT_TRUE(fromInput.Load(&input, &reason));
    EXPECT_EQ(fromInput.For("KPL0000001").text, kOther);
    EXPECT_EQ(fromInput.For("KPL0000001").source, "standard input");

    KeySource typed(kKey, Lookup({}), file);
    ASSERT_TRUE(typed.Load(nullptr, &reason));
    EXPECT_EQ(typed.For("KPL0000009").Named(), kKey);

    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

TEST(KeySource, TheDefaultKeysFileFollowsXdgConfigHome) {
    EXPECT_EQ(KeySource::DefaultKeysFile(Lookup({{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/h"}})),
              "/cfg/velantrix-konfigurator/keys");
    // A relative XDG_CONFIG_HOME is ignored, as the convention says.
    EXPECT_EQ(KeySource::DefaultKeysFile(Lookup({{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/h"}})),
              "/h/.config/velantrix-konfigurator/keys");
    EXPECT_TRUE(KeySource::IsKeyText("000102030405060708090a0b0c0d0e0F"));
    EXPECT_FALSE(KeySource::IsKeyText(kKey.substr(1)));
    EXPECT_FALSE(KeySource::IsKeyText(kKey + "0"));
    EXPECT_FALSE(KeySource::IsKeyText("ZZ" + kKey.substr(2)));
}

} // namespace
