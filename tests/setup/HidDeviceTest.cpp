#include "CHIDDevice.h"
#include "FakeHidTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

int CountOpenFds() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d) != nullptr)
            ++n;
        ::closedir(d);
    }
    return n;
}

// Inode of a path or of an open descriptor, to tell which device node a handle refers to.
ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}
ino_t InodeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// Two input reports of 32 bytes with id 1, one output of 16 bytes with id 2.
const std::string InterfaceDescriptor = {'\x85', '\x01', '\x75', '\x08', '\x95', '\x20', '\x81',
                                         '\x02', '\x85', '\x02', '\x95', '\x10', '\x91', '\x02'};

class HidTree : public ::testing::Test, public FakeHidTree {
protected:
    void SetUp() override {
        ASSERT_TRUE(Create("hidtest"));
        defaultDescriptor = InterfaceDescriptor;
    }
    void TearDown() override { ASSERT_TRUE(Remove()); }
};

} // namespace

TEST_F(HidTree, TwoInterfacesBesideAKeyboard) {
    AddKeyboard(0);
    AddInterface(10, "SECOND");
    AddInterface(2, "FIRST"); // hidraw2 comes before hidraw10
    const int fdsBefore = CountOpenFds();
    CHIDDevice hid(sys, dev);
    EXPECT_EQ(hid.CountDevices(), 2);
    std::string serial;
    EXPECT_TRUE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "FIRST");

    ASSERT_EQ(hid.Open(), 0);
    EXPECT_EQ(InodeOf(hid.handle), InodeOf(Node(2)));
    EXPECT_EQ(CountOpenFds(), fdsBefore + 1);
    EXPECT_FALSE(Free(2));
    EXPECT_TRUE(Free(10));
    EXPECT_TRUE(Free(0)); // the keyboard is never locked
    EXPECT_EQ(hid.inputReportLength, 33);
    EXPECT_EQ(hid.outputReportLength, 17);
    EXPECT_EQ(hid.featureReportLength, 0);
    EXPECT_EQ(hid.CountDevices(), 2); // counting still sees a held interface
    EXPECT_EQ(hid.Open(), 3);
    EXPECT_EQ(CountOpenFds(), fdsBefore + 1);

    EXPECT_EQ(hid.Close(), 0);
    EXPECT_EQ(hid.handle, -1);
    EXPECT_EQ(hid.inputReportLength, 0);
    EXPECT_EQ(CountOpenFds(), fdsBefore);
    EXPECT_TRUE(Free(2));
}

TEST_F(HidTree, HeldByAnotherHolder) {
    AddKeyboard(0);
    AddInterface(1, "HELD", std::string("\x85\x01\x75\x08\x95", 5)); // truncated descriptor
    const int other = Hold(1);
    ASSERT_GE(other, 0);
    const int fdsBefore = CountOpenFds();
    {
        CHIDDevice hid(sys, dev);
        EXPECT_EQ(hid.CountDevices(), 1);
        EXPECT_EQ(hid.Open(), 1);
        EXPECT_FALSE(hid.isOpen);
        EXPECT_EQ(CountOpenFds(), fdsBefore);

        std::string serial = "kept";
        EXPECT_FALSE(hid.ReadOpenSerialNumber(&serial)); // nothing open
        AddInterface(2, "FREE", {});                     // no report descriptor
        ASSERT_EQ(hid.Open(), 0);
        EXPECT_EQ(InodeOf(hid.handle), InodeOf(Node(2)));
        EXPECT_EQ(hid.inputReportLength, 0);
        // The first attached interface is the held one; the open one is the second.
        EXPECT_TRUE(hid.ReadSerialNumber(&serial));
        EXPECT_EQ(serial, "HELD");
        EXPECT_TRUE(hid.ReadOpenSerialNumber(&serial));
        EXPECT_EQ(serial, "FREE");
    } // the destructor closes and unlocks
    EXPECT_EQ(CountOpenFds(), fdsBefore);
    EXPECT_TRUE(Free(2));
    Release(other);

    // The truncated descriptor gives lengths 0; the device is opened all the same.
    CHIDDevice hid(sys, dev);
    ASSERT_EQ(hid.Open(), 0);
    EXPECT_EQ(InodeOf(hid.handle), InodeOf(Node(1)));
    EXPECT_EQ(hid.inputReportLength, 0);
}

TEST_F(HidTree, OnlyTheFirst64HidDevicesAreLookedAt) {
    for (int n = 0; n < 63; ++n)
        AddKeyboard(n);
    AddInterface(63, "SIXTY-FOURTH");
    AddInterface(64, "SIXTY-FIFTH");
    CHIDDevice hid(sys, dev);
    std::string path;
    EXPECT_TRUE(hid.FindDevicePath(63, &path));
    EXPECT_EQ(path, Node(63));
    EXPECT_FALSE(hid.FindDevicePath(64, &path));
    EXPECT_EQ(hid.CountDevices(), 1);
    const int holder = Hold(63);
    ASSERT_GE(holder, 0);
    EXPECT_EQ(hid.Open(), 1);
    EXPECT_TRUE(Free(64));
    Release(holder);
}

TEST_F(HidTree, UnreadableOrBrokenAttributesDoNotMatch) {
    AddInterface(0, "MISSING");
    ::unlink((DeviceDir(0) + "/device/uevent").c_str());
    AddInterface(1, "DIRECTORY");
    ::unlink((DeviceDir(1) + "/device/uevent").c_str());
    ::mkdir((DeviceDir(1) + "/device/uevent").c_str(), 0755);
    AddRaw(2, "HID_ID=0003:00001B1F\nHID_UNIQ=SHORT-ID\n");
    AddRaw(3, "HID_ID=0003:00011B1F:0000C00F\nHID_UNIQ=WIDE-VENDOR\n");
    ::mkdir(DeviceDir(4).c_str(), 0755);
    ::mkdir((DeviceDir(4) + "/device").c_str(), 0755);
    ::mkfifo((DeviceDir(4) + "/device/uevent").c_str(), 0644); // must not hang the walk
    CHIDDevice hid(sys, dev);
    std::string serial = "old";
    EXPECT_EQ(hid.CountDevices(), 0);
    EXPECT_FALSE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "old");
    EXPECT_EQ(hid.Open(), 1);
}

TEST_F(HidTree, SerialNumber) {
    AddRaw(0, "HID_ID=0003:00001B1F:0000C00F\nHID_NAME=KP-CFG-USB\n"); // no HID_UNIQ
    AddInterface(1, "SECOND");
    CHIDDevice hid(sys, dev);
    std::string serial = "previous";
    // Only the first interface is asked, even though the second has a serial number.
    EXPECT_FALSE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "previous");

    ASSERT_TRUE(RemoveDevice(0));
    AddInterface(0, ""); // the kernel's text for a device without a serial number
    EXPECT_FALSE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "previous");

    ASSERT_TRUE(RemoveDevice(0));
    AddInterface(0, "0123456789abcdefghijklmnopqrstuvwxyz");
    ASSERT_TRUE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "0123456789abcdefghijklmnopqrstuv");
    // Thirty-two characters, not bytes: a character is never cut in two.
    ASSERT_TRUE(RemoveDevice(0));
    AddInterface(0, "KPU-Ä0123456789012345678901234Öxyz"); // Ä and Ö two bytes each
    ASSERT_TRUE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "KPU-Ä0123456789012345678901234Öx");
    ASSERT_TRUE(RemoveDevice(0));
    AddInterface(0, std::string("AB\0CD", 5));
    ASSERT_TRUE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "AB");
}

TEST_F(HidTree, CloseResultCodes) {
    AddInterface(0, "X");
    CHIDDevice hid(sys, dev);
    EXPECT_EQ(hid.Close(), 2);
    hid.isOpen = true; // marked open without a valid handle: reset all the same
    hid.inputReportLength = 5;
    EXPECT_EQ(hid.Close(), 7);
    EXPECT_FALSE(hid.isOpen);
    EXPECT_EQ(hid.inputReportLength, 0);
    ASSERT_EQ(hid.Open(), 0);
    EXPECT_EQ(hid.Close(), 0);
    EXPECT_EQ(hid.Close(), 2);
}

// The rule that gives the interface's node to the desktop user must name the interface's ids as
// sysfs spells them (lowercase hex digits; udev compares case-sensitively).
TEST(UdevRule, NamesTheInterfaceAsSysfsSpellsIt) {
    std::ifstream in(VK_SOURCE_DIR "/packaging/udev/70-velantrix-kp-cfg-usb.rules");
    std::string line, rule;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#')
            rule += line;
    char ids[80];
    std::snprintf(ids, sizeof ids, "ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\"",
                  UsbInterfaceVendorId, UsbInterfaceProductId);
    EXPECT_NE(rule.find("SUBSYSTEM==\"hidraw\""), std::string::npos) << rule;
    EXPECT_NE(rule.find(ids), std::string::npos) << rule;
    EXPECT_NE(rule.find("TAG+=\"uaccess\""), std::string::npos) << rule;
}
