// A second, deliberately plain JPEG decoder for the tests: it follows the
// decoding rules step by step (bit-serial Huffman decoding, literal
// replicated planes, tables computed from their formulas), sharing no code
// with the module's decoder. Both must give the same pixels for every input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct ReferencePicture {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> dib;   // bottom-up rows of blue, green, red, padded to 4 bytes
};

ReferencePicture ReferenceDecodeJpeg(const uint8_t* data, size_t size);
