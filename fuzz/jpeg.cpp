// libFuzzer target: the JPEG decoder through Img_Decode, the module's own
// entry. Every input must end in a picture or a refusal, never in a crash,
// a hang, a sanitizer report or a leaked heap block or GDI object.
#include <windows.h>

#include "imaging/imaging.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A picture may claim up to 65535 x 65535 pixels from a few bytes; above
    // 32 MB an allocation fails here as it would in a short process, which the
    // decoder must survive like any other refusal.
    NativeWin_SetAllocationLimit(4u << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IMG_INFO info = {};
    info.cbData = (DWORD)size;
    HBITMAP dib = Img_Decode(nullptr, IMG_TYPE_JPEG, data, &info);
    if (dib) {
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        if (h.biBitCount != 24 || h.biWidth <= 0 || h.biHeight <= 0 || info.pBits != NativeWin_DibBits(dib))
            abort();
        DeleteObject(dib);
    }
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    NativeWinCounts live = NativeWin_Counts();
    if (live.heapBlocks != 0 || live.gdiObjects != 0)
        abort();
    return 0;
}
