// qxpic: checks a skin picture with the module's own decoders.
//
//   qxpic decode IN OUT.ppm   writes the picture as binary PPM (P6, 8-bit RGB,
//                             top row first) and exits 0
//   qxpic info IN             prints type, size, coding, sampling, components
//
// A refused picture exits 1 with one line on standard error saying why. The
// decoder is chosen as the module chooses it for a file, by extension; a name
// without a known extension is recognised by its first bytes instead.
#include <windows.h>

#include "imaging/imaging.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char* TypeName(WORD type)
{
    switch (type) {
    case IMG_TYPE_JPEG: return "JPEG";
    case IMG_TYPE_GIF: return "GIF";
    case IMG_TYPE_PNG: return "PNG";
    case IMG_TYPE_TIFF: return "TIFF";
    case IMG_TYPE_BMP: return "BMP";
    default: return "unknown";
    }
}

WORD SniffType(const std::vector<BYTE>& data)
{
    static const BYTE kPng[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    if (data.size() >= 8 && memcmp(data.data(), kPng, 8) == 0)
        return IMG_TYPE_PNG;
    if (data.size() >= 2 && data[0] == 'B' && data[1] == 'M')
        return IMG_TYPE_BMP;
    if (data.size() >= 4 && (memcmp(data.data(), "GIF8", 4) == 0))
        return IMG_TYPE_GIF;
    for (size_t i = 0; i + 1 < data.size() && i <= 144; ++i) {
        if (data[i] == 0xFF)
            return data[i + 1] == 0xD8 ? IMG_TYPE_JPEG : IMG_TYPE_UNKNOWN;
    }
    return IMG_TYPE_UNKNOWN;
}

bool ReadFile(const char* path, std::vector<BYTE>* out)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return false;
    BYTE buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out->insert(out->end(), buf, buf + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// One DIB row of any layout the decoders produce as R, G, B bytes: a loop
// per layout over the whole row, not a decision per pixel.
void RowRgb(const BITMAPINFO* bmi, const BYTE* row, LONG width, BYTE* rgb)
{
    const WORD bpp = bmi->bmiHeader.biBitCount;
    if (bpp == 24 || bpp == 32) {
        const int step = bpp / 8;
        for (LONG x = 0; x < width; ++x, row += step, rgb += 3)
            rgb[0] = row[2], rgb[1] = row[1], rgb[2] = row[0];
    } else if (bpp == 16) {
        for (LONG x = 0; x < width; ++x, row += 2, rgb += 3) {
            const WORD v = (WORD)(row[0] | row[1] << 8);
            rgb[0] = (BYTE)(((v >> 10) & 31) * 255 / 31);
            rgb[1] = (BYTE)(((v >> 5) & 31) * 255 / 31);
            rgb[2] = (BYTE)((v & 31) * 255 / 31);
        }
    } else {
        const int perByte = 8 / bpp, mask = (1 << bpp) - 1;
        for (LONG x = 0; x < width; ++x, rgb += 3) {
            const int shift = 8 - bpp * (x % perByte + 1);
            const RGBQUAD& q = bmi->bmiColors[(row[x / perByte] >> shift) & mask];
            rgb[0] = q.rgbRed, rgb[1] = q.rgbGreen, rgb[2] = q.rgbBlue;
        }
    }
}

bool WritePpm(const char* path, const BITMAPINFO* bmi, const BYTE* bits)
{
    const LONG width = bmi->bmiHeader.biWidth;
    const LONG height = bmi->bmiHeader.biHeight < 0 ? -bmi->bmiHeader.biHeight : bmi->bmiHeader.biHeight;
    const bool bottomUp = bmi->bmiHeader.biHeight > 0;
    const DWORD rowBytes = Img_GetRowBytes(width, bmi->bmiHeader.biBitCount);
    FILE* f = fopen(path, "wb");
    if (!f)
        return false;
    fprintf(f, "P6\n%ld %ld\n255\n", (long)width, (long)height);
    std::vector<BYTE> line((size_t)width * 3);
    for (LONG y = 0; y < height; ++y) {
        RowRgb(bmi, bits + (size_t)(bottomUp ? height - 1 - y : y) * rowBytes, width, line.data());
        fwrite(line.data(), 1, line.size(), f);
    }
    bool ok = !ferror(f);
    return fclose(f) == 0 && ok;
}

int Usage()
{
    fprintf(stderr, "usage: qxpic decode IN OUT.ppm\n       qxpic info IN\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    const bool decode = strcmp(argv[1], "decode") == 0;
    if ((decode && argc != 4) || (!decode && (strcmp(argv[1], "info") != 0 || argc != 3)))
        return Usage();

    std::vector<BYTE> data;
    if (!ReadFile(argv[2], &data)) {
        fprintf(stderr, "refused: cannot read %s\n", argv[2]);
        return 1;
    }
    WORD type = Img_GetTypeFromExtension(argv[2]);
    if (type == IMG_TYPE_UNKNOWN)
        type = SniffType(data);

    IMG_INFO info = {};
    info.cbData = (DWORD)data.size();
    HBITMAP dib = Img_Decode(nullptr, type, data.data(), &info);
    const IMG_NOTES* notes = Img_GetNotes();

    int status = 0;
    if (!decode) {
        const BITMAPINFOHEADER* h = info.pBitmapInfo ? &info.pBitmapInfo->bmiHeader : nullptr;
        DWORD width = notes->width ? notes->width : h ? (DWORD)h->biWidth : 0;
        DWORD height = notes->height ? notes->height : h ? (DWORD)(h->biHeight < 0 ? -h->biHeight : h->biHeight) : 0;
        printf("type: %s\n", TypeName(type));
        if (width)
            printf("size: %lux%lu\n", (unsigned long)width, (unsigned long)height);
        if (notes->coding)
            printf("coding: %s\n", notes->coding);
        if (notes->sampling[0])
            printf("sampling: %s\n", notes->sampling);
        if (notes->components)
            printf("components: %d\n", notes->components);
        if (h)
            printf("output: %u-bit DIB, %lu colours\n", h->biBitCount, (unsigned long)info.nColors);
    }
    if (!dib) {
        fprintf(stderr, "refused: %s\n", notes->refusal ? notes->refusal : "the decoder refused the picture");
        status = 1;
    } else if (decode && !WritePpm(argv[3], info.pBitmapInfo, static_cast<const BYTE*>(info.pBits))) {
        fprintf(stderr, "cannot write %s\n", argv[3]);
        status = 1;
    }
    if (dib)
        DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    return status;
}
