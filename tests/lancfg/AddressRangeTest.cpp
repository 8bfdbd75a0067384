#include "AddressRange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(AddressRange, ExpandsSmallRangesAndRefusesLargeOnesAndOtherGroups) {
    std::vector<std::string> addresses;
    std::string reason;
    EXPECT_EQ(AddressRange::Expand("10.0.0.5/30", &addresses, &reason), AddressRange::RangeOk);
    EXPECT_EQ(AddressRange::Expand("10.0.0.8/31", &addresses, &reason), AddressRange::RangeOk);
    EXPECT_EQ(AddressRange::Expand("224.0.0.1", &addresses, &reason), AddressRange::RangeOk);
    EXPECT_EQ(addresses, (std::vector<std::string>{"10.0.0.5", "10.0.0.6", "10.0.0.8", "10.0.0.9",
                                                   "224.0.0.1"}));
    addresses.clear();
    EXPECT_EQ(AddressRange::Expand("10.0.0.0/22", &addresses, &reason), AddressRange::RangeOk);
    EXPECT_EQ(addresses.size(), 1022u);
    EXPECT_EQ(AddressRange::Expand("10.0.0.0/21", &addresses, &reason), AddressRange::RangeRefused);
    EXPECT_EQ(reason, "-a 10.0.0.0/21 holds more than 1024 addresses; give ranges from /22 to "
                      "/32, several -a if need be");
    EXPECT_EQ(AddressRange::Expand("239.0.0.1", &addresses, &reason), AddressRange::RangeRefused);
    for (const char* bad : {"10.0.0.0/33", "10.0.0.0/", "10.0.0/24", "010.0.0.1", "host"})
        EXPECT_FALSE(AddressRange::IsAddressOrRange(bad)) << bad;
}
