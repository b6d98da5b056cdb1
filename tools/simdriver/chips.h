// Configures the simulated driver as an adapter of a given chip family, with
// identifiers taken from the module's own chip table.
#pragma once
#include "simdriver.h"

namespace sim {

// Sets PCI device id and chip id to the first chip of `family` (0: a chip in
// no family). Returns false when the table has no such family.
bool UseChipOfFamily(DriverConfig& config, DWORD family);

} // namespace sim
