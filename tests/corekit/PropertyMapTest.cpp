#include "PropertyMap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
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

TEST(PropertyMap, RoundTripsThroughAFileKeepingOrder) {
    PropertyMap map;
    map.SetStringValue("Path", "${CommonAppData}/Radlex-Service/keys");
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
    EXPECT_TRUE(back.HasValue("", "Empty"));
    EXPECT_EQ(back.GetIntValue("B", "n"), -42);
    EXPECT_EQ(back.GetIntValue("A", "n"), 7);
    ASSERT_EQ(back.Sections().size(), 3u);
    EXPECT_EQ(back.Sections()[1].name, "B");
    EXPECT_EQ(back.Sections()[1].entries.size(), 2u);
    EXPECT_EQ(back.Sections()[2].name, "A");
}

// Names, keys and values come back exactly as they were set, whatever they hold: blanks at
// their ends, line breaks, '=' or ']', comment marks, control bytes. A section name cannot
// break its line and so cannot inject keys of its own.
TEST(PropertyMap, EveryStringComesBackAsWritten) {
    const std::string awkward[] = {"  two blanks  ",
                                   "\ttab\t",
                                   "a=b]c",
                                   "#not a comment",
                                   ";nor this",
                                   "[not a section]",
                                   std::string("nul\0byte\x1b[2J", 12),
                                   "back\\slash\\",
                                   "x\nEvil = 1\n[Other]\r\n",
                                   " "};
    PropertyMap map;
    for (const std::string& text : awkward) {
        map.SetCurrentSection(text);
        map.SetStringValue(text, text);
    }
    PropertyMap back;
    ASSERT_TRUE(back.ReadFromText(map.ToText())) << map.ToText();
    ASSERT_EQ(back.Sections().size(), std::size(awkward) + 1);
    for (size_t i = 0; i < std::size(awkward); ++i) {
        const PropertyMap::Section& section = back.Sections()[i + 1];
        EXPECT_EQ(section.name, awkward[i]);
        ASSERT_EQ(section.entries.size(), 1u) << awkward[i];
        EXPECT_EQ(section.entries[0].first, awkward[i]);
        EXPECT_EQ(section.entries[0].second, awkward[i]);
    }
    EXPECT_FALSE(back.HasValue("", "Evil"));
    EXPECT_FALSE(back.HasValue("Other", "Evil"));
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
