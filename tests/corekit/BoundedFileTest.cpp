#include "BoundedFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

// A small file is read whole; a large one is refused by its size before it is read; a FIFO, a
// directory and (when asked) a link are refused without blocking.
TEST(BoundedFile, ReadsSmallRegularFilesOnly) {
    char dir[] = "/tmp/boundedXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string base = dir;
    std::ofstream(base + "/small") << "twelve bytes";
    ASSERT_EQ(chmod((base + "/small").c_str(), 0640), 0);
    std::ofstream(base + "/huge").close();
    ASSERT_EQ(truncate((base + "/huge").c_str(), 1LL << 30), 0); // sparse: costs no disk
    ASSERT_EQ(mkfifo((base + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink((base + "/small").c_str(), (base + "/link").c_str()), 0);

    BoundedFile file(12);
    EXPECT_EQ(file.Read(base + "/small"), BoundedFile::ReadOk);
    EXPECT_EQ(file.Text(), "twelve bytes");
    EXPECT_EQ(file.Mode(), 0640u);
    EXPECT_EQ(file.Owner(), static_cast<unsigned>(geteuid()));
    EXPECT_EQ(file.Read(base + "/huge"), BoundedFile::TooLarge);
    EXPECT_EQ(file.Size(), 1ULL << 30);
    EXPECT_EQ(file.Text(), "");
    EXPECT_EQ(BoundedFile(11).Read(base + "/small"), BoundedFile::TooLarge);
    EXPECT_EQ(file.Read(base + "/fifo"), BoundedFile::NotRegular);
    EXPECT_EQ(file.Read(base), BoundedFile::NotRegular);
    EXPECT_EQ(file.Read(base + "/none"), BoundedFile::NotFound);
    EXPECT_EQ(file.Read(base + "/small/x"), BoundedFile::NotFound);
    EXPECT_EQ(file.Read(base + "/link"), BoundedFile::ReadOk);
    BoundedFile noLinks(12, true);
    EXPECT_EQ(noLinks.Read(base + "/link"), BoundedFile::Failed);
    EXPECT_EQ(noLinks.Error(), ELOOP);
    std::system(("rm -rf '" + base + "'").c_str());
}
