// The image front end on real GDI: resources found by type order, files by
// extension (mapped view or heap buffer), screen bitmaps with their palettes,
// DIB sections for the picture control, and no GDI object, USER object or
// handle left behind by any load, good or bad.
#include "qxtest.h"

#include "imaging/imaging.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

using Bytes = std::vector<BYTE>;

Bytes SourceFile(const char* relative)
{
    std::ifstream in(std::string(QX_SOURCE_DIR) + "/" + relative, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A packed DIB, width x 2, of 8 bits (a 256-colour ramp table, entry i =
// red i, green 255 - i, blue i / 2) or 24 bits; pixel bytes count up.
Bytes PackedDib(int width, WORD bits)
{
    const DWORD colours = bits == 8 ? 256 : 0;
    const DWORD rowBytes = Img_GetRowBytes(width, bits);
    Bytes dib(40 + 4 * colours + 2 * rowBytes);
    BITMAPINFOHEADER h = {};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = 2;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = BI_RGB;
    memcpy(dib.data(), &h, sizeof h);
    for (DWORD i = 0; i < colours; ++i) {
        RGBQUAD q = { (BYTE)(i / 2), (BYTE)(255 - i), (BYTE)i, 0 };
        memcpy(&dib[40 + 4 * i], &q, 4);
    }
    for (DWORD i = 0; i < 2 * rowBytes; ++i)
        dib[40 + 4 * colours + i] = (BYTE)(i * 7);
    return dib;
}

Bytes BmpFile(const Bytes& dib, DWORD colours)
{
    BITMAPFILEHEADER f = {};
    f.bfType = 0x4D42;
    f.bfSize = (DWORD)(sizeof f + dib.size());
    f.bfOffBits = (DWORD)(sizeof f + 40 + 4 * colours);
    Bytes file(sizeof f);
    memcpy(file.data(), &f, sizeof f);
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

void ExpectNoLeaks(const qxtest::ResourceCounts& before)
{
    qxtest::ResourceCounts after = qxtest::CurrentCounts();
    EXPECT_EQ(after.gdi, before.gdi);
    EXPECT_EQ(after.user, before.user);
    EXPECT_EQ(after.handles, before.handles);
}

BITMAP BitmapOf(HBITMAP bmp)
{
    BITMAP b = {};
    GetObjectA(bmp, sizeof b, &b);
    return b;
}

// A copy of this test program whose resources are replaced by the pictures
// the tests need, loaded as a data file.
class ImageResources : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = qxtest::MakeTempDir("imgres");
        path_ = dir_ + "pictures.dll";
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        ASSERT_TRUE(CopyFileA(self, path_.c_str(), FALSE));
        photo_ = SourceFile("fuzz/corpus/jpeg/baseline420.jpg");
        ASSERT_FALSE(photo_.empty());
        palette8_ = PackedDib(5, 8);
        static const char kNotAPicture[] = "not a picture";
        HANDLE update = BeginUpdateResourceA(path_.c_str(), TRUE);
        ASSERT_NE(update, nullptr);
        auto add = [&](LPCSTR type, LPCSTR name, const void* data, size_t size) {
            ASSERT_TRUE(UpdateResourceA(update, type, name, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), const_cast<void*>(data),
                                        (DWORD)size));
        };
        add("JPG", "PHOTO", photo_.data(), photo_.size());
        add("JPG", MAKEINTRESOURCEA(101), photo_.data(), photo_.size());
        add("JPG", "BOTH", photo_.data(), photo_.size());
        add("PNG", "BOTH", kNotAPicture, sizeof kNotAPicture);
        add(RT_BITMAP, "BOTH", palette8_.data(), palette8_.size());
        add(RT_BITMAP, "FACE", palette8_.data(), palette8_.size());
        add("JPG", "BROKEN", kNotAPicture, sizeof kNotAPicture);
        ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
        module_ = LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
    }
    static void TearDownTestSuite()
    {
        if (module_)
            FreeLibrary(module_);
        qxtest::RemoveTree(dir_);
    }
    static std::string dir_, path_;
    static HMODULE module_;
    static Bytes photo_, palette8_;
};
std::string ImageResources::dir_, ImageResources::path_;
HMODULE ImageResources::module_;
Bytes ImageResources::photo_, ImageResources::palette8_;

TEST_F(ImageResources, TypesAreTriedPngThenBitmapThenJpg)
{
    WORD type = 0xBEEF;
    EXPECT_NE(Img_FindResource(module_, "BOTH", &type), nullptr);
    EXPECT_EQ(type, IMG_TYPE_PNG);
    EXPECT_NE(Img_FindResource(module_, "FACE", &type), nullptr);
    EXPECT_EQ(type, IMG_TYPE_BMP);
    EXPECT_NE(Img_FindResource(module_, "PHOTO", &type), nullptr);
    EXPECT_EQ(type, IMG_TYPE_JPEG);
    EXPECT_NE(Img_FindResource(module_, MAKEINTRESOURCEA(101), &type), nullptr);
    EXPECT_EQ(type, IMG_TYPE_JPEG);
    type = 0xBEEF;
    EXPECT_EQ(Img_FindResource(module_, "MISSING", &type), nullptr);
    EXPECT_EQ(type, 0xBEEF);
    // "BOTH" is a PNG first: its bytes are no PNG, so the load fails rather
    // than falling back to the JPG of the same name.
    EXPECT_EQ(Img_LoadBitmap(module_, "BOTH"), nullptr);
}

TEST_F(ImageResources, ScreenBitmapsFromResources)
{
    qxtest::ResourceCounts before = qxtest::CurrentCounts();
    for (LPCSTR name : { (LPCSTR) "PHOTO", (LPCSTR)MAKEINTRESOURCEA(101) }) {
        HBITMAP bmp = Img_LoadBitmap(module_, name);
        ASSERT_NE(bmp, nullptr);
        BITMAP b = BitmapOf(bmp);
        EXPECT_EQ(b.bmWidth, 24);
        EXPECT_EQ(b.bmHeight, 16);
        DeleteObject(bmp);
    }
    BYTE block[1032];
    memset(block, 0xCC, sizeof block);
    LOGPALETTE* pal = reinterpret_cast<LOGPALETTE*>(block);
    HBITMAP face = Img_LoadBitmapEx(nullptr, module_, "FACE", pal);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(BitmapOf(face).bmWidth, 5);
    EXPECT_EQ(pal->palVersion, 0x300);
    ASSERT_EQ(pal->palNumEntries, 256);
    EXPECT_EQ(pal->palPalEntry[10].peRed, 10);
    EXPECT_EQ(pal->palPalEntry[10].peGreen, 245);
    EXPECT_EQ(pal->palPalEntry[10].peBlue, 5);
    EXPECT_EQ(pal->palPalEntry[255].peRed, 255);
    EXPECT_EQ(pal->palPalEntry[255].peFlags, 0);
    DeleteObject(face);

    memset(block, 0xCC, sizeof block);
    HBITMAP photo = Img_LoadBitmapEx(nullptr, module_, "PHOTO", pal);
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(pal->palVersion, 0);
    EXPECT_EQ(pal->palNumEntries, 0);
    DeleteObject(photo);

    memset(block, 0xCC, sizeof block);
    EXPECT_EQ(Img_LoadBitmapEx(nullptr, module_, "BROKEN", pal), nullptr);
    EXPECT_EQ(pal->palNumEntries, 0);
    EXPECT_EQ(Img_LoadBitmap(module_, "MISSING"), nullptr);
    ExpectNoLeaks(before);
}

TEST_F(ImageResources, DibSectionsFromResources)
{
    qxtest::ResourceCounts before = qxtest::CurrentCounts();
    IMG_INFO info;
    memset(&info, 0xCC, sizeof info);
    HBITMAP dib = Img_LoadDib(nullptr, module_, "FACE", &info);
    ASSERT_NE(dib, nullptr);
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectA(dib, sizeof ds, &ds), (int)sizeof ds);
    EXPECT_EQ(ds.dsBm.bmBits, info.pBits);
    EXPECT_EQ(ds.dsBmih.biBitCount, 8);
    EXPECT_EQ(info.nColors, 256u);
    EXPECT_EQ(info.pBitmapInfo->bmiHeader.biWidth, 5);
    EXPECT_EQ(info.pLogPalette->palNumEntries, 256);
    EXPECT_EQ(memcmp(info.pBits, &palette8_[40 + 1024], 8 * 2), 0);
    DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);

    memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(Img_LoadDib(nullptr, module_, "BROKEN", &info), nullptr);
    EXPECT_EQ(info.pBitmapInfo, nullptr);
    EXPECT_EQ(info.pLogPalette, nullptr);
    ExpectNoLeaks(before);
}

TEST_F(ImageResources, ModuleArtworkDecodes)
{
    // The module's own preview pictures, as the page loads them.
    HMODULE dll = qxtest::BuiltDll();
    ASSERT_NE(dll, nullptr);
    int decoded = 0;
    EnumResourceNamesA(
        dll, "JPG",
        [](HMODULE m, LPCSTR, LPSTR name, LONG_PTR count) -> BOOL {
            HBITMAP bmp = Img_LoadBitmap(m, name);
            if (bmp) {
                ++*reinterpret_cast<int*>(count);
                DeleteObject(bmp);
            }
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&decoded));
    EXPECT_GE(decoded, 10);
}

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = qxtest::MakeTempDir("imgfiles");
        Bytes photo = SourceFile("fuzz/corpus/jpeg/baseline420.jpg");
        ASSERT_FALSE(photo.empty());
        Bytes eight = BmpFile(PackedDib(5, 8), 256), rgb = BmpFile(PackedDib(3, 24), 0);
        Write("photo.JPEG", photo);
        Write("photo.jpg", photo);
        Write("face.b.Bmp", eight);
        Write("rgb.bmp", rgb);
        Write("anim.gif", { 'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0 });
        Write("scan.tif", { 'I', 'I', 42, 0, 8, 0, 0, 0 });
        Write("noext", photo);
        Write("empty.bmp", {});
        CreateDirectoryA((dir_ + "dir.jpg").c_str(), nullptr);
        Write("dir.jpg\\file", photo);
    }
    void TearDown() override { qxtest::RemoveTree(dir_); }
    void Write(const char* name, const Bytes& b)
    {
        ASSERT_TRUE(qxtest::WriteFileBytes(dir_ + name, b.data(), b.size())) << name;
    }
    std::string Path(const char* name) const { return dir_ + name; }
    std::string dir_;
};

TEST_F(ImageFiles, OpenFileMapsTheWholeFile)
{
    qxtest::ResourceCounts before = qxtest::CurrentCounts();
    WORD type;
    DWORD size;
    HANDLE mapping, file;
    BOOL mapped;
    const BYTE* data = Img_OpenFile(Path("rgb.bmp").c_str(), &type, &size, &mapping, &file, &mapped);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(type, IMG_TYPE_BMP);
    EXPECT_EQ(size, 14u + 40 + 2 * 12);
    EXPECT_TRUE(mapped);
    EXPECT_EQ(data[0], 'B');
    EXPECT_EQ(data[size - 1], (BYTE)(23 * 7));
    UnmapViewOfFile(data);
    CloseHandle(mapping);
    CloseHandle(file);

    // An empty file has no mapping: the heap buffer is the fallback.
    data = Img_OpenFile(Path("empty.bmp").c_str(), &type, &size, &mapping, &file, &mapped);
    ASSERT_NE(data, nullptr);
    EXPECT_FALSE(mapped);
    EXPECT_EQ(size, 0u);
    HeapFree(GetProcessHeap(), 0, const_cast<BYTE*>(data));

    // Unknown extensions fail before anything is opened; missing files fail.
    EXPECT_EQ(Img_OpenFile(Path("noext").c_str(), &type, &size, &mapping, &file, &mapped), nullptr);
    EXPECT_EQ(type, IMG_TYPE_UNKNOWN);
    EXPECT_EQ(Img_OpenFile(Path("dir.jpg\\file").c_str(), &type, &size, &mapping, &file, &mapped), nullptr);
    EXPECT_EQ(Img_OpenFile(Path("missing.jpg").c_str(), &type, &size, &mapping, &file, &mapped), nullptr);
    EXPECT_EQ(type, IMG_TYPE_JPEG);
    ExpectNoLeaks(before);
}

TEST_F(ImageFiles, ScreenBitmapsFromFiles)
{
    qxtest::ResourceCounts before = qxtest::CurrentCounts();
    for (int round = 0; round < 10; ++round) {
        for (const char* name : { "photo.JPEG", "photo.jpg", "face.b.Bmp", "rgb.bmp" }) {
            HBITMAP bmp = Img_LoadBitmapFromFile(Path(name).c_str());
            ASSERT_NE(bmp, nullptr) << name;
            DeleteObject(bmp);
        }
        for (const char* name : { "anim.gif", "scan.tif", "noext", "empty.bmp", "dir.jpg\\file", "missing.bmp" })
            EXPECT_EQ(Img_LoadBitmapFromFile(Path(name).c_str()), nullptr) << name;
    }
    ExpectNoLeaks(before);

    BYTE block[1032];
    LOGPALETTE* pal = reinterpret_cast<LOGPALETTE*>(block);
    HBITMAP face = Img_LoadBitmapFromFileEx(nullptr, Path("face.b.Bmp").c_str(), pal);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(pal->palNumEntries, 256);
    EXPECT_EQ(pal->palPalEntry[255].peRed, 255);
    EXPECT_EQ(pal->palPalEntry[255].peGreen, 0);
    DeleteObject(face);
    memset(block, 0xCC, sizeof block);
    HBITMAP rgb = Img_LoadBitmapFromFileEx(nullptr, Path("rgb.bmp").c_str(), pal);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(pal->palVersion, 0);
    EXPECT_EQ(pal->palNumEntries, 0);
    DeleteObject(rgb);
}

// The screen bitmap holds the decoded pixels: read back as a 24-bit DIB it
// equals the decoder's own DIB section.
TEST_F(ImageFiles, ScreenBitmapHoldsTheDecodedPixels)
{
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 40, 40, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    IMG_INFO info;
    HBITMAP dib = Img_LoadDibFromFile(window, Path("photo.jpg").c_str(), &info);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(info.pBitmapInfo->bmiHeader.biBitCount, 24);
    EXPECT_EQ(info.pLogPalette, nullptr);
    HBITMAP ddb = Img_LoadBitmapFromFileEx(window, Path("photo.jpg").c_str(), nullptr);
    ASSERT_NE(ddb, nullptr);

    HDC screen = GetDC(nullptr);
    if (GetDeviceCaps(screen, BITSPIXEL) >= 24) {
        BITMAPINFO bi = {};
        bi.bmiHeader = info.pBitmapInfo->bmiHeader;
        Bytes back(Img_GetRowBytes(24, 24) * 16);
        ASSERT_EQ(GetDIBits(screen, ddb, 0, 16, back.data(), &bi, DIB_RGB_COLORS), 16);
        EXPECT_EQ(memcmp(back.data(), info.pBits, back.size()), 0);
    }
    ReleaseDC(nullptr, screen);
    DeleteObject(ddb);
    DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    DestroyWindow(window);

    // No window DC, no picture, nothing leaked.
    qxtest::ResourceCounts before = qxtest::CurrentCounts();
    EXPECT_EQ(Img_LoadBitmapFromFileEx(reinterpret_cast<HWND>(0x7FFF0001), Path("photo.jpg").c_str(), nullptr), nullptr);
    ExpectNoLeaks(before);
}

} // namespace
