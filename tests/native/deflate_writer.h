// Hand-made zlib streams for the decompressor's tests: what zlib never writes.
#pragma once
#include "harness.h"

// A zlib stream written bit by bit: values least significant bit first, canonical Huffman codes most
// significant first, with the lengths the block's header gives.
struct Deflate {
    Bytes b = { 0x78, 0x9C };
    int n = 0;
    std::vector<int> lit, dist;
    Deflate& Put(uint32_t v, int count)
    {
        for (int i = 0; i < count; ++i, ++n)
            b.resize(n / 8 + 3), b.back() |= (v >> i & 1) << n % 8;
        return *this;
    }
    Deflate& Sym(const std::vector<int>& lengths, int sym)
    {
        uint32_t code = 0;
        for (int len = 1; len < lengths[sym]; ++len, code <<= 1)
            code += std::count(lengths.begin(), lengths.end(), len);
        code += std::count(lengths.begin(), lengths.begin() + sym, lengths[sym]);
        for (int i = lengths[sym] - 1; i >= 0; --i)
            Put(code >> i, 1);
        return *this;
    }
    Deflate& Fixed()
    {
        lit.assign(288, 8), dist.assign(32, 5), std::fill(lit.begin() + 144, lit.begin() + 256, 9);
        return std::fill(lit.begin() + 256, lit.begin() + 280, 7), Put(1, 1).Put(1, 2);
    }
    // All 19 code-length code lengths (by default a complete code), then the code-length symbols and extras.
    Deflate& Dynamic(int hlit, int hdist, const std::vector<std::pair<int, int>>& seq,
                     std::vector<int> pre = { 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 4 })
    {
        Put(1, 1).Put(2, 2).Put(hlit - 257, 5).Put(hdist - 1, 5).Put(15, 4);
        for (int s : { 16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15 })
            Put(pre[s], 3);
        std::vector<int> all;
        for (auto [sym, extra] : seq) {
            Sym(pre, sym).Put(extra, sym == 16 ? 2 : sym == 17 ? 3 : sym == 18 ? 7 : 0);
            all.insert(all.end(), sym < 16 ? 1 : extra + (sym == 18 ? 11 : 3), sym < 16 ? sym : sym == 16 && !all.empty() ? all.back() : 0);
        }
        all.resize(hlit + hdist), lit.assign(all.begin(), all.begin() + hlit), dist.assign(all.begin() + hlit, all.end());
        return *this;
    }
    // Literals and lengths, distances from 1000, -1 for a 1 bit and -2 for a 0 bit.
    Bytes Body(std::vector<int> syms, const Bytes& out)
    {
        for (int s : syms)
            s < 0 ? Put(s == -1, 1) : s < 1000 ? Sym(lit, s) : Sym(dist, s - 1000);
        return b.resize(b.size() + 4), Put32(b, b.size() - 4, adler32(1, out.data(), (uInt)out.size()), true), b;
    }
};
