// libFuzzer target: the PNG decoder through Img_Decode. Every input must end
// in a picture or a refusal, never in a crash, a hang, a sanitizer report or
// a leaked heap block or GDI object.
//
// Almost every mutation of a PNG file breaks a chunk CRC, which the decoder
// rightly refuses at once. So each input is decoded twice: as it is, and with
// every CRC it declares made right, which lets the mutations reach the chunk
// rules, the decompressor and the row filters.
#include <windows.h>

#include "imaging/checksum.h"
#include "imaging/imaging.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void DecodeOnce(const uint8_t* data, size_t size)
{
    IMG_INFO info = {};
    info.cbData = (DWORD)size;
    HBITMAP dib = Img_Decode(nullptr, IMG_TYPE_PNG, data, &info);
    if (dib) {
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        const WORD bits = h.biBitCount;
        if ((bits != 1 && bits != 4 && bits != 8 && bits != 24) || h.biWidth <= 0 || h.biHeight <= 0 ||
            info.pBits != NativeWin_DibBits(dib) || (bits == 24) != (info.nColors == 0) ||
            (info.nColors != 0) != (info.pLogPalette != nullptr) || info.nColors > (1u << (bits & 15)))
            abort();
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

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Sizes the data cannot back are refused before allocating; what is left
    // is capped as a short process would cap it.
    NativeWin_SetAllocationLimit(16u << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DecodeOnce(data, size);

    std::vector<uint8_t> fixed(data, data + size);
    bool changed = false;
    for (size_t pos = 8; pos + 12 <= fixed.size();) {
        const uint32_t len = (uint32_t)fixed[pos] << 24 | fixed[pos + 1] << 16 | fixed[pos + 2] << 8 | fixed[pos + 3];
        if (len > fixed.size() - pos - 12)
            break;
        const uint32_t crc = Crc32Update(0, &fixed[pos + 4], len + 4);
        uint8_t* stored = &fixed[pos + 8 + len];
        const uint8_t be[4] = { (uint8_t)(crc >> 24), (uint8_t)(crc >> 16), (uint8_t)(crc >> 8), (uint8_t)crc };
        if (memcmp(stored, be, 4) != 0) {
            memcpy(stored, be, 4);
            changed = true;
        }
        pos += 12 + len;
    }
    if (changed)
        DecodeOnce(fixed.data(), fixed.size());
    return 0;
}
