// A stand-in for <windows.h> on the native build: just the types and the
// handful of calls the decoders make (heap, DIB sections, palettes), done with
// malloc. It lets the decoders run under sanitizers, libFuzzer and beside
// their peers in benchmarks. It is not part of the module.
//
// It also counts what is alive, and can fail an allocation on purpose, so
// native tests can check that every failure path releases what it took.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#define WINAPI
#define CALLBACK
#define CONST const
#define FAR
#define NEAR
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef uint16_t WCHAR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD COLORREF;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t SIZE_T;

struct NativeHandle_;
typedef NativeHandle_* HANDLE;
typedef HANDLE HGDIOBJ;
typedef HANDLE HBITMAP;
typedef HANDLE HPALETTE;
typedef HANDLE HDC;

#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)(rgb))
#define GetGValue(rgb) ((BYTE)(((WORD)(rgb)) >> 8))
#define GetBValue(rgb) ((BYTE)((rgb) >> 16))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define ZeroMemory(p, n) memset((p), 0, (n))
#define CopyMemory(d, s, n) memcpy((d), (s), (n))
#define FillMemory(d, n, v) memset((d), (v), (n))

#define HEAP_ZERO_MEMORY 0x00000008
#define DIB_RGB_COLORS 0
#define BI_RGB 0L
#define BI_RLE8 1L
#define BI_RLE4 2L
#define BI_BITFIELDS 3L

#pragma pack(push, 2)
typedef struct tagBITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
} BITMAPFILEHEADER;
#pragma pack(pop)

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO;

typedef struct tagPALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
} PALETTEENTRY;

typedef struct tagLOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
} LOGPALETTE, *LPLOGPALETTE;

static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER is 14 bytes");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");

HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);

HBITMAP WINAPI CreateDIBSection(HDC dc, const BITMAPINFO* bmi, UINT usage, void** bits, HANDLE section, DWORD offset);
HPALETTE WINAPI CreatePalette(const LOGPALETTE* lp);
BOOL WINAPI DeleteObject(HGDIOBJ obj);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);

// What the processor and the system support, for the decoders' kernel choice.
#define PF_XMMI64_INSTRUCTIONS_AVAILABLE 10
#define PF_SSE3_INSTRUCTIONS_AVAILABLE 13
#define PF_SSSE3_INSTRUCTIONS_AVAILABLE 36
#define PF_SSE4_1_INSTRUCTIONS_AVAILABLE 37
#define PF_SSE4_2_INSTRUCTIONS_AVAILABLE 38
#define PF_AVX_INSTRUCTIONS_AVAILABLE 39
#define PF_AVX2_INSTRUCTIONS_AVAILABLE 40
BOOL WINAPI IsProcessorFeaturePresent(DWORD feature);

// ---- test hooks of the stand-in (not Windows API) -------------------------
struct NativeWinCounts {
    long heapBlocks;   // live HeapAlloc blocks
    long gdiObjects;   // live DIB sections and palettes
};
NativeWinCounts NativeWin_Counts();
// Fail the n-th allocation from now (heap or DIB section); -1 disables.
void NativeWin_FailAllocation(long n);
// Refuse any single heap block or DIB section above this many bytes, as a
// real process short of address space would (0 = no limit). Fuzzers use it
// to keep a picture that claims a huge size from exhausting their memory.
void NativeWin_SetAllocationLimit(size_t bytes);
// The largest single heap block or DIB section asked for since the last call,
// granted or not: tests use it to see that a picture whose header claims a
// huge size is refused before anything of that size is asked for.
size_t NativeWin_TakeLargestRequest();
// Reads back what CreateDIBSection / CreatePalette made (for tests and tools).
const BITMAPINFO* NativeWin_DibInfo(HBITMAP bmp);
void* NativeWin_DibBits(HBITMAP bmp);
const LOGPALETTE* NativeWin_Palette(HPALETTE pal);
