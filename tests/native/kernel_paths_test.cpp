// Every decoder on every kernel level this processor runs (kernels.h) gives
// the bytes the plain code gives, and the plain code agrees with the peer
// libraries. Also built with 32-bit bit buffers, as in the shipped module.
#include "harness.h"
#include "deflate_writer.h"
#include "inflate_run.h"

#include "imaging/checksum.h"
#include "imaging/kernels.h"

namespace {

// The levels to compare, the plain one first; the cap is lifted at the end.
struct Levels : std::vector<int> {
    Levels() { for (int l = 0; l < IMG_KERNELS_LEVELS; ++l) if (Img_ForceKernelLevel(l) == l) push_back(l); }
    ~Levels() { Img_ForceKernelLevel(-1); }
};

// Decodes on every level: all must give the plain level's picture, which is returned.
Pic OnEveryLevel(WORD type, const Bytes& file, const char* what)
{
    Levels levels;
    Pic plain;
    for (int level : levels) {
        Img_ForceKernelLevel(level);
        const Pic p = Decode(type, file);
        if (level == 0)
            plain = p;
        EXPECT_TRUE(p.ok) << what << ": " << p.why;
        EXPECT_TRUE(p.dib == plain.dib) << what << " differs on kernel level " << level;
    }
    return plain;
}

TEST(KernelPaths, JpegAlikeOnEveryLevelAndCloseToLibjpeg)
{
    struct Case {
        const char* name;
        int comps, h, v, quality, restart;
        bool progressive;
    };
    static const Case kCases[] = {
        { "baseline 4:2:0", 3, 2, 2, 90, 0, false },  { "baseline 4:2:2", 3, 2, 1, 75, 0, false },
        { "baseline 4:4:4", 3, 1, 1, 100, 0, false }, { "baseline 4:4:0", 3, 1, 2, 50, 0, false },
        { "baseline 4:1:1", 3, 4, 1, 80, 0, false },  { "greyscale", 1, 1, 1, 95, 0, false },
        { "progressive 4:2:0", 3, 2, 2, 85, 0, true }, { "progressive 4:4:4 restarts", 3, 1, 1, 60, 3, true },
        { "baseline 4:2:0 restarts", 3, 2, 2, 30, 5, false },
    };
    for (const Case& k : kCases)
        for (int w : { 1, 17, 64, 203, 333 }) {
            const int h = 1 + w * 7 % 80;
            Enc o;
            o.comps = k.comps, o.h[0] = k.h, o.v[0] = k.v, o.quality = k.quality, o.restart = k.restart;
            o.progressive = k.progressive;
            const Bytes jpeg = EncodeJpeg(Pattern(w, h, (uint32_t)w), w, h, o);
            const Pic ours = OnEveryLevel(IMG_TYPE_JPEG, jpeg, k.name), peer = PeerJpeg(jpeg);
            ASSERT_EQ(ours.dib.size(), peer.dib.size()) << k.name;
            long total = 0, worst = 0;
            for (size_t i = 0; i < ours.dib.size(); ++i) {
                const long d = std::abs(ours.dib[i] - peer.dib[i]);
                total += d, worst = std::max(worst, d);
            }
            EXPECT_LE(worst, 24) << k.name << " " << w << "x" << h;
            EXPECT_LE(total, 2 * (long)ours.dib.size()) << k.name << " " << w << "x" << h;
        }
}

// Straight on the kernels: values of any size, 32-bit wrap-around and
// clamping included, the zero-row and zero-column variants, and no byte
// written past a row.
TEST(KernelPaths, TransformAndColourKernelsAlikeForAnyValues)
{
    Levels levels;
    Rng r{ 12345 };
    for (int trial = 0; trial < 4000; ++trial) {
        const uint32_t rows = (r(256) & (0xFF >> trial % 8)) | 1;
        const uint32_t cols = (r(256) & (0xFF >> trial / 8 % 8)) | 1;
        const uint32_t mask = trial % 5 == 0 ? ~0u : (1u << (8 + trial % 20)) - 1;
        uint32_t d[64];
        for (int i = 0; i < 64; ++i)
            d[i] = (rows >> (i / 8) & cols >> (i % 8) & 1) && r(3) ? ((r(65536) << 16 | r(65536)) & mask) - mask / 2 : 0;
        const uint32_t width = 1 + trial % 70, step = 1 + trial % 2, n = (width + step - 1) / step;
        BYTE planes[3][10 * 64];
        for (auto& p : planes)
            for (BYTE& b : p)
                b = (BYTE)(trial % 3 ? r(256) : r(2) * 255);
        int16_t terms[3][80];
        BYTE out[5][512], plainOut[5][512];
        for (int level : levels) {
            Img_ForceKernelLevel(level);
            const IMG_KERNELS* k = Img_GetKernels();
            memset(out, 0xA5, sizeof out);
            k->idct(d, rows | cols << 8, out[0], 8);
            k->chromaTerms(planes[1], planes[2], n, terms[0], terms[1], terms[2]);
            k->colourRow(planes[0], terms[0], terms[1], terms[2], width, step, out[1]);
            k->colourRow444(planes[0], planes[1], planes[2], width, out[2]);
            k->greyRow(planes[0], width, out[3]);
            for (int i = 0; i < 3; ++i)
                memcpy(out[4] + i * 2 * n, terms[i], 2 * n);
            if (level == 0)
                memcpy(plainOut, out, sizeof out);
            for (int i = 0; i < 5; ++i)
                ASSERT_EQ(memcmp(out[i], plainOut[i], sizeof out[i]), 0) << "kernel " << i << " level " << level;
        }
    }
}

TEST(KernelPaths, PngAlikeOnEveryLevelForEveryFilterAndAsLibpngReadsIt)
{
    for (int type : { PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE,
                      PNG_COLOR_TYPE_GRAY_ALPHA })
        for (int filters : { PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
                             PNG_ALL_FILTERS })
            for (uint32_t w : { 1, 6, 45, 140 }) {  // 140 pixels of 3 bytes: rows without padding
                PngSpec s;
                s.w = w, s.h = 3 + w % 11, s.type = type, s.filters = filters, s.interlace = w % 2;
                s.palette = type == PNG_COLOR_TYPE_PALETTE ? 256 : 0;
                const Bytes file = WritePng(s, w + filters);
                EXPECT_EQ(Rgb(OnEveryLevel(IMG_TYPE_PNG, file, "PNG")), PeerPng(file)) << type << " " << w << " " << filters;
            }
}

Bytes Compressed(const Bytes& raw, int level, int strategy)
{
    z_stream zs = {};
    deflateInit2(&zs, level, Z_DEFLATED, 15, 8, strategy);
    Bytes z(deflateBound(&zs, (uLong)raw.size()));
    zs.next_in = const_cast<Bytef*>(raw.data()), zs.avail_in = (uInt)raw.size();
    zs.next_out = z.data(), zs.avail_out = (uInt)z.size();
    deflate(&zs, Z_FINISH);
    z.resize(zs.total_out);
    return deflateEnd(&zs), z;
}

// Stored, fixed and dynamic blocks, in pieces of any size or in one.
TEST(KernelPaths, InflateAndChecksumsAlikeOnEveryLevel)
{
    Levels levels;
    Bytes raw = Pattern(300, 200, 99);
    raw.insert(raw.end(), 5000, 7);
    // Matches of any length from any distance among random literals: long
    // codes with many extra bits, the most a symbol can ask of the bit buffer.
    Rng far{ 7 };
    while (raw.size() < 240000) {
        const size_t from = raw.size() - 1 - far(32768);
        for (size_t len = far(3) ? 0 : 3 + far(256), i = 0; i < len; ++i) {
            const uint8_t b = raw[from + i];
            raw.push_back(b);
        }
        raw.push_back((uint8_t)far(256));
    }
    for (int level : levels) {
        Img_ForceKernelLevel(level);
        Rng r{ 2024 };
        for (int strategy : { Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED })
            for (int effort : { 0, 1, 6, 9 }) {
                const Bytes z = Compressed(raw, effort, strategy);
                const size_t piece = effort % 2 ? 1 + r(40) : z.size();
                const InflateRun run = RunInflate(z.data(), z.size(), raw.size(), { piece, 1, 97 }, { 1 + r(3000), 7, 4096 });
                EXPECT_EQ(run.error, 0u) << level << " " << strategy << " " << effort;
                EXPECT_EQ(run.finish, 1);
                EXPECT_FALSE(run.leaked);
                ASSERT_TRUE(run.out == raw) << level << " " << strategy << " " << effort;
            }
        for (int trial = 0; trial < 200; ++trial) {
            const size_t at = r(64), n = r(trial < 100 ? 300 : 30000), cut = n ? r((uint32_t)n) : 0;
            const BYTE* p = raw.data() + at;
            EXPECT_EQ(Crc32Update(Crc32Update(0, p, cut), p + cut, n - cut), crc32(0, p, (uInt)n)) << level << " " << n;
            EXPECT_EQ(Adler32Update(Adler32Update(1, p, cut), p + cut, n - cut), adler32(1, p, (uInt)n)) << level;
        }
    }
}

// Long codes in any order, the longest with the most extra bits a symbol can have (a 15-bit length code
// with 5, a 15-bit distance code, from a second-level table, with 13), in one piece so that the main
// loop decodes them wherever they fall in its bit buffer. Expected: the copies done one byte at a time,
// a distance before the first byte reading zeros.
TEST(KernelPaths, LongCodesInOnePiece)
{
    std::vector<std::pair<int, int>> seq = { { 18, 86 } };  // 'a' to 'm': 1 to 13 bits
    for (int len = 1; len <= 13; ++len)
        seq.push_back({ len, 0 });
    seq.insert(seq.end(), { { 18, 127 }, { 17, 5 }, { 14, 0 } });  // 256: 14 bits
    seq.insert(seq.end(), { { 18, 15 }, { 15, 0 }, { 15, 0 } });  // 283, 284: 15 bits
    for (int len = 1; len <= 14; ++len)
        seq.push_back({ len, 0 });  // distances 0 to 13
    seq.insert(seq.end(), { { 18, 3 }, { 15, 0 }, { 15, 0 } });  // 28 and 29: 15 bits
    const int kDistSym[] = { 0, 1, 4, 7, 12, 13, 28, 29 }, kDistBase[] = { 1, 2, 5, 13, 65, 97, 16385, 24577 },
              kDistExtra[] = { 0, 0, 1, 2, 5, 5, 13, 13 };
    Rng r{ 17 };
    Bytes out(32768, 0);  // the zeros before the first byte
    std::vector<int> body;
    auto extra = [&](int v, int n) { for (int i = 0; i < n; ++i) body.push_back(v >> i & 1 ? -1 : -2); };
    while (out.size() < 32768 + 300000) {
        if (r(3)) {
            const int lit = 'a' + r(13);
            body.push_back(lit), out.push_back((uint8_t)lit);
            continue;
        }
        const int sym = 283 + r(2), e = r(32), d = r(8), de = r(1u << kDistExtra[d]);
        body.push_back(sym), extra(e, 5), body.push_back(1000 + kDistSym[d]), extra(de, kDistExtra[d]);
        for (int i = 0, len = (sym == 283 ? 195 : 227) + e, dist = kDistBase[d] + de; i < len; ++i)
            out.push_back(out[out.size() - dist]);
    }
    body.push_back(256);
    out.erase(out.begin(), out.begin() + 32768);
    const Bytes z = Deflate().Dynamic(285, 30, seq).Body(body, out);
    for (int level : Levels()) {
        Img_ForceKernelLevel(level);
        const InflateRun run = RunInflate(z.data(), z.size(), out.size(), { z.size() }, { out.size() });
        EXPECT_TRUE(run.out == out && run.finish == 1) << "level " << level << ": error " << run.error;
    }
}

} // namespace
