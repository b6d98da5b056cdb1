// PNG decoding: pixels against libpng for every supported format, the DIB and
// palette the decoder hands out, and the chunk rules where a damaged or odd
// file must be refused or must still decode.
#include "png_test_support.h"

#include <cstdio>
#include <dirent.h>

using namespace pngtest;

namespace {

struct FormatCase {
    int colorType;
    int depth;
    int outBits;
    DWORD colors;  // colour-table entries (palette images: 2^depth here)
};

const FormatCase kFormats[] = {
    { PNG_COLOR_TYPE_GRAY, 1, 1, 2 },         { PNG_COLOR_TYPE_GRAY, 2, 4, 4 },
    { PNG_COLOR_TYPE_GRAY, 4, 4, 16 },        { PNG_COLOR_TYPE_GRAY, 8, 8, 256 },
    { PNG_COLOR_TYPE_PALETTE, 1, 1, 2 },      { PNG_COLOR_TYPE_PALETTE, 2, 4, 4 },
    { PNG_COLOR_TYPE_PALETTE, 4, 4, 16 },     { PNG_COLOR_TYPE_PALETTE, 8, 8, 256 },
    { PNG_COLOR_TYPE_RGB, 8, 24, 0 },         { PNG_COLOR_TYPE_RGB_ALPHA, 8, 24, 0 },
    { PNG_COLOR_TYPE_GRAY_ALPHA, 8, 8, 256 },
};

std::string Describe(const PngShape& s)
{
    char buf[96];
    snprintf(buf, sizeof buf, "type %d depth %d %ux%u%s filters 0x%x", s.colorType, s.depth, s.width, s.height,
             s.interlace ? " interlaced" : "", s.filters);
    return buf;
}

void ExpectSameAsLibpng(const PngShape& s, uint32_t seed = 1)
{
    Bytes file = MakePng(s, seed);
    Decoded d(file);
    ASSERT_TRUE(d.dib) << Describe(s) << ": " << (Img_GetNotes()->refusal ? Img_GetNotes()->refusal : "");
    ASSERT_EQ(d.Rgb(), ReferenceRgb(file)) << Describe(s);
}

} // namespace

// ---- pixels ----------------------------------------------------------------------

TEST(PngPixels, EveryFormatEveryFilterMatchesLibpng)
{
    LeakCheck leaks;
    const int filters[] = { PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
                            PNG_ALL_FILTERS };
    for (const FormatCase& f : kFormats)
        for (bool interlace : { false, true })
            for (int filter : filters) {
                PngShape s;
                s.colorType = f.colorType;
                s.depth = f.depth;
                s.interlace = interlace;
                s.filters = filter;
                s.width = 37;  // not a multiple of any pass step or pixels per byte
                s.height = 21;
                ExpectSameAsLibpng(s);
            }
}

TEST(PngPixels, SmallAndOddSizesInterlacedAndNot)
{
    LeakCheck leaks;
    // Sizes where Adam7 passes are empty, or hold a single pixel or a
    // partial byte of sub-byte pixels.
    const uint32_t sizes[][2] = { { 1, 1 }, { 1, 9 }, { 9, 1 }, { 2, 2 }, { 3, 5 }, { 5, 3 }, { 8, 8 }, { 17, 4 } };
    for (const FormatCase& f : kFormats)
        for (auto& wh : sizes)
            for (bool interlace : { false, true }) {
                PngShape s;
                s.colorType = f.colorType;
                s.depth = f.depth;
                s.width = wh[0];
                s.height = wh[1];
                s.interlace = interlace;
                ExpectSameAsLibpng(s, wh[0] * 31 + wh[1]);
            }
}

TEST(PngPixels, DibHeaderPaletteAndColourTable)
{
    LeakCheck leaks;
    for (const FormatCase& f : kFormats) {
        PngShape s;
        s.colorType = f.colorType;
        s.depth = f.depth;
        s.width = 13;
        s.height = 7;
        Decoded d(MakePng(s));
        ASSERT_TRUE(d.dib);
        const BITMAPINFOHEADER& h = d.Header();
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 13);
        EXPECT_EQ(h.biHeight, 7) << "rows are bottom-up";
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, f.outBits);
        EXPECT_EQ(h.biCompression, (DWORD)BI_RGB);
        EXPECT_EQ(h.biXPelsPerMeter, 72);
        EXPECT_EQ(h.biClrUsed, f.colors);
        EXPECT_EQ(d.info.nColors, f.colors);
        EXPECT_EQ(d.info.pBits, NativeWin_DibBits(d.dib));
        if (!f.colors) {
            EXPECT_EQ(d.info.pLogPalette, nullptr);
            continue;
        }
        ASSERT_NE(d.info.pLogPalette, nullptr);
        EXPECT_EQ(d.info.pLogPalette->palVersion, 0x300);
        ASSERT_EQ(d.info.pLogPalette->palNumEntries, f.colors);
        for (DWORD i = 0; i < f.colors; ++i) {
            const PALETTEENTRY& e = d.info.pLogPalette->palPalEntry[i];
            const RGBQUAD& q = d.info.pBitmapInfo->bmiColors[i];
            EXPECT_EQ(e.peRed, q.rgbRed);
            EXPECT_EQ(e.peGreen, q.rgbGreen);
            EXPECT_EQ(e.peBlue, q.rgbBlue);
            EXPECT_EQ(e.peFlags, 0);
            if (f.colorType != PNG_COLOR_TYPE_PALETTE)
                EXPECT_EQ(q.rgbRed, i * 255 / (f.colors - 1));
        }
    }
}

TEST(PngPixels, ShortPaletteGivesShortColourTable)
{
    LeakCheck leaks;
    PngShape s;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    s.depth = 8;
    s.paletteSize = 16;
    Bytes file = MakePng(s);
    Decoded d(file);
    ASSERT_TRUE(d.dib);
    EXPECT_EQ(d.Header().biClrUsed, 16u);
    EXPECT_EQ(d.info.pLogPalette->palNumEntries, 16);
    EXPECT_EQ(d.Rgb(), ReferenceRgb(file));
}

TEST(PngPixels, AlphaCompositedOverBlack)
{
    LeakCheck leaks;
    // One row of RGBA pixels: half, transparent and opaque alpha.
    PngShape s;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.width = 3;
    s.height = 1;
    Bytes file = WritePng(s, { { 200, 100, 50, 128, 200, 100, 50, 0, 200, 100, 50, 255 } });
    Decoded d(file);
    ASSERT_TRUE(d.dib);
    const BYTE* p = static_cast<const BYTE*>(d.info.pBits);
    const BYTE expected[9] = { 25, 50, 100, 0, 0, 0, 50, 100, 200 };  // B, G, R
    EXPECT_EQ(0, memcmp(p, expected, 9));

    s.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
    Decoded g(WritePng(s, { { 200, 128, 200, 0, 200, 255 } }));
    ASSERT_TRUE(g.dib);
    const BYTE* q = static_cast<const BYTE*>(g.info.pBits);
    EXPECT_EQ(q[0], 100);
    EXPECT_EQ(q[1], 0);
    EXPECT_EQ(q[2], 200);
}

TEST(PngPixels, LargeImagesAcrossManyIdatChunksAndLevels)
{
    LeakCheck leaks;
    for (int level : { 0, 1, 9 })
        for (bool interlace : { false, true }) {
            PngShape s;
            s.width = 301;
            s.height = 77;
            s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
            s.level = level;
            s.interlace = interlace;
            ExpectSameAsLibpng(s, 7);
        }
}

// The module's own pictures, where the resource script has made them.
TEST(PngPixels, ModulePicturesMatchLibpng)
{
    LeakCheck leaks;
    int seen = 0;
    for (const char* sub : { "/resources", "/resources/art", "/resources/images", "/resources/pictures" }) {
        std::string dir = std::string(QX_SOURCE_DIR) + sub;
        DIR* dp = opendir(dir.c_str());
        if (!dp)
            continue;
        while (dirent* e = readdir(dp)) {
            std::string name = e->d_name;
            if (name.size() < 5 || (name.compare(name.size() - 4, 4, ".png") && name.compare(name.size() - 4, 4, ".PNG")))
                continue;
            FILE* f = fopen((dir + "/" + name).c_str(), "rb");
            ASSERT_TRUE(f);
            Bytes file;
            uint8_t buf[65536];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                file.insert(file.end(), buf, buf + n);
            fclose(f);
            Decoded d(file);
            ASSERT_TRUE(d.dib) << name;
            EXPECT_EQ(d.Rgb(), ReferenceRgb(file)) << name;
            ++seen;
        }
        closedir(dp);
    }
    if (!seen)
        GTEST_SKIP() << "no PNG pictures under resources/ yet";
}

// ---- chunk rules ---------------------------------------------------------------------

namespace {

Bytes SmallFile(int colorType = PNG_COLOR_TYPE_RGB, int depth = 8)
{
    PngShape s;
    s.colorType = colorType;
    s.depth = depth;
    s.width = 9;
    s.height = 6;
    return MakePng(s);
}

std::vector<Chunk> Insert(std::vector<Chunk> chunks, const std::string& before, const Chunk& c)
{
    for (size_t i = 0; i < chunks.size(); ++i)
        if (chunks[i].type == before) {
            chunks.insert(chunks.begin() + i, c);
            return chunks;
        }
    ADD_FAILURE() << "no " << before << " chunk";
    return chunks;
}

bool Decodes(const Bytes& file)
{
    Decoded d(file);
    return d.dib != nullptr;
}

bool Decodes(const std::vector<Chunk>& chunks) { return Decodes(BuildPng(chunks)); }

Bytes WithIhdr(const Bytes& file, uint32_t width, uint32_t height, int depth, int colorType, int compression = 0,
               int filter = 0, int interlace = 0)
{
    std::vector<Chunk> c = ParseChunks(file);
    Bytes& h = c[0].data;
    h.clear();
    PutBE32(h, width);
    PutBE32(h, height);
    h.insert(h.end(), { (uint8_t)depth, (uint8_t)colorType, (uint8_t)compression, (uint8_t)filter, (uint8_t)interlace });
    return BuildPng(c);
}

} // namespace

TEST(PngChunks, SignatureAndFirstChunk)
{
    LeakCheck leaks;
    Bytes file = SmallFile();
    ASSERT_TRUE(Decodes(file));
    for (size_t i = 0; i < 8; ++i) {
        Bytes bad = file;
        bad[i] ^= 0x20;
        EXPECT_FALSE(Decodes(bad)) << "signature byte " << i;
    }
    IMG_INFO info{};
    info.cbData = 100;
    EXPECT_EQ(Img_DecodePng(nullptr, nullptr, &info), nullptr);
    info.cbData = 7;
    EXPECT_EQ(Img_DecodePng(nullptr, file.data(), &info), nullptr);

    std::vector<Chunk> c = ParseChunks(file);
    std::swap(c[0], c[1]);  // PLTE-less RGB: the second chunk is IDAT
    EXPECT_FALSE(Decodes(c));
    c = ParseChunks(file);
    EXPECT_FALSE(Decodes(Insert(c, "IHDR", { "tEXt", Bytes{ 'a', 0, 'b' } }))) << "IHDR must come first";
}

TEST(PngChunks, EveryIhdrRefusal)
{
    LeakCheck leaks;
    Bytes grey = SmallFile(PNG_COLOR_TYPE_GRAY, 8);
    EXPECT_TRUE(Decodes(WithIhdr(grey, 9, 6, 8, 0)));
    // Depths not allowed for the colour type, unknown colour types, methods.
    const int bad[][5] = {
        { 3, 0, 0, 0, 0 },  { 0, 0, 0, 0, 0 },  { 32, 0, 0, 0, 0 }, { 4, 2, 0, 0, 0 }, { 1, 6, 0, 0, 0 },
        { 2, 4, 0, 0, 0 },  { 16, 3, 0, 0, 0 }, { 8, 1, 0, 0, 0 },  { 8, 5, 0, 0, 0 }, { 8, 7, 0, 0, 0 },
        { 8, 0, 1, 0, 0 },  { 8, 0, 0, 1, 0 },  { 8, 0, 0, 0, 2 },
    };
    for (auto& b : bad)
        EXPECT_FALSE(Decodes(WithIhdr(grey, 9, 6, b[0], b[1], b[2], b[3], b[4])))
            << "depth " << b[0] << " type " << b[1] << " methods " << b[2] << b[3] << b[4];
    EXPECT_FALSE(Decodes(WithIhdr(grey, 0, 6, 8, 0)));
    EXPECT_FALSE(Decodes(WithIhdr(grey, 9, 0, 8, 0)));
    EXPECT_FALSE(Decodes(WithIhdr(grey, 0x80000000u, 6, 8, 0)));
    EXPECT_FALSE(Decodes(WithIhdr(grey, 9, 0x80000000u, 8, 0)));

    std::vector<Chunk> c = ParseChunks(grey);
    c[0].data.push_back(0);
    EXPECT_FALSE(Decodes(c)) << "IHDR of 14 bytes";
    c[0].data.resize(12);
    EXPECT_FALSE(Decodes(c)) << "IHDR of 12 bytes";

    // A later IHDR is ignored.
    c = ParseChunks(grey);
    Chunk second = c[0];
    second.data[8] = 3;  // an invalid depth: would fail if it were read
    EXPECT_TRUE(Decodes(Insert(c, "IDAT", second)));
}

TEST(PngChunks, SixteenBitPicturesAreRefused)
{
    LeakCheck leaks;
    for (int type : { PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_GRAY_ALPHA }) {
        PngShape s;
        s.colorType = type;
        s.depth = 16;
        s.width = 4;
        s.height = 4;
        std::vector<Bytes> rows(4, Bytes(4 * Channels(type) * 2, 0x55));
        EXPECT_FALSE(Decodes(WritePng(s, rows))) << "type " << type;
    }
}

TEST(PngChunks, PalettePlacementAndLength)
{
    LeakCheck leaks;
    Bytes pal = SmallFile(PNG_COLOR_TYPE_PALETTE, 4);
    std::vector<Chunk> c = ParseChunks(pal);
    ASSERT_EQ(c[1].type, "PLTE");
    ASSERT_TRUE(Decodes(c));

    std::vector<Chunk> none = c;
    none.erase(none.begin() + 1);
    EXPECT_FALSE(Decodes(none)) << "palette image without PLTE";

    std::vector<Chunk> twice = Insert(c, "IDAT", c[1]);
    EXPECT_FALSE(Decodes(twice)) << "second PLTE";

    std::vector<Chunk> late = none;
    late.insert(late.end() - 1, c[1]);
    EXPECT_FALSE(Decodes(late)) << "PLTE after the image data";

    for (size_t len : { 0, 1, 2, 4, 771 }) {
        std::vector<Chunk> odd = c;
        odd[1].data.assign(len, 7);
        EXPECT_FALSE(Decodes(odd)) << "PLTE of " << len << " bytes";
    }
    // 256 entries for a 4-bit picture: the ones it cannot index are dropped.
    std::vector<Chunk> big = c;
    big[1].data.assign(768, 9);
    Decoded d(BuildPng(big));
    ASSERT_TRUE(d.dib);
    EXPECT_EQ(d.info.nColors, 16u);

    // Grey pictures may not have one; true colour ones may, and it is not used.
    std::vector<Chunk> grey = ParseChunks(SmallFile(PNG_COLOR_TYPE_GRAY, 8));
    EXPECT_FALSE(Decodes(Insert(grey, "IDAT", c[1])));
    std::vector<Chunk> ga = ParseChunks(SmallFile(PNG_COLOR_TYPE_GRAY_ALPHA, 8));
    EXPECT_FALSE(Decodes(Insert(ga, "IDAT", c[1])));
    for (int type : { PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA }) {
        Bytes file = SmallFile(type, 8);
        Decoded rgb(BuildPng(Insert(ParseChunks(file), "IDAT", c[1])));
        ASSERT_TRUE(rgb.dib);
        EXPECT_EQ(rgb.info.nColors, 0u);
        EXPECT_EQ(rgb.info.pLogPalette, nullptr);
        EXPECT_EQ(rgb.Rgb(), ReferenceRgb(file));
    }
}

TEST(PngChunks, UnknownChunksAncillaryPassCriticalFail)
{
    LeakCheck leaks;
    std::vector<Chunk> c = ParseChunks(SmallFile());
    for (const char* where : { "IDAT", "IEND" }) {
        EXPECT_TRUE(Decodes(Insert(c, where, { "quxx", Bytes(40, 1) }))) << where;
        EXPECT_TRUE(Decodes(Insert(c, where, { "gAMA", Bytes{ 0, 0, 0xB1, 0x8F } }))) << where;
        EXPECT_TRUE(Decodes(Insert(c, where, { "tRNS", Bytes{ 0, 1, 0, 2, 0, 3 } }))) << where;
        EXPECT_FALSE(Decodes(Insert(c, where, { "QUXX", Bytes(40, 1) }))) << where;
        EXPECT_FALSE(Decodes(Insert(c, where, { "Quxx", Bytes{} }))) << where;
    }
}

TEST(PngChunks, AnyCorruptedByteFailsThroughTheCrc)
{
    LeakCheck leaks;
    std::vector<Chunk> c = ParseChunks(SmallFile(PNG_COLOR_TYPE_PALETTE, 8));
    c = Insert(c, "IDAT", { "tEXt", Bytes{ 'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i' } });
    c = Insert(c, "IEND", { "zzzz", Bytes(5, 0x42) });
    Bytes file = BuildPng(c);
    ASSERT_TRUE(Decodes(file));
    for (size_t i = 0; i < file.size(); ++i) {
        for (uint8_t flip : { 0x01, 0x80 }) {
            Bytes bad = file;
            bad[i] ^= flip;
            EXPECT_FALSE(Decodes(bad)) << "byte " << i << " of " << file.size() << " flipped by " << (int)flip;
        }
    }
}

TEST(PngChunks, TruncatedFilesAndMissingIendFail)
{
    LeakCheck leaks;
    Bytes file = SmallFile(PNG_COLOR_TYPE_RGB_ALPHA);
    for (size_t n = 0; n < file.size(); ++n)
        EXPECT_FALSE(Decodes(Bytes(file.begin(), file.begin() + n))) << "cut at " << n;
    std::vector<Chunk> c = ParseChunks(file);
    c.pop_back();
    EXPECT_FALSE(Decodes(c)) << "no IEND";
    // A length field claiming more than the file holds, and one above 2^31 - 1.
    for (uint32_t len : { 0x100u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu }) {
        Bytes bad = file;
        bad[8] = (uint8_t)(len >> 24), bad[9] = (uint8_t)(len >> 16), bad[10] = (uint8_t)(len >> 8), bad[11] = (uint8_t)len;
        EXPECT_FALSE(Decodes(bad)) << std::hex << len;
    }
    // Bytes after IEND are not looked at.
    Bytes tail = file;
    tail.insert(tail.end(), { 1, 2, 3 });
    EXPECT_TRUE(Decodes(tail));
}

TEST(PngChunks, NoImageDataGivesNoBitmap)
{
    LeakCheck leaks;
    std::vector<Chunk> c = ParseChunks(SmallFile(PNG_COLOR_TYPE_PALETTE, 8));
    std::vector<Chunk> none;
    for (const Chunk& x : c)
        if (x.type != "IDAT")
            none.push_back(x);
    Decoded d(BuildPng(none));
    EXPECT_EQ(d.dib, nullptr);
    EXPECT_EQ(d.info.pLogPalette, nullptr);
    EXPECT_EQ(d.info.pBitmapInfo, nullptr);
}

// ---- image data across chunks ---------------------------------------------------------

TEST(PngImageData, IdatSplitAtEveryOffsetIncludingStoredBlocks)
{
    LeakCheck leaks;
    for (int level : { 0, 6 }) {
        PngShape s;
        s.width = 11;
        s.height = 5;
        s.level = level;
        Bytes file = MakePng(s);
        const Bytes expected = ReferenceRgb(file);
        std::vector<Chunk> c = ParseChunks(file);
        Bytes z = IdatStream(c);
        // Two chunks cut at every offset, and chunks of every small size
        // (with empty chunks between them for size 0).
        for (size_t cut = 0; cut <= z.size(); ++cut) {
            Decoded d(BuildPng(WithIdat(c, z, { cut, z.size() })));
            ASSERT_TRUE(d.dib) << "level " << level << " cut " << cut;
            EXPECT_EQ(d.Rgb(), expected);
        }
        for (size_t size = 1; size <= 9; ++size) {
            Decoded d(BuildPng(WithIdat(c, z, { size })));
            ASSERT_TRUE(d.dib) << "pieces of " << size;
            EXPECT_EQ(d.Rgb(), expected);
        }
        Decoded e(BuildPng(WithIdat(c, z, { 3, 0, 5, 0, 1, 0, 1000 })));
        ASSERT_TRUE(e.dib) << "with empty IDAT chunks";
        EXPECT_EQ(e.Rgb(), expected);
    }
}

TEST(PngImageData, DataAfterTheImageAndSecondRuns)
{
    LeakCheck leaks;
    Bytes file = SmallFile();
    std::vector<Chunk> c = ParseChunks(file);
    Bytes z = IdatStream(c);

    // The last IDAT holds only the Adler-32: the image is complete before it.
    EXPECT_TRUE(Decodes(WithIdat(c, z, { z.size() - 4, 4 })));
    // Further IDAT chunks after the stream are skipped...
    std::vector<Chunk> extra = Insert(c, "IEND", { "IDAT", Bytes(10, 0xEE) });
    EXPECT_TRUE(Decodes(extra));
    // ...but not a second run of them after another chunk.
    std::vector<Chunk> split = Insert(c, "IEND", { "tEXt", Bytes{ 'a', 0, 'b' } });
    split = Insert(split, "IEND", { "IDAT", Bytes(10, 0xEE) });
    EXPECT_FALSE(Decodes(split));
    // A chunk between IDATs while the image still needs data.
    std::vector<Chunk> inner = WithIdat(c, z, { z.size() / 2, z.size() });
    inner.insert(inner.begin() + 2, { "tEXt", Bytes{ 'a', 0, 'b' } });
    ASSERT_EQ(inner[3].type, "IDAT");
    EXPECT_FALSE(Decodes(inner));
}

TEST(PngImageData, ShortStreamBadChecksumAndBadFilterFail)
{
    LeakCheck leaks;
    PngShape s;
    s.width = 20;
    s.height = 10;
    s.filters = PNG_FILTER_NONE;
    std::vector<Bytes> rows = MakeRows(s, 3);
    std::vector<Chunk> c = ParseChunks(WritePng(s, rows));

    // Raw image data with a chosen filter byte per row, compressed by zlib.
    auto stream = [&](int rowCount, uint8_t filter) {
        Bytes raw;
        for (int y = 0; y < rowCount; ++y) {
            raw.push_back(y == rowCount - 1 ? filter : 0);
            raw.insert(raw.end(), rows[y].begin(), rows[y].end());
        }
        return ZlibCompress(raw, 6);
    };
    EXPECT_TRUE(Decodes(WithIdat(c, stream(10, 0), { 0 })));
    EXPECT_FALSE(Decodes(WithIdat(c, stream(9, 0), { 0 }))) << "one row short";
    EXPECT_FALSE(Decodes(WithIdat(c, stream(10, 5), { 0 }))) << "filter type 5";

    Bytes z = stream(10, 0);
    z.back() ^= 1;
    EXPECT_FALSE(Decodes(WithIdat(c, z, { 0 }))) << "Adler-32 trailer wrong";
    Bytes noTrailer(z.begin(), z.end() - 4);
    EXPECT_TRUE(Decodes(WithIdat(c, noTrailer, { 0 }))) << "trailer missing: all pixels are there";
    Bytes header = z;
    header[1] ^= 1;
    EXPECT_FALSE(Decodes(WithIdat(c, header, { 0 }))) << "zlib header check bits";
}

TEST(PngImageData, ClaimsBeyondTheDataAreRefusedBeforeAllocating)
{
    LeakCheck leaks;
    Bytes file = SmallFile(PNG_COLOR_TYPE_GRAY, 8);
    // Each of these would need gigabytes; the file has a few bytes of data.
    EXPECT_FALSE(Decodes(WithIhdr(file, 0x7FFFFFFF, 0x7FFFFFFF, 8, 0)));
    EXPECT_FALSE(Decodes(WithIhdr(file, 0x7FFFFFFF, 1, 8, 6)));
    EXPECT_FALSE(Decodes(WithIhdr(file, 40000, 40000, 8, 2)));
    EXPECT_FALSE(Decodes(WithIhdr(file, 100000, 10000, 1, 0, 0, 0, 1)));
}

TEST(PngImageData, EveryAllocationFailureIsCleanedUp)
{
    PngShape s;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    s.depth = 4;
    s.width = 40;
    s.height = 9;
    s.interlace = true;
    Bytes file = MakePng(s);
    const Bytes expected = ReferenceRgb(file);
    bool succeeded = false;
    for (long n = 0; n < 40 && !succeeded; ++n) {
        LeakCheck leaks;
        NativeWin_FailAllocation(n);
        {
            Decoded d(file);
            NativeWin_FailAllocation(-1);
            if (d.dib) {
                succeeded = true;
                EXPECT_EQ(d.Rgb(), expected);
            } else {
                EXPECT_EQ(d.info.pBitmapInfo, nullptr);
                EXPECT_EQ(d.info.pLogPalette, nullptr);
            }
        }
    }
    EXPECT_TRUE(succeeded);
}
