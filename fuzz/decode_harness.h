// What every decoder fuzz target does with one input: decode it through
// Img_Decode, the module's own entry, check the result is well formed, free
// everything, and stop the run if any heap block or GDI object is left alive.
#pragma once
#include <windows.h>

#include "imaging/imaging.h"

#include <cstdlib>

// A picture may claim huge dimensions in a few bytes; above this an
// allocation fails as it would in a process short of memory, which the
// decoders must survive like any other refusal.
constexpr size_t kFuzzAllocationLimit = 4u << 20;

template <typename CheckFn>
void FuzzDecode(WORD type, const uint8_t* data, size_t size, CheckFn&& check)
{
    static bool limited = (NativeWin_SetAllocationLimit(kFuzzAllocationLimit), true);
    (void)limited;
    IMG_INFO info = {};
    info.cbData = (DWORD)size;
    HBITMAP dib = Img_Decode(nullptr, type, data, &info);
    if (dib) {
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        DWORD rowBytes = Img_GetRowBytes(h.biWidth, h.biBitCount);
        if (!rowBytes || h.biHeight <= 0 || info.pBits != NativeWin_DibBits(dib) || !check(info))
            abort();
        // Touch the last byte: the section holds the whole picture.
        volatile BYTE last = static_cast<BYTE*>(info.pBits)[(size_t)rowBytes * h.biHeight - 1];
        (void)last;
        DeleteObject(dib);
    } else if (info.pBitmapInfo || info.pLogPalette) {
        abort();  // a refusal hands nothing out
    }
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    NativeWinCounts live = NativeWin_Counts();
    if (live.heapBlocks != 0 || live.gdiObjects != 0)
        abort();
}
