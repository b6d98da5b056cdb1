// PNG and DEFLATE decoding beside their peers, in one run:
//   PNG: the module's decoder (to its DIB) on the kernels this processor
//        runs (qx) and on the plain ones (qx-plain) against libpng and
//        libspng (each to the file's own pixel format, their cheapest
//        output), on the module's pictures and on 1920x1080 RGB, RGBA,
//        grey, palette and interlaced files;
//   DEFLATE: the pull decompressor (one read of the whole output), the same
//        two ways, against zlib and libdeflate on zlib streams of levels 1,
//        6 and 9.
// See side_by_side.h for the figures.
//
//   build/native/bench_png_bench [--rounds N] [--turn SECONDS] [NAME ...]
#include <windows.h>

#include "imaging/imaging.h"
#include "imaging/inflate.h"
#include "imaging/kernels.h"

#include "side_by_side.h"

#include "png_memio.h"

#include <dirent.h>
#include <libdeflate.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// ---- test pictures ---------------------------------------------------------------

// A photo-like scene: smooth shading, edges and fine noise, so that filters
// and matches behave as on real pictures (about 2:1 to 4:1).
Bytes SceneRgb(unsigned w, unsigned h)
{
    Bytes rgb((size_t)w * h * 3);
    unsigned seed = 12345;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = (int)((seed >> 16) % 9) - 4;
            const double fx = x / (double)w, fy = y / (double)h;
            const bool disc = (fx - 0.6) * (fx - 0.6) + (fy - 0.4) * (fy - 0.4) < 0.05;
            const bool band = ((x / 96 + y / 64) % 5) == 0;
            double r = 120 + 90 * std::sin(fx * 5 + fy * 2), g = 110 + 80 * std::cos(fy * 4 - fx), b = 90 + 70 * fy;
            if (disc)
                r = 230, g = 200 - 60 * fy, b = 40;
            if (band)
                r *= 0.6, g *= 0.6, b *= 0.6;
            unsigned char* p = &rgb[((size_t)y * w + x) * 3];
            p[0] = (unsigned char)std::min(255.0, std::max(0.0, r + noise));
            p[1] = (unsigned char)std::min(255.0, std::max(0.0, g + noise));
            p[2] = (unsigned char)std::min(255.0, std::max(0.0, b + noise));
        }
    return rgb;
}

// Encodes with libpng's defaults (level 6, adaptive filters): typical files.
Bytes EncodePng(unsigned w, unsigned h, int colorType, bool interlace)
{
    const Bytes rgb = SceneRgb(w, h);
    const int channels = colorType == PNG_COLOR_TYPE_RGB ? 3 : colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 1;
    std::vector<Bytes> rows(h, Bytes((size_t)w * channels));
    png_color palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = { (png_byte)((i >> 5) * 36), (png_byte)(((i >> 2) & 7) * 36), (png_byte)((i & 3) * 85) };
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            const unsigned char* p = &rgb[((size_t)y * w + x) * 3];
            unsigned char* q = &rows[y][(size_t)x * channels];
            if (colorType == PNG_COLOR_TYPE_GRAY)
                q[0] = (unsigned char)((p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8);
            else if (colorType == PNG_COLOR_TYPE_PALETTE)
                q[0] = (unsigned char)((p[0] >> 5) << 5 | (p[1] >> 5) << 2 | p[2] >> 6);
            else
                memcpy(q, p, 3);
            if (channels == 4)
                q[3] = (unsigned char)(x < w / 4 ? 255 : (x * 255 / w + y) & 0xFF);
        }
    pngmem::Writer mw;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &mw, pngmem::Writer::Write, pngmem::Writer::Flush);
    png_set_IHDR(png, info, w, h, 8, colorType, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette, 256);
    png_write_info(png, info);
    std::vector<png_bytep> ptrs;
    for (Bytes& r : rows)
        ptrs.push_back(r.data());
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return mw.out;
}

Bytes ReadFileBytes(const std::string& path)
{
    Bytes data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    fclose(f);
    return data;
}

// ---- the decoders -----------------------------------------------------------------

bool DecodeOurs(const Bytes& file, int level)
{
    Img_ForceKernelLevel(level);
    IMG_INFO info{};
    info.cbData = (DWORD)file.size();
    HBITMAP dib = Img_DecodePng(nullptr, file.data(), &info);
    if (dib)
        DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    return dib != nullptr;
}

bool DecodeLibpng(const Bytes& file, Bytes& out)
{
    pngmem::Reader r{ &file, 0 };
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &r, pngmem::Reader::Read);
    png_read_info(png, info);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const unsigned h = png_get_image_height(png, info);
    out.resize(rowBytes * h);
    std::vector<png_bytep> rows(h);
    for (unsigned y = 0; y < h; ++y)
        rows[y] = &out[y * rowBytes];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool DecodeSpng(const Bytes& file, Bytes& out)
{
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, file.data(), file.size());
    size_t size = 0;
    bool ok = spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size) == 0;
    if (ok) {
        out.resize(size);
        ok = spng_decode_image(ctx, out.data(), size, SPNG_FMT_PNG, 0) == 0;
    }
    spng_ctx_free(ctx);
    return ok;
}

bool InflateOurs(const Bytes& z, Bytes& out, size_t size, int level)
{
    Img_ForceKernelLevel(level);
    INFLATE_STATE s{};
    const bool ok = Inflate_Start(&s, z.data(), z.data() + z.size(), nullptr, nullptr) &&
                    Inflate_Read(&s, out.data(), (DWORD)size, INFLATE_SLACK) == size && Inflate_Finish(&s) == 1;
    Inflate_End(&s);
    return ok;
}

// Raw image bytes of a file (what its zlib stream expands to).
size_t RawBytes(const Bytes& file)
{
    Bytes out;
    DecodeSpng(file, out);
    return out.size();
}

Bytes Compress(const Bytes& raw, int level)
{
    uLongf n = compressBound((uLong)raw.size());
    Bytes z(n);
    compress2(z.data(), &n, raw.data(), (uLong)raw.size(), level);
    z.resize(n);
    return z;
}

// The IDAT stream of a PNG file, expanded: what a PNG decoder's decompressor makes.
Bytes ImageData(const Bytes& file)
{
    Bytes z;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        unsigned len = (unsigned)file[pos] << 24 | file[pos + 1] << 16 | file[pos + 2] << 8 | file[pos + 3];
        if (memcmp(&file[pos + 4], "IDAT", 4) == 0)
            z.insert(z.end(), file.begin() + pos + 8, file.begin() + pos + 8 + len);
        pos += 12 + len;
    }
    Bytes raw(RawBytes(file) + 1080);
    uLongf n = (uLongf)raw.size();
    uncompress(raw.data(), &n, z.data(), (uLong)z.size());
    raw.resize(n);
    return raw;
}

struct Input {
    std::string name;
    Bytes file;
};

std::vector<Input> PngInputs()
{
    std::vector<Input> inputs;
    const char* kDirs[] = { "/resources", "/resources/art" };
    for (const char* sub : kDirs) {
        std::string dir = std::string(QX_SOURCE_DIR) + sub;
        if (DIR* dp = opendir(dir.c_str())) {
            while (dirent* e = readdir(dp)) {
                std::string n = e->d_name;
                if (n.size() > 4 && n.compare(n.size() - 4, 4, ".png") == 0)
                    inputs.push_back({ "module/" + n, ReadFileBytes(dir + "/" + n) });
            }
            closedir(dp);
        }
    }
    inputs.push_back({ "1920x1080/rgb", EncodePng(1920, 1080, PNG_COLOR_TYPE_RGB, false) });
    inputs.push_back({ "1920x1080/rgba", EncodePng(1920, 1080, PNG_COLOR_TYPE_RGB_ALPHA, false) });
    inputs.push_back({ "1920x1080/grey", EncodePng(1920, 1080, PNG_COLOR_TYPE_GRAY, false) });
    inputs.push_back({ "1920x1080/palette", EncodePng(1920, 1080, PNG_COLOR_TYPE_PALETTE, false) });
    inputs.push_back({ "1920x1080/rgb-interlaced", EncodePng(1920, 1080, PNG_COLOR_TYPE_RGB, true) });
    return inputs;
}

} // namespace

int main(int argc, char** argv)
{
    const BenchOptions options(argc, argv);
    const std::vector<Input> pngs = PngInputs();
    printf("Medians of %d rounds; kernel level in force for qx: %d\n", options.rounds, Img_ForceKernelLevel(-1));

    Bytes out;
    const Bytes* file = nullptr;
    const std::vector<Contender> pngContenders = {
        { "qx", [&] { return DecodeOurs(*file, -1); } },
        { "qx-plain", [&] { return DecodeOurs(*file, IMG_KERNELS_SCALAR); } },
        { "libpng", [&] { return DecodeLibpng(*file, out); } },
        { "libspng", [&] { return DecodeSpng(*file, out); } },
    };
    PrintHeader(pngContenders, 2);
    for (const Input& in : pngs) {
        if (!options.Wanted("png/" + in.name))
            continue;
        file = &in.file;
        PrintLine("png/" + in.name, TakeTurns(pngContenders, options.rounds, options.turn), 2);
    }

    // DEFLATE on the raw (filtered) image data of the RGB picture.
    const Bytes raw = ImageData(pngs[pngs.size() - 5].file);
    Bytes z;
    out.resize(raw.size() + INFLATE_SLACK);
    libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
    const std::vector<Contender> inflaters = {
        { "qx", [&] { return InflateOurs(z, out, raw.size(), -1); } },
        { "qx-plain", [&] { return InflateOurs(z, out, raw.size(), IMG_KERNELS_SCALAR); } },
        { "zlib", [&] {
             uLongf n = (uLongf)out.size();
             return uncompress(out.data(), &n, z.data(), (uLong)z.size()) == Z_OK && n == raw.size();
         } },
        { "libdeflate", [&] {
             size_t n = 0;
             return libdeflate_zlib_decompress(ld, z.data(), z.size(), out.data(), out.size(), &n) ==
                        LIBDEFLATE_SUCCESS && n == raw.size();
         } },
    };
    PrintHeader(inflaters, 2);
    for (int level : { 1, 6, 9 }) {
        const std::string name = "deflate/level" + std::to_string(level);
        if (!options.Wanted(name))
            continue;
        z = Compress(raw, level);
        PrintLine(name, TakeTurns(inflaters, options.rounds, options.turn), 2);
    }
    libdeflate_free_decompressor(ld);
    Img_ForceKernelLevel(-1);
    return 0;
}
