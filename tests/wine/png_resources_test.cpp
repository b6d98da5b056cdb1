// The page's PNG pictures, decoded from the built QXTINTRA.dll's resources
// by the module's own PNG decoder on real GDI: each one loads as a DIB
// section and as a screen bitmap, with the size and colour table its file
// declares, pixels equal to what the system's own PNG codec (WIC) makes of
// the same bytes, and nothing left behind.
#include "qxtest.h"

#include "imaging/imaging.h"
#include "resource.h"

#include <wincodec.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct PngResource {
    int id;
    const char* name;
};

const PngResource kPngResources[] = {
    { IDB_BKGND_CLASSIC, "IDB_BKGND_CLASSIC" },
    { IDB_BKGND_CLASSIC_8BPP, "IDB_BKGND_CLASSIC_8BPP" },
    { IDB_BKGND_LUSTRE, "IDB_BKGND_LUSTRE" },
    { IDB_BKGND_LUSTRE_8BPP, "IDB_BKGND_LUSTRE_8BPP" },
    { IDB_PREVIEW_FRAME, "IDB_PREVIEW_FRAME" },
    { IDB_PREVIEW_FRAME_8BPP, "IDB_PREVIEW_FRAME_8BPP" },
    { IDB_LOGO_LUSTRE, "IDB_LOGO_LUSTRE" },
    { IDB_LOGO_CLASSIC, "IDB_LOGO_CLASSIC" },
    { IDB_LOGO_LUSTRE_8BPP, "IDB_LOGO_LUSTRE_8BPP" },
    { IDB_LOGO_CLASSIC_8BPP, "IDB_LOGO_CLASSIC_8BPP" },
};

struct ResourceBytes {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

ResourceBytes FindPng(int id)
{
    HMODULE dll = qxtest::BuiltDll();
    HRSRC res = dll ? FindResourceA(dll, MAKEINTRESOURCEA(id), "PNG") : nullptr;
    if (!res)
        return {};
    return { static_cast<const BYTE*>(LockResource(LoadResource(dll, res))), SizeofResource(dll, res) };
}

DWORD BigEndian(const BYTE* p) { return (DWORD)p[0] << 24 | (DWORD)p[1] << 16 | (DWORD)p[2] << 8 | p[3]; }

// The DIB's pixels through its colour table, as 0x00RRGGBB, top row first.
std::vector<DWORD> DibPixels(const IMG_INFO& info)
{
    const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
    const DWORD stride = Img_GetRowBytes(h.biWidth, h.biBitCount);
    const BYTE* bits = static_cast<const BYTE*>(info.pBits);
    std::vector<DWORD> out;
    for (LONG y = 0; y < h.biHeight; ++y) {
        const BYTE* row = bits + (size_t)(h.biHeight - 1 - y) * stride;
        for (LONG x = 0; x < h.biWidth; ++x) {
            RGBQUAD q;
            if (h.biBitCount == 24) {
                q = { row[3 * x], row[3 * x + 1], row[3 * x + 2], 0 };
            } else {
                const int bpp = h.biBitCount, perByte = 8 / bpp;
                const int index = (row[x / perByte] >> (8 - bpp * (x % perByte + 1))) & ((1 << bpp) - 1);
                q = info.pBitmapInfo->bmiColors[index];
            }
            out.push_back((DWORD)q.rgbRed << 16 | (DWORD)q.rgbGreen << 8 | q.rgbBlue);
        }
    }
    return out;
}

// The system codec's reading of the same bytes as 32-bit BGRA (alpha from a
// tRNS chunk is dropped: the module ignores transparency), or empty when
// this system has no PNG codec.
std::vector<DWORD> CodecPixels(const ResourceBytes& png, UINT* width, UINT* height)
{
    std::vector<DWORD> out;
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
        return out;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(png.data), png.size)) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                        WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter->GetSize(width, height))) {
        out.resize((size_t)*width * *height);
        if (FAILED(converter->CopyPixels(nullptr, *width * 4, (UINT)(out.size() * 4), reinterpret_cast<BYTE*>(out.data()))))
            out.clear();
        for (DWORD& p : out)
            p &= 0x00FFFFFF;
    }
    if (converter)
        converter->Release();
    if (frame)
        frame->Release();
    if (decoder)
        decoder->Release();
    if (stream)
        stream->Release();
    factory->Release();
    return out;
}

class PngResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }
};

} // namespace

TEST_F(PngResources, EachDecodesInTheDllLikeTheSystemCodec)
{
    HMODULE dll = qxtest::BuiltDll();
    ASSERT_NE(dll, nullptr);
    int compared = 0;
    for (const PngResource& r : kPngResources) {
        SCOPED_TRACE(r.name);
        ResourceBytes png = FindPng(r.id);
        ASSERT_NE(png.data, nullptr);
        ASSERT_GT(png.size, 33u);
        const DWORD width = BigEndian(png.data + 16), height = BigEndian(png.data + 20);
        const BYTE colourType = png.data[25];

        const qxtest::ResourceCounts before = qxtest::CurrentCounts();
        IMG_INFO info = {};
        HBITMAP dib = Img_LoadDib(nullptr, dll, MAKEINTRESOURCEA(r.id), &info);
        ASSERT_NE(dib, nullptr) << (Img_GetNotes()->refusal ? Img_GetNotes()->refusal : "");
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        EXPECT_EQ((DWORD)h.biWidth, width);
        EXPECT_EQ((DWORD)h.biHeight, height);
        DIBSECTION section = {};
        ASSERT_EQ(GetObjectA(dib, sizeof section, &section), (int)sizeof section);
        EXPECT_EQ(section.dsBm.bmBits, info.pBits);
        EXPECT_EQ(section.dsBmih.biBitCount, h.biBitCount);
        if (colourType == 3) {
            // Palette pictures keep their palette: colour table and logical
            // palette hold the same colours.
            ASSERT_GT(info.nColors, 0u);
            ASSERT_NE(info.pLogPalette, nullptr);
            EXPECT_EQ(info.pLogPalette->palNumEntries, info.nColors);
            for (DWORD i = 0; i < info.nColors; ++i) {
                EXPECT_EQ(info.pLogPalette->palPalEntry[i].peRed, info.pBitmapInfo->bmiColors[i].rgbRed);
                EXPECT_EQ(info.pLogPalette->palPalEntry[i].peBlue, info.pBitmapInfo->bmiColors[i].rgbBlue);
            }
        }

        UINT cw = 0, ch = 0;
        const std::vector<DWORD> expected = CodecPixels(png, &cw, &ch);
        if (!expected.empty() && colourType != 4 && colourType != 6) {
            EXPECT_EQ(cw, width);
            EXPECT_EQ(ch, height);
            const std::vector<DWORD> actual = DibPixels(info);
            ASSERT_EQ(actual.size(), expected.size());
            size_t differ = 0, first = 0;
            for (size_t i = 0; i < actual.size(); ++i)
                if (actual[i] != expected[i] && !differ++)
                    first = i;
            EXPECT_EQ(differ, 0u) << "first at x " << first % width << " y " << first / width << ": "
                                  << std::hex << actual[first] << " against " << expected[first];
            ++compared;
        }

        DeleteObject(dib);
        HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
        HeapFree(GetProcessHeap(), 0, info.pLogPalette);

        // The screen bitmap made from it.
        HBITMAP ddb = Img_LoadBitmap(dll, MAKEINTRESOURCEA(r.id));
        ASSERT_NE(ddb, nullptr);
        BITMAP bm = {};
        GetObjectA(ddb, sizeof bm, &bm);
        EXPECT_EQ((DWORD)bm.bmWidth, width);
        EXPECT_EQ((DWORD)bm.bmHeight, height);
        DeleteObject(ddb);

        const qxtest::ResourceCounts after = qxtest::CurrentCounts();
        EXPECT_EQ(after.gdi, before.gdi);
        EXPECT_EQ(after.handles, before.handles);
    }
    if (!compared)
        std::printf("note: no system PNG codec here; pixels were not compared\n");
}

TEST_F(PngResources, DamagedCopiesAreRefusedWithoutLeaks)
{
    // Every resource with one byte changed in each of its chunks' data or
    // CRCs: all are refused, and nothing is left behind.
    for (const PngResource& r : kPngResources) {
        SCOPED_TRACE(r.name);
        ResourceBytes png = FindPng(r.id);
        ASSERT_NE(png.data, nullptr);
        std::vector<BYTE> copy(png.data, png.data + png.size);
        const qxtest::ResourceCounts before = qxtest::CurrentCounts();
        for (size_t pos = 8; pos + 12 <= copy.size();) {
            const DWORD len = BigEndian(&copy[pos]);
            for (size_t at : { pos + 8, pos + 8 + len / 2, pos + 8 + len }) {
                if (at >= copy.size())
                    continue;
                copy[at] ^= 0x10;
                IMG_INFO info = {};
                info.cbData = (DWORD)copy.size();
                HDC screen = GetDC(nullptr);
                HBITMAP dib = Img_Decode(screen, IMG_TYPE_PNG, copy.data(), &info);
                ReleaseDC(nullptr, screen);
                EXPECT_EQ(dib, nullptr) << "byte " << at;
                if (dib)
                    DeleteObject(dib);
                EXPECT_EQ(info.pBitmapInfo, nullptr);
                EXPECT_EQ(info.pLogPalette, nullptr);
                copy[at] ^= 0x10;
            }
            pos += 12 + len;
        }
        const qxtest::ResourceCounts after = qxtest::CurrentCounts();
        EXPECT_EQ(after.gdi, before.gdi);
        EXPECT_EQ(after.handles, before.handles);
    }
}
