// DEFLATE: zlib's streams of every level, strategy, window and flushing,
// cut into any pieces and read in any sizes, come out as zlib put them in;
// hand-made streams for what zlib's encoder never writes; every refusal as
// one table; the two checksums as zlib computes them.
#include "harness.h"

#include "imaging/checksum.h"
#include "imaging/inflate.h"

#include <memory>

namespace {

struct Result {
    Bytes out;
    DWORD error = 0;
    int finish = -2;  // Inflate_Finish's answer, when every read was whole
};

// Decodes `want` bytes in reads of `read`, the input cut into pieces of the
// given sizes (the last repeating), each an exact-size heap block.
Result Inflate(const Bytes& z, size_t want, std::vector<size_t> sizes = { SIZE_MAX }, size_t read = SIZE_MAX)
{
    struct Pieces {
        const Bytes& z;
        std::vector<size_t> sizes;
        size_t pos = 0, i = 0;
        std::vector<std::unique_ptr<uint8_t[]>> held;
        static int More(void* context, const BYTE** next, const BYTE** end)
        {
            Pieces& p = *static_cast<Pieces*>(context);
            if (p.pos >= p.z.size())
                return 0;
            const size_t n = std::min(p.sizes[std::min(p.i++, p.sizes.size() - 1)], p.z.size() - p.pos);
            p.held.emplace_back(new uint8_t[n]);
            std::copy_n(&p.z[p.pos], n, p.held.back().get());
            *next = p.held.back().get(), *end = *next + n, p.pos += n;
            return 1;
        }
    } p{ z, sizes };
    const NativeWinCounts before = NativeWin_Counts();
    Result r;
    INFLATE_STATE s{};
    const BYTE *next = nullptr, *end = nullptr;
    Pieces::More(&p, &next, &end);
    if (Inflate_Start(&s, next, end, Pieces::More, &p)) {
        r.out.resize(want + INFLATE_SLACK);
        size_t got = 0;
        for (DWORD n = 1; got < want && n;) {
            const DWORD ask = (DWORD)std::min(read, want - got);
            got += n = Inflate_Read(&s, &r.out[got], ask, got + ask + INFLATE_SLACK <= r.out.size() ? INFLATE_SLACK : 0);
            n = n == ask;
        }
        r.out.resize(got);
        if (got == want && !s.error)
            r.finish = Inflate_Finish(&s);
    }
    r.error = s.error;
    Inflate_End(&s);
    EXPECT_EQ(NativeWin_Counts().heapBlocks, before.heapBlocks);
    return r;
}

// Text-like, incompressible, runs and short periods, or image-like.
Bytes TestData(int kind, size_t size, Rng& r)
{
    Bytes d(size);
    for (size_t i = 0; i < size; ++i)
        d[i] = kind == 0   ? "the quick brown fox jumps over lazy dogs "[(i * 7 + r(3)) % 41]
               : kind == 1 ? (uint8_t)r(256)
               : kind == 2 ? (uint8_t)((i / 300) % 2 ? i % ((i / 1000) % 7 + 1) : 'x')
                           : (uint8_t)((i % 997) / 4 + r(8));
    return d;
}

TEST(Inflate, AsZlibForEveryLevelStrategyWindowFlushAndCut)
{
    const int kFlush[] = { Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK };
    Rng r{ 31 };
    for (int i = 0; i < 160; ++i) {
        const Bytes data = TestData(i % 4, r(4) ? r(3000) : r(70000), r);
        // Parts each ended with a flush, level and strategy changed between
        // them: stored, fixed and dynamic blocks, empty ones, in any order.
        z_stream z{};
        deflateInit2(&z, r(10), Z_DEFLATED, 9 + r(7), 1 + r(9), r(5));
        const size_t part = r(2) ? data.size() + 1 : 1 + r(5000);
        const int flush = kFlush[r(5)];
        Bytes zs(data.size() * 17 / 16 + 16 * (data.size() / part) + 1024);
        z.next_out = zs.data(), z.avail_out = (uInt)zs.size();
        for (size_t pos = 0;; pos += part) {
            if (pos)
                deflateParams(&z, r(10), r(5));
            z.next_in = const_cast<Bytef*>(data.data() + pos), z.avail_in = (uInt)std::min(part, data.size() - pos);
            const bool last = pos + part >= data.size();
            ASSERT_EQ(deflate(&z, last ? Z_FINISH : flush), last ? Z_STREAM_END : Z_OK);
            if (last)
                break;
        }
        zs.resize(z.total_out);
        deflateEnd(&z);
        const std::vector<size_t> pieces = { 1 + r(9), r(3), 1 + r(300), r(2) ? 1 + r(7) : 1 + r(9000) };
        const Result res = Inflate(zs, data.size(), pieces, r(3) ? 1 + r(300) : SIZE_MAX);
        ASSERT_TRUE(res.out == data && res.finish == 1) << i << ": error " << res.error;
    }
}

TEST(Inflate, CutAnywhereNeverAWrongResult)
{
    Rng r{ 5 };
    const Bytes data = TestData(3, 5000, r), z = Zlib(data, 6);
    for (size_t n = 0; n < z.size(); ++n) {
        const Result res = Inflate(Bytes(z.begin(), z.begin() + n), data.size(), { 50 });
        if (n + 8 < z.size())  // the data cut: an error (the last bytes may hold only the end of block)
            EXPECT_NE(res.error, 0u) << n;
        if (res.out.size() == data.size())
            EXPECT_TRUE(res.out == data && res.finish == 0) << n;  // the trailer not reached
    }
    Bytes bad = z;
    bad.back() ^= 0x40;
    const Result wrong = Inflate(bad, data.size());
    EXPECT_TRUE(wrong.finish == -1 && wrong.error == INFLATE_ERR_CHECKSUM);
    const Result more = Inflate(z, data.size() + 10);  // asking for more ends short, without an error
    EXPECT_TRUE(more.out == data && more.error == 0);
}

// ---- hand-made streams ---------------------------------------------------------------

std::vector<uint32_t> Canonical(const std::vector<int>& lengths)
{
    std::vector<uint32_t> code(lengths.size());
    uint32_t next = 0;
    for (int len = 1; len <= 15; ++len, next <<= 1)
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len)
                code[s] = next++;
    return code;
}

// A zlib stream written bit by bit: values least significant bit first,
// Huffman codes most significant first.
struct Deflate {
    Bytes b = { 0x78, 0x9C };
    int n = 0;
    Deflate& Put(uint32_t v, int count)
    {
        for (int i = 0; i < count; ++i, ++n) {
            if (n % 8 == 0)
                b.push_back(0);
            b.back() |= (v >> i & 1) << n % 8;
        }
        return *this;
    }
    Deflate& Sym(const std::vector<int>& lengths, int sym)
    {
        for (int i = lengths[sym] - 1; i >= 0; --i)
            Put(Canonical(lengths)[sym] >> i, 1);
        return *this;
    }
    // Dynamic block header: all 19 code-length code lengths, then the
    // code-length symbols (with their extra bits) as given.
    Deflate& Header(int hlit, int hdist, const std::vector<int>& pre, const std::vector<std::pair<int, int>>& seq)
    {
        Put(1, 1).Put(2, 2).Put(hlit - 257, 5).Put(hdist - 1, 5).Put(15, 4);
        for (int s : { 16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15 })
            Put(pre[s], 3);
        for (auto [sym, extra] : seq)
            Sym(pre, sym).Put(extra, sym == 16 ? 2 : sym == 17 ? 3 : sym == 18 ? 7 : 0);
        return *this;
    }
    Bytes Done(const Bytes& out)
    {
        b.resize(b.size() + 4);
        return Put32(b, b.size() - 4, adler32(1, out.data(), (uInt)out.size()), true), b;
    }
};

std::vector<int> Lengths(int n, std::vector<std::pair<int, int>> set)
{
    std::vector<int> l(n);
    for (auto [s, len] : set)
        l[s] = len;
    return l;
}

// Every refusal of the decompressor, and streams at the edges of the rules
// that must decode, as one table.
TEST(Inflate, Refusals)
{
    std::vector<int> fixed(288, 8), fixedDist(32, 5), pre(19, 4);
    for (int i = 144; i < 280; ++i)
        fixed[i] = i < 256 ? 9 : 7;
    for (int s : { 13, 14, 15, 0, 16, 17 })
        pre[s] = 5;  // 13 codes of 4 bits and 6 of 5: complete
    const Bytes a = { 'a' };
    auto fix = [&](std::vector<int> syms, Bytes out) {
        Deflate d;
        d.Put(1, 1).Put(1, 2);
        for (int s : syms)
            s < 1000 ? d.Sym(fixed, s) : d.Sym(fixedDist, s - 1000);
        return d.Sym(fixed, 256).Done(out);
    };
    auto header = [&](Bytes h) { Bytes z = fix({ 'a' }, a); return std::copy(h.begin(), h.end(), z.begin()), z; };
    // 'a' and end of block of 1 bit each, one distance code of 1 bit.
    const std::vector<std::pair<int, int>> good = { { 18, 86 }, { 1, 0 }, { 18, 127 }, { 18, 9 }, { 1, 0 }, { 1, 0 } };
    auto dyn = [&](int hlit, int hdist, std::vector<std::pair<int, int>> seq, std::vector<int> body, Bytes out,
                   std::vector<int> lit = {}, std::vector<int> dist = {}, std::vector<int> p = {}) {
        Deflate d;
        d.Header(hlit, hdist, p.empty() ? pre : p, seq);
        for (int s : body)
            s < 1000 ? d.Sym(lit, s) : d.Sym(dist, s - 1000);
        return d.Done(out);
    };
    const std::vector<int> aEnd = Lengths(257, { { 'a', 1 }, { 256, 1 } });
    // Repeats from the literal/length lengths into the distance lengths: an
    // 18 of 30 zeros over 258..285 and distances 0 and 1; a 16 repeating 284's
    // length over 285 and distances 0 and 1.
    const std::vector<int> lit18 = Lengths(286, { { 'a', 2 }, { 'b', 2 }, { 256, 2 }, { 257, 2 } }),
                           dist18 = Lengths(30, { { 2, 1 }, { 3, 1 } });
    const std::vector<int> lit16 = Lengths(286, { { 'a', 2 }, { 'b', 2 }, { 256, 2 }, { 257, 3 }, { 284, 4 }, { 285, 4 } }),
                           dist16 = Lengths(30, { { 0, 4 }, { 1, 4 }, { 2, 1 }, { 3, 2 }, { 4, 3 } });
    const Bytes aba = { 'a', 'b', 'a', 'a', 'b', 'a' };
    const struct {
        const char* what;
        Bytes z;
        Bytes out;
        DWORD error;
    } rows[] = {
        { "a fixed block", fix({ 'a', 'b', 'c' }, { 'a', 'b', 'c' }), { 'a', 'b', 'c' }, INFLATE_OK },
        { "header 78 01", header({ 0x78, 0x01 }), a, INFLATE_OK },
        { "header 78 DA", header({ 0x78, 0xDA }), a, INFLATE_OK },
        { "a 256-byte window", header({ 0x08, 0x1D }), a, INFLATE_OK },
        { "CINFO 8", header({ 0x88, 0x1C }), a, INFLATE_ERR_DATA },
        { "CM 7", header({ 0x77, 0x09 }), a, INFLATE_ERR_DATA },
        { "a preset dictionary", header({ 0x78, 0xBB }), a, INFLATE_ERR_DATA },
        { "check bits wrong", header({ 0x78, 0x9D }), a, INFLATE_ERR_DATA },
        { "one byte", { 0x78 }, a, INFLATE_ERR_TRUNCATED },
        { "no byte", {}, a, INFLATE_ERR_TRUNCATED },
        { "block type 3", Deflate().Put(1, 1).Put(3, 2).Done(a), a, INFLATE_ERR_DATA },
        { "a stored block", Deflate().Put(1, 3).Put(0, 5).Put(1, 16).Put(0xFFFE, 16).Put('a', 8).Done(a), a, INFLATE_OK },
        { "NLEN not LEN's complement", Deflate().Put(1, 3).Put(0, 5).Put(1, 16).Put(0xFFFF, 16).Put('a', 8).Done(a), a, INFLATE_ERR_DATA },
        { "length symbol 286", fix({ 'a', 286 }, { 'a', 'a', 'a', 'a' }), { 'a', 'a', 'a', 'a' }, INFLATE_ERR_DATA },
        { "length symbol 287", fix({ 'a', 287 }, { 'a', 'a', 'a', 'a' }), { 'a', 'a', 'a', 'a' }, INFLATE_ERR_DATA },
        { "distance symbol 30", fix({ 'a', 257, 1030 }, { 'a', 'a', 'a', 'a' }), { 'a', 'a', 'a', 'a' }, INFLATE_ERR_DATA },
        { "distance symbol 31", fix({ 'a', 257, 1031 }, { 'a', 'a', 'a', 'a' }), { 'a', 'a', 'a', 'a' }, INFLATE_ERR_DATA },
        { "a distance before the first byte reads zeros", fix({ 'x', 259, 1002 }, { 'x', 0, 0, 'x', 0, 0 }), { 'x', 0, 0, 'x', 0, 0 }, INFLATE_OK },
        { "a dynamic block", dyn(257, 1, good, { 'a', 256 }, a, aEnd), a, INFLATE_OK },
        { "16 with no length before it", [&] { auto s = good; s.insert(s.begin(), { 16, 0 }); return dyn(257, 1, s, {}, a); }(), a, INFLATE_ERR_DATA },
        { "no end-of-block code", dyn(257, 1, { { 18, 86 }, { 1, 0 }, { 18, 127 }, { 18, 10 }, { 1, 0 } }, {}, a), a, INFLATE_ERR_DATA },
        { "three codes of 1 bit", dyn(257, 1, { { 18, 86 }, { 1, 0 }, { 1, 0 }, { 18, 127 }, { 18, 8 }, { 1, 0 }, { 1, 0 } }, {}, a), a, INFLATE_ERR_DATA },
        { "an incomplete code", dyn(257, 1, { { 18, 86 }, { 2, 0 }, { 18, 127 }, { 18, 9 }, { 1, 0 }, { 1, 0 } }, {}, a), a, INFLATE_ERR_DATA },
        { "an incomplete code-length code", dyn(257, 1, good, {}, a, {}, {}, std::vector<int>(19, 5)), a, INFLATE_ERR_DATA },
        { "bits no distance code holds", [&] {
             Deflate d;
             d.Header(258, 1, pre, { { 18, 86 }, { 1, 0 }, { 18, 127 }, { 18, 9 }, { 2, 0 }, { 2, 0 }, { 1, 0 } });
             const std::vector<int> lit = Lengths(258, { { 'a', 1 }, { 256, 2 }, { 257, 2 } });
             return d.Sym(lit, 'a').Sym(lit, 257).Put(1, 1).Sym(lit, 256).Done({ 'a', 'a', 'a', 'a' });
         }(), { 'a', 'a', 'a', 'a' }, INFLATE_ERR_DATA },
        { "an 18 from one list into the other",
          dyn(286, 30, { { 18, 86 }, { 2, 0 }, { 2, 0 }, { 18, 127 }, { 18, 8 }, { 2, 0 }, { 2, 0 }, { 18, 19 }, { 1, 0 }, { 1, 0 }, { 18, 15 } },
              { 'a', 'b', 'a', 257, 1002, 256 }, aba, lit18, dist18), aba, INFLATE_OK },
        { "a 16 from one list into the other",
          dyn(286, 30, { { 18, 86 }, { 2, 0 }, { 2, 0 }, { 18, 127 }, { 18, 8 }, { 2, 0 }, { 3, 0 }, { 18, 15 }, { 4, 0 }, { 16, 0 }, { 1, 0 }, { 2, 0 }, { 3, 0 }, { 18, 14 } },
              { 'a', 'b', 'a', 257, 1002, 256 }, aba, lit16, dist16), aba, INFLATE_OK },
        { "a repeat past the end stops there", [&] { auto s = good; s.push_back({ 18, 127 }); return dyn(257, 30, s, { 'a', 256 }, a, aEnd); }(), a, INFLATE_OK },
    };
    for (const auto& row : rows) {
        const Result res = Inflate(row.z, row.out.size(), { 1 });
        EXPECT_EQ(res.error, row.error) << row.what;
        EXPECT_TRUE(row.error || (res.out == row.out && res.finish == 1)) << row.what;
    }
    INFLATE_STATE s{};
    NativeWin_FailAllocation(0);
    EXPECT_FALSE(Inflate_Start(&s, a.data(), a.data() + 1, nullptr, nullptr));
    NativeWin_FailAllocation(-1);
    BYTE out[4];
    EXPECT_TRUE(s.error == INFLATE_ERR_MEMORY && Inflate_Read(&s, out, 4, 0) == 0);
    Inflate_End(&s);
}

TEST(Inflate, ChecksumsAsZlib)
{
    Rng r{ 77 };
    Bytes data = TestData(1, 100000, r);
    std::fill_n(data.begin() + 30000, 70000, 0xFF);  // the largest sums
    for (size_t start : { 0, 1, 3, 7, 8, 15, 29990 })
        for (size_t len : { 0, 1, 7, 8, 15, 16, 17, 63, 64, 65, 100, 5551, 5552, 5553, 11104, 65536, 70000 }) {
            const uint8_t* p = data.data() + start;
            ASSERT_EQ(Crc32Update(0, p, len), crc32(0, p, (uInt)len)) << start << " " << len;
            ASSERT_EQ(Adler32Update(1, p, len), adler32(1, p, (uInt)len)) << start << " " << len;
        }
    DWORD crc = 0, adler = 1;  // in pieces, carrying the value on
    for (size_t pos = 0, n = 1; pos < data.size(); pos += n, n = n * 3 + 1) {
        crc = Crc32Update(crc, &data[pos], std::min(n, data.size() - pos));
        adler = Adler32Update(adler, &data[pos], std::min(n, data.size() - pos));
    }
    EXPECT_TRUE(crc == crc32(0, data.data(), (uInt)data.size()) && adler == adler32(1, data.data(), (uInt)data.size()));
}

} // namespace
