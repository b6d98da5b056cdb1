// libFuzzer target of one decoder (QX_FUZZ_TYPE): every input ends in a well-formed picture or a refusal,
// never a crash, hang, sanitizer report or leak. Almost every mutation of a PNG breaks a chunk CRC, so a PNG
// is decoded twice: as it is, and with every CRC made right, to reach the chunk rules, inflate and filters.
#include "decode_check.h"

#include "imaging/checksum.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) { return NativeWin_SetAllocationLimit(kFuzzAllocationLimit), 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!DecodeChecked(QX_FUZZ_TYPE, data, size).wrong.empty())
        abort();
    std::vector<uint8_t> fixed(data, data + size);
    bool changed = false;
    for (size_t pos = 8, len; QX_FUZZ_TYPE == IMG_TYPE_PNG && pos + 12 <= fixed.size(); pos += 12 + len) {
        len = (size_t)fixed[pos] << 24 | fixed[pos + 1] << 16 | fixed[pos + 2] << 8 | fixed[pos + 3];
        if (len > fixed.size() - pos - 12)
            break;
        const DWORD crc = Crc32Update(0, &fixed[pos + 4], len + 4);
        const uint8_t be[4] = { (uint8_t)(crc >> 24), (uint8_t)(crc >> 16), (uint8_t)(crc >> 8), (uint8_t)crc };
        changed |= memcmp(&fixed[pos + 8 + len], be, 4) != 0;
        memcpy(&fixed[pos + 8 + len], be, 4);
    }
    if (changed && !DecodeChecked(QX_FUZZ_TYPE, fixed.data(), fixed.size()).wrong.empty())
        abort();
    return 0;
}
