// DEFLATE: zlib's streams of every level, strategy, window and flushing, cut and read in any sizes, as zlib
// put them in; hand-made streams for what zlib never writes; every refusal as one table; checksums as zlib's.
#include "harness.h"

#include "deflate_writer.h"
#include "imaging/checksum.h"
#include "inflate_run.h"

namespace {

// `want` bytes in reads of `read`, the input cut into pieces of the given sizes (in turn, again and again).
InflateRun Inflate(const Bytes& z, size_t want, std::vector<size_t> pieces = { SIZE_MAX }, size_t read = SIZE_MAX)
{
    const InflateRun r = RunInflate(z.data(), z.size(), want, pieces, { read });
    EXPECT_FALSE(r.leaked);
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

// Parts each ended with a flush, level and strategy changed between them: stored, fixed, dynamic and empty
// blocks in any order. The stream cut anywhere inside the data is an error, never a wrong result.
TEST(Inflate, AsZlibForEveryLevelStrategyWindowFlushAndCut)
{
    const int kFlush[] = { Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK };
    Rng r{ 31 };
    for (int i = 0; i < 160; ++i) {
        const Bytes data = TestData(i % 4, 1 + (r(4) ? r(3000) : r(70000)), r);
        z_stream z{};
        deflateInit2(&z, r(10), Z_DEFLATED, 9 + r(7), 1 + r(9), r(5));
        const size_t part = r(2) ? data.size() + 1 : 1 + r(5000);
        const int flush = kFlush[r(5)];
        Bytes zs(data.size() * 17 / 16 + 16 * (data.size() / part) + 1024);
        z.next_out = zs.data(), z.avail_out = (uInt)zs.size();
        for (size_t pos = 0; pos < data.size() || !pos; pos += part) {
            if (pos)
                deflateParams(&z, r(10), r(5));
            z.next_in = const_cast<Bytef*>(data.data() + pos), z.avail_in = (uInt)std::min(part, data.size() - pos);
            EXPECT_NE(deflate(&z, pos + part >= data.size() ? Z_FINISH : flush), Z_STREAM_ERROR);
        }
        zs.resize(z.total_out), deflateEnd(&z);
        const std::vector<size_t> pieces = { 1 + r(9), r(3), 1 + r(300), r(2) ? 1 + r(7) : 1 + r(9000) };
        const InflateRun res = Inflate(zs, data.size(), pieces, r(3) ? 1 + r(r(2) ? 300 : 5000) : SIZE_MAX);
        ASSERT_TRUE(res.out == data && res.finish == 1) << i << ": error " << res.error;
        const size_t cut = r(zs.size());
        const InflateRun cutOff = Inflate(Bytes(zs.begin(), zs.begin() + cut), data.size(), { 1 + r(50) });
        EXPECT_TRUE(cutOff.error == INFLATE_ERR_TRUNCATED || (!cutOff.error && cut + 8 >= zs.size())) << i << " cut at " << cut;
        EXPECT_TRUE(cutOff.out.size() < data.size() || (cutOff.out == data && cutOff.finish == 0)) << i << " cut " << cut;
    }
    // Cut anywhere in a dynamic block's header: cut short, never damaged.
    const Bytes text = Zlib(TestData(0, 5000, r), 9);
    for (size_t cut = 2; cut < 120; ++cut)
        EXPECT_EQ(Inflate(Bytes(text.begin(), text.begin() + cut), 5000, { 1 + cut % 7 }).error, INFLATE_ERR_TRUNCATED) << cut;
}

// Every refusal of the decompressor, and streams at the edges of the rules that must decode.
TEST(Inflate, Refusals)
{
    const Bytes a = { 'a' }, aaaa = { 'a', 'a', 'a', 'a' }, aba = { 'a', 'b', 'a', 'a', 'b', 'a' }, x00 = { 'x', 0, 0, 'x', 0, 0 };
    auto header = [&](Bytes h) { Bytes z = Deflate().Fixed().Body({ 'a', 256 }, a); return std::copy(h.begin(), h.end(), z.begin()), z; };
    auto stored = [](int nlen) { return Deflate().Put(1, 3).Put(0, 5).Put(1, 16).Put(nlen, 16).Put('a', 8).Body({}, { 'a' }); };
    // Literal 'a' and end of block of 1 bit each (zeros around them), and one distance code of 1 bit.
    const std::vector<std::pair<int, int>> good = { { 18, 86 }, { 1, 0 }, { 18, 127 }, { 18, 9 }, { 1, 0 }, { 1, 0 } };
    auto with = [&](std::vector<std::pair<int, int>> seq, int at, int drop, std::vector<std::pair<int, int>> add) {
        return seq.erase(seq.begin() + at, seq.begin() + at + drop), seq.insert(seq.begin() + at, add.begin(), add.end()), seq;
    };
    const DWORD kOk = INFLATE_OK, kData = INFLATE_ERR_DATA;
    auto Fixed = [] { return Deflate().Fixed(); };
    auto Dyn = [](int hlit, int hdist, std::vector<std::pair<int, int>> seq) { return Deflate().Dynamic(hlit, hdist, seq); };
    Rng rz{ 9 };
    Bytes z = Zlib(TestData(0, 1000, rz), 6), badSum = z;
    badSum.back() ^= 0x40;
    const struct { const char* what; Bytes z, out; DWORD error; } rows[] = {  // a refusal's out: only its size counts
        { "a fixed block", Fixed().Body({ 'a', 'b', 'a', 256 }, { 'a', 'b', 'a' }), { 'a', 'b', 'a' }, kOk },
        { "header 78 01", header({ 0x78, 0x01 }), a, kOk }, { "header 78 DA", header({ 0x78, 0xDA }), a, kOk },
        { "a 256-byte window", header({ 0x08, 0x1D }), a, kOk }, { "CINFO 8", header({ 0x88, 0x1C }), a, kData },
        { "CM 7", header({ 0x77, 0x09 }), a, kData }, { "a preset dictionary", header({ 0x78, 0xBB }), a, kData },
        { "check bits wrong", header({ 0x78, 0x9D }), a, kData },
        { "one byte", { 0x78 }, a, INFLATE_ERR_TRUNCATED }, { "no byte", {}, a, INFLATE_ERR_TRUNCATED },
        { "Adler-32 wrong", badSum, Bytes(1000), INFLATE_ERR_CHECKSUM }, { "block type 3", Deflate().Put(1, 1).Put(3, 2).Body({}, a), a, kData },
        { "a stored block", stored(0xFFFE), a, kOk }, { "NLEN not LEN's complement", stored(0xFFFF), a, kData },
        { "length symbol 286", Fixed().Body({ 'a', 286, 256 }, aaaa), aaaa, kData },
        { "length symbol 287", Fixed().Body({ 'a', 287, 256 }, aaaa), aaaa, kData },
        { "distance symbol 30", Fixed().Body({ 'a', 257, 1030, 256 }, aaaa), aaaa, kData },
        { "distance symbol 31", Fixed().Body({ 'a', 257, 1031, 256 }, aaaa), aaaa, kData },
        { "a distance before the first byte reads zeros", Fixed().Body({ 'x', 259, 1002, 256 }, x00), x00, kOk },
        { "a dynamic block", Dyn(257, 1, good).Body({ 'a', 256 }, a), a, kOk },
        { "16 with no length before it", Dyn(257, 1, with(good, 0, 0, { { 16, 0 } })).Body({}, a), a, kData },
        { "no end-of-block code", Dyn(257, 1, with(good, 3, 2, { { 18, 10 } })).Body({}, a), a, kData },
        { "three codes of 1 bit", Dyn(257, 1, with(good, 2, 2, { { 1, 0 }, { 18, 127 }, { 18, 8 } })).Body({}, a), a, kData },
        { "an incomplete code", Dyn(257, 1, with(good, 1, 1, { { 2, 0 } })).Body({}, a), a, kData },
        { "an incomplete code-length code", Deflate().Dynamic(257, 1, good, std::vector<int>(19, 5)).Body({}, a), a, kData },
        { "bits of no distance", Dyn(258, 1, with(good, 4, 1, { { 2, 0 }, { 2, 0 } })).Body({ 'a', 257, -1 }, aaaa), aaaa, kData },
        // Repeats from one length list into the other: 18 zeros over 258 to 285 and distances 0 and 1; 16
        // repeats 284's length over 285 and distances 0 and 1.
        { "an 18 from one list into the other",
          Dyn(286, 30, { { 18, 86 }, { 2, 0 }, { 2, 0 }, { 18, 127 }, { 18, 8 }, { 2, 0 }, { 2, 0 }, { 18, 19 }, { 1, 0 }, { 1, 0 },
                         { 18, 15 } }).Body({ 'a', 'b', 'a', 257, 1002, 256 }, aba), aba, kOk },
        { "a 16 from one list into the other",
          Dyn(286, 30, { { 18, 86 }, { 2, 0 }, { 2, 0 }, { 18, 127 }, { 18, 8 }, { 2, 0 }, { 3, 0 }, { 18, 15 }, { 4, 0 }, { 16, 0 },
                         { 1, 0 }, { 2, 0 }, { 3, 0 }, { 18, 14 } }).Body({ 'a', 'b', 'a', 257, 1002, 256 }, aba), aba, kOk },
        { "a repeat past the end stops there", Dyn(257, 30, with(good, 6, 0, { { 18, 127 } })).Body({ 'a', 256 }, a), a, kOk },
    };
    for (const auto& row : rows) {
        const InflateRun res = Inflate(row.z, row.out.size(), { 1 });
        EXPECT_TRUE(res.error == row.error && (row.error || (res.out == row.out && res.finish == 1))) << row.what << ": " << res.error;
    }
    const InflateRun more = Inflate(z, 1010);  // more than the stream holds: short, without an error
    EXPECT_TRUE(more.out.size() == 1000 && more.error == 0);
    INFLATE_STATE s{};
    BYTE out[4];
    NativeWin_FailAllocation(0);
    EXPECT_FALSE(Inflate_Start(&s, z.data(), z.data() + z.size(), nullptr, nullptr));
    NativeWin_FailAllocation(-1);
    EXPECT_TRUE(s.error == INFLATE_ERR_MEMORY && Inflate_Read(&s, out, 4, 0) == 0);
    Inflate_End(&s);
}

// Two literals and a longest match in every step, read in sizes that end a read at every place inside a
// step: what was asked for is all a read writes, whatever part of the step is left for the next.
TEST(Inflate, ReadsEndingInsideAStep)
{
    std::vector<int> syms;
    Bytes out;
    for (int i = 0; i < 60; ++i)
        syms.insert(syms.end(), { 'a', 'b', 285, 1000 }), out.push_back('a'), out.resize(out.size() + 259, 'b');
    syms.push_back(256);
    const Bytes z = Deflate().Fixed().Body(syms, out);
    for (size_t read = 2; read < 2 + 3 * 260; ++read) {
        const InflateRun res = Inflate(z, out.size(), { SIZE_MAX }, read);
        ASSERT_TRUE(res.out == out && res.finish == 1) << "reads of " << read;
    }
}

TEST(Inflate, ChecksumsAsZlib)
{
    Rng r{ 77 };
    Bytes data = TestData(1, 100000, r);
    std::fill_n(data.begin() + 30000, 70000, 0xFF);  // the largest sums
    for (size_t start : { 0, 1, 3, 7, 8, 15, 29990 })
        for (size_t len : { 0, 1, 7, 8, 15, 16, 17, 63, 64, 65, 100, 5551, 5552, 5553, 11104, 65536, 70000 })
            ASSERT_TRUE(Crc32Update(0, &data[start], len) == crc32(0, &data[start], (uInt)len) &&
                        Adler32Update(1, &data[start], len) == adler32(1, &data[start], (uInt)len)) << start << " " << len;
}

} // namespace
