// JPEG: hand-made streams of DC-only blocks decode to exactly the pixels
// their values give (level shift, scaling, clamping, colour factors,
// replication), whatever the sampling, restarts, progression and the bytes
// that end each entropy-coded segment; libjpeg-turbo's pictures come out
// within bounds measured per picture, and the same for every coding of the
// same coefficients; the artwork's pixels are pinned by digests.
#include "harness.h"

#include <array>
#include <dirent.h>
#include <functional>

namespace {

struct Hand {
    Bytes bytes;      // the stream, EOI last
    Bytes rgb;        // the pixels it must give, top row first
    size_t ecsEnd;    // where the last entropy-coded segment ends
    bool restarts;
};

// Quantisation table 0 of q, and Huffman tables 0: "wide" ones where DC
// category s has the 5-bit code s and AC symbol RS below 128 the 8-bit code
// RS, above it the 9-bit code RS + 128 (all 256 symbols: the most a table may
// hold); or "tiny" ones of two 1-bit codes each (DC categories 1 and 0, AC
// symbols 0x01 and end of block), which make runs of one bits and so many
// 0xFF bytes to stuff.
void Tables(JpegWriter& w, int q, bool tiny)
{
    w.Seg(0xDB, Bytes(65, (uint8_t)q)).b[w.b.size() - 65] = 0;
    Bytes dc = { 0x00 }, ac = { 0x10 };
    for (int len = 1; len <= 16; ++len) {
        dc.push_back(tiny ? 2 * (len == 1) : 18 * (len == 5));
        ac.push_back(tiny ? 2 * (len == 1) : 128 * (len == 8 || len == 9));
    }
    for (int s = 0; s < (tiny ? 2 : 18); ++s)
        dc.push_back((uint8_t)(tiny ? 1 - s : s));
    for (int s = 0; s < (tiny ? 2 : 256); ++s)
        ac.push_back((uint8_t)(tiny ? 1 - s : s));
    w.Seg(0xC4, dc).Seg(0xC4, ac);
}

void PutAc(JpegWriter& w, int rs, bool tiny = false)
{
    tiny ? w.Bits(rs == 0, 1) : w.Bits(rs < 128 ? rs : rs + 128, 8 + (rs >= 128));
}

// A DC difference or AC value of category s: the code, then s extra bits.
void PutValue(JpegWriter& w, int code, int v, bool tiny = false, bool dc = true)
{
    int s = 0;
    for (int a = std::abs(v); a; a >>= 1)
        ++s;
    dc ? w.Bits(tiny ? !s : s, tiny ? 1 : 5) : PutAc(w, code << 4 | s);
    if (s)
        w.Bits(v > 0 ? v : v + (1 << s) - 1, s);
}

Hand MakeHand(Rng& r)
{
    const bool tiny = r(4) == 0, progressive = !tiny && r(3) == 0;
    const int comps = r(3) ? 3 : 1, W = 1 + r(60), H = 1 + r(60), q = 1 + r(255), restart = r(3) ? 0 : 1 + r(5);
    const int rescan = comps == 3 && !progressive && r(5) == 0 ? 1 + r(3) : 0, omit = comps == 3 && !rescan && r(12) == 0;
    int hs[3], vs[3], id[3], maxH = 1, maxV = 1;
    for (int c = 0; c < comps; ++c) {
        hs[c] = 1 << r(3), vs[c] = 1 << r(3), id[c] = c * 85 + r(85);
        maxH = std::max(maxH, hs[c]), maxV = std::max(maxV, vs[c]);
    }
    const int mx = (W + 8 * maxH - 1) / (8 * maxH), my = (H + 8 * maxV - 1) / (8 * maxV);
    auto down = [&](int c) { return (H * vs[c] + 8 * maxV - 1) / (8 * maxV); };  // blocks of a scan of c alone
    auto across = [&](int c) { return (W * hs[c] + 8 * maxH - 1) / (8 * maxH); };
    std::vector<int> dc[3];
    for (int c = 0; c < comps; ++c)
        dc[c].assign((size_t)mx * hs[c] * my * vs[c], 0);

    JpegWriter w;
    const size_t junk = r(4) ? 0 : r(145);
    for (size_t i = 0; i < junk; ++i)
        w.b.push_back((uint8_t)r(255));  // leading bytes below 0xFF
    w.Raw({ 0xFF, 0xD8 });
    const int header = r(3);
    if (header == 1)
        w.Seg(0xE0, { 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0 });
    if (header == 2)
        w.Seg(0xE1, { 'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD9 });
    Tables(w, q, tiny);
    if (restart)
        w.Seg(0xDD, { 0, (uint8_t)restart });
    Bytes sof = { 8, (uint8_t)(H >> 8), (uint8_t)H, (uint8_t)(W >> 8), (uint8_t)W, (uint8_t)comps };
    for (int c = 0; c < comps; ++c)
        sof.insert(sof.end(), { (uint8_t)id[c], (uint8_t)(hs[c] << 4 | vs[c]), 0 });
    w.Seg(progressive ? 0xC2 : 0xC0 + r(2), sof);

    // One scan: blocks in stream order, interleaved by MCU when it has
    // several components, with restart markers after 0 to 3 fill bytes.
    int rst = 0;
    auto scan = [&](std::vector<int> cs, int ss, int se, int ah, int al, auto&& block) {
        Bytes sos = { (uint8_t)cs.size() };
        for (int c : cs)
            sos.insert(sos.end(), { (uint8_t)id[c], 0 });
        sos.insert(sos.end(), { (uint8_t)ss, (uint8_t)se, (uint8_t)(ah << 4 | al) });
        w.Seg(0xDA, sos);
        int pred[3] = {}, since = 0, rstNo = 0;
        auto unit = [&] {
            if (restart && since++ == restart) {
                w.Flush();
                w.Raw(Bytes(r(4), 0xFF)).Raw({ 0xFF, (uint8_t)(0xD0 + rstNo++ % 8) });
                pred[0] = pred[1] = pred[2] = 0, since = 1, ++rst;
            }
        };
        if (cs.size() > 1) {
            for (int y = 0; y < my; ++y)
                for (int x = 0; x < mx; ++x) {
                    unit();
                    for (int c : cs)
                        for (int v = 0; v < vs[c]; ++v)
                            for (int h = 0; h < hs[c]; ++h)
                                block(c, dc[c][(size_t)(y * vs[c] + v) * mx * hs[c] + x * hs[c] + h], pred[c]);
                }
        } else {
            const int c = cs[0];
            for (int y = 0; y < down(c); ++y)
                for (int x = 0; x < across(c); ++x)
                    unit(), block(c, dc[c][(size_t)y * mx * hs[c] + x], pred[c]);
        }
        w.Flush();
    };
    const int span = 1 + 1400 / q;  // values that reach a little past 0 and 255
    auto newValue = [&](int pred) { return tiny ? pred + (r(3) ? 0 : 2 * (int)r(2) - 1) : (int)r(2 * span + 1) - span; };
    auto sequential = [&](int c, int& value, int& pred) {
        value = newValue(pred);
        PutValue(w, 0, value - pred, tiny), pred = value;
        PutAc(w, 0, tiny);  // end of block
    };
    std::vector<int> all = { 0, 1, 2 };
    all.resize(comps - omit);
    if (!progressive) {
        scan(all, 0, 63, 0, 0, sequential);
        if (rescan)
            scan({ rescan - 1 }, 0, 63, 0, 0, sequential);
    } else {
        // DC first with Al = al, refinement scans for the bits below, then
        // one AC scan per component: an end-of-band run over all its blocks
        // (one per block where restarts cut the runs).
        const int al = r(3);
        scan(all, 0, 0, 0, al, [&](int, int& value, int& pred) {
            value = newValue(0);
            PutValue(w, 0, (value >> al) - pred), pred = value >> al;
        });
        for (int bit = al - 1; bit >= 0; --bit)
            scan(all, 0, 0, bit + 1, bit, [&](int, int& value, int&) { w.Bits(value >> bit & 1, 1); });
        for (int c : all) {
            int left = 0;
            scan({ c }, 1, 63, 0, 0, [&](int, int&, int&) {
                if (left-- > 0)
                    return;
                const int n = restart ? 1 : down(c) * across(c), rr = 31 - __builtin_clz(n);
                PutAc(w, rr << 4), w.Bits(n - (1 << rr), rr);
                left = n - 1;
            });
        }
    }
    Hand out{ w.b, {}, w.b.size(), rst > 0 };
    out.bytes.insert(out.bytes.end(), { 0xFF, 0xD9 });

    // The pixels: sample = clamp(floor(128.5 + Q x DC / 8)), replicated;
    // YCbCr to RGB with the JFIF factors in 16.16 fixed point.
    auto sample = [&](int c, int x, int y) {
        const int v = dc[c][(size_t)(y / (8 * maxV / vs[c])) * mx * hs[c] + x / (8 * maxH / hs[c])];
        return std::clamp((int)std::floor(128.5 + q * v / 8.0), 0, 255);
    };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int Y = sample(0, x, y);
            if (comps == 1) {
                out.rgb.insert(out.rgb.end(), { (uint8_t)Y, (uint8_t)Y, (uint8_t)Y });
                continue;
            }
            const int cb = sample(1, x, y) - 128, cr = omit ? 0 : sample(2, x, y) - 128;
            const int rgb[3] = { Y + ((91881 * cr + 32768) >> 16), Y - ((22554 * cb + 46802 * cr + 32768) >> 16),
                                 Y + ((116130 * cb + 32768) >> 16) };
            for (int v : rgb)
                out.rgb.push_back(omit ? 0 : (uint8_t)std::clamp(v, 0, 255));
        }
    return out;
}

Bytes Spliced(const Bytes& b, size_t at, size_t drop, const Bytes& insert = {})
{
    Bytes out(b.begin(), b.begin() + at);
    out.insert(out.end(), insert.begin(), insert.end());
    out.insert(out.end(), b.begin() + at + drop, b.end());
    return out;
}

TEST(Jpeg, HandMadeStreamsGiveTheirExactPixels)
{
    Rng r{ 2024 };
    int ff = 0;
    for (int i = 0; i < 300; ++i) {
        const Hand h = MakeHand(r);
        const Pic p = Decode(IMG_TYPE_JPEG, h.bytes);
        ASSERT_TRUE(p.ok) << "stream " << i << ": " << p.why;
        ASSERT_TRUE(p.Rgb() == h.rgb) << "stream " << i;
        // Fill bytes before EOI, and bytes that are no marker, are passed over.
        EXPECT_TRUE(Decode(IMG_TYPE_JPEG, Spliced(h.bytes, h.ecsEnd, 0, { 0xFF, 0xFF })).dib == p.dib) << i;
        EXPECT_TRUE(Decode(IMG_TYPE_JPEG, Spliced(h.bytes, h.ecsEnd, 0, { 0x00, 0x12 })).dib == p.dib) << i;
        // The data ends with the segment, or the segment loses its last byte.
        EXPECT_EQ(Decode(IMG_TYPE_JPEG, Bytes(h.bytes.begin(), h.bytes.begin() + h.ecsEnd)).why, "no end-of-image marker");
        EXPECT_FALSE(Decode(IMG_TYPE_JPEG, Spliced(h.bytes, h.ecsEnd - 1, 1)).ok) << i;
        EXPECT_FALSE(Decode(IMG_TYPE_JPEG, Bytes(h.bytes.begin(), h.bytes.begin() + h.ecsEnd - 1)).ok) << i;
        if (h.bytes[h.ecsEnd - 2] == 0xFF) {  // a last 0xFF without its stuffed zero
            ++ff;
            EXPECT_EQ(Decode(IMG_TYPE_JPEG, Spliced(h.bytes, h.ecsEnd - 1, 1)).why, "marker inside entropy-coded data");
        }
        if (h.restarts) {  // restart markers numbered out of turn
            for (size_t at = 0; at + 1 < h.bytes.size(); ++at)
                if (h.bytes[at] == 0xFF && h.bytes[at + 1] >= 0xD0 && h.bytes[at + 1] <= 0xD7) {
                    Bytes b = h.bytes;
                    b[at + 1] ^= 1 + r(7);
                    EXPECT_EQ(Decode(IMG_TYPE_JPEG, b).why, "wrong or missing restart marker") << i;
                    break;
                }
        }
    }
    EXPECT_GT(ff, 20) << "too few segments end in 0xFF to learn anything";
}

// A small valid stream: JFIF, the wide tables, a 16 x 16 4:2:0 frame of
// components 1, 2, 3 and one scan of six DC-only blocks, the first written
// by `first` when given; or, progressive, one grey block in a DC scan, an
// AC first scan (Al = 1) and an AC refinement scan, the latter written by
// `first` when given.
Bytes Small(bool progressive = false, std::function<void(JpegWriter&)> first = {})
{
    JpegWriter w;
    w.Raw({ 0xFF, 0xD8 }).Seg(0xE0, { 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0 });
    Tables(w, 8, false);
    if (progressive) {
        w.Seg(0xC2, { 8, 0, 8, 0, 8, 1, 1, 0x11, 0 }).Seg(0xDA, { 1, 1, 0, 0, 0, 0 });
        PutValue(w, 0, 3);
        w.Flush();
        w.Seg(0xDA, { 1, 1, 0, 1, 63, 1 });
        PutAc(w, 0);
        w.Flush();
        w.Seg(0xDA, { 1, 1, 0, 1, 63, 0x10 });
        first ? first(w) : PutAc(w, 0);
    } else {
        w.Seg(0xC0, { 8, 0, 16, 0, 16, 3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0 }).Seg(0xDA, { 3, 1, 0, 2, 0, 3, 0, 0, 63, 0 });
        for (int i = 0; i < 6; ++i)
            i == 0 && first ? first(w) : (PutValue(w, 0, 0), PutAc(w, 0));
    }
    w.Flush();
    return w.Raw({ 0xFF, 0xD9 }).b;
}

// Copies of a stream with bytes set, inserted or removed at the nth marker
// of a kind.
Bytes Set(Bytes b, int marker, size_t at, Bytes values, int nth = 0)
{
    size_t m = 0;
    while (!(b[m] == 0xFF && b[m + 1] == marker && nth-- == 0))
        ++m;
    std::copy(values.begin(), values.end(), b.begin() + m + at);
    return b;
}
Bytes Insert(Bytes b, int marker, Bytes values, int drop = 0, size_t at = 0)
{
    size_t m = at;
    while (!(b[m - at] == 0xFF && b[m - at + 1] == marker))
        ++m;
    b.erase(b.begin() + m, b.begin() + m + drop);
    b.insert(b.begin() + m, values.begin(), values.end());
    return b;
}

const uint8_t kSof[2] = { 0xFF, 0xC0 }, kSos[2] = { 0xFF, 0xDA };

// Every refusal of the JPEG decoder, and where each limit stops, as edits
// of valid streams. None of them asks for much memory, the one that claims
// 65535 x 65535 pixels included: it is refused before anything is allocated.
TEST(Jpeg, Refusals)
{
    const Bytes ok = Small(), prog = Small(true), bare = Insert(ok, 0xE0, {}, 18);
    const Bytes sof(std::search(ok.begin(), ok.end(), kSof, kSof + 2), std::search(ok.begin(), ok.end(), kSos, kSos + 2));
    const Bytes rescan = Insert(ok, 0xD9, { 0xFF, 0xDA, 0, 8, 1, 2, 0, 0, 63, 0, 0x00, 0x07 });
    const char* kNotJpeg = "not a JPEG stream (no JFIF or Exif header)";
    const char* kLength = "Huffman table segment length disagrees with its tables";
    const char* kUndecodable = "undecodable JPEG scan";
    auto ac = [](std::vector<std::pair<int, int>> runs) {  // one block: DC 0, then (run, value) pairs
        return [=](JpegWriter& w) {
            PutValue(w, 0, 0);
            for (auto [run, v] : runs)
                v ? PutValue(w, run, v, false, false) : PutAc(w, 0xF0);
        };
    };
    struct {
        const char* what;
        Bytes stream;
        const char* outcome;  // the refusal note, or null: decodes
    } rows[] = {
        { "the valid stream", ok, nullptr },
        { "144 bytes before SOI", Insert(ok, 0xD8, Bytes(144, 0xFE)), nullptr },
        { "145 bytes before SOI", Insert(ok, 0xD8, Bytes(145, 0x01)), kNotJpeg },
        { "no file header: SOI, DQT", bare, nullptr },
        { "Exif header", Set(ok, 0xE0, 1, { 0xE1, 0, 16, 'E', 'x', 'i', 'f', 0 }), nullptr },
        { "JFXX header", Set(ok, 0xE0, 6, { 'J', 'F', 'X', 'X' }), kNotJpeg },
        { "Exif header not ending in 0", Set(ok, 0xE0, 1, { 0xE1, 0, 16, 'E', 'x', 'i', 'f', 1 }), kNotJpeg },
        { "SOI, APP2", Set(ok, 0xE0, 1, { 0xE2 }), kNotJpeg },
        { "SOI, COM", Set(ok, 0xE0, 1, { 0xFE }), kNotJpeg },
        { "SOI, DHT", Insert(bare, 0xDB, {}, 69), kNotJpeg },
        { "empty COM and APP15", Insert(ok, 0xC0, { 0xFF, 0xFE, 0, 2, 0xFF, 0xEF, 0, 2 }), nullptr },
        { "COM of length 1", Insert(ok, 0xC0, { 0xFF, 0xFE, 0, 1 }), "JPEG segment length below 2" },
        { "COM past the end", Insert(ok, 0xC0, { 0xFF, 0xFE, 0x7F, 0 }), "truncated JPEG stream" },
        { "DRI of a wrong length, interval 0", Insert(ok, 0xC0, { 0xFF, 0xDD, 0, 99, 0, 0 }), nullptr },
        { "16-bit DQT", Set(ok, 0xDB, 4, { 0x10 }), "16-bit quantisation table" },
        { "DQT number 4", Set(ok, 0xDB, 4, { 4 }), "quantisation table number above 3" },
        { "DQT number 3: table 0 missing", Set(ok, 0xDB, 4, { 3 }), "missing quantisation table" },
        { "a 0 in DQT", Set(ok, 0xDB, 68, { 0 }), "zero in a quantisation table" },
        { "DQT one byte longer", Set(ok, 0xDB, 3, { 68 }), "quantisation table segment length disagrees with its tables" },
        { "DQT one byte shorter", Set(ok, 0xDB, 3, { 66 }), "quantisation table segment length disagrees with its tables" },
        { "DHT number 4", Set(ok, 0xC4, 4, { 4 }), "Huffman table number above 3" },
        { "DHT number 3: table 0 missing", Set(ok, 0xC4, 4, { 3 }), "missing Huffman table" },
        { "DHT class 2 is an AC table", Set(ok, 0xC4, 4, { 0x20 }, 1), nullptr },
        { "257 codes", Set(Set(ok, 0xC4, 20, { 1 }, 1), 0xC4, 2, { 0x01, 0x14 }, 1), "Huffman table with more than 256 codes" },
        { "DHT one byte longer", Set(ok, 0xC4, 3, { 38 }), kLength },
        { "DHT one byte shorter", Set(ok, 0xC4, 3, { 36 }), kLength },
        { "12-bit SOF1", Set(ok, 0xC0, 1, { 0xC1, 0, 17, 12 }), "12-bit JPEG precision" },
        { "16-bit", Set(ok, 0xC0, 4, { 16 }), "JPEG precision other than 8 bits" },
        { "4 components", Set(ok, 0xC0, 9, { 4 }), "4-component (CMYK) JPEG" },
        { "2 components", Set(ok, 0xC0, 9, { 2 }), "JPEG component count other than 1 or 3" },
        { "0 components", Set(ok, 0xC0, 9, { 0 }), "JPEG component count other than 1 or 3" },
        { "SOF one byte longer", Set(ok, 0xC0, 3, { 18 }), "frame header length disagrees with its components" },
        { "height 0", Set(ok, 0xC0, 5, { 0, 0 }), "JPEG picture of zero width or height" },
        { "width 0", Set(ok, 0xC0, 7, { 0, 0 }), "JPEG picture of zero width or height" },
        { "65535 x 65535", Set(ok, 0xC0, 5, { 255, 255, 255, 255 }), "JPEG picture too large" },
        { "identifier 254", Set(Set(ok, 0xC0, 10, { 254 }), 0xDA, 5, { 254 }), nullptr },
        { "identifier 255", Set(Set(ok, 0xC0, 10, { 255 }), 0xDA, 5, { 255 }), "JPEG component identifier 255" },
        { "identifier twice", Set(ok, 0xC0, 13, { 1 }), "JPEG component identifier used twice" },
        { "H = 0", Set(ok, 0xC0, 11, { 0x02 }), "JPEG sampling factor of 0" },
        { "V = 0", Set(ok, 0xC0, 14, { 0x10 }), "JPEG sampling factor of 0" },
        { "factors 3 and 2", Set(Set(ok, 0xC0, 11, { 0x31 }), 0xC0, 14, { 0x21 }), "JPEG sampling factors that do not divide the largest" },
        { "SOF table 4", Set(ok, 0xC0, 12, { 4 }), "quantisation table number above 3" },
        { "SOF table 3", Set(ok, 0xC0, 12, { 3 }), "missing quantisation table" },
        { "second frame", Insert(ok, 0xDA, sof), "second JPEG frame header" },
        { "scan before the frame", Insert(ok, 0xC0, { 0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0 }), "JPEG scan before the frame header" },
        { "scan of 0 components", Set(ok, 0xDA, 4, { 0 }), "JPEG scan with 0 or more than 3 components" },
        { "scan of 4 components", Set(ok, 0xDA, 4, { 4 }), "JPEG scan with 0 or more than 3 components" },
        { "scan of component 9", Set(ok, 0xDA, 5, { 9 }), "JPEG scan names an unknown component" },
        { "scan of component 255", Set(ok, 0xDA, 5, { 255 }), "JPEG scan names an unknown component" },
        { "component twice in a scan", Set(ok, 0xDA, 7, { 1 }), "JPEG scan names a component twice" },
        { "DC selector 4", Set(ok, 0xDA, 6, { 0x40 }), "Huffman table selector above 3" },
        { "AC selector 4", Set(ok, 0xDA, 6, { 0x04 }), "Huffman table selector above 3" },
        { "DC selector 3", Set(ok, 0xDA, 6, { 0x30 }), "missing Huffman table" },
        { "DC category 16", Small(false, [](JpegWriter& w) { w.Bits(16, 5), w.Bits(0xFFFF, 16), PutAc(w, 0); }), nullptr },
        { "DC category 17", Small(false, [](JpegWriter& w) { w.Bits(17, 5), w.Bits(0xFFFF, 16), PutAc(w, 0); }), kUndecodable },
        { "a code no length holds", Small(false, [](JpegWriter& w) { w.Bits(31, 5); }), kUndecodable },
        { "AC to 63", Small(false, ac({ { 15, 0 }, { 15, 0 }, { 15, 0 }, { 14, 1 } })), nullptr },
        { "AC to 64", Small(false, ac({ { 15, 0 }, { 15, 0 }, { 15, 0 }, { 15, 1 } })), kUndecodable },
        { "AC to 63, short codes", Small(false, ac({ { 15, 0 }, { 15, 0 }, { 15, 0 }, { 7, 1 }, { 6, 1 } })), nullptr },
        { "AC to 64, short codes", Small(false, ac({ { 15, 0 }, { 15, 0 }, { 15, 0 }, { 7, 1 }, { 7, 1 } })), kUndecodable },
        { "a marker inside the data", Insert(ok, 0xDA, { 0xFF, 0xC4 }, 0, 16), kUndecodable },
        { "a restart marker with interval 0", Insert(ok, 0xDA, { 0xFF, 0xD0 }, 0, 16), kUndecodable },
        { "no EOI", Bytes(ok.begin(), ok.end() - 2), "no end-of-image marker" },
        { "no frame", Insert(ok, 0xC0, { 0xFF, 0xD9 }), "JPEG stream without a frame" },
        { "a second scan of component 2", rescan, nullptr },
        { "progressive", prog, nullptr },
        { "DC scan to 5", Set(prog, 0xDA, 8, { 5 }), "progressive DC scan with Se not 0" },
        { "band to 64", Set(prog, 0xDA, 8, { 64 }, 1), "bad progressive spectral band" },
        { "band 9 to 8", Set(prog, 0xDA, 7, { 9, 8 }, 1), "bad progressive spectral band" },
        { "Al 13", Set(prog, 0xDA, 9, { 13 }, 1), nullptr },
        { "Al 14", Set(prog, 0xDA, 9, { 14 }, 1), "bad successive approximation bit position" },
        { "Ah 14", Set(prog, 0xDA, 9, { 0xE0 }, 2), "bad successive approximation bit position" },
        { "refinement of S = 2", Small(true, [](JpegWriter& w) { PutValue(w, 0, 2, false, false); }), kUndecodable },
    };
    for (const auto& row : rows) {
        NativeWin_TakeLargestRequest();
        const Pic p = Decode(IMG_TYPE_JPEG, row.stream);
        EXPECT_EQ(p.ok ? "decodes" : p.why, row.outcome ? row.outcome : "decodes") << row.what;
        EXPECT_LT(NativeWin_TakeLargestRequest(), 1u << 20) << row.what;
    }
    // Markers of other processes, and markers that belong nowhere here.
    for (int m : { 0xC3, 0xC7, 0xC5, 0xC6, 0xDE, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF, 0xC8, 0xCC, 0xD3, 0xDC, 0xDF, 0xF0, 0xFD, 0x01, 0xBF }) {
        const char* why = m == 0xC3 || m == 0xC7 ? "lossless JPEG" : m == 0xC5 || m == 0xC6 || m == 0xDE ? "hierarchical JPEG"
                        : (m & 0xF8) == 0xC8 && m % 4 ? "arithmetic-coded JPEG" : "unexpected JPEG marker";
        EXPECT_EQ(Decode(IMG_TYPE_JPEG, Set(ok, 0xC0, 1, { (uint8_t)m })).why, why) << std::hex << m;
    }
}

TEST(Jpeg, AllocationFailuresAreRefusedAndLeakNothing)
{
    Enc progressive, split;
    progressive.progressive = true, split.scanPerComponent = true;
    for (const Enc& o : { Enc(), progressive, split })
        ExpectAllocationFailuresRefused(IMG_TYPE_JPEG, EncodeJpeg(Pattern(40, 24, 9), 40, 24, o));
    // A second scan after a decode in strips: the decode starts again.
    ExpectAllocationFailuresRefused(IMG_TYPE_JPEG, Insert(Small(), 0xD9, { 0xFF, 0xDA, 0, 8, 1, 2, 0, 0, 63, 0, 0x00, 0x07 }));
}

// Largest channel difference and PSNR (dB, 99 when equal) of two pictures.
std::pair<int, double> Difference(const Pic& a, const Pic& b)
{
    int most = 0;
    double sq = 0;
    for (size_t i = 0; i < a.dib.size(); ++i) {
        const int d = std::abs(a.dib[i] - b.dib[i]);
        most = std::max(most, d), sq += d * d;
    }
    const double mse = sq / (3.0 * a.w * a.h);
    return { most, mse ? 10 * std::log10(255.0 * 255.0 / mse) : 99 };
}

Enc Sampled(int quality, std::array<int, 3> h, std::array<int, 3> v, int comps = 3)
{
    Enc o;
    o.quality = quality, o.comps = comps;
    for (int i = 0; i < 3; ++i)
        o.h[i] = h[i], o.v[i] = v[i];
    return o;
}

// libjpeg-turbo's exact-integer transform against this decoder's 6-bit
// constants (45, 34 and 83 for 45.25, 34.64 and 83.62, every multiply
// truncated): the bounds are what each picture measured when they were set,
// plus 1 level and 0.5 dB. A wrong constant, coefficient order, table or
// replication costs far more.
TEST(Jpeg, CloseToLibjpegTurboAndTheSameForEveryCoding)
{
    const struct {
        int w, h;
        Enc o;
        int most;
        double psnr;
    } kCases[] = {
        { 93, 67, Sampled(85, { 2, 1, 1 }, { 2, 1, 1 }), 8, 46.9 },
        { 64, 48, Sampled(95, { 1, 1, 1 }, { 1, 1, 1 }), 7, 48.2 },
        { 37, 21, Sampled(90, { 1, 1, 1 }, { 1, 1, 1 }), 4, 51.4 },
        { 50, 33, Sampled(80, { 2, 1, 1 }, { 1, 1, 1 }), 7, 48.4 },
        { 41, 70, Sampled(80, { 1, 1, 1 }, { 2, 1, 1 }), 5, 48.7 },
        { 75, 20, Sampled(75, { 4, 1, 1 }, { 1, 1, 1 }), 6, 47.6 },
        { 33, 30, Sampled(80, { 1, 2, 1 }, { 1, 2, 1 }), 4, 49.5 },
        { 17, 9, Sampled(90, { 1, 1, 1 }, { 1, 1, 1 }, 1), 2, 54.2 },
        { 35, 29, Sampled(90, { 2, 1, 1 }, { 2, 1, 1 }, 1), 2, 57.7 },
        { 40, 40, Sampled(100, { 1, 1, 1 }, { 1, 1, 1 }), 5, 52.5 },
        { 80, 64, Sampled(3, { 2, 1, 1 }, { 2, 1, 1 }), 6, 50.4 },
        { 48, 40, Sampled(100, { 2, 1, 1 }, { 2, 1, 1 }), 6, 48.0 },
        { 1, 1, Sampled(85, { 2, 1, 1 }, { 2, 1, 1 }), 1, 98.5 },
        { 17, 17, Sampled(85, { 2, 1, 1 }, { 2, 1, 1 }), 6, 44.2 },
        { 3, 255, Sampled(85, { 2, 1, 1 }, { 2, 1, 1 }), 5, 49.4 },
        { 130, 61, Sampled(50, { 2, 1, 1 }, { 1, 1, 1 }), 7, 48.1 },
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const auto& k = kCases[i];
        const Bytes rgb = Pattern(k.w, k.h, (uint32_t)i + 1), base = EncodeJpeg(rgb, k.w, k.h, k.o);
        const Pic p = Decode(IMG_TYPE_JPEG, base), peer = PeerJpeg(base);
        ASSERT_TRUE(p.ok && peer.ok && p.w == k.w && p.h == k.h && peer.w == k.w) << i << ": " << p.why;
        const auto [most, psnr] = Difference(p, peer);
        EXPECT_LE(most, k.most) << "case " << i;
        EXPECT_GE(psnr, k.psnr) << "case " << i;
        // Other codings of the same coefficients give the same pixels.
        for (int coding = 0; coding < 7; ++coding) {
            Enc o = k.o;
            o.progressive = coding == 0 || coding == 1, o.restart = coding == 1 ? 2 : coding == 2 ? 1 : 0;
            o.optimize = coding == 3, o.scanPerComponent = coding == 4, o.jfif = coding != 5;
            if (coding == 6)
                o.ids[0] = 0, o.ids[1] = 254, o.ids[2] = 82;
            EXPECT_TRUE(Decode(IMG_TYPE_JPEG, EncodeJpeg(rgb, k.w, k.h, o)).dib == p.dib) << "case " << i << " coding " << coding;
        }
    }
}

// The module's exact arithmetic, pinned: a digest of every artwork picture as
// decoded (pixels and colour table), and how far each is from its peer's
// reading (PNG: none at all).
TEST(Artwork, DigestsAndPeers)
{
    const struct {
        const char* name;
        uint32_t digest;
        int most;
        double psnr;
    } kArt[] = {
        { "bk_classic.png", 0xE0B17A15 },
        { "bk_classic_8bpp.png", 0xF76264FE },
        { "bk_lustre.png", 0x9EA19372 },
        { "bk_lustre_8bpp.png", 0x68C10C4F },
        { "db_none.jpg", 0x0A6E6EE9, 5, 56.7 },
        { "db_smoothed.jpg", 0x6419BD74, 5, 57.0 },
        { "ef_emboss1.jpg", 0xD85FFAA1, 5, 55.3 },
        { "ef_emboss2.jpg", 0x44ADAC06, 5, 52.8 },
        { "ef_emboss3.jpg", 0xE23114EC, 5, 51.3 },
        { "ef_neon0.jpg", 0xF5C16150, 7, 49.0 },
        { "ef_neon1.jpg", 0xE5DF6CB1, 7, 49.0 },
        { "ef_neon2.jpg", 0xAB031EDB, 6, 49.4 },
        { "ef_none.jpg", 0x522FF444, 6, 50.7 },
        { "ef_sharpen1.jpg", 0xC384490A, 8, 49.3 },
        { "ef_sharpen2.jpg", 0x51474EB2, 10, 47.7 },
        { "ef_softfocus1.jpg", 0xFFB1449F, 5, 52.4 },
        { "ef_softfocus2.jpg", 0xE4964250, 4, 53.8 },
        { "frame.png", 0x7B8274AD },
        { "frame_8bpp.png", 0x92B63730 },
        { "logo_classic.png", 0x29E0E2F8 },
        { "logo_classic_8bpp.png", 0xEAB20E70 },
        { "logo_lustre.png", 0x430AC8F9 },
        { "logo_lustre_8bpp.png", 0x3614481A },
        { "radio.bmp", 0xCED31252 },
    };
    const std::string dir = QX_SOURCE_DIR "/resources/art/";
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    for (dirent* e; d && (e = readdir(d));)
        if (strstr(e->d_name, ".jpg") || strstr(e->d_name, ".png") || strstr(e->d_name, ".bmp"))
            names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        FILE* f = fopen((dir + name).c_str(), "rb");
        Bytes file;
        for (int c; (c = fgetc(f)) != EOF;)
            file.push_back((uint8_t)c);
        fclose(f);
        const WORD type = name.back() == 'g' ? (name[name.size() - 2] == 'p' ? IMG_TYPE_JPEG : IMG_TYPE_PNG) : IMG_TYPE_BMP;
        const Pic p = Decode(type, file);
        ASSERT_TRUE(p.ok) << name;
        uint32_t digest = crc32(0, p.dib.data(), p.dib.size());
        if (!p.colors.empty())
            digest = crc32(digest, (const Bytef*)p.colors.data(), 4 * p.colors.size());
        std::pair<int, double> diff = { 0, 99 };
        if (type == IMG_TYPE_JPEG)
            diff = Difference(p, PeerJpeg(file));
        if (type == IMG_TYPE_PNG)
            EXPECT_TRUE(p.Rgb() == PeerPng(file)) << name;
        char now[160];  // the row as measured now, for a picture that is new
        snprintf(now, sizeof now, type ? "{ \"%s\", 0x%08X }" : "{ \"%s\", 0x%08X, %d, %.1f }", name.c_str(), digest,
                 diff.first + 1, (int)(diff.second * 10) / 10.0 - 0.5);
        const auto* k = std::find_if(std::begin(kArt), std::end(kArt), [&](const auto& a) { return name == a.name; });
        if (k == std::end(kArt)) {
            ADD_FAILURE() << "no digest for a new picture: " << now;
            continue;
        }
        EXPECT_TRUE(digest == k->digest && diff.first <= k->most && diff.second >= k->psnr) << now;
    }
    EXPECT_GE(names.size(), std::size(kArt));
}

} // namespace
