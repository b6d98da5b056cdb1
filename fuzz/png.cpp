// libFuzzer target: the PNG decoder through Img_Decode. Every input must end
// in a picture or a refusal, never in a crash, a hang, a sanitizer report or
// a leaked heap block or GDI object.
//
// Almost every mutation of a PNG file breaks a chunk CRC, which the decoder
// rightly refuses at once. So each input is decoded twice: as it is, and with
// every CRC it declares made right, which lets the mutations reach the chunk
// rules, the decompressor and the row filters.
#include "decode_harness.h"

#include "imaging/checksum.h"

#include <vector>

namespace {

// 1, 4 or 8 bits with a colour table (a palette of the same colours), or 24
// without.
bool WellFormed(const IMG_INFO& info)
{
    const WORD bits = info.pBitmapInfo->bmiHeader.biBitCount;
    return (bits == 1 || bits == 4 || bits == 8 || bits == 24) && (bits == 24) == (info.nColors == 0) &&
           (info.nColors != 0) == (info.pLogPalette != nullptr) && info.nColors <= (1u << (bits & 15));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDecode(IMG_TYPE_PNG, data, size, WellFormed);

    std::vector<uint8_t> fixed(data, data + size);
    bool changed = false;
    for (size_t pos = 8; pos + 12 <= fixed.size();) {
        const uint32_t len = (uint32_t)fixed[pos] << 24 | fixed[pos + 1] << 16 | fixed[pos + 2] << 8 | fixed[pos + 3];
        if (len > fixed.size() - pos - 12)
            break;
        const uint32_t crc = Crc32Update(0, &fixed[pos + 4], len + 4);
        uint8_t* stored = &fixed[pos + 8 + len];
        const uint8_t be[4] = { (uint8_t)(crc >> 24), (uint8_t)(crc >> 16), (uint8_t)(crc >> 8), (uint8_t)crc };
        if (memcmp(stored, be, 4) != 0) {
            memcpy(stored, be, 4);
            changed = true;
        }
        pos += 12 + len;
    }
    if (changed)
        FuzzDecode(IMG_TYPE_PNG, fixed.data(), fixed.size(), WellFormed);
    return 0;
}
