#pragma once

// A fake HID tree of plain files under a temporary directory: <root>/sys/class/hidraw/hidrawN/
// device/{uevent,report_descriptor} and <root>/dev/hidrawN. flock works on plain files as on
// device nodes, so a test can hold an interface the way another program would. Tests never touch
// the machine's own /sys or /dev.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

class FakeHidTree {
public:
    ~FakeHidTree() { Remove(); }

    // Makes the tree in a new temporary directory whose name begins with prefix.
    bool Create(const std::string& prefix) {
        std::string tmpl = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
        tmpl += "/" + prefix + "-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr)
            return false;
        root = tmpl;
        sys = root + "/sys";
        dev = root + "/dev";
        for (const std::string& d : {sys, sys + "/class", sys + "/class/hidraw", dev})
            ::mkdir(d.c_str(), 0755);
        return true;
    }
    // Releases every held interface and deletes the tree; true when it is gone.
    bool Remove() {
        for (int fd : held_)
            ::close(fd);
        held_.clear();
        if (root.empty())
            return true;
        const bool removed = std::system(("rm -rf '" + root + "'").c_str()) == 0;
        root.clear();
        return removed;
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
    bool RemoveDevice(int n) { return std::system(("rm -rf '" + DeviceDir(n) + "'").c_str()) == 0; }
    // A USB interface with the given serial number; an empty one is the kernel's text for a
    // device without a serial number. Without a descriptor, defaultDescriptor is used.
    void AddInterface(int n, const std::string& serial) {
        AddInterface(n, serial, defaultDescriptor);
    }
    void AddInterface(int n, const std::string& serial, const std::string& descriptor) {
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

    // Takes the lock another program would hold, until Release or the end of the tree; returns
    // the descriptor, -1 when the device could not be held.
    int Hold(int n) {
        const int fd = ::open(Node(n).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return -1;
        }
        held_.push_back(fd);
        return fd;
    }
    void Release(int fd) {
        auto it = std::find(held_.begin(), held_.end(), fd);
        if (it != held_.end()) {
            ::close(fd);
            held_.erase(it);
        }
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
    std::string defaultDescriptor;

private:
    static void WriteFile(const std::string& path, const std::string& content) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }

    std::vector<int> held_;
};
