#include "jpeg_fixtures.h"

#include <windows.h>

#include "imaging/imaging.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

const uint8_t* Picture::Pixel(int x, int y) const
{
    int rowBytes = (width * 3 + 3) & ~3;
    return &dib[(size_t)(height - 1 - y) * rowBytes + 3 * (size_t)x];
}

Bytes TestPattern(int width, int height, unsigned seed)
{
    Bytes rgb((size_t)width * height * 3);
    uint32_t state = seed * 2654435761u + 1;
    auto noise = [&]() {
        state = state * 1664525u + 1013904223u;
        return (int)(state >> 24) % 24 - 12;
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[((size_t)y * width + x) * 3];
            int r = 255 * x / std::max(1, width - 1);
            int g = 255 * y / std::max(1, height - 1);
            int b = (int)(127 + 120 * std::sin((x + seed) * 0.11) * std::cos(y * 0.07));
            if (((x / 13) + (y / 11)) % 5 == 0) {   // hard-edged saturated patches
                r = 255, g = 0, b = (x & 8) ? 255 : 0;
            }
            if ((x * 7 + y * 3) % 97 < 3) {
                r = g = b = 255;
            }
            int n = noise();
            p[0] = (uint8_t)std::clamp(r + n, 0, 255);
            p[1] = (uint8_t)std::clamp(g + n / 2, 0, 255);
            p[2] = (uint8_t)std::clamp(b - n, 0, 255);
        }
    }
    return rgb;
}

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo)
{
    longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void QuietMessage(j_common_ptr) {}

} // namespace

Bytes EncodeJpeg(const Bytes& rgb, int width, int height, const EncodeOptions& o)
{
    jpeg_compress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    Bytes grey;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        free(out);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = (JDIMENSION)width;
    cinfo.image_height = (JDIMENSION)height;
    cinfo.input_components = o.components;
    cinfo.in_color_space = o.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    cinfo.write_JFIF_header = o.jfif ? TRUE : FALSE;
    cinfo.optimize_coding = o.optimize ? TRUE : FALSE;
    cinfo.restart_interval = (unsigned)o.restartInterval;
    cinfo.dct_method = JDCT_ISLOW;
    for (int i = 0; i < o.components; ++i) {
        cinfo.comp_info[i].component_id = o.ids[i];
        cinfo.comp_info[i].h_samp_factor = o.h[i];
        cinfo.comp_info[i].v_samp_factor = o.v[i];
    }
    if (o.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const Bytes* src = &rgb;
    if (o.components == 1) {
        grey.resize((size_t)width * height);
        for (size_t i = 0; i < grey.size(); ++i)
            grey[i] = (uint8_t)((rgb[3 * i] * 77 + rgb[3 * i + 1] * 150 + rgb[3 * i + 2] * 29) >> 8);
        src = &grey;
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&(*src)[(size_t)cinfo.next_scanline * width * o.components]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes result(out, out + outSize);
    free(out);
    return result;
}

Picture DecodeWithLibjpeg(const Bytes& jpeg)
{
    Picture pic;
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    err.mgr.output_message = QuietMessage;
    Bytes* rows = &pic.dib;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return Picture();
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), (unsigned long)jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    int width = (int)cinfo.output_width, height = (int)cinfo.output_height;
    int rowBytes = (width * 3 + 3) & ~3;
    rows->assign((size_t)rowBytes * height, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &(*rows)[(size_t)(height - 1 - (int)cinfo.output_scanline) * rowBytes];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    pic.ok = true;
    pic.width = width;
    pic.height = height;
    return pic;
}

Picture DecodeWithModule(const Bytes& data, uint16_t type)
{
    Picture pic;
    IMG_INFO info = {};
    info.cbData = (DWORD)data.size();
    HBITMAP dib = Img_Decode(nullptr, type, data.data(), &info);
    if (dib) {
        const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
        pic.ok = true;
        pic.width = h.biWidth;
        pic.height = h.biHeight;
        size_t size = (size_t)Img_GetRowBytes(h.biWidth, h.biBitCount) * h.biHeight;
        const uint8_t* bits = static_cast<const uint8_t*>(info.pBits);
        pic.dib.assign(bits, bits + size);
        DeleteObject(dib);
    }
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
    HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    return pic;
}

Picture DecodeJpegWithModule(const Bytes& jpeg) { return DecodeWithModule(jpeg, IMG_TYPE_JPEG); }

std::vector<std::string> ArtworkFiles(const char* extension)
{
    std::vector<std::string> files;
    std::error_code ec;
    std::filesystem::path root = std::filesystem::path(QX_SOURCE_DIR) / "resources";
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (it->is_regular_file() && ext == extension)
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Difference Compare(const Picture& a, const Picture& b)
{
    int maxDiff = 0;
    double sq = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                int d = std::abs(a.Pixel(x, y)[c] - b.Pixel(x, y)[c]);
                maxDiff = std::max(maxDiff, d);
                sq += d * d;
            }
        }
    }
    double mse = sq / (3.0 * a.width * a.height);
    return { maxDiff, mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse) };
}

// ---- StreamWriter ---------------------------------------------------------------

void StreamWriter::Raw(std::initializer_list<int> b)
{
    for (int v : b)
        bytes.push_back((uint8_t)v);
}

void StreamWriter::Word(int v) { Raw({ (v >> 8) & 0xFF, v & 0xFF }); }

void StreamWriter::Jfif()
{
    Raw({ 0xFF, 0xE0 });
    Word(16);
    Raw({ 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0 });
}

void StreamWriter::Dqt(int table, int value)
{
    Raw({ 0xFF, 0xDB });
    Word(67);
    bytes.push_back((uint8_t)table);
    for (int i = 0; i < 64; ++i)
        bytes.push_back((uint8_t)value);
}

void StreamWriter::Dht(int tableClass, int table, const std::vector<int>& symbols, int length)
{
    Raw({ 0xFF, 0xC4 });
    Word(2 + 17 + (int)symbols.size());
    bytes.push_back((uint8_t)(tableClass << 4 | table));
    for (int l = 1; l <= 16; ++l)
        bytes.push_back((uint8_t)(l == length ? symbols.size() : 0));
    for (int s : symbols)
        bytes.push_back((uint8_t)s);
}

void StreamWriter::Sof(int marker, int width, int height, const std::vector<std::array<int, 4>>& components,
                       int precision)
{
    Raw({ 0xFF, marker });
    Word(8 + 3 * (int)components.size());
    bytes.push_back((uint8_t)precision);
    Word(height);
    Word(width);
    bytes.push_back((uint8_t)components.size());
    for (const auto& c : components)
        Raw({ c[0], c[1] << 4 | c[2], c[3] });
}

void StreamWriter::Sos(const std::vector<std::array<int, 3>>& components, int ss, int se, int ah, int al)
{
    Raw({ 0xFF, 0xDA });
    Word(6 + 2 * (int)components.size());
    bytes.push_back((uint8_t)components.size());
    for (const auto& c : components)
        Raw({ c[0], c[1] << 4 | c[2] });
    Raw({ ss, se, ah << 4 | al });
}

void StreamWriter::Dri(int interval)
{
    Raw({ 0xFF, 0xDD });
    Word(4);
    Word(interval);
}

void StreamWriter::Bits(uint32_t value, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        acc_ = acc_ << 1 | ((value >> i) & 1);
        if (++n_ == 8) {
            bytes.push_back((uint8_t)acc_);
            if (acc_ == 0xFF)
                bytes.push_back(0);
            acc_ = 0;
            n_ = 0;
        }
    }
}

void StreamWriter::Flush()
{
    while (n_ != 0)
        Bits(1, 1);
}
