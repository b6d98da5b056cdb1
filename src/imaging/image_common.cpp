// Services shared by the decoders and the skin: dispatch by type code, the
// DIB row size, the type code of a file name, and the gradient palette.
#include "imaging/imaging.h"

#include "common/raii.h"

#include <cstdint>
#include <cstring>

namespace {

IMG_NOTES g_imgNotes;

struct ExtensionType {
    const char* extension;
    WORD type;
};

constexpr ExtensionType kExtensions[] = {
    { "jpg", IMG_TYPE_JPEG }, { "jpeg", IMG_TYPE_JPEG }, { "gif", IMG_TYPE_GIF },  { "png", IMG_TYPE_PNG },
    { "ping", IMG_TYPE_PNG }, { "tif", IMG_TYPE_TIFF },  { "tiff", IMG_TYPE_TIFF }, { "bmp", IMG_TYPE_BMP },
};

} // namespace

IMG_NOTES* Img_GetNotes() { return &g_imgNotes; }

void Img_NoteRefusal(const char* why)
{
    if (!g_imgNotes.refusal)
        g_imgNotes.refusal = why;
}

HBITMAP Img_Decode(HDC hdc, WORD type, const BYTE* data, IMG_INFO* info)
{
    memset(&g_imgNotes, 0, sizeof g_imgNotes);
    switch (type) {
    case IMG_TYPE_JPEG:
        return Img_DecodeJpeg(hdc, data, info);
    case IMG_TYPE_PNG:
        return Img_DecodePng(hdc, data, info);
    case IMG_TYPE_BMP:
        return Img_DecodeBmp(hdc, data, info);
    case IMG_TYPE_GIF:
        Img_NoteRefusal("GIF pictures are not decoded");
        return nullptr;
    case IMG_TYPE_TIFF:
        Img_NoteRefusal("TIFF pictures are not decoded");
        return nullptr;
    default:
        Img_NoteRefusal("unknown picture type");
        return nullptr;
    }
}

DWORD Img_GetRowBytes(LONG width, WORD bitCount)
{
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return 0;
    }
    if (width <= 0)
        return 0;
    uint64_t bytes = ((uint64_t)width * bitCount + 31) / 32 * 4;
    return bytes > 0xFFFFFFFFu ? 0 : (DWORD)bytes;
}

WORD Img_GetTypeFromExtension(LPCSTR path)
{
    if (!path)
        return IMG_TYPE_UNKNOWN;
    const char* dot = strrchr(path, '.');
    if (!dot)
        return IMG_TYPE_UNKNOWN;
    for (const ExtensionType& e : kExtensions) {
        if (lstrcmpiA(dot + 1, e.extension) == 0)
            return e.type;
    }
    return IMG_TYPE_UNKNOWN;
}

HPALETTE Img_CreateGradientPalette(const IMG_GRADIENT_SEGMENT* segments)
{
    if (!segments)
        return nullptr;
    // A palette holds at most 65535 entries (palNumEntries is 16-bit), and a
    // negative step count is no ramp at all: both are refused.
    uint32_t sum = 0;
    for (const IMG_GRADIENT_SEGMENT* s = segments; s->nSteps != 0; ++s) {
        if (s->nSteps < 0 || sum + (uint32_t)s->nSteps > 0xFFFF)
            return nullptr;
        sum += (uint32_t)s->nSteps;
    }
    qx::HeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 4 * (SIZE_T)sum + 4));
    if (!block)
        return nullptr;
    LOGPALETTE* pal = static_cast<LOGPALETTE*>(block.get());
    pal->palVersion = 0x300;
    PALETTEENTRY* e = pal->palPalEntry;
    for (const IMG_GRADIENT_SEGMENT* s = segments; s->nSteps != 0; ++s) {
        const int n = s->nSteps;
        const int from[3] = { GetRValue(s->crFrom), GetGValue(s->crFrom), GetBValue(s->crFrom) };
        const int to[3] = { GetRValue(s->crTo), GetGValue(s->crTo), GetBValue(s->crTo) };
        for (int j = 0; j < n; ++j, ++e) {
            int c[3];
            for (int k = 0; k < 3; ++k) {
                // A one-step ramp would divide by zero: it is its crFrom colour.
                c[k] = n == 1 ? from[k] : (from[k] * (n - 1 - j) + to[k] * j) / (n - 1);
            }
            e->peRed = (BYTE)c[0];
            e->peGreen = (BYTE)c[1];
            e->peBlue = (BYTE)c[2];
            e->peFlags = 0;
        }
    }
    pal->palNumEntries = (WORD)sum;
    return CreatePalette(pal);
}
