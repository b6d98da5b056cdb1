// libFuzzer target: the BMP decoder through Img_Decode, the module's own
// entry, for files and packed DIBs alike.
#include <windows.h>

#include "imaging/imaging.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    NativeWin_SetAllocationLimit(32u << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IMG_INFO info = {};
    info.cbData = (DWORD)size;
    HBITMAP dib = Img_Decode(nullptr, IMG_TYPE_BMP, data, &info);
    if (dib) {
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        DWORD rowBytes = Img_GetRowBytes(h.biWidth, h.biBitCount);
        if (!rowBytes || h.biHeight <= 0 || (info.nColors != 0) != (info.pLogPalette != nullptr))
            abort();
        // Touch the last byte: the copy must have filled the whole section.
        volatile BYTE last = static_cast<BYTE*>(info.pBits)[(size_t)rowBytes * h.biHeight - 1];
        (void)last;
        DeleteObject(dib);
    }
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    NativeWinCounts live = NativeWin_Counts();
    if (live.heapBlocks != 0 || live.gdiObjects != 0)
        abort();
    return 0;
}
