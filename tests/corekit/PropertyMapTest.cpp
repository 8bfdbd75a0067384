#include "PropertyMap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string TempPath() {
    char path[] = "/tmp/vkpropXXXXXX";
    int fd = mkstemp(path);
    close(fd);
    return path;
}

TEST(PropertyMap, KeysBeforeTheFirstSectionLandInTheLeadingSection) {
    PropertyMap map;
    map.SetIntValue("Listen Port", 0);
    map.SetStringValue("Log Destination", "File");
    map.SetCurrentSection("Interface 0");
    map.SetStringValue("Type", "Lan Interface");
    EXPECT_EQ(map.ToText(), "Listen Port = 0\nLog Destination = File\n\n[Interface 0]\n"
                            "Type = Lan Interface\n");
}

TEST(PropertyMap, RoundTripsThroughAFileKeepingOrderAndAwkwardValues) {
    PropertyMap map;
    map.SetStringValue("Path", "${CommonAppData}/Radlex-Service/keys");
    map.SetStringValue("Equals", "a=b = c");
    map.SetStringValue("Lines", "one\ntwo\\three");
    map.SetStringValue("Empty", "");
    map.SetCurrentSection("B");
    map.SetIntValue("n", -42);
    map.SetCurrentSection("A");
    map.SetIntValue("n", 7);
    map.SetCurrentSection("B");
    map.SetIntValue("m", 1); // back to an earlier section: no second [B]

    std::string path = TempPath();
    ASSERT_EQ(map.WriteToFile(path), 0);
    PropertyMap back;
    ASSERT_TRUE(back.ReadFromFile(path));
    std::remove(path.c_str());

    EXPECT_EQ(back.GetStringValue("", "Path"), "${CommonAppData}/Radlex-Service/keys");
    EXPECT_EQ(back.GetStringValue("", "Equals"), "a=b = c");
    EXPECT_EQ(back.GetStringValue("", "Lines"), "one\ntwo\\three");
    EXPECT_TRUE(back.HasValue("", "Empty"));
    EXPECT_EQ(back.GetIntValue("B", "n"), -42);
    EXPECT_EQ(back.GetIntValue("A", "n"), 7);
    ASSERT_EQ(back.Sections().size(), 3u);
    EXPECT_EQ(back.Sections()[1].name, "B");
    EXPECT_EQ(back.Sections()[1].entries.size(), 2u);
    EXPECT_EQ(back.Sections()[2].name, "A");
}

TEST(PropertyMap, ReaderSkipsCommentsAndReportsMalformedLines) {
    PropertyMap map;
    EXPECT_FALSE(map.ReadFromText("# comment\n; other\n\n[S]\nkey = value\nno equals sign\n"));
    EXPECT_EQ(map.GetStringValue("S", "key"), "value"); // the good lines are kept
    EXPECT_EQ(map.GetIntValue("S", "key", 5), 5);       // not a number: the fallback
    EXPECT_EQ(map.GetIntValue("S", "missing", 9), 9);
    EXPECT_FALSE(map.HasValue("", "key"));
}

TEST(PropertyMap, WriteToAnUnwritablePathFails) {
    PropertyMap map;
    EXPECT_EQ(map.WriteToFile("/nonexistent-dir/x.cfg"), -1);
    EXPECT_FALSE(map.ReadFromFile("/nonexistent-dir/x.cfg"));
}

} // namespace
