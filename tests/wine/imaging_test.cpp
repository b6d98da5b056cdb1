// The image front end on real GDI: resources found by type order, files by
// extension (mapped view or heap buffer), screen bitmaps with their
// palettes, DIB sections; the DLL's PNG pictures against the system's own
// codec (WIC) and damaged copies of them; nothing left behind by any load.
#include "qxtest.h"

#include <wincodec.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "imaging/imaging.h"
#include "resource.h"

namespace {

using Bytes = std::vector<BYTE>;

// A packed DIB, width x 2, of 8 bits (entry i of the table = red i, green
// 255 - i, blue i / 2) or 24 bits; pixel bytes count up in steps of 7.
Bytes PackedDib(int width, WORD bits)
{
    const DWORD colours = bits == 8 ? 256 : 0, rowBytes = Img_GetRowBytes(width, bits);
    Bytes dib(40 + 4 * colours + 2 * rowBytes);
    const BITMAPINFOHEADER h = { 40, width, 2, 1, bits };
    memcpy(dib.data(), &h, sizeof h);
    for (DWORD i = 0; i < colours; ++i)
        dib[40 + 4 * i] = BYTE(i / 2), dib[41 + 4 * i] = BYTE(255 - i), dib[42 + 4 * i] = BYTE(i);
    for (DWORD i = 0; i < 2 * rowBytes; ++i)
        dib[40 + 4 * colours + i] = BYTE(i * 7);
    return dib;
}

Bytes BmpFile(const Bytes& dib, DWORD colours)
{
    const BITMAPFILEHEADER f = { 0x4D42, DWORD(sizeof f + dib.size()), 0, 0, DWORD(sizeof f + 40 + 4 * colours) };
    Bytes file(reinterpret_cast<const BYTE*>(&f), reinterpret_cast<const BYTE*>(&f) + sizeof f);
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

Bytes Photo()
{
    std::ifstream in(QX_SOURCE_DIR "/fuzz/corpus/jpeg/baseline420.jpg", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

LONG Width(HBITMAP b)
{
    BITMAP bm = {};
    GetObjectA(b, sizeof bm, &bm);
    return bm.bmWidth * 1000 + bm.bmHeight;
}

TEST(Imaging, ResourcesByTypeOrderWithPalettes)
{
    // A copy of this program whose resources are the pictures, loaded as data.
    const std::string dir = qxtest::MakeTempDir("imgres"), path = dir + "\\pictures.dll";
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    ASSERT_TRUE(CopyFileA(self, path.c_str(), FALSE));
    const Bytes photo = Photo(), face = PackedDib(5, 8), junk(5, 'x');
    ASSERT_FALSE(photo.empty());
    HANDLE update = BeginUpdateResourceA(path.c_str(), TRUE);
    const struct {
        LPCSTR type, name;
        const Bytes& data;
    } resources[] = { { "JPG", "PHOTO", photo }, { "JPG", MAKEINTRESOURCEA(101), photo }, { "JPG", "BOTH", photo },
        { "PNG", "BOTH", junk }, { RT_BITMAP, "BOTH", face }, { RT_BITMAP, "FACE", face }, { "JPG", "BROKEN", junk } };
    for (const auto& r : resources)
        ASSERT_TRUE(UpdateResourceA(update, r.type, r.name, 0, const_cast<BYTE*>(r.data.data()), DWORD(r.data.size())));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();

    // PNG first, then bitmap, then JPG; a "BOTH" that is no PNG fails rather
    // than falling back to the JPG of the same name.
    const std::pair<LPCSTR, WORD> types[] = { { "BOTH", IMG_TYPE_PNG }, { "FACE", IMG_TYPE_BMP }, { "PHOTO", IMG_TYPE_JPEG },
        { MAKEINTRESOURCEA(101), IMG_TYPE_JPEG }, { "MISSING", 0xBEEF } };
    for (const auto& [name, expected] : types) {
        WORD type = 0xBEEF;
        EXPECT_EQ(Img_FindResource(module, name, &type) != nullptr, expected != 0xBEEF);
        EXPECT_EQ(type, expected);
    }
    EXPECT_EQ(Img_LoadBitmap(module, "BOTH"), nullptr);
    EXPECT_EQ(Img_LoadBitmap(module, "MISSING"), nullptr);
    for (LPCSTR name : { LPCSTR("PHOTO"), LPCSTR(MAKEINTRESOURCEA(101)) }) {
        HBITMAP b = Img_LoadBitmap(module, name);
        EXPECT_EQ(Width(b), 24016);
        DeleteObject(b);
    }
    // A bitmap of 256 colours hands out its palette; a photo or a failure none.
    BYTE block[1032];
    auto* pal = reinterpret_cast<LOGPALETTE*>(block);
    for (LPCSTR name : { "FACE", "PHOTO", "BROKEN" }) {
        memset(block, 0xCC, sizeof block);
        HBITMAP b = Img_LoadBitmapEx(nullptr, module, name, pal);
        EXPECT_EQ(b != nullptr, name[1] != 'R') << name;
        DeleteObject(b);
        if (name[0] != 'F') {
            EXPECT_EQ(pal->palNumEntries, 0);
            continue;
        }
        EXPECT_EQ(pal->palVersion * 1000 + pal->palNumEntries, 0x300 * 1000 + 256);
        const PALETTEENTRY e = pal->palPalEntry[10], last = pal->palPalEntry[255];
        EXPECT_EQ(std::make_tuple(e.peRed, e.peGreen, e.peBlue, last.peRed, last.peFlags), std::make_tuple(10, 245, 5, 255, 0));
    }
    IMG_INFO info;
    memset(&info, 0xCC, sizeof info);
    HBITMAP dib = Img_LoadDib(nullptr, module, "FACE", &info);
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectA(dib, sizeof ds, &ds), int(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmBits, info.pBits);
    EXPECT_EQ(std::make_tuple(ds.dsBmih.biBitCount, info.nColors, info.pBitmapInfo->bmiHeader.biWidth, info.pLogPalette->palNumEntries),
        std::make_tuple(8, 256u, 5L, 256));
    EXPECT_EQ(memcmp(info.pBits, &face[40 + 1024], 16), 0);
    DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(Img_LoadDib(nullptr, module, "BROKEN", &info), nullptr);
    EXPECT_TRUE(info.pBitmapInfo == nullptr && info.pLogPalette == nullptr);
    EXPECT_EQ(qxtest::CurrentCounts(), before);
    FreeLibrary(module);
    qxtest::RemoveTree(dir);
}

TEST(Imaging, FilesByExtension)
{
    const std::string dir = qxtest::MakeTempDir("imgfiles") + "\\";
    const Bytes photo = Photo(), eight = BmpFile(PackedDib(5, 8), 256), rgb = BmpFile(PackedDib(3, 24), 0);
    const std::pair<const char*, Bytes> files[] = { { "photo.JPEG", photo }, { "photo.jpg", photo }, { "face.b.Bmp", eight },
        { "rgb.bmp", rgb }, { "anim.gif", { 'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0 } }, { "scan.tif", { 'I', 'I', 42, 0, 8, 0, 0, 0 } },
        { "noext", photo }, { "empty.bmp", {} }, { "dir.jpg\\file", photo } };
    CreateDirectoryA((dir + "dir.jpg").c_str(), nullptr);
    for (const auto& [name, bytes] : files)
        ASSERT_TRUE(qxtest::WriteFileBytes(dir + name, bytes.data(), bytes.size())) << name;
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();

    // A whole file is mapped; an empty one has no mapping and comes in a heap
    // buffer; unknown extensions fail before anything is opened.
    WORD type;
    DWORD size;
    HANDLE mapping, file;
    BOOL mapped;
    const BYTE* data = Img_OpenFile((dir + "rgb.bmp").c_str(), &type, &size, &mapping, &file, &mapped);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::make_tuple(type, size, mapped, data[0], data[size - 1]), std::make_tuple(WORD(IMG_TYPE_BMP), 14u + 40 + 24, TRUE, BYTE('B'), BYTE(23 * 7)));
    UnmapViewOfFile(data), CloseHandle(mapping), CloseHandle(file);
    data = Img_OpenFile((dir + "empty.bmp").c_str(), &type, &size, &mapping, &file, &mapped);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::make_pair(mapped, size), std::make_pair(FALSE, DWORD(0)));
    HeapFree(GetProcessHeap(), 0, const_cast<BYTE*>(data));
    EXPECT_EQ(Img_OpenFile((dir + "noext").c_str(), &type, &size, &mapping, &file, &mapped), nullptr);
    EXPECT_EQ(type, IMG_TYPE_UNKNOWN);
    EXPECT_EQ(Img_OpenFile((dir + "dir.jpg\\file").c_str(), &type, &size, &mapping, &file, &mapped), nullptr);
    EXPECT_EQ(Img_OpenFile((dir + "missing.jpg").c_str(), &type, &size, &mapping, &file, &mapped), nullptr);
    EXPECT_EQ(type, IMG_TYPE_JPEG);
    for (int round = 0; round < 10; ++round) {
        for (const char* name : { "photo.JPEG", "photo.jpg", "face.b.Bmp", "rgb.bmp" }) {
            HBITMAP bmp = Img_LoadBitmapFromFile((dir + name).c_str());
            ASSERT_NE(bmp, nullptr) << name;
            DeleteObject(bmp);
        }
        for (const char* name : { "anim.gif", "scan.tif", "noext", "empty.bmp", "dir.jpg\\file", "missing.bmp" })
            EXPECT_EQ(Img_LoadBitmapFromFile((dir + name).c_str()), nullptr) << name;
    }
    EXPECT_EQ(qxtest::CurrentCounts(), before);

    BYTE block[1032];
    auto* pal = reinterpret_cast<LOGPALETTE*>(block);
    for (const char* name : { "face.b.Bmp", "rgb.bmp" }) {
        memset(block, 0xCC, sizeof block);
        HBITMAP b = Img_LoadBitmapFromFileEx(nullptr, (dir + name).c_str(), pal);
        ASSERT_NE(b, nullptr);
        DeleteObject(b);
        EXPECT_EQ(pal->palNumEntries, name[0] == 'f' ? 256 : 0);
        if (name[0] == 'f')
            EXPECT_EQ(pal->palPalEntry[255].peRed * 1000 + pal->palPalEntry[255].peGreen, 255000);
        else
            EXPECT_EQ(pal->palVersion, 0);
    }

    // The screen bitmap holds the decoded pixels: read back as a 24-bit DIB
    // it equals the decoder's own DIB section.
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 40, 40, nullptr, nullptr, nullptr, nullptr);
    IMG_INFO info;
    HBITMAP dib = Img_LoadDibFromFile(window, (dir + "photo.jpg").c_str(), &info);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(info.pBitmapInfo->bmiHeader.biBitCount, 24);
    EXPECT_EQ(info.pLogPalette, nullptr);
    HBITMAP ddb = Img_LoadBitmapFromFileEx(window, (dir + "photo.jpg").c_str(), nullptr);
    HDC screen = GetDC(nullptr);
    if (GetDeviceCaps(screen, BITSPIXEL) >= 24) {
        BITMAPINFO bi = { info.pBitmapInfo->bmiHeader };
        Bytes back(Img_GetRowBytes(24, 24) * 16);
        ASSERT_EQ(GetDIBits(screen, ddb, 0, 16, back.data(), &bi, DIB_RGB_COLORS), 16);
        EXPECT_EQ(memcmp(back.data(), info.pBits, back.size()), 0);
    }
    ReleaseDC(nullptr, screen);
    DeleteObject(ddb), DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    DestroyWindow(window);
    // No window DC, no picture, nothing leaked.
    EXPECT_EQ(Img_LoadBitmapFromFileEx(reinterpret_cast<HWND>(0x7FFF0001), (dir + "photo.jpg").c_str(), nullptr), nullptr);
    EXPECT_EQ(qxtest::CurrentCounts(), before);
    qxtest::RemoveTree(dir);
}

// The system codec's reading of a PNG as 0x00RRGGBB, or empty without one.
std::vector<DWORD> CodecPixels(const Bytes& png, UINT* width, UINT* height)
{
    std::vector<DWORD> out;
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))
        && SUCCEEDED(factory->CreateStream(&stream)) && SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(png.data()), DWORD(png.size())))
        && SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder))
        && SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter))
        && SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0, WICBitmapPaletteTypeCustom))
        && SUCCEEDED(converter->GetSize(width, height))) {
        out.resize(size_t(*width) * *height);
        if (FAILED(converter->CopyPixels(nullptr, *width * 4, UINT(out.size() * 4), reinterpret_cast<BYTE*>(out.data()))))
            out.clear();
        for (DWORD& p : out)
            p &= 0xFFFFFF;  // the module ignores transparency
    }
    for (IUnknown* u : std::initializer_list<IUnknown*> { converter, frame, decoder, stream, factory })
        if (u)
            u->Release();
    return out;
}

DWORD BigEndian(const BYTE* p) { return DWORD(p[0]) << 24 | DWORD(p[1]) << 16 | DWORD(p[2]) << 8 | p[3]; }

TEST(Imaging, PngPicturesDecodeLikeTheSystemCodecAndDamagedCopiesAreRefused)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int compared = 0;
    for (int id : { IDB_BKGND_CLASSIC, IDB_BKGND_CLASSIC_8BPP, IDB_BKGND_LUSTRE, IDB_BKGND_LUSTRE_8BPP, IDB_PREVIEW_FRAME,
             IDB_PREVIEW_FRAME_8BPP, IDB_LOGO_LUSTRE, IDB_LOGO_CLASSIC, IDB_LOGO_LUSTRE_8BPP, IDB_LOGO_CLASSIC_8BPP }) {
        SCOPED_TRACE(id);
        Bytes png = qxtest::DllResource(id, QX_RT_PNG);
        ASSERT_GT(png.size(), 33u);
        const DWORD width = BigEndian(&png[16]), height = BigEndian(&png[20]);
        const qxtest::ResourceCounts before = qxtest::CurrentCounts();
        IMG_INFO info = {};
        HBITMAP dib = Img_LoadDib(nullptr, qxtest::BuiltDll(), MAKEINTRESOURCEA(id), &info);
        ASSERT_NE(dib, nullptr) << (Img_GetNotes()->refusal ? Img_GetNotes()->refusal : "");
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        EXPECT_EQ(std::make_pair(DWORD(h.biWidth), DWORD(h.biHeight)), std::make_pair(width, height));
        DIBSECTION section = {};
        GetObjectA(dib, sizeof section, &section);
        EXPECT_EQ(std::make_pair(section.dsBm.bmBits, section.dsBmih.biBitCount), std::make_pair(info.pBits, h.biBitCount));
        if (png[25] == 3) {  // palette pictures keep their palette, in table and logical palette alike
            ASSERT_TRUE(info.nColors && info.pLogPalette);
            EXPECT_EQ(info.pLogPalette->palNumEntries, info.nColors);
            for (DWORD i = 0; i < info.nColors; ++i)
                EXPECT_EQ(RGB(info.pLogPalette->palPalEntry[i].peRed, 0, info.pLogPalette->palPalEntry[i].peBlue),
                    RGB(info.pBitmapInfo->bmiColors[i].rgbRed, 0, info.pBitmapInfo->bmiColors[i].rgbBlue));
        }
        UINT cw = 0, ch = 0;
        const std::vector<DWORD> expected = CodecPixels(png, &cw, &ch);
        if (!expected.empty()) {
            EXPECT_EQ(std::make_pair(cw, ch), std::make_pair(UINT(width), UINT(height)));
            const DWORD stride = Img_GetRowBytes(h.biWidth, h.biBitCount), bpp = h.biBitCount;
            size_t differ = 0;
            for (LONG y = 0; y < h.biHeight; ++y)
                for (LONG x = 0; x < h.biWidth; ++x) {
                    const BYTE* row = static_cast<const BYTE*>(info.pBits) + size_t(h.biHeight - 1 - y) * stride;
                    const RGBQUAD q = bpp == 24 ? RGBQUAD { row[3 * x], row[3 * x + 1], row[3 * x + 2] }
                                                : info.pBitmapInfo->bmiColors[(row[x * bpp / 8] >> (8 - bpp * (x % (8 / bpp) + 1))) & ((1 << bpp) - 1)];
                    differ += expected[y * width + x] != (DWORD(q.rgbRed) << 16 | q.rgbGreen << 8 | q.rgbBlue);
                }
            EXPECT_EQ(differ, 0u);
            ++compared;
        }
        DeleteObject(dib);
        HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
        HeapFree(GetProcessHeap(), 0, info.pLogPalette);
        HBITMAP ddb = Img_LoadBitmap(qxtest::BuiltDll(), MAKEINTRESOURCEA(id));
        EXPECT_EQ(Width(ddb), LONG(width * 1000 + height));
        DeleteObject(ddb);

        // One byte changed in each chunk's data, middle and CRC: refused.
        for (size_t pos = 8; pos + 12 <= png.size(); pos += 12 + BigEndian(&png[pos])) {
            const DWORD len = BigEndian(&png[pos]);
            for (size_t at : { pos + 8, pos + 8 + len / 2, pos + 8 + len }) {
                if (at >= png.size())
                    continue;
                png[at] ^= 0x10;
                IMG_INFO damaged = {};
                damaged.cbData = DWORD(png.size());
                HDC screen = GetDC(nullptr);
                HBITMAP b = Img_Decode(screen, IMG_TYPE_PNG, png.data(), &damaged);
                ReleaseDC(nullptr, screen);
                EXPECT_TRUE(!b && !damaged.pBitmapInfo && !damaged.pLogPalette) << "byte " << at;
                png[at] ^= 0x10;
            }
        }
        const qxtest::ResourceCounts after = qxtest::CurrentCounts();
        EXPECT_EQ(after.gdi + after.handles, before.gdi + before.handles);
    }
    if (!compared)
        printf("note: no system PNG codec here; pixels were not compared\n");
    CoUninitialize();
}

} // namespace
