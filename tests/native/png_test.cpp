// PNG: every format, depth, filter, size and interlacing against libpng,
// however the image data is cut into IDAT chunks; every damaged byte and
// every cut refused; every refusal of the decoder as one table of edits.
#include "harness.h"

namespace {

struct Chunk {
    std::string type;
    Bytes data;
};

std::vector<Chunk> Chunks(const Bytes& file)
{
    std::vector<Chunk> out;
    for (size_t at = 8; at + 12 <= file.size(); at += 12 + out.back().data.size()) {
        const size_t n = (size_t)file[at] << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        out.push_back({ std::string(&file[at + 4], &file[at + 8]), Bytes(&file[at + 8], &file[at + 8 + n]) });
    }
    return out;
}

Bytes Png(const std::vector<Chunk>& chunks)
{
    Bytes out = { 137, 80, 78, 71, 13, 10, 26, 10 };
    for (const Chunk& c : chunks) {
        const size_t at = out.size();
        out.resize(at + 8);
        Put32(out, at, (uint32_t)c.data.size(), true);
        out.insert(out.end(), c.data.begin(), c.data.end());
        std::copy(c.type.begin(), c.type.end(), out.begin() + at + 4);
        out.resize(out.size() + 4);
        Put32(out, out.size() - 4, crc32(0, &out[at + 4], (uInt)c.data.size() + 4), true);
    }
    return out;
}

// The chunks with the image data (all IDAT chunks' bytes) cut into pieces
// of the given sizes (the last repeating; 0 makes an empty chunk).
std::vector<Chunk> Recut(std::vector<Chunk> c, const std::vector<size_t>& sizes, Bytes z = {})
{
    auto first = std::find_if(c.begin(), c.end(), [](const Chunk& x) { return x.type == "IDAT"; });
    if (z.empty())
        for (auto it = first; it != c.end() && it->type == "IDAT"; ++it)
            z.insert(z.end(), it->data.begin(), it->data.end());
    const size_t at = first - c.begin();
    c.erase(first, std::find_if(first, c.end(), [](const Chunk& x) { return x.type != "IDAT"; }));
    std::vector<Chunk> pieces;
    for (size_t pos = 0, i = 0; pos < z.size(); ++i) {
        const size_t n = std::min(sizes[std::min(i, sizes.size() - 1)], z.size() - pos);
        pieces.push_back({ "IDAT", Bytes(z.begin() + pos, z.begin() + pos + n) });
        pos += n;
    }
    c.insert(c.begin() + at, pieces.begin(), pieces.end());
    return c;
}

TEST(Png, EveryFormatFilterSizeAndInterlacingAsLibpng)
{
    const int kFormats[][2] = { { 0, 1 }, { 0, 2 }, { 0, 4 }, { 0, 8 }, { 3, 1 }, { 3, 2 },
                                { 3, 4 }, { 3, 8 }, { 2, 8 }, { 6, 8 }, { 4, 8 } };
    const int kFilters[] = { PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH, PNG_ALL_FILTERS };
    Rng r{ 77 };
    for (int i = 0; i < 500; ++i) {
        PngSpec s;
        s.type = kFormats[i % 11][0], s.depth = kFormats[i % 11][1];
        s.w = r(4) ? 1 + r(40) : 1 + r(300), s.h = r(4) ? 1 + r(20) : 1 + r(80);
        s.interlace = r(2), s.filters = kFilters[r(6)], s.level = r(10);
        s.palette = s.type == 3 ? 1 + r(1 << s.depth) : 0;
        Bytes file = WritePng(s, i);
        if (r(2))  // the image data cut anywhere, empty chunks included
            file = Png(Recut(Chunks(file), { 1 + r(9), r(3), 1 + r(40), r(2) ? 1 + r(5) : 8192 }));
        const Pic p = Decode(IMG_TYPE_PNG, file);
        ASSERT_TRUE(p.ok) << i << ": " << p.why;
        // A colour table of the picture's own colours (grey levels i 255 /
        // (n - 1)), indices as they are, 2-bit ones widened to 4; true colour
        // as 24 bits.
        const size_t colors = s.type == 3 ? s.palette : s.type == 0 ? 1 << s.depth : s.type == 4 ? 256 : 0;
        EXPECT_TRUE(p.bits == (colors ? std::max(s.depth, 4 * (s.depth == 2)) : 24) && p.colors.size() == colors) << i;
        ASSERT_TRUE(p.Rgb() == PeerPng(file)) << i << ": type " << s.type << " depth " << s.depth << " " << s.w << "x"
                                               << s.h << (s.interlace ? " interlaced" : "") << " filters " << s.filters;
    }
}

// Alpha over black: (colour x alpha) / 255, rounded down.
TEST(Png, AlphaOverBlack)
{
    PngSpec s;
    s.type = 6, s.w = 256, s.h = 256, s.filters = PNG_FILTER_NONE;
    Bytes file = WritePng(s, 1);
    std::vector<Chunk> c = Chunks(file);
    Bytes raw;
    for (int y = 0; y < 256; ++y) {
        raw.push_back(0);
        for (int x = 0; x < 256; ++x)
            raw.insert(raw.end(), { (uint8_t)x, (uint8_t)(255 - x), 200, (uint8_t)y });
    }
    const Pic p = Decode(IMG_TYPE_PNG, Png(Recut(c, { 1 << 20 }, Zlib(raw, 6))));
    ASSERT_TRUE(p.ok);
    Bytes want;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            want.insert(want.end(), { (uint8_t)(x * y / 255), (uint8_t)((255 - x) * y / 255), (uint8_t)(200 * y / 255) });
    EXPECT_TRUE(p.Rgb() == want);
}

// Any byte changed anywhere fails through the CRCs (ancillary chunks
// included), and so does the file cut anywhere; the image data cut into two
// chunks anywhere decodes, stored blocks (level 0) included.
TEST(Png, EveryDamagedByteEveryCutEverySplit)
{
    PngSpec s;
    s.type = 3, s.depth = 8, s.palette = 20;
    std::vector<Chunk> c = Chunks(WritePng(s, 3));
    c.insert(c.end() - 1, { "tEXt", { 'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i' } });
    const Bytes file = Png(c);
    const Pic good = Decode(IMG_TYPE_PNG, file);
    ASSERT_TRUE(good.ok);
    for (size_t i = 0; i < file.size(); ++i) {
        for (uint8_t flip : { 0x01, 0x80 }) {
            Bytes bad = file;
            bad[i] ^= flip;
            EXPECT_FALSE(Decode(IMG_TYPE_PNG, bad).ok) << "byte " << i << " flipped by " << (int)flip;
        }
        EXPECT_FALSE(Decode(IMG_TYPE_PNG, Bytes(file.begin(), file.begin() + i)).ok) << "cut at " << i;
    }
    for (int level : { 0, 6 }) {
        s.level = level;
        const std::vector<Chunk> l = Chunks(WritePng(s, 4));
        const Bytes want = Decode(IMG_TYPE_PNG, Png(l)).dib;
        for (size_t cut = 0; cut < l[2].data.size(); ++cut)
            ASSERT_TRUE(Decode(IMG_TYPE_PNG, Png(Recut(l, { cut, 1 << 20 }))).dib == want) << "level " << level << " cut " << cut;
    }
}

TEST(Png, AllocationFailuresAreRefusedAndLeakNothing)
{
    PngSpec s;
    s.type = 3, s.depth = 4, s.palette = 16, s.w = 40, s.interlace = true;
    ExpectAllocationFailuresRefused(IMG_TYPE_PNG, WritePng(s, 5));
}

// Every refusal of the decoder, and where each rule stops, as edits of valid
// files. None of them asks for much memory: the ones whose header claims
// gigabytes are refused before anything of that size is asked for.
TEST(Png, Refusals)
{
    PngSpec s;
    const std::vector<Chunk> rgb = Chunks(WritePng(s, 1));
    s.type = 3, s.depth = 4, s.palette = 16;
    const std::vector<Chunk> pal = Chunks(WritePng(s, 2));
    s.type = 0, s.depth = 8, s.palette = 0;
    const std::vector<Chunk> grey = Chunks(WritePng(s, 3));
    s.type = 4;
    const std::vector<Chunk> ga = Chunks(WritePng(s, 3));
    auto edit = [](std::vector<Chunk> c, auto&& f) { return f(c), Png(c); };
    auto ihdr = [&](uint32_t w, uint32_t h, int depth, int type, int method = 0, int filter = 0, int interlace = 0) {
        return edit(grey, [&](std::vector<Chunk>& c) {
            Put32(c[0].data, 0, w, true), Put32(c[0].data, 4, h, true);
            std::copy_n(Bytes{ (uint8_t)depth, (uint8_t)type, (uint8_t)method, (uint8_t)filter, (uint8_t)interlace }.begin(), 5, &c[0].data[8]);
        });
    };
    auto before = [&](const std::vector<Chunk>& c, const std::string& type, Chunk x) {
        return edit(c, [&](std::vector<Chunk>& v) {
            v.insert(std::find_if(v.begin(), v.end(), [&](const Chunk& k) { return k.type == type; }), x);
        });
    };
    auto length = [&](uint32_t n) { Bytes b = Png(rgb); return Put32(b, 33, n, true), b; };
    // The raw rows of the RGB picture (filter byte, then the row), to
    // compress again with changes.
    Bytes raw(6 * 28);
    uLongf rawSize = raw.size();
    uncompress(raw.data(), &rawSize, rgb[1].data.data(), rgb[1].data.size());
    Bytes badFilter = raw, z = rgb[1].data;
    badFilter[5 * 28] = 5;
    const Chunk text = { "tEXt", { 'a', 0, 'b' } }, plte = pal[1];
    const char* kIhdr = "IHDR: size, bit depth, colour type or method not valid";
    const char* kPlte = "PLTE chunk repeated, out of place or of a bad length";
    const char* kShort = "the image data ends before the picture is complete";
    const char* kCritical = "a critical chunk this decoder does not know";
    const char* kPast = "a chunk runs past the end of the file";
    struct {
        const char* what;
        Bytes file;
        const char* outcome;  // the refusal note, or null: decodes
        int colors = -1;
    } rows[] = {
        { "RGB", Png(rgb), nullptr, 0 },
        { "palette", Png(pal), nullptr, 16 },
        { "grey", Png(grey), nullptr, 256 },
        { "7 bytes", Bytes{ 137, 80, 78, 71, 13, 10, 26 }, "not a PNG file (no PNG signature)" },
        { "tEXt before IHDR", before(rgb, "IHDR", text), "the first chunk is not IHDR" },
        { "IHDR of 12 bytes", edit(rgb, [](auto& c) { c[0].data.pop_back(); }), "the IHDR chunk is not 13 bytes long" },
        { "IHDR of 14 bytes", edit(rgb, [](auto& c) { c[0].data.push_back(0); }), "the IHDR chunk is not 13 bytes long" },
        { "width 0", ihdr(0, 6, 8, 0), kIhdr },
        { "height 0", ihdr(9, 0, 8, 0), kIhdr },
        { "width 2^31", ihdr(0x80000000, 6, 8, 0), kIhdr },
        { "height 2^31", ihdr(9, 0x80000000, 8, 0), kIhdr },
        { "grey of 3 bits", ihdr(9, 6, 3, 0), kIhdr },
        { "grey of 0 bits", ihdr(9, 6, 0, 0), kIhdr },
        { "grey of 32 bits", ihdr(9, 6, 32, 0), kIhdr },
        { "RGB of 4 bits", ihdr(9, 6, 4, 2), kIhdr },
        { "RGBA of 1 bit", ihdr(9, 6, 1, 6), kIhdr },
        { "grey and alpha of 2 bits", ihdr(9, 6, 2, 4), kIhdr },
        { "palette of 16 bits", ihdr(9, 6, 16, 3), kIhdr },
        { "colour type 1", ihdr(9, 6, 8, 1), kIhdr },
        { "colour type 5", ihdr(9, 6, 8, 5), kIhdr },
        { "colour type 7", ihdr(9, 6, 8, 7), kIhdr },
        { "compression 1", ihdr(9, 6, 8, 0, 1), kIhdr },
        { "filter method 1", ihdr(9, 6, 8, 0, 0, 1), kIhdr },
        { "interlace 2", ihdr(9, 6, 8, 0, 0, 0, 2), kIhdr },
        { "16-bit grey", ihdr(9, 6, 16, 0), "16-bit samples are not supported" },
        { "16-bit RGB", ihdr(9, 6, 16, 2), "16-bit samples are not supported" },
        { "16-bit grey and alpha", ihdr(9, 6, 16, 4), "16-bit samples are not supported" },
        { "16-bit RGBA", ihdr(9, 6, 16, 6), "16-bit samples are not supported" },
        { "a later IHDR of 3 bits", before(grey, "IEND", { "IHDR", Bytes(13, 3) }), nullptr },
        { "palette picture without PLTE", edit(pal, [](auto& c) { c.erase(c.begin() + 1); }), "a palette picture without a PLTE chunk before its data" },
        { "PLTE twice", before(pal, "IDAT", plte), kPlte },
        { "PLTE after the image data", before(rgb, "IEND", plte), kPlte },
        { "PLTE in grey", before(grey, "IDAT", plte), kPlte },
        { "PLTE in grey and alpha", before(ga, "IDAT", plte), kPlte },
        { "PLTE in RGB: not used", before(rgb, "IDAT", plte), nullptr, 0 },
        { "PLTE of 0 bytes", edit(pal, [](auto& c) { c[1].data.clear(); }), "the PLTE chunk is empty" },
        { "PLTE of 1 byte", edit(pal, [](auto& c) { c[1].data.resize(1); }), kPlte },
        { "PLTE of 4 bytes", edit(pal, [](auto& c) { c[1].data.resize(4); }), kPlte },
        { "PLTE of 771 bytes", edit(pal, [](auto& c) { c[1].data.resize(771); }), kPlte },
        { "256 colours for 4 bits", edit(pal, [](auto& c) { c[1].data.resize(768); }), nullptr, 16 },
        { "unknown ancillary chunk", before(rgb, "IDAT", { "quxx", Bytes(40, 1) }), nullptr },
        { "unknown ancillary chunk at the end", before(rgb, "IEND", { "quxx", {} }), nullptr },
        { "gAMA and tRNS", before(Chunks(before(rgb, "IDAT", { "gAMA", { 0, 0, 0xB1, 0x8F } })), "IDAT", { "tRNS", { 0, 1, 0, 2, 0, 3 } }), nullptr },
        { "unknown critical chunk", before(rgb, "IDAT", { "QUXX", Bytes(40, 1) }), kCritical },
        { "unknown critical chunk at the end", before(rgb, "IEND", { "Quxx", {} }), kCritical },
        { "IDAT longer than the file", length(0x100), kPast },
        { "IDAT of 2^31 - 1", length(0x7FFFFFFF), kPast },
        { "IDAT of 2^31", length(0x80000000), kPast },
        { "IDAT of 2^32 - 1", length(0xFFFFFFFF), kPast },
        { "no IEND", edit(rgb, [](auto& c) { c.pop_back(); }), "the file ends before its IEND chunk" },
        { "bytes after IEND", [&] { Bytes b = Png(rgb); return b.insert(b.end(), { 1, 2, 3 }), b; }(), nullptr },
        { "no IDAT", edit(pal, [](auto& c) { c.erase(c.begin() + 2); }), "(none)" },
        { "a row short", Png(Recut(rgb, { 1 << 20 }, Zlib(Bytes(raw.begin(), raw.end() - 28), 6))), kShort },
        { "filter type 5", Png(Recut(rgb, { 1 << 20 }, Zlib(badFilter, 6))), "a row has an unknown filter type" },
        { "Adler-32 wrong", Png(Recut(rgb, { 1 << 20 }, [&] { Bytes b = z; return b.back() ^= 1, b; }())), "the image data's Adler-32 does not match" },
        { "no Adler-32", Png(Recut(rgb, { 1 << 20 }, Bytes(z.begin(), z.end() - 4))), nullptr },
        { "the Adler-32 in a chunk of its own", Png(Recut(rgb, { z.size() - 4, 4 })), nullptr },
        { "zlib check bits wrong", Png(Recut(rgb, { 1 << 20 }, [&] { Bytes b = z; return b[1] ^= 1, b; }())), "the compressed image data is damaged" },
        { "IDAT after the stream", before(rgb, "IEND", { "IDAT", Bytes(10, 0xEE) }), nullptr },
        { "IDAT after another chunk", before(Chunks(before(rgb, "IEND", text)), "IEND", { "IDAT", Bytes(10, 0xEE) }), "the image data (IDAT) is split by other chunks" },
        { "a chunk between IDATs", edit(Recut(rgb, { 20, 1 << 20 }), [&](auto& c) { c.insert(c.begin() + 2, text); }), kShort },
        { "2^31 - 1 squared", ihdr(0x7FFFFFFF, 0x7FFFFFFF, 8, 0), "the picture is too large" },
        { "2^31 - 1 RGBA pixels", ihdr(0x7FFFFFFF, 1, 8, 6), "the picture is too large" },
        { "40000 squared RGB", ihdr(40000, 40000, 8, 2), "the picture is too large" },
        { "8000 squared from a few bytes", ihdr(8000, 8000, 8, 2), "the image data is too short for the picture's size" },
        { "10^9 interlaced 1-bit pixels", ihdr(100000, 10000, 1, 0, 0, 0, 1), "the image data is too short for the picture's size" },
    };
    for (const auto& row : rows) {
        NativeWin_TakeLargestRequest();
        const Pic p = Decode(IMG_TYPE_PNG, row.file);
        EXPECT_EQ(p.ok ? "decodes" : p.why, row.outcome ? row.outcome : "decodes") << row.what;
        EXPECT_TRUE(row.colors < 0 || (int)p.colors.size() == row.colors) << row.what;
        EXPECT_LT(NativeWin_TakeLargestRequest(), 1u << 20) << row.what;
    }
    for (int i = 0; i < 8; ++i) {
        Bytes b = Png(rgb);
        b[i] ^= 0x20;
        EXPECT_EQ(Decode(IMG_TYPE_PNG, b).why, "not a PNG file (no PNG signature)") << i;
    }
}

} // namespace
