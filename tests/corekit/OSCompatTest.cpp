#include "OSCompat.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(OSCompat, BareNameBecomesTheFileBesideTheProgramWithoutExe) {
    std::string dir = OSCompat::ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(OSCompat::FixPath("nrd.exe"), dir + "/nrd");
    EXPECT_EQ(OSCompat::FixPath("www"), dir + "/www");
    EXPECT_EQ(OSCompat::FixPath("/abs/file.txt"), "/abs/file.txt");
    EXPECT_EQ(OSCompat::FixPath("${Bindir}/devicetypes"), dir + "/devicetypes");
}

TEST(OSCompat, CommonAppDataFollowsXdgDataHomeOrHome) {
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    std::string saved = oldXdg ? oldXdg : "";
    setenv("XDG_DATA_HOME", "/data/xdg", 1);
    EXPECT_EQ(OSCompat::FixPath("${CommonAppData}/Radlex-Service/keys"),
              "/data/xdg/Radlex-Service/keys");
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(OSCompat::FixPath("${CommonAppData}/x"), "/home/someone/.local/share/x");
    if (oldXdg)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

TEST(OSCompat, WithoutHomeTheFoldersLieInTheUsersOwnHomeNeverInTmp) {
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const struct passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    const std::string home = entry->pw_dir;
    unsetenv("XDG_DATA_HOME");
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        if (value)
            setenv("HOME", value, 1);
        else
            unsetenv("HOME");
        EXPECT_EQ(OSCompat::HomeDirectory(), home);
        EXPECT_EQ(OSCompat::CommonAppDataDirectory(), home + "/.local/share");
        EXPECT_EQ(OSCompat::UserStateDirectory().rfind("/tmp", 0), std::string::npos);
    }
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    if (oldXdg)
        setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
}

TEST(OSCompat, MakeDirectoryCreatesParentsAndAcceptsExisting) {
    char base[] = "/tmp/vkdirXXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    std::string deep = std::string(base) + "/a/b/c";
    EXPECT_TRUE(OSCompat::MakeDirectory(deep));
    EXPECT_TRUE(OSCompat::MakeDirectory(deep));
    struct stat st {};
    EXPECT_EQ(stat(deep.c_str(), &st), 0);
    EXPECT_FALSE(OSCompat::MakeDirectory(""));
    std::string cmd = std::string("rm -rf ") + base;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

} // namespace
