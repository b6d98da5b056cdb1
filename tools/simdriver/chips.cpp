#include "chips.h"

#include "driver/chip_family.h"

namespace sim {

bool UseChipOfFamily(DriverConfig& config, DWORD family)
{
    WORD id = 0;
    if (family == 0) {
        id = 0x0BAD;  // in no family
    } else {
        size_t i = 0;
        while (i < g_nChipFamilies && g_aChipFamilies[i].family != family)
            ++i;
        if (i == g_nChipFamilies)
            return false;
        id = g_aChipFamilies[i].first;
    }
    config.pciDeviceId = id;
    config.chipId = id;
    config.pciSubVendorId = QX_PCI_VENDOR_ID;
    config.pciSubSystemId = 0x0100;
    config.pciRevisionId = 1;
    return true;
}

} // namespace sim
