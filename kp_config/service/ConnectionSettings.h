#pragma once

#include <cstdint>
#include <string>

// How the radio devices are reached. A stored value outside the three named ones is carried
// unchanged (it can come from a damaged setting); every consumer treats it as "nothing chosen".
enum class ConnectionType : int32_t {
    Usb = 0,           // USB interface attached to this computer
    Lan = 1,           // LAN interface on the local network
    RemoteService = 2, // radio service installed on another computer
};

// The user's connection choice: a plain value, copied freely.
struct ConnectionSettings {
    ConnectionType connection = ConnectionType::Usb;
    std::string lanHost;        // IP address of the LAN interface, optional
    std::string lanSerial;      // serial number of the LAN interface
    std::string lanKey;         // access code (AES key) of the LAN interface
    std::string serviceHost;    // host of a remote radio service
    std::string usbSerial;      // serial number of the USB interface
    int32_t servicePort = 2001; // TCP port of a remote radio service

    bool operator==(const ConnectionSettings&) const = default;
};
