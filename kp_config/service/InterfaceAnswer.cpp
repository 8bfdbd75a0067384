#include "InterfaceAnswer.h"

using XmlRpc::XmlRpcValue;

InterfaceAnswer ReadInterfaceAnswer(const XmlRpcValue& answer) {
    InterfaceAnswer out;
    if (answer.getType() != XmlRpcValue::TypeArray)
        return out;
    if (answer.size() == 0) {
        out.stateKnown = true;
        return out;
    }
    const XmlRpcValue& first = answer[0];
    if (first.getType() != XmlRpcValue::TypeStruct)
        return out;
    // The library's const member access inserts missing members, so look before reading.
    if (first.hasMember("CONNECTED")) {
        const XmlRpcValue& connected = first["CONNECTED"];
        if (connected.getType() != XmlRpcValue::TypeBoolean)
            return out;
        out.connected = static_cast<const bool&>(connected);
    }
    out.stateKnown = true;
    if (first.hasMember("ADDRESS")) {
        const XmlRpcValue& address = first["ADDRESS"];
        if (address.getType() == XmlRpcValue::TypeString)
            out.address = static_cast<const std::string&>(address);
    }
    return out;
}
