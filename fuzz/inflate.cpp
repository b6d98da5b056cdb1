// libFuzzer target: the pull decompressor alone. The first two bytes choose how the rest (a zlib stream) is
// cut and read; decoded whole and cut, the two must agree in bytes, verdict and trailer check.
#include "inflate_run.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // Every third piece empty; small reads over the first 2 KB of output, larger ones after to keep runs short.
    static const size_t kPieces[8] = { 1, 2, 3, 5, 13, 64, 255, 4096 };
    static const size_t kReads[8] = { 1, 2, 7, 64, 258, 1000, 5761, 65536 };
    const size_t piece = kPieces[data[0] & 7], read = kReads[data[1] & 7];
    std::vector<size_t> reads(read < 4096 ? 2048 / read + 1 : 1, read);
    reads.push_back(std::max<size_t>(read, 4096));
    const InflateRun whole = RunInflate(data + 2, size - 2, 1 << 16, { size }, { 1 << 16 });
    const InflateRun cut = RunInflate(data + 2, size - 2, 1 << 16, { piece, piece, 0 }, reads);
    if (whole.leaked || cut.leaked || (whole.error != 0) != (cut.error != 0) ||
        (!whole.error && (whole.out != cut.out || whole.finish != cut.finish)))
        abort();
    return 0;
}
