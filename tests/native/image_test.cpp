// BMP decoding (files and packed DIBs of every depth as stored, every
// refusal as one table) and the services beside the decoders: dispatch by
// type, type codes of file names, DIB row sizes, gradient palettes.
#include "harness.h"

namespace {

struct BmpSpec {
    int bits = 8, w = 3, h = 2;  // h < 0: top-down
    uint32_t clrUsed = 0, headerSize = 40, gap = 0;
    bool file = false;
};

// A BMP of random colours and pixels, and the stored rows, top row first.
Bytes MakeBmp(const BmpSpec& s, Rng& r, std::vector<Bytes>* rows = nullptr, Bytes* table = nullptr)
{
    const uint32_t colors = s.bits <= 8 ? (s.clrUsed ? s.clrUsed : 1u << s.bits) : s.clrUsed;
    const uint32_t stride = (s.w * s.bits + 31) / 32 * 4, height = std::abs(s.h), at = s.file ? 14 : 0;
    Bytes b(at + s.headerSize + 4 * colors + s.gap);
    Put32(b, at, s.headerSize), Put32(b, at + 4, s.w), Put32(b, at + 8, s.h), Put32(b, at + 12, 1 | s.bits << 16);
    Put32(b, at + 32, s.clrUsed);
    for (size_t i = at + s.headerSize; i < b.size(); ++i)
        b[i] = (uint8_t)r(256);
    if (table)
        table->assign(b.begin() + at + s.headerSize, b.begin() + at + s.headerSize + 4 * colors * (s.bits <= 8));
    if (rows)
        rows->assign(height, Bytes());
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < stride; ++x) {
            b.push_back((uint8_t)r(256));
            if (rows)
                (*rows)[s.h < 0 ? y : height - 1 - y].push_back(b.back());
        }
    if (s.file)
        b[0] = 'B', b[1] = 'M', Put32(b, 2, (uint32_t)b.size()), Put32(b, 10, at + s.headerSize + 4 * colors + s.gap);
    return b;
}

TEST(Bmp, EveryDepthAsStored)
{
    Rng r{ 11 };
    const int kBits[] = { 1, 4, 8, 16, 24, 32 };
    for (int i = 0; i < 300; ++i) {
        BmpSpec s;
        s.bits = kBits[i % 6], s.w = 1 + r(40), s.h = (1 + r(9)) * (r(3) ? 1 : -1), s.file = r(2);
        s.headerSize = r(2) ? 40 : r(2) ? 108 : 124, s.gap = s.file ? r(3) * r(20) : 0;
        s.clrUsed = s.bits <= 8 ? (r(2) ? 0 : 1 + r(1 << s.bits)) : r(3);  // above 8 bits: a table for palette screens
        std::vector<Bytes> rows;
        Bytes table;
        const Pic p = Decode(IMG_TYPE_BMP, MakeBmp(s, r, &rows, &table));
        ASSERT_TRUE(p.ok && p.w == s.w && p.h == std::abs(s.h) && p.bits == s.bits) << i << ": " << p.why;
        EXPECT_TRUE(p.colors.size() * 4 == table.size() && std::equal(table.begin(), table.end(), (const uint8_t*)p.colors.data())) << i;
        for (int y = 0; y < p.h; ++y)
            ASSERT_TRUE(!memcmp(p.Row(y), rows[y].data(), rows[y].size())) << i << " row " << y;
    }
    BmpSpec s;
    ExpectAllocationFailuresRefused(IMG_TYPE_BMP, MakeBmp(s, r));
}

// Every refusal of the BMP decoder, and where each check stops, as edits of
// valid data.
TEST(Bmp, Refusals)
{
    Rng r{ 3 };
    const Bytes dib = MakeBmp(BmpSpec(), r), file = MakeBmp({ .file = true }, r), rgb = MakeBmp({ .bits = 24 }, r);
    auto set = [](Bytes b, size_t at, uint32_t v, int size = 4) {
        for (int i = 0; i < size; ++i)
            b[at + i] = (uint8_t)(v >> 8 * i);
        return b;
    };
    const char* kHeader = "unsupported BMP header";
    const char* kDims = "bad BMP dimensions";
    const char* kDepth = "unsupported BMP bit depth";
    const char* kPixels = "truncated BMP pixel data";
    const char* kCompressed = "compressed BMP (RLE or bit fields)";
    const struct {
        const char* what;
        Bytes data;
        const char* outcome;  // the refusal note, or null: decodes
    } rows[] = {
        { "packed DIB", dib, nullptr },
        { "file", file, nullptr },
        { "39 bytes", Bytes(dib.begin(), dib.begin() + 39), "truncated BMP header" },
        { "a file of 53 bytes", Bytes(file.begin(), file.begin() + 53), "truncated BMP header" },
        { "header of 39 bytes", set(dib, 0, 39), kHeader },
        { "OS/2 header", set(dib, 0, 12), kHeader },
        { "header longer than the data", set(dib, 0, (uint32_t)dib.size() + 1), kHeader },
        { "RLE8", set(dib, 16, 1), kCompressed },
        { "RLE4", set(set(dib, 14, 4, 2), 16, 2), kCompressed },
        { "bit fields", set(set(rgb, 14, 32, 2), 16, 3), kCompressed },
        { "0 planes", set(dib, 12, 0, 2), kDims },
        { "2 planes", set(dib, 12, 2, 2), kDims },
        { "width 0", set(dib, 4, 0), kDims },
        { "width -1", set(dib, 4, 0xFFFFFFFF), kDims },
        { "height 0", set(dib, 8, 0), kDims },
        { "height -2^31", set(dib, 8, 0x80000000), kDims },
        { "0 bits", set(dib, 14, 0, 2), kDepth },
        { "2 bits", set(dib, 14, 2, 2), kDepth },
        { "15 bits", set(dib, 14, 15, 2), kDepth },
        { "64 bits", set(dib, 14, 64, 2), kDepth },
        { "256 colours of 8 bits", set(dib, 32, 256), nullptr },
        { "257 colours of 8 bits", set(dib, 32, 257), "BMP colour table larger than its bit count allows" },
        { "17 colours of 4 bits", set(set(dib, 14, 4, 2), 32, 17), "BMP colour table larger than its bit count allows" },
        { "colour table cut", Bytes(dib.begin(), dib.begin() + 140), "truncated BMP colour table" },
        { "pixels a byte short", Bytes(dib.begin(), dib.end() - 1), kPixels },
        { "file pixels a byte short", Bytes(file.begin(), file.end() - 1), kPixels },
        { "pixels past the end of the file", set(file, 10, (uint32_t)file.size() - 7), kPixels },
        { "pixels 2^32 - 16 on", set(file, 10, 0xFFFFFFF0), kPixels },
        { "24 bits carrying 2^30 colours", set(rgb, 32, 0x40000000), kPixels },
        { "100000 squared", set(set(rgb, 4, 100000), 8, 100000), "BMP picture too large" },
    };
    for (const auto& row : rows) {
        NativeWin_TakeLargestRequest();
        const Pic p = Decode(IMG_TYPE_BMP, row.data);
        EXPECT_EQ(p.ok ? "decodes" : p.why, row.outcome ? row.outcome : "decodes") << row.what;
        EXPECT_LT(NativeWin_TakeLargestRequest(), 1u << 20) << row.what;
    }
}

TEST(Image, TypesDispatchAndRowSizes)
{
    const struct {
        const char* path;
        WORD type;
    } kNames[] = {
        { "a.jpg", IMG_TYPE_JPEG },      { "C:\\skin\\bg.JPEG", IMG_TYPE_JPEG }, { "x.gif", IMG_TYPE_GIF },
        { "logo.b.Png", IMG_TYPE_PNG },  { "old.PING", IMG_TYPE_PNG },           { "scan.tif", IMG_TYPE_TIFF },
        { "scan.Tiff", IMG_TYPE_TIFF },  { "face.BMP", IMG_TYPE_BMP },           { ".bmp", IMG_TYPE_BMP },
        { "noext", IMG_TYPE_UNKNOWN },   { "C:\\dir.jpg\\file", IMG_TYPE_UNKNOWN }, { "a.jpg.txt", IMG_TYPE_UNKNOWN },
        { "trailing.", IMG_TYPE_UNKNOWN }, { "", IMG_TYPE_UNKNOWN },            { "a.jp", IMG_TYPE_UNKNOWN },
    };
    for (const auto& n : kNames)
        EXPECT_EQ(Img_GetTypeFromExtension(n.path), n.type) << n.path;
    EXPECT_EQ(Img_GetTypeFromExtension(nullptr), IMG_TYPE_UNKNOWN);
    const Bytes gif = { 'G', 'I', 'F', '8', '9', 'a', 0, 0 };
    for (int type : { 1, 3, 0xFFFF, 5, 0, 2, 4 })
        EXPECT_TRUE(!Decode((WORD)type, gif).ok && Img_GetNotes()->refusal) << type;
    IMG_INFO info{};
    EXPECT_TRUE(!Img_DecodeJpeg(nullptr, nullptr, &info) && !Img_DecodePng(nullptr, nullptr, &info) && !Img_DecodeBmp(nullptr, nullptr, &info));

    const struct {
        LONG width;
        WORD bits;
        DWORD bytes;
    } kRows[] = { { 3, 1, 4 },   { 32, 1, 4 },  { 33, 1, 8 },  { 7, 4, 4 },   { 9, 4, 8 },   { 5, 8, 8 },
                  { 3, 16, 8 },  { 3, 24, 12 }, { 17, 24, 52 }, { 3, 32, 12 }, { 10, 0, 0 },  { 10, 2, 0 },
                  { 10, 15, 0 }, { 10, 48, 0 }, { 0, 24, 0 },  { -5, 24, 0 }, { 0x7FFFFFFF, 32, 0 } };
    for (const auto& k : kRows)
        EXPECT_EQ(Img_GetRowBytes(k.width, k.bits), k.bytes) << k.width << " x " << k.bits;
}

// Ramps of 16, 2 and 16 steps: each ramp's ends are its two colours, the
// steps between (from (n - 1 - j) + to j) / (n - 1).
TEST(Image, GradientPalettes)
{
    const NativeWinCounts before = NativeWin_Counts();
    const IMG_GRADIENT_SEGMENT ramps[] = {
        { RGB(10, 200, 30), RGB(250, 0, 130), 16 }, { RGB(1, 2, 3), RGB(4, 5, 6), 2 }, { 0, 0xFFFFFF, 16 }, { 0, 0, 0 }
    };
    HPALETTE pal = Img_CreateGradientPalette(ramps);
    const LOGPALETTE* lp = NativeWin_Palette(pal);
    ASSERT_TRUE(lp && lp->palVersion == 0x300 && lp->palNumEntries == 34);
    const COLORREF want[][2] = { { 0, RGB(10, 200, 30) }, { 1, RGB(26, 186, 36) }, { 15, RGB(250, 0, 130) }, { 16, RGB(1, 2, 3) },
                                 { 17, RGB(4, 5, 6) },    { 18, 0 },   { 19, RGB(17, 17, 17) },   { 32, RGB(238, 238, 238) },
                                 { 33, 0xFFFFFF } };
    for (const auto& w : want) {
        const PALETTEENTRY& e = lp->palPalEntry[w[0]];
        EXPECT_TRUE(RGB(e.peRed, e.peGreen, e.peBlue) == w[1] && !e.peFlags) << w[0];
    }
    DeleteObject(pal);
    // No ramp: no entries; one step: its first colour; negative steps, more
    // than a palette holds, no list or no memory: no palette.
    const IMG_GRADIENT_SEGMENT none[] = { { 0, 0, 0 } }, one[] = { { RGB(9, 8, 7), 1, 1 }, { 0, 0, 0 } };
    const IMG_GRADIENT_SEGMENT negative[] = { { 0, 0, -3 }, { 0, 0, 0 } }, huge[] = { { 0, 0, 40000 }, { 0, 0, 40000 }, { 0, 0, 0 } };
    pal = Img_CreateGradientPalette(none);
    EXPECT_EQ(NativeWin_Palette(pal)->palNumEntries, 0);
    DeleteObject(pal);
    pal = Img_CreateGradientPalette(one);
    EXPECT_TRUE(NativeWin_Palette(pal)->palNumEntries == 1 && NativeWin_Palette(pal)->palPalEntry[0].peRed == 9 &&
                NativeWin_Palette(pal)->palPalEntry[0].peBlue == 7);
    DeleteObject(pal);
    NativeWin_FailAllocation(0);
    EXPECT_FALSE(Img_CreateGradientPalette(ramps));
    NativeWin_FailAllocation(-1);
    EXPECT_TRUE(!Img_CreateGradientPalette(negative) && !Img_CreateGradientPalette(huge) && !Img_CreateGradientPalette(nullptr));
    EXPECT_TRUE(NativeWin_Counts().heapBlocks == before.heapBlocks && NativeWin_Counts().gdiObjects == before.gdiObjects);
}

} // namespace
