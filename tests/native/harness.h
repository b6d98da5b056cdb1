// What every native test shares: one decode through the module's entry point
// from an exact-size heap copy of the input (so AddressSanitizer sees a read
// one byte past the end), with every result's invariants and the count of
// live heap blocks and GDI objects checked on each call; the peer libraries
// as encoders and reference decoders; and a writer for hand-made streams.
#pragma once
#include <windows.h>

#include "imaging/imaging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

using Bytes = std::vector<uint8_t>;

// xorshift: every run sees the same cases.
struct Rng {
    uint32_t s;
    uint32_t operator()(uint32_t n)
    {
        s ^= s << 13, s ^= s >> 17, s ^= s << 5;
        return s % n;
    }
};

// A decoded picture, or why there is none.
struct Pic {
    bool ok = false;
    std::string why;  // the refusal note, "(none)" when the decoder gave none
    int w = 0, h = 0, bits = 0;
    std::vector<RGBQUAD> colors;
    Bytes dib;  // as the section holds it: rows bottom-up, padded to 4 bytes
    const uint8_t* Row(int y) const { return &dib[(size_t)(h - 1 - y) * Img_GetRowBytes(w, (WORD)bits)]; }
    // Top row first, through the colour table.
    Bytes Rgb() const
    {
        Bytes out;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* r = Row(y);
                if (bits == 24) {
                    out.insert(out.end(), { r[3 * x + 2], r[3 * x + 1], r[3 * x] });
                    continue;
                }
                const size_t i = r[x * bits / 8] >> (8 - bits - x * bits % 8) & ((1 << bits) - 1);
                if (i >= colors.size())
                    return ADD_FAILURE() << "index outside the colour table", out;
                out.insert(out.end(), { colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue });
            }
        return out;
    }
};

inline Pic Decode(WORD type, const Bytes& in)
{
    const NativeWinCounts before = NativeWin_Counts();
    uint8_t* copy = static_cast<uint8_t*>(malloc(in.size() + in.empty()));
    std::copy(in.begin(), in.end(), copy);
    IMG_INFO info{};
    info.cbData = (DWORD)in.size();
    HBITMAP dib = Img_Decode(nullptr, type, copy, &info);
    free(copy);
    Pic p;
    p.ok = dib != nullptr;
    p.why = Img_GetNotes()->refusal ? Img_GetNotes()->refusal : "(none)";
    if (dib) {
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        p.w = h.biWidth, p.h = h.biHeight, p.bits = h.biBitCount;
        p.colors.assign(info.pBitmapInfo->bmiColors, info.pBitmapInfo->bmiColors + info.nColors);
        const DWORD stride = Img_GetRowBytes(p.w, (WORD)p.bits);
        p.dib.assign((uint8_t*)info.pBits, (uint8_t*)info.pBits + (size_t)stride * p.h);
        EXPECT_TRUE(p.h > 0 && h.biSize == 40 && h.biPlanes == 1 && h.biCompression == BI_RGB);
        EXPECT_TRUE(info.pBits == NativeWin_DibBits(dib) && !memcmp(NativeWin_DibInfo(dib), info.pBitmapInfo, 40 + 4 * info.nColors));
        const LOGPALETTE* lp = info.pLogPalette;
        EXPECT_EQ(lp != nullptr, info.nColors != 0);
        EXPECT_TRUE(!lp || (lp->palVersion == 0x300 && lp->palNumEntries == info.nColors));
        for (DWORD i = 0; lp && i < info.nColors; ++i) {
            const PALETTEENTRY& e = lp->palPalEntry[i];
            EXPECT_TRUE(e.peRed == p.colors[i].rgbRed && e.peGreen == p.colors[i].rgbGreen &&
                        e.peBlue == p.colors[i].rgbBlue && !e.peFlags) << "palette entry " << i;
        }
        if (type != IMG_TYPE_BMP) {  // a header of its own, and zero padding
            EXPECT_TRUE(h.biXPelsPerMeter == 72 && h.biYPelsPerMeter == 72 && h.biClrUsed == info.nColors);
            for (int y = 0; y < p.h; ++y)
                for (DWORD x = (p.w * p.bits + 7) / 8; x < stride; ++x)
                    EXPECT_EQ(p.dib[y * stride + x], 0) << "padding of row " << y;
        }
        DeleteObject(dib);
    } else {
        EXPECT_TRUE(!info.pBitmapInfo && !info.pLogPalette) << "a refusal hands nothing out";
    }
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    const NativeWinCounts after = NativeWin_Counts();
    EXPECT_TRUE(after.heapBlocks == before.heapBlocks && after.gdiObjects == before.gdiObjects) << "leak";
    return p;
}

// Each allocation of a decode made to fail in turn: a refusal every time,
// nothing leaked (Decode counts), until the decode needs no more and gives
// the picture it gives without failures.
inline void ExpectAllocationFailuresRefused(WORD type, const Bytes& in)
{
    const Pic good = Decode(type, in);
    ASSERT_TRUE(good.ok);
    for (long n = 0;; ++n) {
        NativeWin_FailAllocation(n);
        const Pic p = Decode(type, in);
        NativeWin_FailAllocation(-1);
        if (p.ok) {
            EXPECT_GE(n, 2) << "fewer allocations than expected";
            EXPECT_TRUE(p.dib == good.dib && p.colors.size() == good.colors.size());
            return;
        }
        ASSERT_LT(n, 100);
    }
}

// ---- libjpeg-turbo ---------------------------------------------------------------

// RGB, top row first: ramps, a sine, saturated patches and noise.
inline Bytes Pattern(int w, int h, uint32_t seed)
{
    Bytes rgb;
    Rng r{ seed * 2654435761u + 1 };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int n = (int)r(24) - 12;
            const bool patch = (x / 13 + y / 11) % 5 == 0;
            const int c[3] = { patch ? 255 : 255 * x / std::max(1, w - 1), patch ? 0 : 255 * y / std::max(1, h - 1),
                               patch ? (x & 8) * 31 : (int)(127 + 120 * std::sin((x + seed) * 0.11) * std::cos(y * 0.07)) };
            for (int i = 0; i < 3; ++i)
                rgb.push_back((uint8_t)std::clamp(c[i] + (i == 1 ? n / 2 : i ? -n : n), 0, 255));
        }
    return rgb;
}

struct Enc {
    int comps = 3, quality = 85, h[3] = { 2, 1, 1 }, v[3] = { 2, 1, 1 }, ids[3] = { 1, 2, 3 }, restart = 0;
    bool progressive = false, optimize = false, jfif = true, scanPerComponent = false;
};

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    static void Exit(j_common_ptr c) { longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); }
};

inline Bytes EncodeJpeg(const Bytes& rgb, int w, int h, const Enc& o)
{
    jpeg_compress_struct c;
    JpegError err;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegError::Exit;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump))
        return ADD_FAILURE() << "libjpeg could not encode", jpeg_destroy_compress(&c), free(out), Bytes();
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = w, c.image_height = h, c.input_components = 3, c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    if (o.comps == 1)
        jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    jpeg_set_quality(&c, o.quality, TRUE);
    c.write_JFIF_header = o.jfif, c.optimize_coding = o.optimize, c.restart_interval = o.restart;
    jpeg_scan_info scans[3];
    for (int i = 0; i < o.comps; ++i) {
        c.comp_info[i].component_id = o.ids[i], c.comp_info[i].h_samp_factor = o.h[i], c.comp_info[i].v_samp_factor = o.v[i];
        scans[i] = { 1, { i }, 0, 63, 0, 0 };
    }
    if (o.scanPerComponent)
        c.scan_info = scans, c.num_scans = o.comps;
    if (o.progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    for (JSAMPROW row; c.next_scanline < c.image_height; jpeg_write_scanlines(&c, &row, 1))
        row = const_cast<JSAMPROW>(&rgb[(size_t)c.next_scanline * w * 3]);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes result(out, out + size);
    free(out);
    return result;
}

// libjpeg-turbo with the exact-integer transform and replicated chroma, laid
// out as the module lays its pictures out.
inline Pic PeerJpeg(const Bytes& jpeg)
{
    jpeg_decompress_struct c;
    JpegError err;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegError::Exit;
    Pic p;
    if (setjmp(err.jump))
        return jpeg_destroy_decompress(&c), Pic();
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, jpeg.data(), jpeg.size());
    jpeg_read_header(&c, TRUE);
    c.dct_method = JDCT_ISLOW, c.do_fancy_upsampling = FALSE, c.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&c);
    p.w = c.output_width, p.h = c.output_height, p.bits = 24;
    p.dib.assign((size_t)Img_GetRowBytes(p.w, 24) * p.h, 0);
    for (JSAMPROW row; c.output_scanline < c.output_height; jpeg_read_scanlines(&c, &row, 1))
        row = const_cast<uint8_t*>(p.Row(c.output_scanline));
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    p.ok = true;
    return p;
}

// ---- libpng and zlib ---------------------------------------------------------------

struct PngSpec {
    uint32_t w = 9, h = 6;
    int type = PNG_COLOR_TYPE_RGB, depth = 8, filters = PNG_ALL_FILTERS, palette = 0, level = 6;
    bool interlace = false;
};

inline int Channels(int type) { return type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1; }

// Rows of smooth runs and noise, so every filter has something to undo.
inline Bytes WritePng(const PngSpec& s, uint32_t seed)
{
    Rng r{ seed | 1 };
    const int top = s.type == 3 ? s.palette - 1 : (1 << s.depth) - 1, ch = Channels(s.type);
    std::vector<Bytes> rows(s.h, Bytes(((size_t)s.w * ch * s.depth + 7) / 8));
    for (uint32_t y = 0; y < s.h; ++y)
        for (uint32_t x = 0; x < s.w * ch; ++x) {
            const uint32_t v = ((x / 5 + y / 3) % 3 ? x * 7 + y * 3 : r(65536)) % (top + 1);
            if (s.depth >= 8)
                for (int b = s.depth / 8 - 1; b >= 0; --b)
                    rows[y][x * s.depth / 8 + b] = (uint8_t)(v >> 8 * (s.depth / 8 - 1 - b));
            else
                rows[y][x * s.depth / 8] |= (uint8_t)(v << (8 - s.depth - x * s.depth % 8));
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
    png_set_filter(png, 0, s.filters);
    png_set_compression_level(png, s.level);
    png_write_info(png, info);
    std::vector<png_bytep> ptrs;
    for (Bytes& row : rows)
        ptrs.push_back(row.data());
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// libpng's reading as RGB, alpha composited over black as the module shows it.
inline Bytes PeerPng(const Bytes& file)
{
    png_image im{};
    im.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&im, file.data(), file.size()))
        return {};
    im.format = PNG_FORMAT_RGBA;
    Bytes rgba(PNG_IMAGE_SIZE(im)), rgb;
    if (!png_image_finish_read(&im, nullptr, rgba.data(), 0, nullptr))
        return {};
    for (size_t i = 0; i < rgba.size(); ++i)
        if (i % 4 != 3)
            rgb.push_back((uint8_t)(rgba[i] * rgba[i | 3] / 255));
    return rgb;
}

inline Bytes Zlib(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY, int windowBits = 15, int memLevel = 8)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, windowBits, memLevel, strategy);
    Bytes out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<Bytef*>(data.data()), z.avail_in = (uInt)data.size();
    z.next_out = out.data(), z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// ---- hand-made streams ---------------------------------------------------------------

inline void Put32(Bytes& b, size_t at, uint32_t v, bool bigEndian = false)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (uint8_t)(v >> 8 * (bigEndian ? 3 - i : i));
}

// Bytes, JPEG segments and entropy-coded bits (most significant first, a
// stuffed zero after each 0xFF).
struct JpegWriter {
    Bytes b;
    uint32_t acc = 0;
    int n = 0;
    JpegWriter& Raw(const Bytes& v) { return b.insert(b.end(), v.begin(), v.end()), *this; }
    JpegWriter& Seg(int marker, const Bytes& body)
    {
        Raw({ 0xFF, (uint8_t)marker, (uint8_t)((body.size() + 2) >> 8), (uint8_t)(body.size() + 2) });
        return Raw(body);
    }
    void Bits(uint32_t v, int count)
    {
        while (count--) {
            acc = acc << 1 | (v >> count & 1);
            if (++n == 8) {
                b.push_back((uint8_t)acc);
                if (acc == 0xFF)
                    b.push_back(0);
                acc = n = 0;
            }
        }
    }
    void Flush() { while (n) Bits(1, 1); }
};
