// Every decoder on every kernel level this processor runs (kernels.h) gives
// the bytes the plain code gives, and the plain code agrees with the peer
// libraries. Also built with 32-bit bit buffers, as in the shipped module.
#include "jpeg_fixtures.h"
#include "png_test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "imaging/checksum.h"
#include "imaging/inflate.h"
#include "imaging/kernels.h"

#include <algorithm>

namespace {

// The levels to compare, the plain one first; the cap is lifted at the end.
struct Levels : std::vector<int> {
    Levels() { for (int l = 0; l < IMG_KERNELS_LEVELS; ++l) if (Img_ForceKernelLevel(l) == l) push_back(l); }
    ~Levels() { Img_ForceKernelLevel(-1); }
};

// Decodes on every level: all must give the plain level's picture, which is returned.
Picture OnEveryLevel(const Bytes& file, WORD type, const char* what)
{
    Levels levels;
    Picture plain;
    for (int level : levels) {
        Img_ForceKernelLevel(level);
        const Picture p = DecodeWithModule(file, type);
        if (level == 0)
            plain = p;
        EXPECT_TRUE(p.ok) << what;
        EXPECT_TRUE(p.dib == plain.dib) << what << " differs on kernel level " << level;
    }
    return plain;
}

TEST(KernelPaths, JpegAlikeOnEveryLevelAndCloseToLibjpeg)
{
    struct Case {
        const char* name;
        int components, h, v, quality, restart;
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
            EncodeOptions o;
            o.components = k.components, o.h[0] = k.h, o.v[0] = k.v, o.quality = k.quality;
            o.restartInterval = k.restart, o.progressive = k.progressive;
            const Bytes jpeg = EncodeJpeg(TestPattern(w, h, (unsigned)w), w, h, o);
            const Difference diff = Compare(OnEveryLevel(jpeg, IMG_TYPE_JPEG, k.name), DecodeWithLibjpeg(jpeg));
            EXPECT_LE(diff.maxDiff, 24) << k.name << " " << w << "x" << h;
            EXPECT_GE(diff.psnr, 30) << k.name << " " << w << "x" << h;
        }
}

// Straight on the kernels: values of any size, 32-bit wrap-around and
// clamping included, the zero-row variants, and no byte written past a row.
TEST(KernelPaths, TransformAndColourKernelsAlikeForAnyValues)
{
    Levels levels;
    pngtest::Random random(12345);
    for (int trial = 0; trial < 4000; ++trial) {
        const uint32_t rows = (random.Next() & (0xFF >> trial % 8)) | 1;
        const uint32_t mask = trial % 5 == 0 ? ~0u : (1u << (8 + trial % 20)) - 1;
        uint32_t d[64];
        for (int i = 0; i < 64; ++i)
            d[i] = (rows >> (i / 8) & 1) && random.Next() % 3 ? (random.Next() & mask) - mask / 2 : 0;
        const uint32_t width = 1 + trial % 70, step = 1 + trial % 2, n = (width + step - 1) / step;
        BYTE planes[3][10 * 64];
        for (auto& p : planes)
            for (BYTE& b : p)
                b = trial % 3 ? random.Byte() : (BYTE)(random.Next() % 2 * 255);
        int16_t terms[3][80];
        BYTE out[5][512], plainOut[5][512];
        for (int level : levels) {
            Img_ForceKernelLevel(level);
            const IMG_KERNELS* k = Img_GetKernels();
            memset(out, 0xA5, sizeof out);
            k->idct(d, rows, out[0], 8);
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

TEST(KernelPaths, PngAlikeOnEveryLevelForEveryFilter)
{
    for (int type : { PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE,
                      PNG_COLOR_TYPE_GRAY_ALPHA })
        for (int filters : { PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
                             PNG_ALL_FILTERS })
            for (uint32_t w : { 1, 6, 45, 140 }) {
                pngtest::PngShape s;
                s.width = w, s.height = 3 + w % 11, s.colorType = type, s.filters = filters, s.interlace = w % 2;
                const Bytes file = pngtest::MakePng(s, w + filters);
                OnEveryLevel(file, IMG_TYPE_PNG, "PNG");
                const pngtest::Decoded decoded(file);
                if (pngtest::Channels(type) >= 3 && decoded.dib)
                    EXPECT_EQ(decoded.Rgb(), pngtest::ReferenceRgb(file)) << w << " " << filters;
            }
}

struct Pieces {
    const Bytes* z;
    size_t at;
    pngtest::Random random;
    uint32_t most;
    static int Take(void* self, const BYTE** next, const BYTE** end)
    {
        Pieces* p = static_cast<Pieces*>(self);
        const size_t n = std::min(p->z->size() - p->at, (size_t)(1 + p->random.Next() % p->most));
        *next = p->z->data() + p->at;
        *end = *next + n;
        p->at += n;
        return n ? 1 : 0;
    }
};

// Stored, fixed and dynamic blocks, in pieces of any size or in one.
TEST(KernelPaths, InflateAndChecksumsAlikeOnEveryLevel)
{
    Levels levels;
    Bytes raw = TestPattern(300, 200, 99);
    raw.insert(raw.end(), 5000, 7);
    // Matches of any length from any distance among random literals: long
    // codes with many extra bits, the most a symbol can ask of the bit buffer.
    pngtest::Random far(7);
    while (raw.size() < 240000) {
        const size_t from = raw.size() - 1 - far.Next() % 32768;
        for (size_t len = far.Next() % 3 ? 0 : 3 + far.Next() % 256, i = 0; i < len; ++i) {
            const uint8_t b = raw[from + i];
            raw.push_back(b);
        }
        raw.push_back(far.Byte());
    }
    for (int level : levels) {
        Img_ForceKernelLevel(level);
        pngtest::Random random(2024);
        for (int strategy : { Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED })
            for (int effort : { 0, 1, 6, 9 }) {
                const Bytes z = pngtest::ZlibCompress(raw, effort, strategy);
                Pieces pieces = { &z, 0, random, effort % 2 ? 40u : 1u << 20 };
                const BYTE *next, *end;
                Pieces::Take(&pieces, &next, &end);
                INFLATE_STATE s = {};
                ASSERT_TRUE(Inflate_Start(&s, next, end, Pieces::Take, &pieces));
                Bytes out(raw.size() + INFLATE_SLACK);
                for (size_t at = 0, n; at < raw.size(); at += n) {
                    n = std::min(raw.size() - at, (size_t)(1 + random.Next() % 3000));
                    ASSERT_EQ(Inflate_Read(&s, out.data() + at, (DWORD)n, INFLATE_SLACK), n) << level << " " << strategy;
                }
                EXPECT_EQ(Inflate_Finish(&s), 1);
                Inflate_End(&s);
                ASSERT_TRUE(std::equal(raw.begin(), raw.end(), out.begin())) << level << " " << strategy << " " << effort;
            }
        for (int trial = 0; trial < 200; ++trial) {
            const size_t at = random.Next() % 64, n = random.Next() % (trial < 100 ? 300 : 30000);
            const size_t cut = n ? random.Next() % n : 0;
            const BYTE* p = raw.data() + at;
            EXPECT_EQ(Crc32Update(Crc32Update(0, p, cut), p + cut, n - cut), crc32(0, p, (uInt)n)) << level << " " << n;
            EXPECT_EQ(Adler32Update(Adler32Update(1, p, cut), p + cut, n - cut), adler32(1, p, (uInt)n)) << level;
        }
    }
}

} // namespace
