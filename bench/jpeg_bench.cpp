// JPEG decoding beside its peers, in one run: the module's decoder on the
// kernels this processor runs (qx), on SSE2 alone (qx-sse2) and on the plain
// kernels an old processor runs (qx-plain), libjpeg-turbo (slow-integer
// transform, its default) and stb_image, each producing the same bottom-up
// 24-bit BGR DIB layout, on the module's own pictures and on larger ones made
// at start-up (1920x1080 baseline 4:2:0, progressive 4:2:0, greyscale, 4:4:4
// and a file with a restart interval). See side_by_side.h for the figures.
//
//   build/native/bench_jpeg_bench [--rounds N] [--turn SECONDS] [NAME ...]
#include <windows.h>

#include "imaging/imaging.h"
#include "imaging/kernels.h"

#include "side_by_side.h"

#include <jpeglib.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Sample {
    std::string name;
    Bytes jpeg;
};

// A deterministic photo-like picture: lit sphere over a tiled floor, a sky
// gradient, and sensor-like grain.
Bytes Photo(int w, int h)
{
    Bytes rgb((size_t)w * h * 3);
    uint32_t grain = 2463534242u;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            grain ^= grain << 13, grain ^= grain >> 17, grain ^= grain << 5;
            double u = (double)x / w, v = (double)y / h, r, g, b;
            if (v < 0.45) {
                r = 90 + 80 * v, g = 140 + 60 * v, b = 230 - 40 * v;
            } else {
                bool tile = (int)(u * 24 + (v - 0.45) * 40) % 2 == (int)((v - 0.45) * 30) % 2;
                r = tile ? 180 : 70, g = tile ? 160 : 60, b = tile ? 120 : 50;
            }
            double dx = u - 0.5, dy = (v - 0.5) * h / w, d2 = dx * dx + dy * dy;
            if (d2 < 0.04) {
                double light = std::max(0.0, 1.0 - std::sqrt(d2 + (dx + 0.1) * (dx + 0.1)) * 3);
                r = 200 * light + 30, g = 60 * light + 20, b = 40 * light + 20;
            }
            int n = (int)(grain % 13) - 6;
            unsigned char* p = &rgb[((size_t)y * w + x) * 3];
            p[0] = (unsigned char)std::clamp((int)r + n, 0, 255);
            p[1] = (unsigned char)std::clamp((int)g + n, 0, 255);
            p[2] = (unsigned char)std::clamp((int)b + n, 0, 255);
        }
    }
    return rgb;
}

struct Encoding {
    bool grey = false;
    bool progressive = false;
    bool subsample = true;
    int restart = 0;
};

Bytes Encode(const Bytes& rgb, int w, int h, const Encoding& e)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = (JDIMENSION)w;
    c.image_height = (JDIMENSION)h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (e.grey)
        jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    if (!e.subsample)
        c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;
    if (e.progressive)
        jpeg_simple_progression(&c);
    c.restart_interval = (unsigned)e.restart;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[(size_t)c.next_scanline * w * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes result(out, out + size);
    free(out);
    return result;
}

std::vector<Sample> Samples()
{
    std::vector<Sample> samples;
    std::vector<std::string> art;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(QX_SOURCE_DIR) + "/resources/art", ec)) {
        if (entry.path().extension() == ".jpg")
            art.push_back(entry.path().string());
    }
    std::sort(art.begin(), art.end());
    for (const std::string& path : art) {
        std::ifstream f(path, std::ios::binary);
        samples.push_back({ "art/" + std::filesystem::path(path).filename().string(),
                            Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()) });
    }
    const int w = 1920, h = 1080;
    Bytes photo = Photo(w, h);
    samples.push_back({ "1080p-baseline-420", Encode(photo, w, h, {}) });
    samples.push_back({ "1080p-progressive-420", Encode(photo, w, h, { false, true, true, 0 }) });
    samples.push_back({ "1080p-grey", Encode(photo, w, h, { true, false, true, 0 }) });
    samples.push_back({ "1080p-baseline-444", Encode(photo, w, h, { false, false, false, 0 }) });
    samples.push_back({ "1080p-restart-420", Encode(photo, w, h, { false, false, true, 16 }) });
    return samples;
}

// ---- the decoders, each to a bottom-up BGR DIB ---------------------------------

bool DecodeModule(const Bytes& jpeg, int level)
{
    Img_ForceKernelLevel(level);
    IMG_INFO info = {};
    info.cbData = (DWORD)jpeg.size();
    HBITMAP dib = Img_Decode(nullptr, IMG_TYPE_JPEG, jpeg.data(), &info);
    if (dib)
        DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    return dib != nullptr;
}

struct TurboError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

bool DecodeTurbo(const Bytes& jpeg, Bytes& dib)
{
    jpeg_decompress_struct d;
    TurboError err;
    d.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<TurboError*>(c->err)->jump, 1); };
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), (unsigned long)jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.dct_method = JDCT_ISLOW;
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    const size_t rowBytes = (d.output_width * 3 + 3) & ~3u;
    dib.resize(rowBytes * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &dib[(d.output_height - 1 - d.output_scanline) * rowBytes];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return true;
}

bool DecodeStb(const Bytes& jpeg, Bytes& dib)
{
    int w, h, n;
    unsigned char* rgb = stbi_load_from_memory(jpeg.data(), (int)jpeg.size(), &w, &h, &n, 3);
    if (!rgb)
        return false;
    const size_t rowBytes = ((size_t)w * 3 + 3) & ~(size_t)3;
    dib.resize(rowBytes * h);
    for (int y = 0; y < h; ++y) {
        const unsigned char* s = rgb + (size_t)y * w * 3;
        unsigned char* o = &dib[(size_t)(h - 1 - y) * rowBytes];
        for (int x = 0; x < w; ++x, s += 3, o += 3)
            o[0] = s[2], o[1] = s[1], o[2] = s[0];
    }
    stbi_image_free(rgb);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const BenchOptions options(argc, argv);
    Bytes dib;
    const Bytes* jpeg = nullptr;
    const std::vector<Contender> contenders = {
        { "qx", [&] { return DecodeModule(*jpeg, -1); } },
        { "qx-sse2", [&] { return DecodeModule(*jpeg, IMG_KERNELS_SSE2); } },
        { "qx-plain", [&] { return DecodeModule(*jpeg, IMG_KERNELS_SCALAR); } },
        { "turbo", [&] { return DecodeTurbo(*jpeg, dib); } },
        { "stb", [&] { return DecodeStb(*jpeg, dib); } },
    };
    printf("Medians of %d rounds; kernel level in force for qx: %d\n", options.rounds, Img_ForceKernelLevel(-1));
    PrintHeader(contenders, 3);
    for (const Sample& s : Samples()) {
        if (!options.Wanted(s.name))
            continue;
        jpeg = &s.jpeg;
        PrintLine(s.name, TakeTurns(contenders, options.rounds, options.turn), 3);
    }
    Img_ForceKernelLevel(-1);
    return 0;
}
