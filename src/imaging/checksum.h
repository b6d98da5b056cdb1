// The two checksums of a PNG file: CRC-32 over every chunk's type and data,
// and the Adler-32 that closes the zlib stream of the image data.
#pragma once
#include <windows.h>

// Continues a CRC-32 (reflected polynomial 0xEDB88320). Start with 0; the
// value returned is the finished CRC of everything passed so far, so a
// stream can be fed in pieces.
DWORD Crc32Update(DWORD crc, const BYTE* data, SIZE_T size);

// Continues an Adler-32 (RFC 1950). Start with 1.
DWORD Adler32Update(DWORD adler, const BYTE* data, SIZE_T size);
