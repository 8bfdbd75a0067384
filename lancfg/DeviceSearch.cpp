#include "DeviceSearch.h"

#include "Command.h"
#include "DiscoverAddresses.h"
#include "LanInterface.h"
#include "LanProtocol.h"

void DiscoverDevices(CommandContext& context, std::vector<LanInterface>& devices) {
    if (!context.addresses.empty())
        DiscoverAtAddresses(lanproto::SearchPattern, context.addresses, devices);
    else
        DiscoverLanInterfaces(lanproto::SearchPattern, devices, context.address);
}

bool FindDevice(LanInterface& device, const std::string& serial, const CommandContext& context) {
    if (!context.addresses.empty())
        return FindBySerialAtAddresses(device, serial, context.addresses);
    device.unicastAddress = context.address;
    return device.FindBySerial(serial);
}
