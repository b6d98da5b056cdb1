// Pictures and streams for the image tests: a deterministic test pattern,
// libjpeg-turbo as encoder (any sampling, progression, restart interval,
// component identifiers) and as the peer decoder, a small hand encoder for
// streams no encoder would write, and the module's decoders behind one call.
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A decoded picture as the module lays it out: bottom-up rows of blue, green,
// red, each padded to a multiple of 4 bytes.
struct Picture {
    bool ok = false;
    int width = 0;
    int height = 0;
    Bytes dib;
    const uint8_t* Pixel(int x, int y) const;   // y counted from the top
};

// RGB, top row first: smooth ramps, hard edges, saturated patches and noise.
Bytes TestPattern(int width, int height, unsigned seed);

struct EncodeOptions {
    int components = 3;          // 1 (grey) or 3 (YCbCr)
    int quality = 85;
    int h[3] = { 2, 1, 1 };
    int v[3] = { 2, 1, 1 };
    int ids[3] = { 1, 2, 3 };
    bool progressive = false;
    int restartInterval = 0;     // in MCUs
    bool jfif = true;            // false: SOI followed directly by DQT
    bool optimize = false;       // optimised Huffman tables
};
Bytes EncodeJpeg(const Bytes& rgb, int width, int height, const EncodeOptions& options);

// libjpeg-turbo with the slow integer transform and no interpolating
// upsampling, in the module's layout.
Picture DecodeWithLibjpeg(const Bytes& jpeg);
// Img_Decode of the module; frees everything it was handed.
Picture DecodeWithModule(const Bytes& data, uint16_t type);
Picture DecodeJpegWithModule(const Bytes& jpeg);

// Every .jpg/.jpeg of the module's artwork (resources/), empty while there is none.
std::vector<std::string> ArtworkFiles(const char* extension);
Bytes ReadFileBytes(const std::string& path);

// Largest per-channel difference and PSNR (dB; 99 when identical) over the
// width x height pixels of two pictures of equal size.
struct Difference {
    int maxDiff;
    double psnr;
};
Difference Compare(const Picture& a, const Picture& b);

// ---- hand-made streams ----------------------------------------------------------
// Writes a JPEG stream piece by piece, entropy-coded bits included, so tests
// can build exactly the case they name.
class StreamWriter {
public:
    void Raw(std::initializer_list<int> bytes);
    void Word(int v);
    void Soi() { Raw({ 0xFF, 0xD8 }); }
    void Eoi() { Raw({ 0xFF, 0xD9 }); }
    void Jfif();
    // One 8-bit table of 64 equal values.
    void Dqt(int table, int value);
    // A table of `symbols`, all codes of length `length` (so up to 2^length symbols).
    void Dht(int tableClass, int table, const std::vector<int>& symbols, int length);
    // components: {id, h, v, tq}
    void Sof(int marker, int width, int height, const std::vector<std::array<int, 4>>& components, int precision = 8);
    // components: {id, dcTable, acTable}
    void Sos(const std::vector<std::array<int, 3>>& components, int ss, int se, int ah, int al);
    void Dri(int interval);
    // Entropy-coded bits, most significant first, with zero stuffing.
    void Bits(uint32_t value, int count);
    // Pads the last byte with 1 bits.
    void Flush();
    Bytes bytes;

private:
    uint32_t acc_ = 0;
    int n_ = 0;
};

