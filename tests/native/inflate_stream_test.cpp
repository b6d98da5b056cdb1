// The pull decompressor: byte-identical to zlib on zlib's own streams in
// every mode, however the input is cut and the output asked for; hand-made
// streams for the block and code rules zlib's encoder never exercises; and
// the two checksums against zlib's.
#include "imaging/checksum.h"
#include "imaging/inflate.h"

#include "png_test_support.h"

using namespace pngtest;

namespace {

// Feeds a stream to the decompressor in pieces of the given sizes (the last
// repeats; 0 gives an empty piece).
struct Pieces {
    const Bytes* data;
    std::vector<size_t> sizes;
    size_t pos = 0;
    size_t index = 0;

    bool Next(const BYTE** next, const BYTE** end)
    {
        if (pos >= data->size())
            return false;
        size_t n = sizes[index < sizes.size() ? index : sizes.size() - 1];
        ++index;
        n = std::min(n, data->size() - pos);
        *next = data->data() + pos;
        *end = *next + n;
        pos += n;
        return true;
    }
    static int More(void* context, const BYTE** next, const BYTE** end)
    {
        return static_cast<Pieces*>(context)->Next(next, end) ? 1 : 0;
    }
};

struct Result {
    bool ok = false;      // every read delivered what it asked for
    Bytes out;
    int finish = -2;      // Inflate_Finish's answer, when reads succeeded
    DWORD error = 0;
};

// Decodes 'expectedSize' bytes in reads of 'readSize'.
Result Inflate(const Bytes& z, size_t expectedSize, std::vector<size_t> pieces = { SIZE_MAX },
               size_t readSize = SIZE_MAX)
{
    Result r;
    Pieces p{ &z, std::move(pieces) };
    INFLATE_STATE s{};
    const BYTE* next = nullptr;
    const BYTE* end = nullptr;
    p.Next(&next, &end);
    if (Inflate_Start(&s, next, end, Pieces::More, &p)) {
        r.out.resize(expectedSize + INFLATE_SLACK);
        size_t got = 0;
        while (got < expectedSize) {
            DWORD want = (DWORD)std::min(readSize, expectedSize - got);
            DWORD n = Inflate_Read(&s, r.out.data() + got, want, got + want + INFLATE_SLACK <= r.out.size() ? INFLATE_SLACK : 0);
            got += n;
            if (n != want)
                break;
        }
        r.out.resize(got);
        r.ok = got == expectedSize && !s.error;
        if (r.ok)
            r.finish = Inflate_Finish(&s);
    }
    r.error = s.error;
    Inflate_End(&s);
    return r;
}

Bytes TestData(int kind, size_t size, uint32_t seed)
{
    Random r(seed);
    Bytes d(size);
    for (size_t i = 0; i < size; ++i) {
        switch (kind) {
        case 0:  // text-like: words from a small vocabulary
            d[i] = "the quick brown fox jumps over lazy dogs "[(i * 7 + r.Next() % 3) % 41];
            break;
        case 1:  // incompressible
            d[i] = r.Byte();
            break;
        case 2:  // long runs and short periods
            d[i] = (uint8_t)((i / 300) % 2 ? (i % ((i / 1000) % 7 + 1)) : 'x');
            break;
        default:  // image-like: smooth rows with noise
            d[i] = (uint8_t)((i % 997) / 4 + (r.Next() % 8));
            break;
        }
    }
    return d;
}

// ---- a small DEFLATE writer for hand-made streams ---------------------------------

class BitWriter {
public:
    void Bits(uint32_t value, int n)
    {
        for (int i = 0; i < n; ++i)
            Bit((value >> i) & 1);
    }
    // A Huffman code: most significant bit first.
    void Code(uint32_t code, int len)
    {
        for (int i = len - 1; i >= 0; --i)
            Bit((code >> i) & 1);
    }
    void AlignToByte()
    {
        while (fill_)
            Bit(0);
    }
    void Byte(uint8_t b)
    {
        AlignToByte();
        out_.push_back(b);
    }
    Bytes Finish()
    {
        AlignToByte();
        return out_;
    }

private:
    void Bit(uint32_t b)
    {
        if (!fill_)
            out_.push_back(0);
        out_.back() |= (uint8_t)(b << fill_);
        fill_ = (fill_ + 1) & 7;
    }
    Bytes out_;
    int fill_ = 0;
};

// Canonical codes (RFC 1951 3.2.2) for a list of code lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths)
{
    int count[16] = {};
    for (int l : lengths)
        ++count[l];
    count[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i])
            codes[i] = next[lengths[i]]++;
    return codes;
}

std::vector<int> FixedLitlenLengths()
{
    std::vector<int> l(288);
    for (int i = 0; i < 288; ++i)
        l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return l;
}

struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
    explicit Code(std::vector<int> l) : lengths(std::move(l)), codes(CanonicalCodes(lengths)) {}
    void Put(BitWriter& w, int sym) const { w.Code(codes[sym], lengths[sym]); }
};

const Code& FixedLitlen()
{
    static const Code c(FixedLitlenLengths());
    return c;
}
const Code& FixedDist()
{
    static const Code c(std::vector<int>(32, 5));
    return c;
}

// Writes a length (3..258) or distance (1..32768) as symbol plus extra bits.
void PutLength(BitWriter& w, const Code& litlen, int length)
{
    static const int base[29] = { 3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258 };
    static const int extra[29] = { 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0 };
    int i = 28;
    while (base[i] > length)
        --i;
    if (length == 258)
        i = 28;
    litlen.Put(w, 257 + i);
    w.Bits(length - base[i], extra[i]);
}

void PutDistance(BitWriter& w, const Code& dist, int distance)
{
    int i = 29;
    int base = 0, extra = 0;
    for (; i >= 0; --i) {
        extra = i < 4 ? 0 : i / 2 - 1;
        base = i < 4 ? i + 1 : ((2 + (i & 1)) << extra) + 1;
        if (base <= distance)
            break;
    }
    dist.Put(w, i);
    w.Bits(distance - base, extra);
}

Bytes Zlib(const Bytes& deflate, const Bytes& expected)
{
    Bytes z = { 0x78, 0x9C };
    z.insert(z.end(), deflate.begin(), deflate.end());
    PutBE32(z, (uint32_t)adler32(1, expected.data(), (uInt)expected.size()));
    return z;
}

// Decodes z in reads of each given size and expects exactly 'expected' and
// a matching trailer.
void ExpectInflates(const Bytes& z, const Bytes& expected, std::vector<size_t> pieces,
                    std::initializer_list<size_t> readSizes)
{
    for (size_t readSize : readSizes) {
        Result r = Inflate(z, expected.size(), pieces, readSize);
        ASSERT_TRUE(r.ok) << "reads of " << readSize << ", error " << r.error;
        EXPECT_TRUE(r.out == expected) << "reads of " << readSize;
        EXPECT_EQ(r.finish, 1) << "reads of " << readSize;
    }
}

// BFINAL and BTYPE of a block header.
void StartBlock(BitWriter& w, bool final, int type)
{
    w.Bits(final, 1);
    w.Bits(type, 2);
}

// A dynamic block header: the code-length symbols are given as written
// (with repeat codes), under a fixed complete code-length code.
struct DynamicHeader {
    int hlit, hdist;
    std::vector<std::pair<int, int>> symbols;  // (symbol 0..18, extra bits value)
};

void PutDynamicHeader(BitWriter& w, const DynamicHeader& h, const std::vector<int>& precodeLengths)
{
    static const int order[19] = { 16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15 };
    w.Bits(h.hlit - 257, 5);
    w.Bits(h.hdist - 1, 5);
    w.Bits(19 - 4, 4);
    for (int i = 0; i < 19; ++i)
        w.Bits(precodeLengths[order[i]], 3);
    Code pre(precodeLengths);
    for (auto [sym, extra] : h.symbols) {
        pre.Put(w, sym);
        if (sym == 16)
            w.Bits(extra, 2);
        else if (sym == 17)
            w.Bits(extra, 3);
        else if (sym == 18)
            w.Bits(extra, 7);
    }
}

// 13 lengths of 4 and 6 of 5: a complete code over all 19 symbols.
std::vector<int> PrecodeLengths()
{
    std::vector<int> l(19, 4);
    for (int s : { 13, 14, 15, 0, 16, 17 })
        l[s] = 5;
    return l;
}

} // namespace

// ---- against zlib -----------------------------------------------------------------

TEST(InflateZlib, EveryLevelStrategyAndWindowMatchesZlib)
{
    LeakCheck leaks;
    const int strategies[] = { Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED };
    for (int kind = 0; kind < 4; ++kind) {
        const Bytes data = TestData(kind, 70000, kind + 1);
        for (int level = 0; level <= 9; ++level)
            for (int strategy : strategies)
                for (int windowBits : { 9, 12, 15 }) {
                    Bytes z = ZlibCompress(data, level, strategy, windowBits, windowBits == 9 ? 1 : 8);
                    Result r = Inflate(z, data.size());
                    ASSERT_TRUE(r.ok) << "kind " << kind << " level " << level << " strategy " << strategy
                                      << " window " << windowBits << " error " << r.error;
                    ASSERT_TRUE(r.out == data);
                    EXPECT_EQ(r.finish, 1);
                }
    }
}

TEST(InflateZlib, AnyPieceSizesAndReadSizes)
{
    LeakCheck leaks;
    const Bytes data = TestData(3, 40000, 9);
    for (int level : { 0, 1, 6, 9 }) {
        for (int strategy : { Z_DEFAULT_STRATEGY, Z_RLE, Z_FIXED }) {
            Bytes z = ZlibCompress(data, level, strategy);
            for (std::vector<size_t> pieces : std::vector<std::vector<size_t>>{ { 1 }, { 2 }, { 3 }, { 7, 0, 13 }, { 255 }, { 8192 } })
                for (size_t readSize : { (size_t)1, (size_t)3, (size_t)258, (size_t)1201, (size_t)40000 }) {
                    Result r = Inflate(z, data.size(), pieces, readSize);
                    ASSERT_TRUE(r.ok && r.out == data) << "level " << level << " strategy " << strategy
                                                       << " piece " << pieces[0] << " read " << readSize;
                    EXPECT_EQ(r.finish, 1);
                }
        }
    }
}

// zlib's stream of data given in parts of partSize, each ended with 'flush'
// (the last with Z_FINISH), part i compressed with strategies[i % count].
Bytes ZlibInParts(const Bytes& data, int level, size_t partSize, int flush, std::vector<int> strategies)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, 15, 8, strategies[0]), Z_OK);
    Bytes z(compressBound((uLong)data.size()) + 1000);
    zs.next_out = z.data();
    zs.avail_out = (uInt)z.size();
    for (size_t part = 0, pos = 0; pos < data.size(); ++part, pos += partSize) {
        EXPECT_EQ(deflateParams(&zs, level, strategies[part % strategies.size()]), Z_OK);
        zs.next_in = const_cast<Bytef*>(data.data() + pos);
        zs.avail_in = (uInt)std::min(partSize, data.size() - pos);
        EXPECT_NE(deflate(&zs, pos + partSize >= data.size() ? Z_FINISH : flush), Z_STREAM_ERROR);
    }
    z.resize(zs.total_out);
    deflateEnd(&zs);
    return z;
}

TEST(InflateZlib, StoredBlocksSplitAtEveryOffset)
{
    LeakCheck leaks;
    // Three stored blocks.
    const Bytes data = TestData(1, 700, 4);
    const Bytes z = ZlibInParts(data, 0, 250, Z_FULL_FLUSH, { Z_DEFAULT_STRATEGY });
    for (size_t a = 0; a <= z.size(); ++a) {
        Result r = Inflate(z, data.size(), { a, SIZE_MAX });
        ASSERT_TRUE(r.ok && r.out == data) << "cut at " << a;
        EXPECT_EQ(r.finish, 1);
        // and a third piece starting at every later offset
        for (size_t b = a; b <= z.size(); b += 37) {
            Result t = Inflate(z, data.size(), { a, b - a, SIZE_MAX }, 100);
            ASSERT_TRUE(t.ok && t.out == data) << "cuts at " << a << " and " << b;
        }
    }
}

TEST(InflateZlib, FixedBlockAfterDynamicBlock)
{
    LeakCheck leaks;
    // Blocks of dynamic, fixed, dynamic code.
    const Bytes data = TestData(0, 30000, 2);
    const Bytes z = ZlibInParts(data, 6, 10000, Z_BLOCK, { Z_DEFAULT_STRATEGY, Z_FIXED });
    Result r = Inflate(z, data.size(), { 100 }, 333);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.out == data);
    EXPECT_EQ(r.finish, 1);
}

TEST(InflateZlib, HeaderVariants)
{
    LeakCheck leaks;
    const Bytes data = TestData(0, 1000, 3);
    for (int level : { 1, 6, 9 }) {
        Bytes z = ZlibCompress(data, level);
        Result r = Inflate(z, data.size());
        EXPECT_TRUE(r.ok && r.out == data) << std::hex << (int)z[0] << " " << (int)z[1];
    }
    Bytes z = ZlibCompress(data, 6);
    auto withHeader = [&](uint8_t cmf, uint8_t flg) {
        Bytes h = z;
        h[0] = cmf;
        h[1] = flg;
        while ((h[0] * 256 + h[1]) % 31)
            ++h[1];
        return h;
    };
    EXPECT_TRUE(Inflate(withHeader(0x78, 0x01), data.size()).ok) << "0x78 0x01";
    EXPECT_TRUE(Inflate(withHeader(0x78, 0xDA & ~31), data.size()).ok) << "0x78 0xDA";
    EXPECT_TRUE(Inflate(withHeader(0x08, 0x00), data.size()).ok) << "256-byte window declared";
    EXPECT_FALSE(Inflate(withHeader(0x78, 0x20), data.size()).ok) << "FDICT";
    EXPECT_FALSE(Inflate(withHeader(0x77, 0x00), data.size()).ok) << "CM 7";
    EXPECT_FALSE(Inflate(withHeader(0x88, 0x00), data.size()).ok) << "CINFO 8";
    Bytes check = z;
    check[1] ^= 1;
    EXPECT_FALSE(Inflate(check, data.size()).ok) << "check bits";
    EXPECT_FALSE(Inflate(Bytes{ 0x78 }, 1).ok) << "one byte";
    EXPECT_FALSE(Inflate(Bytes{}, 1).ok) << "nothing";
}

TEST(InflateZlib, TruncationAndChecksum)
{
    LeakCheck leaks;
    const Bytes data = TestData(3, 5000, 5);
    Bytes z = ZlibCompress(data, 6);
    // Cut inside the data: never a silent wrong result. Where the cut only
    // takes the end-of-block code, all data may still come out.
    for (size_t n = 0; n + 4 < z.size(); ++n) {
        Result r = Inflate(Bytes(z.begin(), z.begin() + n), data.size(), { 50 });
        if (n + 8 < z.size())
            EXPECT_FALSE(r.ok) << "cut at " << n;
        if (r.ok) {
            EXPECT_TRUE(r.out == data);
            EXPECT_EQ(r.finish, 0);
        }
    }
    // Data complete, trailer cut: all bytes come out, the trailer is not reached.
    for (size_t n = z.size() - 4; n < z.size(); ++n) {
        Result r = Inflate(Bytes(z.begin(), z.begin() + n), data.size());
        EXPECT_TRUE(r.ok) << n;
        EXPECT_EQ(r.finish, 0) << n;
    }
    Bytes bad = z;
    bad.back() ^= 0x40;
    Result r = Inflate(bad, data.size());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.finish, -1);
    EXPECT_EQ(r.error, (DWORD)INFLATE_ERR_CHECKSUM);

    // Asking for more than the stream holds ends short, with no error.
    Result more = Inflate(z, data.size() + 10);
    EXPECT_FALSE(more.ok);
    EXPECT_EQ(more.out.size(), data.size());
    EXPECT_EQ(more.error, 0u);
}

TEST(InflateZlib, WindowAllocationFailure)
{
    LeakCheck leaks;
    Bytes z = ZlibCompress(TestData(0, 100, 1), 6);
    INFLATE_STATE s{};
    NativeWin_FailAllocation(0);
    EXPECT_FALSE(Inflate_Start(&s, z.data(), z.data() + z.size(), nullptr, nullptr));
    NativeWin_FailAllocation(-1);
    EXPECT_EQ(s.error, (DWORD)INFLATE_ERR_MEMORY);
    BYTE out[4];
    EXPECT_EQ(Inflate_Read(&s, out, 4, 0), 0u);
    Inflate_End(&s);
}

// ---- hand-made streams ---------------------------------------------------------------

TEST(InflateBlocks, DistanceOneLength258)
{
    LeakCheck leaks;
    BitWriter w;
    StartBlock(w, true, 1);
    FixedLitlen().Put(w, 'A');
    PutLength(w, FixedLitlen(), 258);
    PutDistance(w, FixedDist(), 1);
    PutLength(w, FixedLitlen(), 258);
    PutDistance(w, FixedDist(), 1);
    FixedLitlen().Put(w, 256);
    const Bytes expected(517, 'A');
    ExpectInflates(Zlib(w.Finish(), expected), expected, { SIZE_MAX }, { 1, 100, 517 });
}

TEST(InflateBlocks, EveryLengthAndDistanceCode)
{
    LeakCheck leaks;
    // Literals to fill the window, then one match per length and distance
    // code boundary, read back in small and odd-sized pieces.
    Bytes expected;
    BitWriter w;
    StartBlock(w, true, 1);
    Random r(11);
    for (int i = 0; i < 33000; ++i) {
        uint8_t b = r.Byte();
        FixedLitlen().Put(w, b);
        expected.push_back(b);
    }
    const int lengths[] = { 3, 4, 10, 11, 12, 18, 19, 34, 35, 66, 67, 130, 131, 227, 257, 258 };
    const int distances[] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 24, 25, 257, 1024, 4097, 16384, 24577, 32767, 32768 };
    for (int d : distances)
        for (int len : lengths) {
            PutLength(w, FixedLitlen(), len);
            PutDistance(w, FixedDist(), d);
            for (int i = 0; i < len; ++i)
                expected.push_back(expected[expected.size() - d]);
        }
    FixedLitlen().Put(w, 256);
    ExpectInflates(Zlib(w.Finish(), expected), expected, { 1000 }, { 7, 4096, SIZE_MAX });
}

TEST(InflateBlocks, DistanceBeforeTheStartReadsZeros)
{
    LeakCheck leaks;
    BitWriter w;
    StartBlock(w, true, 1);
    FixedLitlen().Put(w, 'x');
    PutLength(w, FixedLitlen(), 5);
    PutDistance(w, FixedDist(), 3);
    FixedLitlen().Put(w, 256);
    const Bytes expected = { 'x', 0, 0, 'x', 0, 0 };
    Result r = Inflate(Zlib(w.Finish(), expected), expected.size());
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.out == expected);
}

TEST(InflateBlocks, RepeatCodesStraddlingTheTwoLengthLists)
{
    LeakCheck leaks;
    // Literal/length code: 'a' 'b' end-of-block and length 3 (symbol 257);
    // distance code: symbols 2 and 3 (distances 3 and 4). Both complete.
    std::vector<int> litlen(286, 0);
    litlen['a'] = 2, litlen['b'] = 2, litlen[256] = 2, litlen[257] = 2;
    std::vector<int> dist(30, 0);
    dist[2] = 1, dist[3] = 1;

    // Case 0: an 18 (zero run) runs from litlen 258..285 into distances 0, 1.
    // Case 1: a 16 repeats literal/length 284's length over 285 and
    // distances 0 and 1.
    for (int variant = 0; variant < 2; ++variant) {
        DynamicHeader h{ 286, 30, {} };
        std::vector<int> ll = litlen, dd = dist;
        if (variant == 1) {
            ll[257] = 3, ll[284] = 4, ll[285] = 4;  // 3/4 + 1/8 + 2/16
            dd = std::vector<int>(30, 0);
            dd[0] = 4, dd[1] = 4, dd[2] = 1, dd[3] = 2, dd[4] = 3;  // 2/16 + 1/2 + 1/4 + 1/8
        }
        // Write the length sequence with explicit repeat codes.
        std::vector<int> all = ll;
        all.insert(all.end(), dd.begin(), dd.end());
        size_t i = 0;
        while (i < all.size()) {
            size_t run = 1;
            while (i + run < all.size() && all[i + run] == all[i])
                ++run;
            if (all[i] == 0 && run >= 11) {
                size_t n = std::min<size_t>(run, 138);
                h.symbols.push_back({ 18, (int)n - 11 });
                i += n;
            } else if (all[i] == 0 && run >= 3) {
                size_t n = std::min<size_t>(run, 10);
                h.symbols.push_back({ 17, (int)n - 3 });
                i += n;
            } else if (all[i] != 0 && run >= 4) {
                h.symbols.push_back({ all[i], 0 });
                size_t n = std::min<size_t>(run - 1, 6);
                h.symbols.push_back({ 16, (int)n - 3 });
                i += 1 + n;
            } else {
                h.symbols.push_back({ all[i], 0 });
                ++i;
            }
        }
        // Check that a repeat really straddles index 286.
        size_t pos = 0;
        bool straddles = false;
        for (auto [sym, extra] : h.symbols) {
            size_t n = sym == 16 ? 3 + extra : sym == 17 ? 3 + extra : sym == 18 ? 11 + extra : 1;
            straddles |= sym >= 16 && pos < 286 && pos + n > 286;
            pos += n;
        }
        ASSERT_TRUE(straddles) << variant;

        BitWriter w;
        StartBlock(w, true, 2);
        PutDynamicHeader(w, h, PrecodeLengths());
        Code lc(ll), dc(dd);
        lc.Put(w, 'a');
        lc.Put(w, 'b');
        lc.Put(w, 'a');
        lc.Put(w, 257);  // length 3
        dc.Put(w, 2);    // distance 3
        lc.Put(w, 256);
        const Bytes expected = { 'a', 'b', 'a', 'a', 'b', 'a' };
        Result r = Inflate(Zlib(w.Finish(), expected), expected.size(), { 1 });
        ASSERT_TRUE(r.ok) << "variant " << variant << " error " << r.error;
        EXPECT_TRUE(r.out == expected);
        EXPECT_EQ(r.finish, 1);
    }
}

TEST(InflateBlocks, BadStreamsAreDataErrors)
{
    LeakCheck leaks;
    auto fails = [](BitWriter& w, size_t outSize = 4) {
        Result r = Inflate(Zlib(w.Finish(), Bytes(outSize, 0)), outSize);
        return !r.ok && r.error == INFLATE_ERR_DATA;
    };
    {
        BitWriter w;  // block type 3
        StartBlock(w, true, 3);
        EXPECT_TRUE(fails(w));
    }
    {
        BitWriter w;  // stored block with NLEN not the complement of LEN
        StartBlock(w, true, 0);
        w.Byte(4), w.Byte(0), w.Byte(0xFB), w.Byte(0xFE);
        for (int i = 0; i < 4; ++i)
            w.Byte(1);
        EXPECT_TRUE(fails(w));
    }
    for (int sym : { 286, 287 }) {
        BitWriter w;  // literal/length symbols with a code but no meaning
        StartBlock(w, true, 1);
        FixedLitlen().Put(w, sym);
        FixedLitlen().Put(w, 256);
        EXPECT_TRUE(fails(w)) << sym;
    }
    for (int sym : { 30, 31 }) {
        BitWriter w;
        StartBlock(w, true, 1);
        FixedLitlen().Put(w, 'a');
        PutLength(w, FixedLitlen(), 3);
        FixedDist().Put(w, sym);
        FixedLitlen().Put(w, 256);
        EXPECT_TRUE(fails(w)) << sym;
    }

    // Dynamic headers: literal/length 'a' and 256 of length 1 each.
    auto dynamic = [](std::vector<std::pair<int, int>> symbols, int hdist, std::vector<int> precode) {
        BitWriter w;
        StartBlock(w, true, 2);
        PutDynamicHeader(w, { 257, hdist, std::move(symbols) }, precode);
        return w;
    };
    std::vector<std::pair<int, int>> good;
    good.push_back({ 18, 'a' - 11 });  // zeros up to 'a'
    good.push_back({ 1, 0 });          // 'a'
    good.push_back({ 18, 127 });       // 138 zeros
    good.push_back({ 18, 20 - 11 });  // 20 more: up to 255
    good.push_back({ 1, 0 });          // 256
    good.push_back({ 1, 0 });          // distance 0
    {
        BitWriter w = dynamic(good, 1, PrecodeLengths());
        Code lc([] { std::vector<int> l(257, 0); l['a'] = 1; l[256] = 1; return l; }());
        lc.Put(w, 'a');
        lc.Put(w, 256);
        Result r = Inflate(Zlib(w.Finish(), Bytes{ 'a' }), 1);
        EXPECT_TRUE(r.ok) << "the well-formed variant decodes, error " << r.error;
    }
    {
        auto s = good;  // a 16 with no previous length
        s.insert(s.begin(), { 16, 0 });
        BitWriter w = dynamic(s, 1, PrecodeLengths());
        EXPECT_TRUE(fails(w));
    }
    {
        auto s = good;  // 256 without a code: the block could never end
        s[3] = { 18, 21 - 11 };
        s.erase(s.begin() + 4);
        BitWriter w = dynamic(s, 2, PrecodeLengths());
        EXPECT_TRUE(fails(w));
    }
    {
        auto s = good;  // over-subscribed: three codes of length 1
        s[5] = { 1, 0 };
        s.insert(s.begin() + 4, { 1, 0 });
        s[3] = { 18, 19 - 11 };
        BitWriter w = dynamic(s, 1, PrecodeLengths());
        EXPECT_TRUE(fails(w));
    }
    {
        auto s = good;  // incomplete literal/length code: 'a' of length 2
        s[1] = { 2, 0 };
        BitWriter w = dynamic(s, 1, PrecodeLengths());
        EXPECT_TRUE(fails(w));
    }
    {
        // A bit pattern no code matches: the distance code has one code of
        // one bit ("0"); sending "1" reaches the unused half.
        std::vector<std::pair<int, int>> s = { { 18, 'a' - 11 }, { 1, 0 }, { 18, 127 }, { 18, 20 - 11 },
                                               { 2, 0 },         { 2, 0 }, { 1, 0 } };
        BitWriter w;
        StartBlock(w, true, 2);
        PutDynamicHeader(w, { 258, 1, s }, PrecodeLengths());
        Code lc([] { std::vector<int> l(258, 0); l['a'] = 1; l[256] = 2; l[257] = 2; return l; }());
        lc.Put(w, 'a');
        lc.Put(w, 257);
        w.Bits(1, 1);  // the distance code that does not exist
        lc.Put(w, 256);
        EXPECT_TRUE(fails(w, 4));
    }
    {
        // An incomplete code-length code is refused too.
        std::vector<int> pre(19, 5);
        BitWriter w = dynamic(good, 1, pre);
        EXPECT_TRUE(fails(w));
    }
}

TEST(InflateBlocks, RepeatRunningPastTheEndStopsThere)
{
    LeakCheck leaks;
    // The last repeat (18: 138 zeros) is longer than what is left of the
    // distance lengths; the sequence just ends.
    std::vector<std::pair<int, int>> s = { { 18, 'a' - 11 }, { 1, 0 }, { 18, 127 }, { 18, 20 - 11 },
                                           { 1, 0 },         { 1, 0 }, { 18, 127 } };
    BitWriter w;
    StartBlock(w, true, 2);
    PutDynamicHeader(w, { 257, 30, s }, PrecodeLengths());
    Code lc([] { std::vector<int> l(257, 0); l['a'] = 1; l[256] = 1; return l; }());
    lc.Put(w, 'a');
    lc.Put(w, 'a');
    lc.Put(w, 256);
    Result r = Inflate(Zlib(w.Finish(), Bytes{ 'a', 'a' }), 2);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.finish, 1);
}

// ---- checksums ---------------------------------------------------------------------

TEST(InflateChecksums, Crc32AndAdler32MatchZlib)
{
    const Bytes data = TestData(1, 100000, 77);
    // Every length up to a few blocks, every start alignment, and all 0xFF
    // bytes (the largest sums for Adler-32).
    for (size_t start = 0; start < 16; ++start)
        for (size_t len : { 0, 1, 7, 8, 15, 16, 17, 31, 100, 5551, 5552, 5553, 11104, 65536, 99000 }) {
            const uint8_t* p = data.data() + start;
            ASSERT_EQ(Crc32Update(0, p, len), crc32(0, p, (uInt)len)) << start << " " << len;
            ASSERT_EQ(Adler32Update(1, p, len), adler32(1, p, (uInt)len)) << start << " " << len;
        }
    const Bytes ones(70000, 0xFF);
    EXPECT_EQ(Adler32Update(1, ones.data(), ones.size()), adler32(1, ones.data(), (uInt)ones.size()));
    // In pieces, carrying the value on.
    DWORD crc = 0, adler = 1;
    for (size_t pos = 0, n = 1; pos < data.size(); pos += n, n = n * 3 + 1) {
        size_t k = std::min(n, data.size() - pos);
        crc = Crc32Update(crc, data.data() + pos, k);
        adler = Adler32Update(adler, data.data() + pos, k);
    }
    EXPECT_EQ(crc, crc32(0, data.data(), (uInt)data.size()));
    EXPECT_EQ(adler, adler32(1, data.data(), (uInt)data.size()));
}
