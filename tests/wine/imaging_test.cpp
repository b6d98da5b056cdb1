// The image front end on real GDI: resources by type order, files by extension
// (mapped or in a heap buffer), screen bitmaps with their palettes, DIB
// sections; the DLL's PNG pictures and damaged copies of them; nothing left
// behind by any load.
#include "qxtest.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "imaging/imaging.h"
#include "resource.h"

namespace {

using Bytes = std::vector<BYTE>;

// A packed DIB (or, with `file`, a BMP file), width x 2, of 8 bits (entry i
// of the table = red i, green 255 - i, blue i / 2) or 24 bits; pixel bytes
// count up in steps of 7.
Bytes PackedDib(int width, WORD bits, bool file = false)
{
    const DWORD colours = bits == 8 ? 256 : 0, rowBytes = Img_GetRowBytes(width, bits);
    Bytes dib(40 + 4 * colours + 2 * rowBytes);
    const BITMAPINFOHEADER h = { 40, width, 2, 1, bits };
    const BITMAPFILEHEADER f = { 0x4D42, DWORD(14 + dib.size()), 0, 0, DWORD(14 + 40 + 4 * colours) };
    memcpy(dib.data(), &h, sizeof h);
    for (DWORD i = 0; i < colours; ++i)
        dib[40 + 4 * i] = BYTE(i / 2), dib[41 + 4 * i] = BYTE(255 - i), dib[42 + 4 * i] = BYTE(i);
    for (DWORD i = 0; i < 2 * rowBytes; ++i)
        dib[40 + 4 * colours + i] = BYTE(i * 7);
    return file ? dib.insert(dib.begin(), reinterpret_cast<const BYTE*>(&f), reinterpret_cast<const BYTE*>(&f) + sizeof f), dib : dib;
}

Bytes Photo() { std::ifstream in(QX_SOURCE_DIR "/fuzz/corpus/jpeg/baseline420.jpg", std::ios::binary); return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()); }

LONG Size(HBITMAP b) { BITMAP bm = {}; return GetObjectA(b, sizeof bm, &bm), bm.bmWidth * 1000 + bm.bmHeight; }  // width * 1000 + height

// The palette a load hands out into a block of 0xCC: "version entries, entry
// 10, entry 255 with its flags", or "none"; "failed, " first without a picture.
template <class Load> std::string PaletteOf(Load load)
{
    BYTE block[1032];
    auto* p = static_cast<LOGPALETTE*>(memset(block, 0xCC, sizeof block));
    HBITMAP b = load(p);
    const PALETTEENTRY e = p->palPalEntry[10], l = p->palPalEntry[255];
    char s[64];
    snprintf(s, sizeof s, "%x %u %u,%u,%u %u,%u,%u,%u", p->palVersion, p->palNumEntries, e.peRed, e.peGreen, e.peBlue, l.peRed, l.peGreen, l.peBlue, l.peFlags);
    return DeleteObject(b), (b ? "" : "failed, ") + std::string(p->palNumEntries ? s : "none");
}
constexpr char kFacePalette[] = "300 256 10,245,5 255,0,127,0";

// Frees what a DIB load hands out besides the bitmap.
void Release(HBITMAP dib, const IMG_INFO& info) { DeleteObject(dib), HeapFree(GetProcessHeap(), 0, info.pBitmapInfo), HeapFree(GetProcessHeap(), 0, info.pLogPalette); }

TEST(Imaging, ResourcesByTypeOrderWithPalettes)
{
    // A copy of this program whose resources are the pictures, loaded as data.
    const std::string dir = qxtest::MakeTempDir("imgres"), path = dir + "\\pictures.dll";
    char self[MAX_PATH];
    ASSERT_TRUE(GetModuleFileNameA(nullptr, self, sizeof self) && CopyFileA(self, path.c_str(), FALSE));
    const Bytes photo = Photo(), face = PackedDib(5, 8), junk(5, 'x');
    HANDLE update = BeginUpdateResourceA(path.c_str(), TRUE);
    const struct { LPCSTR type, name; const Bytes& data; } resources[] = { { "JPG", "PHOTO", photo }, { "JPG", MAKEINTRESOURCEA(101), photo }, { "JPG", "BOTH", photo },
        { "PNG", "BOTH", junk }, { RT_BITMAP, "BOTH", face }, { RT_BITMAP, "FACE", face }, { "JPG", "BROKEN", junk } };
    for (const auto& r : resources)
        ASSERT_TRUE(UpdateResourceA(update, r.type, r.name, 0, const_cast<BYTE*>(r.data.data()), DWORD(r.data.size())));
    HMODULE module = EndUpdateResourceA(update, FALSE) ? LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
    ASSERT_NE(module, nullptr);
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();

    // PNG first, then bitmap, then JPG; a "BOTH" that is no PNG fails rather
    // than falling back to the JPG of the same name.
    for (const auto& [name, expected, size] : { std::tuple { LPCSTR("BOTH"), WORD(IMG_TYPE_PNG), 0L }, { "FACE", IMG_TYPE_BMP, 5002L },
             { "PHOTO", IMG_TYPE_JPEG, 24016L }, { MAKEINTRESOURCEA(101), IMG_TYPE_JPEG, 24016L }, { "MISSING", 0xBEEF, 0L } }) {
        WORD type = 0xBEEF;
        const bool found = Img_FindResource(module, name, &type) != nullptr;
        EXPECT_EQ(std::make_pair(found, type), std::make_pair(expected != 0xBEEF, expected)) << size;
        HBITMAP b = Img_LoadBitmap(module, name);
        EXPECT_EQ(b ? Size(b) : 0, size) << expected;
        DeleteObject(b);
    }
    // A bitmap of 256 colours hands out its palette; a photo or a failure none.
    for (LPCSTR name : { "FACE", "PHOTO", "BROKEN" })
        EXPECT_EQ(PaletteOf([&](LOGPALETTE* p) { return Img_LoadBitmapEx(nullptr, module, name, p); }), name[0] == 'F' ? kFacePalette : name[1] == 'R' ? "failed, none" : "none");
    IMG_INFO info;
    HBITMAP dib = Img_LoadDib(nullptr, module, "FACE", static_cast<IMG_INFO*>(memset(&info, 0xCC, sizeof info)));
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectA(dib, sizeof ds, &ds), int(sizeof ds));
    EXPECT_EQ(std::make_tuple(ds.dsBm.bmBits, ds.dsBmih.biBitCount, info.nColors, info.pBitmapInfo->bmiHeader.biWidth, info.pLogPalette->palNumEntries),
        std::make_tuple(info.pBits, 8, 256u, 5L, 256));
    EXPECT_EQ(memcmp(info.pBits, &face[40 + 1024], 16), 0);
    Release(dib, info);
    EXPECT_TRUE(!Img_LoadDib(nullptr, module, "BROKEN", static_cast<IMG_INFO*>(memset(&info, 0xCC, sizeof info))) && !info.pBitmapInfo && !info.pLogPalette);
    EXPECT_EQ(qxtest::CurrentCounts(), before);
    FreeLibrary(module), qxtest::RemoveTree(dir);
}

TEST(Imaging, FilesByExtension)
{
    const std::string dir = qxtest::MakeTempDir("imgfiles") + "\\";
    const Bytes photo = Photo(), eight = PackedDib(5, 8, true), rgb = PackedDib(3, 24, true);
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
    auto open = [&](const char* name) { return Img_OpenFile((dir + name).c_str(), &type, &size, &mapping, &file, &mapped); };
    const BYTE* data;
    ASSERT_NE(data = open("rgb.bmp"), nullptr);
    EXPECT_EQ(std::make_tuple(type, size, mapped, data[0], data[size - 1]), std::make_tuple(WORD(IMG_TYPE_BMP), 14u + 40 + 24, TRUE, BYTE('B'), BYTE(23 * 7)));
    UnmapViewOfFile(data), CloseHandle(mapping), CloseHandle(file);
    ASSERT_NE(data = open("empty.bmp"), nullptr);
    EXPECT_EQ(std::make_pair(mapped, size), std::make_pair(FALSE, DWORD(0)));
    HeapFree(GetProcessHeap(), 0, const_cast<BYTE*>(data));
    EXPECT_EQ(std::make_pair(open("noext"), type), std::make_pair(static_cast<const BYTE*>(nullptr), WORD(IMG_TYPE_UNKNOWN)));
    EXPECT_EQ(open("dir.jpg\\file"), nullptr);
    EXPECT_EQ(std::make_pair(open("missing.jpg"), type), std::make_pair(static_cast<const BYTE*>(nullptr), WORD(IMG_TYPE_JPEG)));
    for (const char* name : { "photo.JPEG", "photo.jpg", "face.b.Bmp", "rgb.bmp", "anim.gif", "scan.tif", "noext", "empty.bmp", "dir.jpg\\file", "missing.bmp" }) {
        HBITMAP bmp = Img_LoadBitmapFromFile((dir + name).c_str());
        EXPECT_EQ(bmp != nullptr, name[0] == 'p' || name[0] == 'f' || name[0] == 'r') << name;
        DeleteObject(bmp);
    }
    EXPECT_EQ(qxtest::CurrentCounts(), before);
    for (const char* name : { "face.b.Bmp", "rgb.bmp" })
        EXPECT_EQ(PaletteOf([&](LOGPALETTE* p) { return Img_LoadBitmapFromFileEx(nullptr, (dir + name).c_str(), p); }), name[0] == 'f' ? kFacePalette : "none");

    IMG_INFO info = {};
    HBITMAP dib = Img_LoadDibFromFile(nullptr, (dir + "photo.jpg").c_str(), &info);
    EXPECT_TRUE(dib && info.pBitmapInfo->bmiHeader.biBitCount == 24 && !info.pLogPalette);
    Release(dib, info);
    // No window DC, no picture, nothing leaked.
    EXPECT_EQ(Img_LoadBitmapFromFileEx(reinterpret_cast<HWND>(0x7FFF0001), (dir + "photo.jpg").c_str(), nullptr), nullptr);
    EXPECT_EQ(qxtest::CurrentCounts(), before);
    qxtest::RemoveTree(dir);
}

DWORD BigEndian(const BYTE* p) { return DWORD(p[0]) << 24 | DWORD(p[1]) << 16 | DWORD(p[2]) << 8 | p[3]; }

TEST(Imaging, PngPicturesDecodeAndDamagedCopiesAreRefused)
{
    HDC screen = GetDC(nullptr);
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
        // Palette pictures keep their palette, in table and logical palette alike.
        ASSERT_EQ(png[25] == 3, info.nColors && info.pLogPalette && info.pLogPalette->palNumEntries == info.nColors);
        for (DWORD i = 0; i < (png[25] == 3 ? info.nColors : 0); ++i)
            EXPECT_EQ(info.pLogPalette->palPalEntry[i].peRed * 256 + info.pLogPalette->palPalEntry[i].peBlue, info.pBitmapInfo->bmiColors[i].rgbRed * 256 + info.pBitmapInfo->bmiColors[i].rgbBlue);
        Release(dib, info);
        // One byte changed in each chunk's data, middle and CRC: refused.
        for (size_t pos = 8; pos + 12 <= png.size(); pos += 12 + BigEndian(&png[pos]))
            for (size_t at : { pos + 8, pos + 8 + BigEndian(&png[pos]) / 2, pos + 8 + BigEndian(&png[pos]) }) {
                IMG_INFO damaged = { DWORD(png.size()) };
                png[at] ^= 0x10;
                EXPECT_TRUE(!Img_Decode(screen, IMG_TYPE_PNG, png.data(), &damaged) && !damaged.pBitmapInfo && !damaged.pLogPalette) << "byte " << at;
                png[at] ^= 0x10;
            }
        EXPECT_EQ(qxtest::CurrentCounts().gdi + qxtest::CurrentCounts().handles, before.gdi + before.handles);
    }
    ReleaseDC(nullptr, screen);
}

} // namespace
