// Reversing the PNG row filters (filter method 0: None, Sub, Up, Average,
// Paeth) in place.
#pragma once
#include <windows.h>

// Undoes filter 'type' on the 'bytes' bytes of row against the row above
// (prev, all zero for the first row of an image or pass). pixelBytes (1 to 4)
// is the distance to the byte of the pixel on the left. Both rows must be
// preceded by at least 4 zero bytes (the pixels left of the first one) and
// followed by at least 4 bytes that may be read. FALSE for an unknown type.
BOOL Png_Unfilter(BYTE type, BYTE* row, const BYTE* prev, DWORD bytes, DWORD pixelBytes);
