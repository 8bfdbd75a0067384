#pragma once

// Reading simulated devices from a property file.

#include "LanIfSimulator.h"

#include <string>
#include <vector>

class PropertyMap;

namespace lanifsim::detail {

// One device per section (several with "count"). False with a message naming the section and
// key when anything is wrong; devices is then left as it was.
bool DevicesFromProperties(const PropertyMap& map, std::vector<SimDevice>* devices,
                           std::string* error);

} // namespace lanifsim::detail
