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

// Tells whether a USB interface is attached, reads its serial number, and opens it for exclusive
// use. Devices are found through sysfs (<sysRoot>/class/hidraw/hidrawN/device/uevent) and opened
// as <devRoot>/hidrawN; exclusive use is an flock(LOCK_EX | LOCK_NB) held while the device is
// open, so any program holding the interface the same way makes Open fail. Counting and reading
// the serial number only read sysfs and succeed while another program holds the device.
// No data is transferred. Not copyable: it owns the open file descriptor.
class CHIDDevice {
public:
    explicit CHIDDevice(std::string sysRoot = "/sys", std::string devRoot = "/dev");
    virtual ~CHIDDevice(); // closes an open device
    CHIDDevice(const CHIDDevice&) = delete;
    CHIDDevice& operator=(const CHIDDevice&) = delete;

    // Number of attached USB interfaces among the first 64 HID devices.
    int CountDevices() const;
    // Serial number of the first attached USB interface: at most 32 characters, ending at the
    // first zero. Fails, leaving *serialNumber unchanged, when there is no interface or it has no
    // serial number.
    bool ReadSerialNumber(std::string* serialNumber) const;
    // Serial number of the interface this object holds open, by the same rules. A holder that
    // reports what it holds asks this: the first attached interface may be another program's.
    bool ReadOpenSerialNumber(std::string* serialNumber) const;
    // 0: the first USB interface that could be opened and locked is kept; 1: none could be;
    // 3: this object already holds an open device.
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
