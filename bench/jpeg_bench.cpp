// JPEG decoding beside its peers, in one run: the module's decoder, libjpeg-
// turbo (slow-integer transform, its default) and stb_image, each producing the
// same bottom-up 24-bit BGR DIB layout, on the module's own pictures and on
// larger ones made at start-up (1920x1080 baseline 4:2:0, progressive 4:2:0,
// greyscale, 4:4:4 and a file with a restart interval).
//
//   ninja -C build/... bench_jpeg_bench && build/.../bench_jpeg_bench
//
// After the usual table it prints one line per picture with the module's
// time and its ratio to each peer (below 1: faster).
#include <windows.h>

#include "imaging/imaging.h"

#include <benchmark/benchmark.h>
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

// ---- the three decoders, each to a bottom-up BGR DIB ---------------------------

void DecodeModule(benchmark::State& state, const Bytes& jpeg)
{
    for (auto _ : state) {
        IMG_INFO info = {};
        info.cbData = (DWORD)jpeg.size();
        HBITMAP dib = Img_Decode(nullptr, IMG_TYPE_JPEG, jpeg.data(), &info);
        if (!dib) {
            state.SkipWithError("refused");
            return;
        }
        benchmark::DoNotOptimize(info.pBits);
        DeleteObject(dib);
        HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    }
}

struct TurboError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void DecodeTurbo(benchmark::State& state, const Bytes& jpeg)
{
    Bytes dib;
    for (auto _ : state) {
        jpeg_decompress_struct d;
        TurboError err;
        d.err = jpeg_std_error(&err.mgr);
        err.mgr.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<TurboError*>(c->err)->jump, 1); };
        if (setjmp(err.jump)) {
            jpeg_destroy_decompress(&d);
            state.SkipWithError("refused");
            return;
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
        benchmark::DoNotOptimize(dib.data());
    }
}

void DecodeStb(benchmark::State& state, const Bytes& jpeg)
{
    Bytes dib;
    for (auto _ : state) {
        int w, h, n;
        unsigned char* rgb = stbi_load_from_memory(jpeg.data(), (int)jpeg.size(), &w, &h, &n, 3);
        if (!rgb) {
            state.SkipWithError("refused");
            return;
        }
        const size_t rowBytes = ((size_t)w * 3 + 3) & ~(size_t)3;
        dib.resize(rowBytes * h);
        for (int y = 0; y < h; ++y) {
            const unsigned char* s = rgb + (size_t)y * w * 3;
            unsigned char* o = &dib[(size_t)(h - 1 - y) * rowBytes];
            for (int x = 0; x < w; ++x, s += 3, o += 3)
                o[0] = s[2], o[1] = s[1], o[2] = s[0];
        }
        stbi_image_free(rgb);
        benchmark::DoNotOptimize(dib.data());
    }
}

// Keeps each run's CPU time per iteration for the summary: on a shared
// machine it is steadier than wall time.
class Recorder : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (!r.error_occurred && r.iterations)
                seconds[r.run_name.function_name] = r.cpu_accumulated_time / (double)r.iterations;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<Sample> samples = Samples();
    static const struct {
        const char* name;
        void (*fn)(benchmark::State&, const Bytes&);
    } kDecoders[] = { { "qx", DecodeModule }, { "libjpeg-turbo", DecodeTurbo }, { "stb_image", DecodeStb } };
    for (const Sample& s : samples) {
        for (const auto& d : kDecoders) {
            const Bytes* data = &s.jpeg;
            auto fn = d.fn;
            benchmark::RegisterBenchmark((std::string(d.name) + "/" + s.name).c_str(),
                                         [data, fn](benchmark::State& st) { fn(st, *data); })
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.3);
        }
    }
    benchmark::Initialize(&argc, argv);
    Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    printf("\nCPU time per decode, and the module's time as a multiple of each peer's\n");
    printf("%-26s %10s %12s %12s\n", "picture", "qx ms", "/turbo", "/stb");
    for (const Sample& s : samples) {
        auto at = [&](const char* decoder) {
            auto it = recorder.seconds.find(std::string(decoder) + "/" + s.name);
            return it == recorder.seconds.end() ? 0.0 : it->second;
        };
        double qx = at("qx"), turbo = at("libjpeg-turbo"), stb = at("stb_image");
        if (qx > 0 && turbo > 0 && stb > 0)
            printf("%-26s %10.3f %11.2fx %11.2fx\n", s.name.c_str(), qx * 1e3, qx / turbo, qx / stb);
    }
    benchmark::Shutdown();
    return 0;
}
