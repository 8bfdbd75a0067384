// The USB report descriptor parser: any bytes are parsed or refused without fault, and a refusal
// leaves all lengths 0.
#include "FuzzTarget.h"
#include "HidReportDescriptor.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HidReportLengths lengths;
    if (!ParseReportDescriptor(std::string(reinterpret_cast<const char*>(data), size), &lengths))
        Check(lengths.input == 0 && lengths.output == 0 && lengths.feature == 0,
              "a refused descriptor has no lengths");
    return 0;
}
