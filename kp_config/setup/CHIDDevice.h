#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Vendor and product id of the USB interface (HID).
inline constexpr uint32_t UsbInterfaceVendorId = 0x1B1F;
inline constexpr uint32_t UsbInterfaceProductId = 0xC00F;

// At most this many HID devices are looked at; later ones are never examined.
inline constexpr int MaxHidDevices = 64;

// The hidraw driver queues up to 64 input reports per reader, and the number cannot be changed,
// so this is both the default and the count of an open device.
inline constexpr uint32_t DefaultInputBufferCount = 64;

// Results of CHIDDevice::Open.
enum HidOpenResult : int {
    HidOpenOk = 0,      // a USB interface is open and locked by this object
    HidOpenNone = 1,    // none could be opened: none is attached, or another program holds each
    HidOpenAlready = 3, // this object already holds an open device
    // None could be opened, and this user lacks the permission to open at least one of them:
    // the node is not readable and writable for it (no udev rule, not in the device's group).
    HidOpenNoPermission = 4,
};

// Tells whether a USB interface is attached, reads its serial number, and opens it for exclusive
// use. Devices are found through sysfs (<sysRoot>/class/hidraw/hidrawN/device/uevent) and opened
// as <devRoot>/hidrawN; exclusive use is an flock(LOCK_EX | LOCK_NB) held while the device is
// open, and no other process may have the node open either, with or without a lock (as far as
// /proc shows this user). Counting and reading the serial number only read sysfs and succeed
// while another program holds the device or this user may not open it.
// No data is transferred. Not copyable: it owns the open file descriptor.
class CHIDDevice {
public:
    explicit CHIDDevice(std::string sysRoot = "/sys", std::string devRoot = "/dev");
    virtual ~CHIDDevice(); // closes an open device
    CHIDDevice(const CHIDDevice&) = delete;
    CHIDDevice& operator=(const CHIDDevice&) = delete;

    // Number of attached USB interfaces among the first 64 HID devices.
    int CountDevices() const;
    // Serial number of the first attached USB interface as UTF-8 text: at most 32 characters
    // (never a part of one), ending at the first zero. Fails, leaving *serialNumber unchanged,
    // when there is no interface or it has no serial number.
    bool ReadSerialNumber(std::string* serialNumber) const;
    // Serial number of the interface this object holds open, by the same rules. A holder that
    // reports what it holds asks this: the first attached interface may be another program's.
    bool ReadOpenSerialNumber(std::string* serialNumber) const;
    // A HidOpenResult: the first USB interface that could be opened and locked, and that no
    // other process has open, is kept.
    int Open();
    // 0: closed; 7: marked open without a valid handle (reset all the same); 2: nothing open.
    int Close();
    // Marks the object closed without closing anything: handle -1, lengths 0, default buffers.
    void Reset();
    // Device path of the n-th HID device (hidraw numbers in ascending order), n below 64.
    bool FindDevicePath(int n, std::string* path) const;

    int handle = -1;
    bool isOpen = false;
    uint16_t inputReportLength = 0;
    uint16_t outputReportLength = 0;
    uint16_t featureReportLength = 0;
    uint32_t inputBufferCount = DefaultInputBufferCount;

private:
    // The first 64 hidraw names (hidrawN) in ascending order of N.
    std::vector<std::string> ListDevices() const;
    std::string SysfsDevice(const std::string& name) const;
    // True when the hidraw device is a USB interface; its serial number (raw HID_UNIQ) goes to
    // *serial when given. A device whose attributes cannot be read does not match.
    bool IsUsbInterfaceDevice(const std::string& name, std::string* serial = nullptr,
                              bool* hasSerial = nullptr) const;
    // The serial number of one hidraw device that is a USB interface.
    bool ReadSerialOf(const std::string& name, std::string* serialNumber) const;

    std::string sysRoot_;
    std::string devRoot_;
    std::string openName_; // hidraw name of the open device
};
