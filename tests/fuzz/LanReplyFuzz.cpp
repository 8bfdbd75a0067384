// The readers of bytes from the network: an identification reply, the challenge test, and the
// address, version and key texts.
#include "FuzzTarget.h"
#include "LanInterface.h"
#include "LanProtocol.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    LanInterface device;
    if (device.ParseIdentification(reply)) {
        Check(device.serialNumber.size() == lanproto::SerialFieldSize, "serial field size");
        Check(device.deviceType.size() == lanproto::TypeFieldSize, "type field size");
    }
    if (lanproto::IsChallenge(reply))
        Check(reply.size() >= lanproto::ChallengeSize, "a challenge carries its IV");
    Check(ParseIpAddress(reply).size() == 4, "an address is four bytes");
    const std::string address = FormatIpAddress(reply);
    Check(address.empty() == (reply.size() != 4), "only four bytes make an address");
    lanproto::VersionThousandths(reply);
    lanproto::ParseKeyText(reply);
    lanproto::HexPairValue(reply.data(), reply.size() < 2 ? reply.size() : 2);
    return 0;
}
