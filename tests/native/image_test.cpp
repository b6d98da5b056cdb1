// BMP decoding (every depth as stored, every refusal as one table) and the services beside the decoders:
// dispatch by type, type codes of file names, gradient palettes.
#include "harness.h"

namespace {

struct BmpSpec { int bits = 8, w = 3, h = 2; uint32_t clrUsed = 0, headerSize = 40, gap = 0; bool file = false; };  // h < 0: top-down

// A BMP of random colours and pixels; `want` gets the DIB it must give (rows bottom-up), then its colours.
Bytes MakeBmp(const BmpSpec& s, Rng& r, Bytes* want = nullptr)
{
    const uint32_t colors = s.bits <= 8 && !s.clrUsed ? 1u << s.bits : s.clrUsed, height = std::abs(s.h);
    const uint32_t stride = (s.w * s.bits + 31) / 32 * 4, at = s.file ? 14 : 0, pixels = at + s.headerSize + 4 * colors + s.gap;
    Bytes b(pixels + stride * height);
    for (size_t i = at + s.headerSize; i < b.size(); ++i)
        b[i] = (uint8_t)r(256);
    Put32(b, at, s.headerSize), Put32(b, at + 4, s.w), Put32(b, at + 8, s.h), Put32(b, at + 12, 1 | s.bits << 16);
    Put32(b, at + 32, s.clrUsed);
    if (s.file)
        b[0] = 'B', b[1] = 'M', Put32(b, 2, (uint32_t)b.size()), Put32(b, 10, pixels);
    for (uint32_t y = 0; want && y < height; ++y)
        want->insert(want->end(), &b[pixels + stride * (s.h < 0 ? height - 1 - y : y)], &b[pixels + stride * (s.h < 0 ? height - y : y + 1)]);
    if (want && s.bits <= 8)
        want->insert(want->end(), &b[at + s.headerSize], &b[at + s.headerSize] + 4 * colors);
    return b;
}

TEST(Bmp, EveryDepthAsStored)
{
    Rng r{ 11 };
    const int kBits[] = { 1, 4, 8, 16, 24, 32 };
    for (int i = 0; i < 300; ++i) {
        BmpSpec s{ kBits[i % 6], 1 + (int)r(40), (1 + (int)r(9)) * (r(3) ? 1 : -1) };
        s.clrUsed = s.bits <= 8 ? (r(2) ? 0 : 1 + r(1 << s.bits)) : r(3);  // above 8 bits: a table for palette screens
        s.headerSize = r(2) ? 40 : r(2) ? 108 : 124, s.file = r(2), s.gap = s.file ? r(3) * r(20) : 0;
        Bytes want;
        const Pic p = Decode(IMG_TYPE_BMP, MakeBmp(s, r, &want));
        Bytes got = p.dib;
        got.insert(got.end(), (const uint8_t*)p.colors.data(), (const uint8_t*)(p.colors.data() + p.colors.size()));
        ASSERT_TRUE(p.ok && p.w == s.w && p.h == std::abs(s.h) && p.bits == s.bits && got == want) << i << ": " << p.why;
    }
    ExpectAllocationFailuresRefused(IMG_TYPE_BMP, MakeBmp({}, r));
}

// Every refusal of the BMP decoder, and where each check stops.
TEST(Bmp, Refusals)
{
    Rng r{ 3 };
    const Bytes dib = MakeBmp({}, r), file = MakeBmp({ .file = true }, r), rgb = MakeBmp({ .bits = 24 }, r);
    auto set = [](Bytes b, size_t at, uint32_t v, int size = 4) { return Put32(b, at, v, false, size), b; };
    const char *kHeader = "unsupported BMP header", *kDims = "bad BMP dimensions", *kDepth = "unsupported BMP bit depth";
    const char *kPixels = "truncated BMP pixel data", *kCompressed = "compressed BMP (RLE or bit fields)";
    const char* kColors = "BMP colour table larger than its bit count allows";
    ExpectOutcomes(IMG_TYPE_BMP, {
        { "packed DIB", dib, nullptr }, { "file", file, nullptr }, { "39 bytes", Bytes(dib.begin(), dib.begin() + 39), "truncated BMP header" },
        { "a file of 53 bytes", Bytes(file.begin(), file.begin() + 53), "truncated BMP header" },
        { "header of 39 bytes", set(dib, 0, 39), kHeader }, { "OS/2 header", set(dib, 0, 12), kHeader },
        { "header longer than the data", set(dib, 0, (uint32_t)dib.size() + 1), kHeader },
        { "RLE8", set(dib, 16, 1), kCompressed }, { "RLE4", set(set(dib, 14, 4, 2), 16, 2), kCompressed },
        { "bit fields", set(set(rgb, 14, 32, 2), 16, 3), kCompressed },
        { "0 planes", set(dib, 12, 0, 2), kDims }, { "2 planes", set(dib, 12, 2, 2), kDims },
        { "width 0", set(dib, 4, 0), kDims }, { "width -1", set(dib, 4, 0xFFFFFFFF), kDims },
        { "height 0", set(dib, 8, 0), kDims }, { "height -2^31", set(dib, 8, 0x80000000), kDims },
        { "0 bits", set(dib, 14, 0, 2), kDepth }, { "2 bits", set(dib, 14, 2, 2), kDepth },
        { "15 bits", set(dib, 14, 15, 2), kDepth }, { "64 bits", set(dib, 14, 64, 2), kDepth },
        { "256 colours of 8 bits", set(dib, 32, 256), nullptr }, { "257 colours of 8 bits", set(dib, 32, 257), kColors },
        { "17 colours of 4 bits", set(set(dib, 14, 4, 2), 32, 17), kColors },
        { "colour table cut", Bytes(dib.begin(), dib.begin() + 140), "truncated BMP colour table" },
        { "pixels a byte short", Bytes(dib.begin(), dib.end() - 1), kPixels },
        { "file pixels a byte short", Bytes(file.begin(), file.end() - 1), kPixels },
        { "pixels past the end of the file", set(file, 10, (uint32_t)file.size() - 7), kPixels },
        { "pixels 2^32 - 16 on", set(file, 10, 0xFFFFFFF0), kPixels }, { "24 bits carrying 2^30 colours", set(rgb, 32, 0x40000000), kPixels },
        { "100000 squared", set(set(rgb, 4, 100000), 8, 100000), "BMP picture too large" },
    });
}

TEST(Image, TypesAndDispatch)
{
    const std::pair<const char*, WORD> kNames[] = {
        { "a.jpg", 0 },    { "C:\\skin\\bg.JPEG", 0 },  { "x.gif", 1 },     { "logo.b.Png", 2 }, { "old.PING", 2 }, { "scan.tif", 3 },
        { "scan.Tiff", 3 }, { "face.BMP", 4 },          { ".bmp", 4 },      { "C:\\dir.jpg\\file", 0xFFFF }, { "a.jpg.txt", 0xFFFF },
        { "trailing.", 0xFFFF }, { "noext", 0xFFFF },   { "", 0xFFFF },     { "a.jp", 0xFFFF },  { nullptr, 0xFFFF },
    };
    for (const auto& [path, type] : kNames)
        EXPECT_EQ(Img_GetTypeFromExtension(path), type) << (path ? path : "null");
    for (int type : { 1, 3, 0xFFFF, 5, 0, 2, 4 })  // GIF, TIFF and unknown types have no decoder
        EXPECT_TRUE(!Decode((WORD)type, { 'G', 'I', 'F', '8', '9', 'a', 0, 0 }).ok && Img_GetNotes()->refusal) << type;
}

// Ramps of 16, 2 and 16 steps: ends are the two colours, steps between (from (n - 1 - j) + to j) / (n - 1). No
// ramp: no entries; one step: its first colour; negative steps, too many, no list or no memory: no palette.
TEST(Image, GradientPalettes)
{
    const NativeWinCounts before = NativeWin_Counts();
    auto make = [](std::vector<IMG_GRADIENT_SEGMENT> ramps) {  // a first element, then the palette's colours
        HPALETTE pal = Img_CreateGradientPalette(ramps.data());
        std::vector<COLORREF> out(pal ? 1 + NativeWin_Palette(pal)->palNumEntries : 0);  // an entry is R, G, B, flags
        if (out.size() > 1)
            memcpy(&out[1], NativeWin_Palette(pal)->palPalEntry, 4 * (out.size() - 1));
        return DeleteObject(pal), out;
    };
    const std::vector<COLORREF> p =
        make({ { RGB(10, 200, 30), RGB(250, 0, 130), 16 }, { RGB(1, 2, 3), RGB(4, 5, 6), 2 }, { 0, 0xFFFFFF, 16 }, { 0, 0, 0 } });
    ASSERT_EQ(p.size(), 35u);
    const std::pair<int, COLORREF> kWant[] = { { 0, RGB(10, 200, 30) }, { 1, RGB(26, 186, 36) }, { 15, RGB(250, 0, 130) },
                                               { 16, RGB(1, 2, 3) },    { 17, RGB(4, 5, 6) },    { 18, 0 },
                                               { 19, RGB(17, 17, 17) }, { 32, RGB(238, 238, 238) }, { 33, 0xFFFFFF } };
    for (auto [i, c] : kWant)
        EXPECT_EQ(p[i + 1], c) << i;
    EXPECT_TRUE(make({ { 0, 0, 0 } }).size() == 1);
    EXPECT_TRUE(make({ { RGB(9, 8, 7), 1, 1 }, { 0, 0, 0 } }) == std::vector<COLORREF>({ 0, RGB(9, 8, 7) }));
    EXPECT_TRUE(make({ { 0, 0, -3 }, { 0, 0, 0 } }).empty() && make({ { 0, 0, 40000 }, { 0, 0, 40000 }, { 0, 0, 0 } }).empty());
    NativeWin_FailAllocation(0);
    EXPECT_TRUE(make({ { 0, 0, 4 }, { 0, 0, 0 } }).empty() && !Img_CreateGradientPalette(nullptr));
    NativeWin_FailAllocation(-1);
    EXPECT_TRUE(NativeWin_Counts().heapBlocks == before.heapBlocks && NativeWin_Counts().gdiObjects == before.gdiObjects);
}

} // namespace
