// What every decode through Img_Decode must leave, for fuzz targets and native tests alike: a well-formed header
// and section, a palette exactly of its colour table, a refusal that hands nothing out, nothing left alive.
#pragma once
#include <windows.h>

#include "imaging/imaging.h"

#include <cstring>
#include <string>
#include <vector>

// A picture may claim huge dimensions in a few bytes; above this the fuzz targets fail an allocation as a
// process short of memory would, which the decoders must survive like any other refusal.
constexpr size_t kFuzzAllocationLimit = 4u << 20;

// A decoded picture, or why there is none.
struct Pic {
    bool ok = false;
    std::string why;    // the refusal note, "(none)" when the decoder gave none
    std::string wrong;  // what the decode left that it must not; empty when nothing
    int w = 0, h = 0, bits = 0;
    std::vector<RGBQUAD> colors;
    std::vector<uint8_t> dib;  // as the section holds it: rows bottom-up, padded to 4 bytes
    const uint8_t* Row(int y) const { return &dib[(size_t)(h - 1 - y) * Img_GetRowBytes(w, (WORD)bits)]; }
};

inline Pic DecodeChecked(WORD type, const uint8_t* data, size_t size)
{
    const NativeWinCounts before = NativeWin_Counts();
    IMG_INFO info{};
    info.cbData = (DWORD)size;
    HBITMAP dib = Img_Decode(nullptr, type, data, &info);
    Pic p;
    auto require = [&](bool ok, const char* what) { p.wrong = ok || !p.wrong.empty() ? p.wrong : what; };
    p.ok = dib != nullptr;
    p.why = Img_GetNotes()->refusal ? Img_GetNotes()->refusal : "(none)";
    require(dib || (!info.pBitmapInfo && !info.pLogPalette), "a refusal handed something out");
    if (dib) {
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        const DWORD n = info.nColors, stride = Img_GetRowBytes(h.biWidth, h.biBitCount);
        p.w = h.biWidth, p.h = h.biHeight, p.bits = h.biBitCount;
        p.colors.assign(info.pBitmapInfo->bmiColors, info.pBitmapInfo->bmiColors + n);
        require(stride && h.biHeight > 0 && h.biSize == 40 && h.biPlanes == 1 && h.biCompression == BI_RGB, "the header");
        require(info.pBits == NativeWin_DibBits(dib) && !memcmp(NativeWin_DibInfo(dib), info.pBitmapInfo, 40 + 4 * n),
                "the section is not the one described");
        require(type == IMG_TYPE_JPEG ? p.bits == 24 && !n
                : type == IMG_TYPE_PNG ? (p.bits == 24) == !n && (p.bits == 1 || p.bits == 4 || p.bits == 8 || p.bits == 24)
                                       : p.bits > 8 || n <= 1u << p.bits,
                "the bit count or the colour count");
        const LOGPALETTE* lp = info.pLogPalette;
        require(lp ? lp->palVersion == 0x300 && lp->palNumEntries == n : !n, "a palette exactly when there are colours");
        for (DWORD i = 0; lp && i < n; ++i) {
            const PALETTEENTRY& e = lp->palPalEntry[i];
            const RGBQUAD& q = p.colors[i];
            require(e.peRed == q.rgbRed && e.peGreen == q.rgbGreen && e.peBlue == q.rgbBlue && !e.peFlags, "the palette differs");
        }
        p.dib.assign((uint8_t*)info.pBits, (uint8_t*)info.pBits + (size_t)stride * (h.biHeight > 0 ? h.biHeight : 0));
        if (type != IMG_TYPE_BMP) {  // a header of their own, and zero padding
            require(h.biXPelsPerMeter == 72 && h.biYPelsPerMeter == 72 && h.biClrUsed == n, "the header");
            for (size_t row = 0; row < p.dib.size(); row += stride)
                for (DWORD x = (p.w * p.bits + 7) / 8; x < stride; ++x)
                    require(!p.dib[row + x], "padding that is not zero");
        }
        DeleteObject(dib);
    }
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo), HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    const NativeWinCounts after = NativeWin_Counts();
    require(after.heapBlocks == before.heapBlocks && after.gdiObjects == before.gdiObjects, "a heap block or GDI object left alive");
    return p;
}
