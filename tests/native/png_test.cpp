// PNG: every format, depth, filter, size and interlacing against libpng, however the data is cut into IDAT
// chunks; every damaged byte and cut refused; every refusal as one table of edits.
#include "harness.h"

namespace {

struct Chunk { std::string type; Bytes data; };

std::vector<Chunk> Chunks(const Bytes& file)
{
    std::vector<Chunk> out;
    for (size_t at = 8, n; at + 12 <= file.size(); at += 12 + n)
        n = (size_t)file[at] << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3],
        out.push_back({ std::string(&file[at + 4], &file[at + 8]), Bytes(&file[at + 8], &file[at + 8 + n]) });
    return out;
}

Bytes Png(const std::vector<Chunk>& chunks)
{
    Bytes out = { 137, 80, 78, 71, 13, 10, 26, 10 };
    for (const Chunk& c : chunks) {
        const size_t at = out.size();
        out.resize(at + 8), Put32(out, at, (uint32_t)c.data.size(), true), std::copy(c.type.begin(), c.type.end(), out.begin() + at + 4);
        out.insert(out.end(), c.data.begin(), c.data.end());
        out.resize(out.size() + 4), Put32(out, out.size() - 4, crc32(0, &out[at + 4], (uInt)c.data.size() + 4), true);
    }
    return out;
}

// The image data (all IDAT chunks' bytes, or z) cut into chunks of the given sizes (the last repeating).
std::vector<Chunk> Recut(std::vector<Chunk> c, const std::vector<size_t>& sizes, Bytes z = {})
{
    auto idat = [](const Chunk& x) { return x.type == "IDAT"; };
    const bool given = !z.empty();
    const auto first = std::find_if(c.begin(), c.end(), idat), last = std::find_if_not(first, c.end(), idat);
    for (auto it = first; it != last && !given; ++it)
        z.insert(z.end(), it->data.begin(), it->data.end());
    std::vector<Chunk> pieces;
    for (size_t pos = 0, i = 0, n; pos < z.size(); pos += n, ++i)
        n = std::min(sizes[std::min(i, sizes.size() - 1)], z.size() - pos), pieces.push_back({ "IDAT", Bytes(z.begin() + pos, z.begin() + pos + n) });
    c.insert(c.erase(first, last), pieces.begin(), pieces.end());
    return c;
}

// The colour table holds the picture's own colours, indices as they are (2-bit ones widened to 4); true
// colour is 24 bits; alpha is composited over black.
TEST(Png, EveryFormatFilterSizeAndInterlacingAsLibpng)
{
    const int kFormats[][2] = { { 0, 1 }, { 0, 2 }, { 0, 4 }, { 0, 8 }, { 3, 1 }, { 3, 2 }, { 3, 4 }, { 3, 8 }, { 2, 8 }, { 6, 8 }, { 4, 8 } };
    const int kFilters[] = { PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH, PNG_ALL_FILTERS };
    Rng r{ 77 };
    for (int i = 0; i < 500; ++i) {
        PngSpec s{ r(4) ? 1 + r(40) : 1 + r(300), r(4) ? 1 + r(20) : 1 + r(80), kFormats[i % 11][0], kFormats[i % 11][1] };
        s.filters = kFilters[r(6)], s.level = r(10), s.interlace = r(2), s.palette = s.type == 3 ? 1 + r(1 << s.depth) : 0;
        Bytes file = WritePng(s, i);
        if (r(2))
            file = Png(Recut(Chunks(file), { 1 + r(9), r(3), 1 + r(40), r(2) ? 1 + r(5) : 8192 }));
        const Pic p = Decode(IMG_TYPE_PNG, file);
        const size_t colors = s.type == 3 ? s.palette : s.type == 0 ? 1 << s.depth : s.type == 4 ? 256 : 0;
        EXPECT_TRUE(p.bits == (colors ? std::max(s.depth, 4 * (s.depth == 2)) : 24) && p.colors.size() == colors) << i;
        ASSERT_TRUE(p.ok && Rgb(p) == PeerPng(file)) << i << ": " << p.why << ": type " << s.type << " depth " << s.depth << " "
                                                       << s.w << "x" << s.h << (s.interlace ? " interlaced" : "");
    }
}

// Any byte changed anywhere fails through the CRCs (ancillary chunks included), and so does the file cut
// anywhere or every allocation failing in turn.
TEST(Png, EveryDamagedByteCutAndAllocationFailure)
{
    PngSpec s{ .type = 3, .palette = 20 };
    std::vector<Chunk> c = Chunks(WritePng(s, 3));
    c.insert(c.end() - 1, { "tEXt", { 'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i' } });
    const Bytes file = Png(c);
    ASSERT_TRUE(Decode(IMG_TYPE_PNG, file).ok);
    for (size_t i = 0; i < file.size(); ++i) {
        for (uint8_t flip : { 0x01, 0x80 }) {
            Bytes bad = file;
            bad[i] ^= flip;
            EXPECT_FALSE(Decode(IMG_TYPE_PNG, bad).ok) << "byte " << i << " flipped by " << (int)flip;
        }
        EXPECT_FALSE(Decode(IMG_TYPE_PNG, Bytes(file.begin(), file.begin() + i)).ok) << "cut at " << i;
    }
    ExpectAllocationFailuresRefused(IMG_TYPE_PNG, WritePng({ .w = 40, .type = 3, .depth = 4, .palette = 16, .interlace = true }, 5));
}

// Every refusal of the decoder, and where each rule stops, as edits of valid files.
TEST(Png, Refusals)
{
    const std::vector<Chunk> rgb = Chunks(WritePng({}, 1)), pal = Chunks(WritePng({ .type = 3, .depth = 4, .palette = 16 }, 2));
    const std::vector<Chunk> grey = Chunks(WritePng({ .type = 0 }, 3)), ga = Chunks(WritePng({ .type = 4 }, 3));
    auto edit = [](std::vector<Chunk> c, auto&& f) { return f(c), Png(c); };
    auto ihdr = [&](uint32_t w, uint32_t h, int depth, int type, int method = 0, int filter = 0, int interlace = 0) {
        return edit(grey, [&](std::vector<Chunk>& c) {
            Put32(c[0].data, 0, w, true), Put32(c[0].data, 4, h, true);
            c[0].data.resize(8);
            c[0].data.insert(c[0].data.end(), { (uint8_t)depth, (uint8_t)type, (uint8_t)method, (uint8_t)filter, (uint8_t)interlace });
        });
    };
    auto before = [&](const std::vector<Chunk>& c, const std::string& type, Chunk x) {
        return edit(c, [&](auto& v) { v.insert(std::find_if(v.begin(), v.end(), [&](auto& k) { return k.type == type; }), x); });
    };
    auto length = [&](uint32_t n) { Bytes b = Png(rgb); return Put32(b, 33, n, true), b; };
    auto stream = [&](Bytes z) { return Png(Recut(rgb, { 1 << 20 }, z)); };
    auto plteOf = [&](size_t n) { return edit(pal, [&](auto& c) { c[1].data.resize(n); }); };
    // The raw rows of the RGB picture (filter byte, row), compressed again with changes.
    Bytes raw(6 * 28), z = rgb[1].data, badSum = z, badCheck = z;
    uLongf rawSize = raw.size();
    uncompress(raw.data(), &rawSize, z.data(), z.size());
    Bytes badFilter = raw;
    badFilter[5 * 28] = 5, badSum.back() ^= 1, badCheck[1] ^= 1;
    const Chunk text = { "tEXt", { 'a', 0, 'b' } }, plte = pal[1];
    const char *kIhdr = "IHDR: size, bit depth, colour type or method not valid", *kLarge = "the picture is too large";
    const char *kShort = "the image data ends before the picture is complete", *kPast = "a chunk runs past the end of the file";
    const char *kPlte = "PLTE chunk repeated, out of place or of a bad length", *kCritical = "a critical chunk this decoder does not know";
    const char* kSplit = "the image data (IDAT) is split by other chunks";
    const char *kRatio = "the image data is too short for the picture's size", *k13 = "the IHDR chunk is not 13 bytes long";
    std::vector<Outcome> rows = {
        { "7 bytes", { 137, 80, 78, 71, 13, 10, 26 }, "not a PNG file (no PNG signature)" },
        { "tEXt before IHDR", before(rgb, "IHDR", text), "the first chunk is not IHDR" },
        { "IHDR of 12", edit(rgb, [](auto& c) { c[0].data.pop_back(); }), k13 }, { "of 14", edit(rgb, [](auto& c) { c[0].data.push_back(0); }), k13 },
        { "width 0", ihdr(0, 6, 8, 0), kIhdr }, { "height 0", ihdr(9, 0, 8, 0), kIhdr },
        { "width 2^31", ihdr(0x80000000, 6, 8, 0), kIhdr }, { "height 2^31", ihdr(9, 0x80000000, 8, 0), kIhdr },
        { "compression 1", ihdr(9, 6, 8, 0, 1), kIhdr }, { "filter method 1", ihdr(9, 6, 8, 0, 0, 1), kIhdr },
        { "interlace 2", ihdr(9, 6, 8, 0, 0, 0, 2), kIhdr }, { "a later IHDR of 3 bits", before(grey, "IEND", { "IHDR", Bytes(13, 3) }), nullptr },
        { "no PLTE", edit(pal, [](auto& c) { c.erase(c.begin() + 1); }), "a palette picture without a PLTE chunk before its data" },
        { "PLTE twice", before(pal, "IDAT", plte), kPlte }, { "PLTE after the image data", before(rgb, "IEND", plte), kPlte },
        { "PLTE in grey", before(grey, "IDAT", plte), kPlte }, { "PLTE in grey and alpha", before(ga, "IDAT", plte), kPlte },
        { "PLTE of 0 bytes", plteOf(0), "the PLTE chunk is empty" },
        { "PLTE of 1 byte", plteOf(1), kPlte }, { "PLTE of 4 bytes", plteOf(4), kPlte }, { "PLTE of 771 bytes", plteOf(771), kPlte },
        { "unknown ancillary chunk", before(rgb, "IDAT", { "quxx", Bytes(40, 1) }), nullptr },
        { "unknown ancillary chunk at the end", before(rgb, "IEND", { "quxx", {} }), nullptr },
        { "gAMA, tRNS", before(Chunks(before(rgb, "IDAT", { "gAMA", { 0, 0, 0xB1, 0x8F } })), "IDAT", { "tRNS", { 0, 1, 0, 2 } }), nullptr },
        { "unknown critical chunk", before(rgb, "IDAT", { "QUXX", Bytes(40, 1) }), kCritical },
        { "unknown critical chunk at the end", before(rgb, "IEND", { "Quxx", {} }), kCritical },
        { "IDAT longer than the file", length(0x100), kPast }, { "IDAT of 2^31 - 1", length(0x7FFFFFFF), kPast },
        { "IDAT of 2^31", length(0x80000000), kPast }, { "IDAT of 2^32 - 1", length(0xFFFFFFFF), kPast },
        { "no IEND", edit(rgb, [](auto& c) { c.pop_back(); }), "the file ends before its IEND chunk" },
        { "bytes after IEND", [&] { Bytes b = Png(rgb); return b.insert(b.end(), { 1, 2, 3 }), b; }(), nullptr },
        { "no IDAT", edit(pal, [](auto& c) { c.erase(c.begin() + 2); }), "the file has no image data (IDAT)" },
        { "a row short", stream(Zlib(Bytes(raw.begin(), raw.end() - 28), 6)), kShort },
        { "filter type 5", stream(Zlib(badFilter, 6)), "a row has an unknown filter type" },
        { "Adler-32 wrong", stream(badSum), "the image data's Adler-32 does not match" },
        { "no Adler-32", stream(Bytes(z.begin(), z.end() - 4)), nullptr },
        { "the Adler-32 in a chunk of its own", Png(Recut(rgb, { z.size() - 4, 4 })), nullptr },
        { "zlib check bits wrong", stream(badCheck), "the compressed image data is damaged" },
        { "IDAT after the stream", before(rgb, "IEND", { "IDAT", Bytes(10, 0xEE) }), nullptr },
        { "IDAT after another chunk", before(Chunks(before(rgb, "IEND", text)), "IEND", { "IDAT", Bytes(10, 0xEE) }), kSplit },
        { "a chunk between IDATs", edit(Recut(rgb, { 20, 1 << 20 }), [&](auto& c) { c.insert(c.begin() + 2, text); }), kShort },
        { "2^31 - 1 squared", ihdr(0x7FFFFFFF, 0x7FFFFFFF, 8, 0), kLarge }, { "40000 squared RGB", ihdr(40000, 40000, 8, 2), kLarge },
        { "2^31 - 1 RGBA pixels", ihdr(0x7FFFFFFF, 1, 8, 6), kLarge }, { "8000 squared from a few bytes", ihdr(8000, 8000, 8, 2), kRatio },
        { "10^9 interlaced 1-bit pixels", ihdr(100000, 10000, 1, 0, 0, 0, 1), kRatio },
    };
    // Depths a colour type does not allow, colour types there are not, 16 bits.
    for (auto [depth, type] : { std::pair{ 3, 0 }, { 0, 0 }, { 32, 0 }, { 4, 2 }, { 1, 6 }, { 2, 4 }, { 16, 3 }, { 8, 1 }, { 8, 5 }, { 8, 7 } })
        rows.push_back({ "depth and colour type", ihdr(9, 6, depth, type), kIhdr });
    for (int type : { 0, 2, 4, 6 })
        rows.push_back({ "16 bits", ihdr(9, 6, 16, type), "16-bit samples are not supported" });
    for (int i = 0; i < 8; ++i)
        rows.push_back({ "a signature byte", Png(rgb), "not a PNG file (no PNG signature)" }), rows.back().data[i] ^= 0x20;
    ExpectOutcomes(IMG_TYPE_PNG, rows);
    // Palettes: what the bit depth can index, PLTE of true colour not used.
    const Pic many = Decode(IMG_TYPE_PNG, plteOf(768)), rgbPlte = Decode(IMG_TYPE_PNG, before(rgb, "IDAT", plte));
    EXPECT_TRUE(many.ok && many.colors.size() == 16 && rgbPlte.ok && rgbPlte.colors.empty());
}

} // namespace
