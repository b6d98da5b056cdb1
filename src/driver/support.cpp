#include "driver/support.h"

#include "common/trace.h"
#include "driver/chip_family.h"
#include "driver/escape.h"

BOOL CheckSupport()
{
    // The probes come first: they open the gates every other request needs.
    QxTrace("CheckSupport: Calling QX_UTIL_IsSupported...");
    if (!QX_UTIL_IsSupported()) {
        QxTrace("driver reports NOT supported!\n");
        return FALSE;
    }
    QxTrace("driver reports supported!\n");
    QxTrace("CheckSupport: Calling QX_TINTRA_IsSupported...");
    if (!QX_TINTRA_IsSupported()) {
        QxTrace("driver reports NOT supported!\n");
        return FALSE;
    }
    QxTrace("driver reports supported!\n");

    // The PCI identity names the chip; older drivers only answer the chip-id
    // request, whose whole 32-bit word is then the identifier.
    DWORD chipId;
    QX_PCI_INFO pci = {};
    if (QX_UTIL_GetPciInfo(&pci)) {
        chipId = pci.wDeviceId;
    } else if (!QX_UTIL_GetChipId(&chipId)) {
        return FALSE;
    }

    g_dwChipFamily = LookupChipFamily(chipId);
    return g_dwChipFamily == CHIP_FAMILY_PRIMARY || g_dwChipFamily == CHIP_FAMILY_KP;
}
