#include "DeviceSearch.h"

#include "Command.h"
#include "ConsoleTexts.h"
#include "DiscoverAddresses.h"
#include "LanInterface.h"
#include "LanProtocol.h"

void DiscoverDevices(CommandContext& context, std::vector<LanInterface>& devices) {
    if (!context.addresses.empty())
        DiscoverAtAddresses(lanproto::SearchPattern, context.addresses, devices);
    else {
        UnaskedNetworks unasked;
        DiscoverLanInterfaces(lanproto::SearchPattern, devices, context.address, &unasked);
        context.unasked = unasked.names;
        if (!unasked.names.empty())
            Say<kSearchNotSent>(context, NameAFew(unasked.names).c_str(), unasked.reason.c_str());
    }
}

bool FindDevice(LanInterface& device, const std::string& serial, const CommandContext& context) {
    if (!context.addresses.empty())
        return FindBySerialAtAddresses(device, serial, context.addresses);
    device.unicastAddress = context.address;
    return device.FindBySerial(serial);
}
