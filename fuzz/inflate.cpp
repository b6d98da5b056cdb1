// libFuzzer target: the pull decompressor alone. The first two bytes of an
// input choose how the rest (a zlib stream) is cut into pieces and how much
// each read asks for; the stream is decoded once whole and once cut that way,
// and the two must agree: same bytes, same verdict, same trailer check.
// Otherwise, no crash, hang, sanitizer report or leak.
#include <windows.h>

#include "imaging/inflate.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMaxOutput = 1u << 16;
// Small reads (down to one byte) for the first part of the output, where the
// pieces and reads fall on every kind of boundary; larger ones after that, to
// keep each run short.
constexpr size_t kSmallReadSpan = 2048;

struct Pieces {
    const uint8_t* data;
    size_t size;
    size_t step;
    size_t pos;
    size_t calls;
    // Every third piece is empty, as an IDAT chunk of length 0 would be.
    static int More(void* context, const BYTE** next, const BYTE** end)
    {
        Pieces* p = static_cast<Pieces*>(context);
        if (p->pos >= p->size)
            return 0;
        size_t n = ++p->calls % 3 == 0 ? 0 : p->step;
        if (n > p->size - p->pos)
            n = p->size - p->pos;
        *next = p->data + p->pos;
        *end = *next + n;
        p->pos += n;
        return 1;
    }
};

struct Outcome {
    uint8_t* out;
    size_t size = 0;
    bool failed = false;
    int finish = -2;
};

uint8_t g_whole[kMaxOutput + INFLATE_SLACK];
uint8_t g_cut[kMaxOutput + INFLATE_SLACK];

Outcome Run(uint8_t* buffer, const uint8_t* z, size_t size, size_t pieceSize, size_t readSize)
{
    Outcome o;
    o.out = buffer;
    Pieces p{ z, size, pieceSize, 0, 0 };
    INFLATE_STATE s = {};
    const BYTE* next = nullptr;
    const BYTE* end = nullptr;
    Pieces::More(&p, &next, &end);
    size_t got = 0;
    if (Inflate_Start(&s, next, end, Pieces::More, &p)) {
        while (got < kMaxOutput) {
            size_t want = got < kSmallReadSpan || readSize > 4096 ? readSize : 4096;
            if (want > kMaxOutput - got)
                want = kMaxOutput - got;
            DWORD n = Inflate_Read(&s, o.out + got, (DWORD)want, INFLATE_SLACK);
            got += n;
            if (n != want)
                break;
        }
        if (!s.error)
            o.finish = Inflate_Finish(&s);
    }
    o.failed = s.error != INFLATE_OK;
    o.size = got;
    Inflate_End(&s);
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static const size_t kPieces[8] = { 1, 2, 3, 5, 13, 64, 255, 4096 };
    static const size_t kReads[8] = { 1, 2, 7, 64, 258, 1000, 5761, 65536 };
    const size_t pieceSize = kPieces[data[0] & 7];
    const size_t readSize = kReads[data[1] & 7];
    data += 2;
    size -= 2;

    Outcome whole = Run(g_whole, data, size, size ? size : 1, kMaxOutput);
    Outcome cut = Run(g_cut, data, size, pieceSize, readSize);
    if (whole.failed != cut.failed)
        abort();
    if (!whole.failed &&
        (whole.size != cut.size || memcmp(whole.out, cut.out, whole.size) != 0 || whole.finish != cut.finish))
        abort();
    NativeWinCounts live = NativeWin_Counts();
    if (live.heapBlocks != 0 || live.gdiObjects != 0)
        abort();
    return 0;
}
