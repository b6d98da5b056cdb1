// Every decoder on every kernel level this processor runs (kernels.h) gives
// the bytes the plain code gives, and the plain code agrees with the peer
// libraries. Also built with 32-bit bit buffers, as in the shipped module.
#include <gtest/gtest.h>

#include <windows.h>

#include "imaging/checksum.h"
#include "imaging/imaging.h"
#include "imaging/inflate.h"
#include "imaging/kernels.h"

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Next(uint32_t& s) { return s ^= s << 13, s ^= s >> 17, s ^= s << 5; }

// The levels to compare, the plain one first; each test lifts its cap at the end.
struct Levels : std::vector<int> {
    Levels() { for (int l = 0; l < IMG_KERNELS_LEVELS; ++l) if (Img_ForceKernelLevel(l) == l) push_back(l); }
    ~Levels() { Img_ForceKernelLevel(-1); }
};

// Shading, hard edges, saturated colours (which the conversion clamps) and grain.
Bytes Scene(int w, int h, int channels, uint32_t seed)
{
    Bytes px((size_t)w * h * channels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
                px[((size_t)y * w + x) * channels + c] = (uint8_t)(((x / 7 + y / 5) % 3 == c ? 255 : x * 255 / w + c * y) +
                                                                   Next(seed) % 24);
    return px;
}

Bytes Dib(WORD type, const Bytes& file)
{
    IMG_INFO info = {};
    info.cbData = (DWORD)file.size();
    HBITMAP dib = Img_Decode(nullptr, type, file.data(), &info);
    Bytes out;
    if (dib) {
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        const BYTE* bits = static_cast<const BYTE*>(info.pBits);
        out.assign(bits, bits + (size_t)Img_GetRowBytes(h.biWidth, h.biBitCount) * h.biHeight);
        DeleteObject(dib);
    }
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    return out;
}

// Decodes on every level; all must equal the plain level's picture, which is returned.
Bytes DibOnEveryLevel(WORD type, const Bytes& file, const char* what)
{
    Levels levels;
    Bytes plain;
    for (int level : levels) {
        Img_ForceKernelLevel(level);
        Bytes dib = Dib(type, file);
        if (level == 0)
            plain = dib;
        EXPECT_FALSE(dib.empty()) << what;
        EXPECT_TRUE(dib == plain) << what << " differs on kernel level " << level;
    }
    return plain;
}

struct JpegCase {
    const char* name;
    bool grey, progressive;
    int h, v, quality, restart;
};

Bytes EncodeJpeg(const Bytes& rgb, int w, int h, const JpegCase& k)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = (JDIMENSION)w, c.image_height = (JDIMENSION)h, c.input_components = 3, c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, k.quality, TRUE);
    if (k.grey)
        jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    c.comp_info[0].h_samp_factor = k.h, c.comp_info[0].v_samp_factor = k.v;
    if (k.progressive)
        jpeg_simple_progression(&c);
    c.restart_interval = (unsigned)k.restart;
    jpeg_start_compress(&c, TRUE);
    for (JSAMPROW row; c.next_scanline < c.image_height; jpeg_write_scanlines(&c, &row, 1))
        row = const_cast<JSAMPROW>(&rgb[(size_t)c.next_scanline * w * 3]);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes jpeg(out, out + size);
    free(out);
    return jpeg;
}

// libjpeg-turbo's picture in the module's layout, with replicated chroma as the module does.
Bytes TurboDib(const Bytes& jpeg)
{
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), (unsigned long)jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR, d.dct_method = JDCT_ISLOW, d.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&d);
    const size_t rowBytes = Img_GetRowBytes((LONG)d.output_width, 24);
    Bytes dib(rowBytes * d.output_height);
    for (JSAMPROW row; d.output_scanline < d.output_height; jpeg_read_scanlines(&d, &row, 1))
        row = &dib[(d.output_height - 1 - d.output_scanline) * rowBytes];
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return dib;
}

TEST(KernelPaths, JpegAlikeOnEveryLevelAndCloseToLibjpeg)
{
    static const JpegCase kCases[] = {
        { "baseline 4:2:0", false, false, 2, 2, 90, 0 }, { "baseline 4:2:2", false, false, 2, 1, 75, 0 },
        { "baseline 4:4:4", false, false, 1, 1, 100, 0 }, { "baseline 4:4:0", false, false, 1, 2, 50, 0 },
        { "baseline 4:1:1", false, false, 4, 1, 80, 0 }, { "greyscale", true, false, 1, 1, 95, 0 },
        { "progressive 4:2:0", false, true, 2, 2, 85, 0 }, { "progressive 4:4:4 restarts", false, true, 1, 1, 60, 3 },
        { "baseline 4:2:0 restarts", false, false, 2, 2, 30, 5 },
    };
    static const int kSizes[][2] = { { 1, 1 }, { 17, 9 }, { 64, 48 }, { 203, 31 }, { 333, 77 } };
    for (const JpegCase& k : kCases)
        for (const auto& s : kSizes) {
            const Bytes jpeg = EncodeJpeg(Scene(s[0], s[1], 3, (uint32_t)s[0]), s[0], s[1], k);
            const Bytes ours = DibOnEveryLevel(IMG_TYPE_JPEG, jpeg, k.name), peer = TurboDib(jpeg);
            ASSERT_EQ(ours.size(), peer.size()) << k.name;
            long total = 0, worst = 0;
            for (size_t i = 0; i < ours.size(); ++i)
                total += std::abs(ours[i] - peer[i]), worst = std::max(worst, (long)std::abs(ours[i] - peer[i]));
            EXPECT_LE(worst, 24) << k.name << " " << s[0] << "x" << s[1];
            EXPECT_LE(total, 2 * (long)ours.size()) << k.name << " " << s[0] << "x" << s[1];
        }
}

// Straight on the kernels: values of any size, 32-bit wrap-around and
// clamping included, and the rows the zero-row variants skip.
TEST(KernelPaths, TransformAndColourKernelsAlikeForAnyValues)
{
    Levels levels;
    uint32_t seed = 12345;
    for (int trial = 0; trial < 4000; ++trial) {
        const uint32_t rows = trial % 4 == 0 ? 1 : trial % 4 == 1 ? 0x0F : (Next(seed) & 0xFF) | 1;
        const uint32_t mask = trial % 5 == 0 ? ~0u : (1u << (8 + trial % 20)) - 1;
        alignas(32) uint32_t d[64];
        for (int i = 0; i < 64; ++i)
            d[i] = (rows >> (i / 8) & 1) && Next(seed) % 3 ? (Next(seed) & mask) - mask / 2 : 0;
        const int width = 1 + trial % 70, step = 1 + trial % 2;
        BYTE planes[3][16 * 64], terms8[3][160];
        for (auto& p : planes)
            for (BYTE& b : p)
                b = (BYTE)(trial % 3 ? Next(seed) : Next(seed) % 2 * 255);
        BYTE out[5][512], plainOut[5][512];
        const uint32_t n = step == 2 ? (uint32_t)(width + 1) / 2 : (uint32_t)width;
        for (int level : levels) {
            Img_ForceKernelLevel(level);
            const IMG_KERNELS* k = Img_GetKernels();
            memset(out, 0xA5, sizeof out);
            int16_t* t[3] = { (int16_t*)terms8[0], (int16_t*)terms8[1], (int16_t*)terms8[2] };
            k->idct(d, rows, out[0], 8);
            k->chromaTerms(planes[1], planes[2], n, t[0], t[1], t[2]);
            k->colourRow(planes[0], t[0], t[1], t[2], (uint32_t)width, (uint32_t)step, out[1]);
            k->colourRow444(planes[0], planes[1], planes[2], (uint32_t)width, out[2]);
            k->greyRow(planes[0], (uint32_t)width, out[3]);
            memcpy(out[4], terms8, sizeof terms8);
            if (level == 0)
                memcpy(plainOut, out, sizeof out);
            for (int i = 0; i < 5; ++i)
                ASSERT_EQ(memcmp(out[i], plainOut[i], sizeof out[i]), 0) << "kernel " << i << " level " << level;
        }
    }
}

struct PngMemory {
    static void Write(png_structp p, png_bytep data, png_size_t n)
    {
        Bytes* out = static_cast<Bytes*>(png_get_io_ptr(p));
        out->insert(out->end(), data, data + n);
    }
};

Bytes EncodePng(const Bytes& px, int w, int h, int colourType, int channels, int filters, bool interlace)
{
    Bytes file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &file, PngMemory::Write, nullptr);
    png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, 8, colourType, interlace, 0, 0);
    png_color palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = { (png_byte)i, (png_byte)(255 - i), (png_byte)(i * 7) };
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette, 256);
    png_set_filter(png, 0, filters);
    png_write_info(png, info);
    std::vector<png_bytep> rows((size_t)h);
    for (int y = 0; y < h; ++y)
        rows[(size_t)y] = const_cast<png_bytep>(&px[(size_t)y * w * channels]);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return file;
}

TEST(KernelPaths, PngAlikeOnEveryLevelForEveryFilter)
{
    static const int kTypes[][2] = { { PNG_COLOR_TYPE_GRAY, 1 }, { PNG_COLOR_TYPE_RGB, 3 }, { PNG_COLOR_TYPE_RGB_ALPHA, 4 },
                                     { PNG_COLOR_TYPE_PALETTE, 1 }, { PNG_COLOR_TYPE_GRAY_ALPHA, 2 } };
    static const int kFilters[] = { PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
                                    PNG_ALL_FILTERS };
    for (const auto& t : kTypes)
        for (int filters : kFilters)
            for (int w : { 1, 6, 45, 130 }) {
                const int h = 3 + w % 11;
                const Bytes px = Scene(w, h, t[1], (uint32_t)(w + filters));
                const Bytes dib = DibOnEveryLevel(IMG_TYPE_PNG, EncodePng(px, w, h, t[0], t[1], filters, w % 2), "PNG");
                // True colour against the pixels themselves: blue, green, red, over black.
                const size_t rowBytes = Img_GetRowBytes(w, 24);
                for (int y = 0; t[1] >= 3 && y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        for (int c = 0; c < 3; ++c) {
                            const uint8_t* p = &px[((size_t)y * w + x) * t[1]];
                            ASSERT_EQ(dib[(size_t)(h - 1 - y) * rowBytes + 3 * x + c], t[1] == 4 ? p[2 - c] * p[3] / 255 : p[2 - c]);
                        }
            }
}

struct Pieces {
    const Bytes* z;
    size_t at;
    uint32_t seed;
    size_t most;
    static int Next(void* self, const BYTE** next, const BYTE** end)
    {
        Pieces* p = static_cast<Pieces*>(self);
        const size_t n = std::min(p->z->size() - p->at, 1 + ::Next(p->seed) % p->most);
        *next = p->z->data() + p->at;
        *end = *next + n;
        p->at += n;
        return n ? 1 : 0;
    }
};

TEST(KernelPaths, InflateAndChecksumsAlikeOnEveryLevel)
{
    Levels levels;
    Bytes raw = Scene(300, 200, 3, 99);
    raw.insert(raw.end(), 5000, 7);
    for (int level : levels) {
        Img_ForceKernelLevel(level);
        uint32_t seed = 2024;
        for (int strategy : { Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED })
            for (int effort : { 0, 1, 6, 9 }) {
                z_stream zs = {};
                deflateInit2(&zs, effort, Z_DEFLATED, 15, 8, strategy);
                Bytes z(deflateBound(&zs, (uLong)raw.size()));
                zs.next_in = raw.data(), zs.avail_in = (uInt)raw.size(), zs.next_out = z.data(), zs.avail_out = (uInt)z.size();
                deflate(&zs, Z_FINISH);
                z.resize(zs.total_out);
                deflateEnd(&zs);
                Pieces pieces = { &z, 0, seed, effort % 2 ? 40u : 1u << 20 };
                const BYTE *next, *end;
                Pieces::Next(&pieces, &next, &end);
                INFLATE_STATE s = {};
                ASSERT_TRUE(Inflate_Start(&s, next, end, Pieces::Next, &pieces));
                Bytes out(raw.size() + INFLATE_SLACK);
                for (size_t at = 0, n; at < raw.size(); at += n) {
                    n = std::min(raw.size() - at, (size_t)(1 + Next(seed) % 3000));
                    ASSERT_EQ(Inflate_Read(&s, out.data() + at, (DWORD)n, INFLATE_SLACK), n) << level << " " << strategy;
                }
                EXPECT_EQ(Inflate_Finish(&s), 1);
                Inflate_End(&s);
                ASSERT_TRUE(std::equal(raw.begin(), raw.end(), out.begin())) << level << " " << strategy << " " << effort;
            }
        for (int trial = 0; trial < 200; ++trial) {
            const size_t at = Next(seed) % 64, n = Next(seed) % (trial < 100 ? 300 : 30000), cut = n ? Next(seed) % n : 0;
            const BYTE* p = raw.data() + at;
            EXPECT_EQ(Crc32Update(Crc32Update(0, p, cut), p + cut, n - cut), crc32(0, p, (uInt)n)) << level << " " << n;
            EXPECT_EQ(Adler32Update(Adler32Update(1, p, cut), p + cut, n - cut), adler32(1, p, (uInt)n)) << level;
        }
    }
}

} // namespace
