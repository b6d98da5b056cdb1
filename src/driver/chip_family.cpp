#include "driver/chip_family.h"

DWORD g_dwChipFamily;

// Device identifiers of the maker's chips, by family. Only families 15 and 21
// get the page; the older ones are listed so that they are recognised and
// refused by name rather than by accident.
constexpr ChipFamilyRange g_aChipFamilies[] = {
    { 0x4060, 0x4063, 6 },
    { 0x4070, 0x4071, 7 },
    { 0x4080, 0x4080, 8 },
    { 0x4090, 0x4093, 9 },
    { 0x40A0, 0x40A1, 10 },
    { 0x40B0, 0x40B0, 11 },
    { 0x40C0, 0x40C2, 12 },
    { 0x40D0, 0x40D0, 13 },
    { 0x40E0, 0x40E3, 14 },
    // Family 15: a run of six, a run of three and two single chips.
    { 0x5100, 0x5105, CHIP_FAMILY_PRIMARY },
    { 0x5110, 0x5112, CHIP_FAMILY_PRIMARY },
    { 0x5120, 0x5120, CHIP_FAMILY_PRIMARY },
    { 0x5128, 0x5128, CHIP_FAMILY_PRIMARY },
    { 0x4140, 0x4141, 20 },
    // Family 21: seven single chips.
    { 0x5200, 0x5200, CHIP_FAMILY_KP },
    { 0x5204, 0x5204, CHIP_FAMILY_KP },
    { 0x5208, 0x5208, CHIP_FAMILY_KP },
    { 0x520C, 0x520C, CHIP_FAMILY_KP },
    { 0x5210, 0x5210, CHIP_FAMILY_KP },
    { 0x5218, 0x5218, CHIP_FAMILY_KP },
    { 0x5220, 0x5220, CHIP_FAMILY_KP },
};
const size_t g_nChipFamilies = sizeof g_aChipFamilies / sizeof g_aChipFamilies[0];

DWORD LookupChipFamily(DWORD chipId)
{
    if (chipId > 0xFFFF)
        return 0;
    for (const ChipFamilyRange& row : g_aChipFamilies)
        if (chipId >= row.first && chipId <= row.last)
            return row.family;
    return 0;
}
