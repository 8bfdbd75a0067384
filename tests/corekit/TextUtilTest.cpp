#include "TextUtil.h"

#include <gtest/gtest.h>

TEST(TextUtil, TrimLowerAndTheStrictAddress) {
    EXPECT_EQ(TrimText(" \t KPL0000001 key\r\n"), "KPL0000001 key");
    EXPECT_EQ(TrimText(" \r\n"), "");
    EXPECT_EQ(LowerText("KPL\xc4On"), "kpl\xc4on");
    for (const char* good : {"0.0.0.0", "192.168.1.50", "255.255.255.255", "10.0.0.100"})
        EXPECT_TRUE(IsIpv4Text(good)) << good;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.04", "010.1.1.1",
                            " 1.2.3.4", "1.2.3.4 ", "+1.2.3.4", "1..2.3", "1.2.3.", "1.2.3.1000"})
        EXPECT_FALSE(IsIpv4Text(bad)) << bad;
    EXPECT_FALSE(IsIpv4Text(std::string("1.2.3.4\0", 8))); // a NUL byte ends no address
}
