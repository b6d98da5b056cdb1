// The chip families this page knows, and the adapter's family once the
// support check has identified it.
#pragma once
#include <windows.h>

enum : DWORD {
    CHIP_FAMILY_PRIMARY = 15,
    CHIP_FAMILY_KP = 21,
};

// The chip maker's PCI vendor identifier ("QX" in ASCII; not a registered
// vendor of any real hardware).
constexpr WORD QX_PCI_VENDOR_ID = 0x5158;

extern DWORD g_dwChipFamily;

// Family code of a PCI device identifier; 0 for one not in the table
// (every value above 0xFFFF included).
DWORD LookupChipFamily(DWORD chipId);

// One row of the table: a run of consecutive device identifiers (a single
// identifier is a run of one) and the family they belong to.
struct ChipFamilyRange {
    WORD first;
    WORD last;
    DWORD family;
};
extern const ChipFamilyRange g_aChipFamilies[];
extern const size_t g_nChipFamilies;
