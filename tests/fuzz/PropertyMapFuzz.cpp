// The property file reader: any text is read without fault, and what was read is written and
// read back unchanged.
#include "FuzzTarget.h"
#include "PropertyMap.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PropertyMap map;
    map.ReadFromText(std::string(reinterpret_cast<const char*>(data), size));
    PropertyMap back;
    Check(back.ReadFromText(map.ToText()), "a written map reads without error");
    Check(back.Sections().size() == map.Sections().size(), "same sections");
    for (size_t i = 0; i < map.Sections().size(); ++i) {
        Check(back.Sections()[i].name == map.Sections()[i].name, "same section name");
        Check(back.Sections()[i].entries == map.Sections()[i].entries, "same keys and values");
    }
    return 0;
}
