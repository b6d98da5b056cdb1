// Building blocks for hand-made JPEG streams in the tests: fixed Huffman
// tables whose codes are easy to write, and writers for DC differences and
// AC symbols.
#pragma once
#include "jpeg_fixtures.h"

#include <algorithm>

// DC table 0: categories 0 to 15 as 5-bit codes equal to the category.
// AC table 0: the symbols below as 8-bit codes equal to their index.
inline const std::vector<int>& HandAcSymbols()
{
    static const std::vector<int> symbols = [] {
        std::vector<int> s = { 0x00, 0xF0 };
        for (int r = 0; r < 15; ++r) {
            for (int size = 1; size <= 10; ++size)
                s.push_back(r << 4 | size);
        }
        for (int r = 1; r < 15; ++r)
            s.push_back(r << 4);   // end-of-band runs of progressive scans
        s.push_back(0xF1);
        return s;
    }();
    return symbols;
}

inline void HandTables(StreamWriter& w)
{
    std::vector<int> dc;
    for (int i = 0; i <= 15; ++i)
        dc.push_back(i);
    w.Dht(0, 0, dc, 5);
    w.Dht(1, 0, HandAcSymbols(), 8);
}

inline int Category(int v)
{
    int s = 0;
    for (int a = v < 0 ? -v : v; a; a >>= 1)
        ++s;
    return s;
}

inline void PutExtra(StreamWriter& w, int v, int s)
{
    if (s)
        w.Bits((uint32_t)(v > 0 ? v : v + (1 << s) - 1), s);
}

inline void PutDc(StreamWriter& w, int diff)
{
    int s = Category(diff);
    w.Bits((uint32_t)s, 5);
    PutExtra(w, diff, s);
}

inline void PutAcSymbol(StreamWriter& w, int symbol)
{
    const std::vector<int>& s = HandAcSymbols();
    w.Bits((uint32_t)(std::find(s.begin(), s.end(), symbol) - s.begin()), 8);
}

inline void PutAc(StreamWriter& w, int run, int value)
{
    int s = Category(value);
    PutAcSymbol(w, run << 4 | s);
    PutExtra(w, value, s);
}

inline void PutEob(StreamWriter& w) { PutAcSymbol(w, 0x00); }

// SOI, JFIF, quantisation table 0 of `q`, the hand tables.
inline StreamWriter HandStart(int q = 8)
{
    StreamWriter w;
    w.Soi();
    w.Jfif();
    w.Dqt(0, q);
    HandTables(w);
    return w;
}

// A greyscale baseline picture whose blocks are DC-only with these DC values
// (differences are worked out here), blocks in row order.
inline Bytes HandGrey(int width, int height, const std::vector<int>& dcValues, int q = 8)
{
    StreamWriter w = HandStart(q);
    w.Sof(0xC0, width, height, { { 1, 1, 1, 0 } });
    w.Sos({ { 1, 0, 0 } }, 0, 63, 0, 0);
    int pred = 0;
    for (int dc : dcValues) {
        PutDc(w, dc - pred);
        pred = dc;
        PutEob(w);
    }
    w.Flush();
    w.Eoi();
    return w.bytes;
}
