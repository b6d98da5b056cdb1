// The pull decompressor as the fuzz target and the tests drive it: the input in exact-size heap copies of the
// sizes given in turn (again and again; 0 an empty piece), read in the sizes given in turn (the last repeating).
#pragma once
#include <windows.h>

#include "imaging/inflate.h"

#include <algorithm>
#include <memory>
#include <vector>

struct InflateRun {
    std::vector<uint8_t> out;
    DWORD error = 0;
    int finish = -2;  // Inflate_Finish's answer, when there was no error
    bool leaked = false;
};

inline InflateRun RunInflate(const uint8_t* z, size_t size, size_t want, std::vector<size_t> pieces, std::vector<size_t> reads)
{
    struct Feed {
        const uint8_t* z;
        size_t size, pos = 0, i = 0;
        std::vector<size_t> pieces;
        std::vector<std::unique_ptr<uint8_t[]>> held;
        static int More(void* context, const BYTE** next, const BYTE** end)
        {
            Feed& f = *static_cast<Feed*>(context);
            if (f.pos >= f.size)
                return 0;
            const size_t n = std::min(f.pieces[f.i++ % f.pieces.size()], f.size - f.pos);
            f.held.emplace_back(new uint8_t[n]), std::copy_n(f.z + f.pos, n, f.held.back().get());
            *next = f.held.back().get(), *end = *next + n, f.pos += n;
            return 1;
        }
    } feed{ z, size, 0, 0, pieces };
    const long before = NativeWin_Counts().heapBlocks;
    InflateRun r;
    INFLATE_STATE s{};
    const BYTE *next = nullptr, *end = nullptr;
    Feed::More(&feed, &next, &end);
    if (Inflate_Start(&s, next, end, Feed::More, &feed)) {
        r.out.resize(want + INFLATE_SLACK);
        size_t got = 0;
        for (DWORD n = 1, ask = 1, i = 0; got < want && n == ask; got += n)
            ask = (DWORD)std::min(reads[std::min<size_t>(i++, reads.size() - 1)], want - got), n = Inflate_Read(&s, &r.out[got], ask, INFLATE_SLACK);
        r.out.resize(got), r.finish = s.error ? -2 : Inflate_Finish(&s);
    }
    r.error = s.error, Inflate_End(&s);
    r.leaked = NativeWin_Counts().heapBlocks != before;
    return r;
}
