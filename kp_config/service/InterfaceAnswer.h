#pragma once

#include <xmlrpcpp/XmlRpcValue.h>

#include <string>

// What the supervision reads from an answer to listRadlexInterfaces: members "CONNECTED" and
// "ADDRESS" of the first element of the array.
struct InterfaceAnswer {
    bool stateKnown = false; // false: the answer's shape told nothing; the state stays as it was
    bool connected = false;
    std::string address; // the interface's serial number, empty when not reported
};

// An empty array, or a first element without "CONNECTED", counts as not connected; a value
// that is not an array, a first element that is not a struct, or a "CONNECTED" that is not a
// boolean leaves the state unknown. An "ADDRESS" that is missing or not a string reads as empty.
InterfaceAnswer ReadInterfaceAnswer(const XmlRpc::XmlRpcValue& answer);
