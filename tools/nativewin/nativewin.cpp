// malloc-backed stand-ins for the Windows calls the decoders make.
#include <windows.h>

#include <cstdlib>
#include <cctype>

namespace {

long g_heapBlocks;
long g_gdiObjects;
long g_failCountdown = -1;
size_t g_allocationLimit;
uint64_t g_largestRequest;

bool OverLimit(uint64_t bytes)
{
    if (bytes > g_largestRequest)
        g_largestRequest = bytes;
    return g_allocationLimit && bytes > g_allocationLimit;
}

bool ShouldFail()
{
    if (g_failCountdown < 0)
        return false;
    if (g_failCountdown == 0) {
        g_failCountdown = -1;
        return true;
    }
    --g_failCountdown;
    return false;
}

enum ObjectKind : uint32_t { kDib = 0x44494253, kPalette = 0x50414C54 };

struct GdiObject {
    uint32_t kind;
    void* bits;      // DIB: pixel bits
    void* info;      // DIB: copy of the BITMAPINFO; palette: the LOGPALETTE
};

int HeaderColors(const BITMAPINFOHEADER& h)
{
    if (h.biBitCount > 8)
        return 0;
    return h.biClrUsed ? (int)h.biClrUsed : 1 << h.biBitCount;
}

} // namespace

HANDLE WINAPI GetProcessHeap() { return reinterpret_cast<HANDLE>(1); }

LPVOID WINAPI HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes)
{
    if (OverLimit(bytes) || ShouldFail())
        return nullptr;
    void* p = (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (p)
        ++g_heapBlocks;
    return p;
}

LPVOID WINAPI HeapReAlloc(HANDLE, DWORD, LPVOID block, SIZE_T bytes)
{
    if (OverLimit(bytes) || ShouldFail())
        return nullptr;
    return realloc(block, bytes ? bytes : 1);
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID block)
{
    if (!block)
        return TRUE;
    free(block);
    --g_heapBlocks;
    return TRUE;
}

HBITMAP WINAPI CreateDIBSection(HDC, const BITMAPINFO* bmi, UINT, void** bits, HANDLE, DWORD)
{
    if (bits)
        *bits = nullptr;
    if (!bmi || bmi->bmiHeader.biWidth <= 0 || bmi->bmiHeader.biHeight == 0)
        return nullptr;
    const BITMAPINFOHEADER& h = bmi->bmiHeader;
    uint64_t height = h.biHeight < 0 ? -(int64_t)h.biHeight : h.biHeight;
    uint64_t row = (((uint64_t)h.biWidth * h.biBitCount + 31) / 32) * 4;
    uint64_t size = row * height;
    if (OverLimit(size) || size == 0 || size > (1ull << 31) || ShouldFail())
        return nullptr;
    size_t infoSize = sizeof(BITMAPINFOHEADER) + sizeof(RGBQUAD) * HeaderColors(h);
    GdiObject* o = static_cast<GdiObject*>(malloc(sizeof(GdiObject)));
    o->kind = kDib;
    o->bits = calloc(1, (size_t)size);
    o->info = malloc(infoSize);
    memcpy(o->info, bmi, infoSize);
    ++g_gdiObjects;
    if (bits)
        *bits = o->bits;
    return reinterpret_cast<HBITMAP>(o);
}

HPALETTE WINAPI CreatePalette(const LOGPALETTE* lp)
{
    if (!lp || lp->palVersion != 0x300 || ShouldFail())
        return nullptr;
    size_t size = 4 + 4 * (size_t)lp->palNumEntries;
    GdiObject* o = static_cast<GdiObject*>(malloc(sizeof(GdiObject)));
    o->kind = kPalette;
    o->bits = nullptr;
    o->info = malloc(size);
    memcpy(o->info, lp, size);
    ++g_gdiObjects;
    return reinterpret_cast<HPALETTE>(o);
}

BOOL WINAPI DeleteObject(HGDIOBJ obj)
{
    GdiObject* o = reinterpret_cast<GdiObject*>(obj);
    if (!o || (o->kind != kDib && o->kind != kPalette))
        return FALSE;
    o->kind = 0;
    free(o->bits);
    free(o->info);
    free(o);
    --g_gdiObjects;
    return TRUE;
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b)
{
    for (;; ++a, ++b) {
        int ca = tolower((unsigned char)*a), cb = tolower((unsigned char)*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (!ca)
            return 0;
    }
}

// The processor's own answer; this system saves every register it has.
BOOL WINAPI IsProcessorFeaturePresent(DWORD feature)
{
#if defined(__i386__) || defined(__x86_64__)
    switch (feature) {
    case PF_XMMI64_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse2");
    case PF_SSE3_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse3");
    case PF_SSSE3_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("ssse3");
    case PF_SSE4_1_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse4.1");
    case PF_SSE4_2_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse4.2");
    case PF_AVX_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("avx");
    case PF_AVX2_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("avx2");
    default: return FALSE;
    }
#else
    return FALSE;
#endif
}

NativeWinCounts NativeWin_Counts() { return { g_heapBlocks, g_gdiObjects }; }
void NativeWin_FailAllocation(long n) { g_failCountdown = n; }
void NativeWin_SetAllocationLimit(size_t bytes) { g_allocationLimit = bytes; }

size_t NativeWin_TakeLargestRequest()
{
    size_t largest = (size_t)g_largestRequest;
    g_largestRequest = 0;
    return largest;
}

const BITMAPINFO* NativeWin_DibInfo(HBITMAP bmp)
{
    GdiObject* o = reinterpret_cast<GdiObject*>(bmp);
    return o && o->kind == kDib ? static_cast<const BITMAPINFO*>(o->info) : nullptr;
}

void* NativeWin_DibBits(HBITMAP bmp)
{
    GdiObject* o = reinterpret_cast<GdiObject*>(bmp);
    return o && o->kind == kDib ? o->bits : nullptr;
}

const LOGPALETTE* NativeWin_Palette(HPALETTE pal)
{
    GdiObject* o = reinterpret_cast<GdiObject*>(pal);
    return o && o->kind == kPalette ? static_cast<const LOGPALETTE*>(o->info) : nullptr;
}
