// What every native test shares: a decode checked as the fuzz targets check it (decode_check.h); the peer
// libraries as encoders and reference decoders; writers for hand-made streams; outcome and allocation-failure loops.
#pragma once
#include <windows.h>

#include "decode_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

using Bytes = std::vector<uint8_t>;

// xorshift: every run sees the same cases.
struct Rng { uint32_t s; uint32_t operator()(uint32_t n) { return s ^= s << 13, s ^= s >> 17, s ^= s << 5, s % n; } };

// From an exact-size heap copy, so that AddressSanitizer sees a read one byte past the end.
inline Pic Decode(WORD type, const Bytes& in)
{
    uint8_t* copy = static_cast<uint8_t*>(malloc(in.size() + in.empty()));
    const Pic p = DecodeChecked(type, std::copy(in.begin(), in.end(), copy) - in.size(), in.size());
    free(copy);
    EXPECT_EQ(p.wrong, "");
    return p;
}

// A picture top row first, through its colour table.
inline Bytes Rgb(const Pic& p)
{
    Bytes out;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            const uint8_t* r = p.Row(y);
            const size_t i = p.bits == 24 ? 0 : r[x * p.bits / 8] >> (8 - p.bits - x * p.bits % 8) & ((1 << p.bits) - 1);
            if (p.bits != 24 && i >= p.colors.size())
                return ADD_FAILURE() << "index outside the colour table", out;
            p.bits == 24 ? out.insert(out.end(), { r[3 * x + 2], r[3 * x + 1], r[3 * x] })
                         : out.insert(out.end(), { p.colors[i].rgbRed, p.colors[i].rgbGreen, p.colors[i].rgbBlue });
        }
    return out;
}

// RGB, top row first: ramps, a sine, saturated patches and noise.
inline Bytes Pattern(int w, int h, uint32_t seed)
{
    Bytes rgb;
    Rng r{ seed * 2654435761u + 1 };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int n = (int)r(24) - 12;
            const bool patch = (x / 13 + y / 11) % 5 == 0;
            const int c[3] = { patch ? 255 : 255 * x / std::max(1, w - 1) + n, patch ? 0 : 255 * y / std::max(1, h - 1) + n / 2,
                               patch ? (x & 8) * 31 : (int)(127 + 120 * std::sin((x + seed) * 0.11) * std::cos(y * 0.07)) - n };
            for (int v : c)
                rgb.push_back((uint8_t)std::clamp(v, 0, 255));
        }
    return rgb;
}

struct Enc { int comps = 3, quality = 85, h[3] = { 2, 1, 1 }, v[3] = { 2, 1, 1 }, ids[3] = { 1, 2, 3 }, restart = 0;
             bool progressive = false, optimize = false, jfif = true, scanPerComponent = false; };

inline Bytes EncodeJpeg(const Bytes& rgb, int w, int h, const Enc& o)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;  // the pictures are all valid: an error ends the test program
    c.err = jpeg_std_error(&err);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_create_compress(&c), jpeg_mem_dest(&c, &out, &size);
    c.image_width = w, c.image_height = h, c.input_components = 3, c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    if (o.comps == 1)
        jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    jpeg_set_quality(&c, o.quality, TRUE);
    c.write_JFIF_header = o.jfif, c.optimize_coding = o.optimize, c.restart_interval = o.restart;
    jpeg_scan_info scans[3];
    for (int i = 0; i < o.comps; ++i)
        c.comp_info[i].component_id = o.ids[i], c.comp_info[i].h_samp_factor = o.h[i], c.comp_info[i].v_samp_factor = o.v[i],
        scans[i] = { 1, { i }, 0, 63, 0, 0 };
    if (o.scanPerComponent)
        c.scan_info = scans, c.num_scans = o.comps;
    if (o.progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    for (JSAMPROW row; c.next_scanline < c.image_height; jpeg_write_scanlines(&c, &row, 1))
        row = const_cast<JSAMPROW>(&rgb[(size_t)c.next_scanline * w * 3]);
    jpeg_finish_compress(&c), jpeg_destroy_compress(&c);
    Bytes result(out, out + size);
    return free(out), result;
}

// libjpeg-turbo with the exact-integer transform and replicated chroma, laid out as the module's pictures.
inline Pic PeerJpeg(const Bytes& jpeg)
{
    jpeg_decompress_struct c;
    jpeg_error_mgr err;  // the streams are all valid: an error ends the test program
    c.err = jpeg_std_error(&err);
    Pic p;
    jpeg_create_decompress(&c), jpeg_mem_src(&c, jpeg.data(), jpeg.size()), jpeg_read_header(&c, TRUE);
    c.dct_method = JDCT_ISLOW, c.do_fancy_upsampling = FALSE, c.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&c);
    p.ok = true, p.w = c.output_width, p.h = c.output_height, p.bits = 24;
    p.dib.assign((size_t)Img_GetRowBytes(p.w, 24) * p.h, 0);
    for (JSAMPROW row; c.output_scanline < c.output_height; jpeg_read_scanlines(&c, &row, 1))
        row = const_cast<uint8_t*>(p.Row(c.output_scanline));
    return jpeg_finish_decompress(&c), jpeg_destroy_decompress(&c), p;
}

struct PngSpec { uint32_t w = 9, h = 6; int type = PNG_COLOR_TYPE_RGB, depth = 8, filters = PNG_ALL_FILTERS, palette = 0, level = 6,
                 interlace = 0; };

// Rows of smooth runs and noise, so every filter has something to undo.
inline Bytes WritePng(const PngSpec& s, uint32_t seed)
{
    Rng r{ seed | 1 };
    const int top = s.type == 3 ? s.palette - 1 : (1 << s.depth) - 1, ch = s.type == 2 ? 3 : s.type == 4 ? 2 : s.type == 6 ? 4 : 1;
    std::vector<Bytes> rows(s.h, Bytes(((size_t)s.w * ch * s.depth + 7) / 8));
    std::vector<png_bytep> ptrs;
    for (uint32_t y = 0; y < s.h; ptrs.push_back(rows[y++].data()))
        for (uint32_t x = 0; x < s.w * ch; ++x) {
            const uint32_t v = ((x / 5 + y / 3) % 3 ? x * 7 + y * 3 : r(256)) % (top + 1);
            rows[y][x * s.depth / 8] |= (uint8_t)(v << (8 - s.depth - x * s.depth % 8));  // 1 to 8 bits
        }
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, [](png_structp p, png_bytep d, png_size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), d, d + n);
    }, nullptr);
    png_set_IHDR(png, info, s.w, s.h, s.depth, s.type, s.interlace, 0, 0);
    std::vector<png_color> pal;
    for (int i = 0; i < s.palette; ++i)
        pal.push_back({ (png_byte)(i * 37 + 11), (png_byte)(255 - i * 13), (png_byte)(i * 101 + 7) });
    if (s.palette)
        png_set_PLTE(png, info, pal.data(), s.palette);
    png_set_filter(png, 0, s.filters), png_set_compression_level(png, s.level), png_write_info(png, info);
    png_write_image(png, ptrs.data()), png_write_end(png, info), png_destroy_write_struct(&png, &info);
    return out;
}

// libpng's reading as RGB, alpha composited over black as the module shows it.
inline Bytes PeerPng(const Bytes& file)
{
    png_image im{};
    im.version = PNG_IMAGE_VERSION;
    Bytes rgba, rgb;
    if (png_image_begin_read_from_memory(&im, file.data(), file.size()))
        im.format = PNG_FORMAT_RGBA, rgba.resize(PNG_IMAGE_SIZE(im)), png_image_finish_read(&im, nullptr, rgba.data(), 0, nullptr);
    for (size_t i = 0; i < rgba.size(); ++i)
        if (i % 4 != 3)
            rgb.push_back((uint8_t)(rgba[i] * rgba[i | 3] / 255));
    return rgb;
}

inline Bytes Zlib(const Bytes& data, int level)
{
    Bytes out(compressBound(data.size()));
    uLongf size = out.size();
    return compress2(out.data(), &size, data.data(), data.size(), level), out.resize(size), out;
}

inline void Put32(Bytes& b, size_t at, uint32_t v, bool bigEndian = false, int size = 4)
{
    for (int i = 0; i < size; ++i)
        b[at + i] = (uint8_t)(v >> 8 * (bigEndian ? size - 1 - i : i));
}

// Bytes, JPEG segments and entropy-coded bits (most significant first, a stuffed zero after each 0xFF).
struct JpegWriter {
    Bytes b;
    uint32_t acc = 0;
    int n = 0;
    JpegWriter& Raw(const Bytes& v) { return b.insert(b.end(), v.begin(), v.end()), *this; }
    JpegWriter& Seg(int m, const Bytes& s) { return Raw({ 0xFF, (uint8_t)m, (uint8_t)((s.size() + 2) >> 8), (uint8_t)(s.size() + 2) }).Raw(s); }
    void Bits(uint32_t v, int count)
    {
        while (count--) {
            acc = acc << 1 | (v >> count & 1);
            if (++n < 8)
                continue;
            b.push_back((uint8_t)acc);
            if (acc == 0xFF)
                b.push_back(0);
            acc = n = 0;
        }
    }
    void Flush() { while (n) Bits(1, 1); }
};

// A decoder's outcomes: each input decodes (why null) or is refused for the reason given, and none asks for
// much memory (a header that claims gigabytes is refused before anything of that size is asked for).
struct Outcome { const char* what; Bytes data; const char* why; };

inline void ExpectOutcomes(WORD type, const std::vector<Outcome>& rows)
{
    for (const Outcome& row : rows) {
        const Pic p = (NativeWin_TakeLargestRequest(), Decode(type, row.data));
        EXPECT_EQ(p.ok ? "decodes" : p.why, row.why ? row.why : "decodes") << row.what;
        EXPECT_LT(NativeWin_TakeLargestRequest(), 1u << 20) << row.what;
    }
}

// Each allocation of a decode failing in turn: a refusal each time, nothing leaked (Decode counts), until the
// decode needs no more and gives the picture it gives without failures.
inline void ExpectAllocationFailuresRefused(WORD type, const Bytes& in)
{
    const Pic good = Decode(type, in);
    Pic p;
    long n = 0;
    for (; good.ok && !p.ok && n < 100; ++n) {
        NativeWin_FailAllocation(n);
        p = Decode(type, in);
        NativeWin_FailAllocation(-1);
    }
    EXPECT_TRUE(good.ok && n > 2 && p.dib == good.dib && p.colors.size() == good.colors.size());
}
