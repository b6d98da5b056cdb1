// The image front end and the decoders behind it. Every picture of the page
// (previews, backgrounds, logos, button faces) comes through these calls.
//
// The decoders (Img_Decode*, Img_GetRowBytes, Img_CreateGradientPalette) use
// only heap, DIB-section and palette calls, so they also build natively
// against tools/nativewin; the loaders that touch resources, files and the
// screen are Windows-only (image_loader.cpp).
#pragma once
#include <windows.h>

// Image type codes.
enum : WORD {
    IMG_TYPE_JPEG = 0,
    IMG_TYPE_GIF = 1,
    IMG_TYPE_PNG = 2,
    IMG_TYPE_TIFF = 3,
    IMG_TYPE_BMP = 4,
    IMG_TYPE_UNKNOWN = 0xFFFF,
};

// What a decoder reports besides its DIB section. The caller zeroes it and
// sets cbData; pLogPalette and pBitmapInfo are heap blocks the caller frees
// with HeapFree(GetProcessHeap(), ...), also after a failed decode.
struct IMG_INFO {
    DWORD cbData;             // in: bytes of encoded data
    LOGPALETTE* pLogPalette;  // out: palette of a palette image, or null
    BITMAPINFO* pBitmapInfo;  // out: header and colour table of the DIB section
    void* pBits;              // out: pixels, owned by the DIB section
    DWORD nColors;            // out: colour-table entries, 0 for true colour
};

// One colour ramp of a gradient palette; a list ends with nSteps == 0.
struct IMG_GRADIENT_SEGMENT {
    COLORREF crFrom;
    COLORREF crTo;
    int nSteps;
};

// ---- decoders (portable) ----------------------------------------------------
HBITMAP Img_Decode(HDC hdc, WORD type, const BYTE* data, IMG_INFO* info);
HBITMAP Img_DecodeJpeg(HDC hdc, const BYTE* data, IMG_INFO* info);
HBITMAP Img_DecodePng(HDC hdc, const BYTE* data, IMG_INFO* info);
HBITMAP Img_DecodeBmp(HDC hdc, const BYTE* data, IMG_INFO* info);
DWORD Img_GetRowBytes(LONG width, WORD bitCount);
WORD Img_GetTypeFromExtension(LPCSTR path);
HPALETTE Img_CreateGradientPalette(const IMG_GRADIENT_SEGMENT* segments);

// ---- diagnostics (portable) -------------------------------------------------
// What the last Img_Decode learnt about its picture, for tools that tell an
// OEM why a skin picture is refused (qxpic); the page never reads it. Texts
// are constant strings owned by the decoders. Img_Decode clears it first.
struct IMG_NOTES {
    const char* refusal;    // why the picture was refused, or null
    const char* coding;     // e.g. "baseline", "progressive", or null
    DWORD width, height;    // as the picture's header declares them
    int components;         // colour components or channels, 0 if unknown
    char sampling[24];      // e.g. "2x2 1x1 1x1", empty if not applicable
};
IMG_NOTES* Img_GetNotes();
// Records why a decode fails; the first reason given is kept.
void Img_NoteRefusal(const char* why);

#ifdef _WIN32
// ---- loaders (Windows only) -------------------------------------------------
HRSRC Img_FindResource(HMODULE module, LPCSTR name, WORD* type);
const BYTE* Img_OpenFile(LPCSTR path, WORD* type, DWORD* size, HANDLE* mapping, HANDLE* file, BOOL* mapped);
HBITMAP Img_LoadBitmap(HMODULE module, LPCSTR name);
HBITMAP Img_LoadBitmapEx(HWND hwnd, HMODULE module, LPCSTR name, LOGPALETTE* palette);
HBITMAP Img_LoadBitmapFromFile(LPCSTR path);
HBITMAP Img_LoadBitmapFromFileEx(HWND hwnd, LPCSTR path, LOGPALETTE* palette);
HBITMAP Img_LoadDib(HWND hwnd, HMODULE module, LPCSTR name, IMG_INFO* info);
HBITMAP Img_LoadDibFromFile(HWND hwnd, LPCSTR path, IMG_INFO* info);
#endif
