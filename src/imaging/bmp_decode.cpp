// BMP decoding: a .bmp file (BITMAPFILEHEADER first) or a packed DIB as an
// RT_BITMAP resource holds it, copied into a DIB section of the same format.
//
// Choices beyond the plain copy, all refusals of what a copy cannot carry:
// compressed data (RLE, bit fields) and OS/2 core headers are refused; more
// colours than the bit count can index are refused; the pixels and the colour
// table must lie inside the data. Top-down data (negative height) decodes: its
// rows are turned over, so every caller sees the usual bottom-up DIB.
#include "imaging/imaging.h"

#include "common/raii.h"

#include <cstdint>
#include <cstring>

namespace {

HBITMAP Refuse(const char* why)
{
    Img_NoteRefusal(why);
    return nullptr;
}

} // namespace

HBITMAP Img_DecodeBmp(HDC hdc, const BYTE* data, IMG_INFO* info)
{
    if (!data || !info)
        return Refuse("no data");
    const uint64_t size = info->cbData;
    const bool file = size >= 2 && data[0] == 'B' && data[1] == 'M';
    const uint64_t headerAt = file ? sizeof(BITMAPFILEHEADER) : 0;
    if (size < headerAt + sizeof(BITMAPINFOHEADER))
        return Refuse("truncated BMP header");
    BITMAPINFOHEADER bih;
    memcpy(&bih, data + headerAt, sizeof bih);
    if (bih.biSize < sizeof(BITMAPINFOHEADER) || bih.biSize > size - headerAt)
        return Refuse("unsupported BMP header");
    if (bih.biCompression != BI_RGB)
        return Refuse("compressed BMP (RLE or bit fields)");
    if (bih.biPlanes != 1 || bih.biWidth <= 0 || bih.biHeight == 0 || bih.biHeight == (LONG)0x80000000)
        return Refuse("bad BMP dimensions");
    const DWORD rowBytes = Img_GetRowBytes(bih.biWidth, bih.biBitCount);
    if (!rowBytes)
        return Refuse("unsupported BMP bit depth");
    const bool topDown = bih.biHeight < 0;
    const uint32_t height = topDown ? (uint32_t)-bih.biHeight : (uint32_t)bih.biHeight;
    const uint64_t imageBytes = (uint64_t)rowBytes * height;
    if (imageBytes > 0x7FFFFFFF)
        return Refuse("BMP picture too large");

    uint32_t colors = 0;
    if (bih.biBitCount <= 8) {
        colors = bih.biClrUsed ? bih.biClrUsed : 1u << bih.biBitCount;
        if (colors > (1u << bih.biBitCount))
            return Refuse("BMP colour table larger than its bit count allows");
    }
    const uint64_t tableAt = headerAt + bih.biSize;
    if (tableAt + 4ull * colors > size)
        return Refuse("truncated BMP colour table");
    uint64_t pixelsAt;
    if (file) {
        BITMAPFILEHEADER bfh;
        memcpy(&bfh, data, sizeof bfh);
        pixelsAt = bfh.bfOffBits;
    } else {
        // A packed DIB of more than 8 bits may still carry biClrUsed colours
        // for display on palette screens; the pixels follow them.
        pixelsAt = tableAt + 4ull * (colors ? colors : bih.biClrUsed);
    }
    if (pixelsAt > size || size - pixelsAt < imageBytes)
        return Refuse("truncated BMP pixel data");

    qx::HeapBlock header(HeapAlloc(GetProcessHeap(), 0, sizeof(BITMAPINFOHEADER) + 4 * (SIZE_T)colors));
    if (!header)
        return Refuse("out of memory");
    BITMAPINFO* bmi = static_cast<BITMAPINFO*>(header.get());
    bmi->bmiHeader = bih;
    // The copy is a plain 40-byte header (a V4/V5 header's extra fields stay
    // behind) so that its colour table follows at once, and always bottom-up.
    bmi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi->bmiHeader.biHeight = (LONG)height;
    memcpy(bmi->bmiColors, data + tableAt, 4 * (size_t)colors);

    qx::HeapBlock palette;
    if (colors) {
        palette.reset(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 4 * (SIZE_T)colors + 8));
        if (!palette)
            return Refuse("out of memory");
        LOGPALETTE* lp = static_cast<LOGPALETTE*>(palette.get());
        lp->palVersion = 0x300;
        lp->palNumEntries = (WORD)colors;
        for (uint32_t i = 0; i < colors; ++i) {
            lp->palPalEntry[i].peRed = bmi->bmiColors[i].rgbRed;
            lp->palPalEntry[i].peGreen = bmi->bmiColors[i].rgbGreen;
            lp->palPalEntry[i].peBlue = bmi->bmiColors[i].rgbBlue;
            lp->palPalEntry[i].peFlags = 0;
        }
    }

    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(hdc, bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib || !bits) {
        if (dib)
            DeleteObject(dib);
        return Refuse("cannot create the DIB section");
    }
    const BYTE* src = data + pixelsAt;
    if (!topDown) {
        memcpy(bits, src, (size_t)imageBytes);
    } else {
        for (uint32_t y = 0; y < height; ++y)
            memcpy(static_cast<BYTE*>(bits) + (size_t)(height - 1 - y) * rowBytes, src + (size_t)y * rowBytes, rowBytes);
    }
    info->pBits = bits;
    info->nColors = colors;
    info->pBitmapInfo = static_cast<BITMAPINFO*>(header.release());
    info->pLogPalette = static_cast<LOGPALETTE*>(palette.release());
    return dib;
}
