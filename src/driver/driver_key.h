// Finding the display driver's own registry key for this adapter, where
// settings stored beside the driver are kept.
#pragma once
#include <windows.h>

// Operating-system class code (see GetOsVersion), recorded at start-up.
// 256 and above: an NT-class system of version 4 or later.
extern DWORD g_dwOsVersion;

// Path, in the text form OpenRegPath accepts, of the driver-instance key;
// empty while no driver key has been found.
extern char szQxByChipKey[256];

// Driver key names longer than this (not counting the terminator) are
// refused; see InitRegKeyVars.
constexpr int QX_DRIVER_KEY_NAME_CHARS = 127;

// Fills `out` (QX_DRIVER_KEY_BYTES long) with the adapter's driver key name:
// the driver's own answer first (UTF-16 on NT-class systems, ANSI on the
// others), else the PCI enumeration branch of the registry (always ANSI).
// The first two bytes are zero when nothing was found.
BOOL QX_UTIL_GetDriverKeyName(BYTE* out);

// Searches HKLM\Enum\PCI for the device and returns the "Driver" value of its
// first instance in `out` (at least 256 bytes). Each identifier is taken as
// its low 16 bits. `out` is left untouched on failure.
BOOL FindPciDriverKey(DWORD vendor, DWORD device, DWORD revision, DWORD subVendor, DWORD subSystem, LPSTR out);

// Sets g_dwOsVersion and, when the driver key is found, szQxByChipKey.
// Always TRUE.
BOOL InitRegKeyVars();
