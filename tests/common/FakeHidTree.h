#pragma once

// A fake HID tree under a temporary directory, laid out as the kernel lays out sysfs:
//   <root>/sys/devices/pci0000:00/0000:00:14.0/usb1/1-P/1-P:1.0/BBBB:VVVV:PPPP.NNNN/
//       uevent, report_descriptor, hidraw/hidrawN/{dev,uevent,device -> ../../../BBBB:...}
//   <root>/sys/class/hidraw/hidrawN -> ../../devices/.../hidraw/hidrawN
//   <root>/dev/hidrawN, a plain file standing in for the device node.
// flock works on plain files as on device nodes, so a test can hold an interface the way another
// program would; a holder without flock is a child process that keeps the node open. Nodes are
// readable and writable by everyone, as the udev rule leaves them for the logged-in user, until
// a test denies access. Tests never touch the machine's own /sys or /dev.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

class FakeHidTree {
public:
    ~FakeHidTree() { Remove(); }

    // Makes the tree in a new temporary directory whose name begins with prefix. The tree is
    // readable by every user, so that a check run under another uid sees it.
    bool Create(const std::string& prefix) {
        std::string tmpl = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
        tmpl += "/" + prefix + "-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr)
            return false;
        root = tmpl;
        ::chmod(root.c_str(), 0755);
        sys = root + "/sys";
        dev = root + "/dev";
        for (const std::string& d :
             {sys, sys + "/class", sys + "/class/hidraw", sys + "/devices", dev})
            ::mkdir(d.c_str(), 0755);
        return true;
    }
    // Ends every holder, releases every held lock and deletes the tree; true when it is gone.
    bool Remove() {
        for (int fd : held_)
            ::close(fd);
        held_.clear();
        while (!holders_.empty())
            ReleaseHolder(holders_.begin()->first);
        if (root.empty())
            return true;
        const bool removed = std::system(("rm -rf '" + root + "'").c_str()) == 0;
        root.clear();
        return removed;
    }

    // The class entry (a symlink to the hidraw directory in the devices tree) and the node.
    std::string DeviceDir(int n) const { return sys + "/class/hidraw/hidraw" + std::to_string(n); }
    std::string Node(int n) const { return dev + "/hidraw" + std::to_string(n); }

    // A HID device with the given uevent text, a device node and, if given, a report descriptor.
    // The HID device directory is named from HID_ID as the kernel names it (bus:vendor:product
    // in four hex digits each, then a running number).
    void AddRaw(int n, const std::string& uevent, const std::string& descriptor = {}) {
        const std::string port = "1-" + std::to_string(n + 1);
        const std::string usbInterface =
            MakeDirs("devices/pci0000:00/0000:00:14.0/usb1/" + port + "/" + port + ":1.0");
        const std::string hidName = HidDirName(uevent, ++hidCount_);
        const std::string hid = usbInterface + "/" + hidName;
        const std::string name = "hidraw" + std::to_string(n);
        ::mkdir(hid.c_str(), 0755);
        ::mkdir((hid + "/hidraw").c_str(), 0755);
        ::mkdir((hid + "/hidraw/" + name).c_str(), 0755);
        WriteFile(hid + "/uevent", uevent);
        if (!descriptor.empty())
            WriteFile(hid + "/report_descriptor", descriptor);
        WriteFile(hid + "/hidraw/" + name + "/dev", "247:" + std::to_string(n) + "\n");
        WriteFile(hid + "/hidraw/" + name + "/uevent",
                  "MAJOR=247\nMINOR=" + std::to_string(n) + "\nDEVNAME=" + name + "\n");
        ::symlink(("../../../" + hidName).c_str(), (hid + "/hidraw/" + name + "/device").c_str());
        const std::string target = "../.." + hid.substr(sys.size()) + "/hidraw/" + name;
        ::symlink(target.c_str(), DeviceDir(n).c_str());
        WriteFile(Node(n), "");
        ::chmod(Node(n).c_str(), 0666);
        devices_[n] = hid;
    }
    // Unplugs a device: its class entry and its directory in the devices tree go.
    bool RemoveDevice(int n) {
        const std::string hid = devices_.count(n) ? devices_[n] : std::string();
        devices_.erase(n);
        return ::unlink(DeviceDir(n).c_str()) == 0 &&
               (hid.empty() || std::system(("rm -rf '" + hid + "'").c_str()) == 0);
    }
    // A USB interface with the given serial number; an empty one is the kernel's text for a
    // device without a serial number. HID_UNIQ carries the device's serial number string as
    // UTF-8: the kernel converts the USB string descriptor from UTF-16LE and keeps at most 63
    // bytes of it, never a partial character, so "KPU-Ä" arrives as the bytes 4B 50 55 2D C3 84.
    // Without a descriptor, defaultDescriptor is used.
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

    // Leaves the node to one account alone, as the kernel creates it without the udev rule
    // (there for root; here for a system account, uid 1, so that even root is refused once its
    // thread drops CAP_DAC_OVERRIDE from its effective capabilities).
    bool DenyAccess(int n) {
        return ::chown(Node(n).c_str(), 1, 1) == 0 && ::chmod(Node(n).c_str(), 0600) == 0;
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

    // Another program that keeps the node open without any lock: a child process, running as
    // uid (and its group) when uid is not -1, that holds the node until ReleaseHolder. Returns
    // its process id once the node is open, -1 when it could not be opened.
    pid_t HoldWithoutLock(int n, uid_t uid = static_cast<uid_t>(-1), gid_t gid = 0) {
        int ready[2], stay[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
            return -1;
        if (::pipe2(stay, O_CLOEXEC) != 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return -1;
        }
        const std::string node = Node(n);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            ::close(stay[1]);
            if (uid != static_cast<uid_t>(-1) &&
                (::setgid(gid) != 0 || ::setuid(uid) != 0 ||
                 // A changed uid makes the process unreadable in /proc even for its own user;
                 // an ordinary program of that user is readable.
                 ::prctl(PR_SET_DUMPABLE, 1) != 0))
                ::_exit(1);
            const int fd = ::open(node.c_str(), O_RDWR);
            if (fd < 0)
                ::_exit(1);
            const char ok = 1;
            if (::write(ready[1], &ok, 1) != 1)
                ::_exit(1);
            char byte;
            while (::read(stay[0], &byte, 1) < 0) { // ends when the test closes its end
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(stay[0]);
        char byte = 0;
        const bool opened = pid > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        if (pid > 0)
            holders_[pid] = stay[1];
        else
            ::close(stay[1]);
        if (!opened) {
            if (pid > 0)
                ReleaseHolder(pid);
            return -1;
        }
        return pid;
    }
    void ReleaseHolder(pid_t pid) {
        auto it = holders_.find(pid);
        if (it == holders_.end())
            return;
        ::close(it->second);
        holders_.erase(it);
        int status = 0;
        ::waitpid(pid, &status, 0);
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
    // Makes each directory of a path below sys; returns the full path.
    std::string MakeDirs(const std::string& relative) {
        std::string path = sys;
        size_t start = 0;
        while (start < relative.size()) {
            size_t slash = relative.find('/', start);
            if (slash == std::string::npos)
                slash = relative.size();
            path += "/" + relative.substr(start, slash - start);
            ::mkdir(path.c_str(), 0755);
            start = slash + 1;
        }
        return path;
    }
    // "0003:1B1F:C00F.0001" from HID_ID=0003:00001B1F:0000C00F and the running number.
    static std::string HidDirName(const std::string& uevent, int number) {
        unsigned bus = 0, vendor = 0, product = 0;
        const size_t at = uevent.find("HID_ID=");
        if (at != std::string::npos)
            std::sscanf(uevent.c_str() + at, "HID_ID=%x:%x:%x", &bus, &vendor, &product);
        char name[32];
        std::snprintf(name, sizeof name, "%04X:%04X:%04X.%04X", bus & 0xFFFF, vendor & 0xFFFF,
                      product & 0xFFFF, static_cast<unsigned>(number) & 0xFFFF);
        return name;
    }

    std::vector<int> held_;
    std::map<pid_t, int> holders_; // child holder -> the pipe end that keeps it waiting
    std::map<int, std::string> devices_;
    int hidCount_ = 0;
};
