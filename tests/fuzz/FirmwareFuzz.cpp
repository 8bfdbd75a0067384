// The firmware file check: any text is accepted or refused without fault, and what it accepts
// is the text without its trailing white space, made of whole records.
#include "FuzzTarget.h"
#include "LanProtocol.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string digits;
    if (lanproto::CheckFirmwareText(text, &digits)) {
        Check(!digits.empty() && text.compare(0, digits.size(), digits) == 0,
              "accepted digits are the start of the file");
        Check(digits.size() % 2 == 0, "accepted records are whole bytes");
    }
    return 0;
}
