#include "CHIDDevice.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
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

// A fake sysfs (<root>/sys/class/hidraw/hidrawN/device/...) and /dev (<root>/dev/hidrawN, plain
// files: flock works on them as on device nodes).
class HidTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        tmpl += "/hidtest-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        sys = root + "/sys";
        dev = root + "/dev";
        for (const std::string& d : {sys, sys + "/class", sys + "/class/hidraw", dev})
            ::mkdir(d.c_str(), 0755);
    }
    void TearDown() override {
        const std::string command = "rm -rf '" + root + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string DeviceDir(int n) const { return sys + "/class/hidraw/hidraw" + std::to_string(n); }
    std::string Node(int n) const { return dev + "/hidraw" + std::to_string(n); }

    // A HID device with the given uevent text, a device node and, if given, a report descriptor.
    void AddRaw(int n, const std::string& uevent, const std::string& descriptor = {}) {
        ::mkdir(DeviceDir(n).c_str(), 0755);
        ::mkdir((DeviceDir(n) + "/device").c_str(), 0755);
        WriteFile(DeviceDir(n) + "/device/uevent", uevent);
        if (!descriptor.empty())
            WriteFile(DeviceDir(n) + "/device/report_descriptor", descriptor);
        WriteFile(Node(n), "");
    }
    void RemoveDevice(int n) {
        ASSERT_EQ(std::system(("rm -rf '" + DeviceDir(n) + "'").c_str()), 0);
    }
    void AddInterface(int n, const std::string& serial,
                      const std::string& descriptor = InterfaceDescriptor) {
        AddRaw(n,
               "DRIVER=hid-generic\nHID_ID=0003:00001B1F:0000C00F\nHID_NAME=KP-CFG-USB\n"
               "HID_PHYS=usb-0000:00:14.0-2/input0\nHID_UNIQ=" +
                   serial + "\nMODALIAS=hid:b0003g0001v00001B1Fp0000C00F\n",
               descriptor);
    }
    void AddKeyboard(int n) {
        AddRaw(n, "DRIVER=hid-generic\nHID_ID=0003:0000046D:0000C31C\nHID_NAME=Keyboard\n"
                  "HID_UNIQ=KBD-0001\n");
    }

    // Takes the lock another program would hold; returns the descriptor (closed by the caller).
    int Hold(int n) const {
        const int fd = ::open(Node(n).c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        return fd;
    }
    // Whether another holder could take the device now (the lock is released again at once).
    bool Free(int n) const {
        const int fd = ::open(Node(n).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        return free;
    }

    std::string root, sys, dev;
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
    ::close(other);

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
    EXPECT_EQ(hid.Open(), 1);
    EXPECT_TRUE(Free(64));
    ::close(holder);
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

    RemoveDevice(0);
    AddInterface(0, ""); // the kernel's text for a device without a serial number
    EXPECT_FALSE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "previous");

    RemoveDevice(0);
    AddInterface(0, "0123456789abcdefghijklmnopqrstuvwxyz");
    ASSERT_TRUE(hid.ReadSerialNumber(&serial));
    EXPECT_EQ(serial, "0123456789abcdefghijklmnopqrstuv");
    RemoveDevice(0);
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
