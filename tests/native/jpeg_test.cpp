// JPEG: hand-made DC-only streams give exactly their pixels, whatever the sampling, restarts and segment ends;
// every refusal as one table; libjpeg-turbo's pictures within measured bounds and the same for every coding.
#include "harness.h"

#include <filesystem>
#include <fstream>
#include <functional>

namespace {

const Bytes kJfif = { 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0 };

// Quantisation table 0 of q, and Huffman tables 0: "wide" (DC category s the 5-bit code s, AC symbol RS the
// 8-bit code RS below 128, else 9-bit RS + 128) or "tiny" (two 1-bit codes each, so many 0xFF to stuff).
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

void PutAc(JpegWriter& w, int rs, bool tiny = false) { tiny ? w.Bits(rs == 0, 1) : w.Bits(rs < 128 ? rs : rs + 128, 8 + (rs >= 128)); }

// A DC difference (dc) or an AC value after a run: the code of its category s, then s extra bits.
void PutValue(JpegWriter& w, int v, bool tiny = false, bool dc = true, int run = 0)
{
    const int s = v ? 32 - __builtin_clz((unsigned)std::abs(v)) : 0;
    dc ? w.Bits(tiny ? !s : s, tiny ? 1 : 5) : PutAc(w, run << 4 | s);
    w.Bits(v > 0 ? v : v + (1 << s) - 1, s);
}

struct Hand { Bytes bytes, rgb; size_t ecsEnd; };  // the stream, its pixels top row first, where its last segment ends

// Random sampling factors of 1, 2 and 4, sizes, quantisation, restarts (after 0 to 3 fill bytes), a second
// scan of one component, or a component no scan holds (the picture is then black).
Hand MakeHand(Rng& r)
{
    const bool tiny = r(4) == 0;
    const int comps = r(3) ? 3 : 1, W = 1 + r(60), H = 1 + r(60), q = 1 + r(255), restart = r(3) ? 0 : 1 + r(5);
    const int rescan = comps == 3 && r(5) == 0 ? 1 + r(3) : 0, omit = comps == 3 && !rescan && r(12) == 0;
    int hs[3], vs[3], id[3], maxH = 1, maxV = 1;
    for (int c = 0; c < comps; ++c)
        hs[c] = 1 << r(3), vs[c] = 1 << r(3), id[c] = c * 85 + r(85), maxH = std::max(maxH, hs[c]), maxV = std::max(maxV, vs[c]);
    const int mx = (W + 8 * maxH - 1) / (8 * maxH), my = (H + 8 * maxV - 1) / (8 * maxV);
    std::vector<int> dc[3];
    for (int c = 0; c < comps; ++c)
        dc[c].assign((size_t)mx * hs[c] * my * vs[c], 0);
    JpegWriter w;
    Tables(w.Raw({ 0xFF, 0xD8 }).Seg(0xE0, kJfif), q, tiny);
    if (restart)
        w.Seg(0xDD, { 0, (uint8_t)restart });
    Bytes sof = { 8, (uint8_t)(H >> 8), (uint8_t)H, (uint8_t)(W >> 8), (uint8_t)W, (uint8_t)comps };
    for (int c = 0; c < comps; ++c)
        sof.insert(sof.end(), { (uint8_t)id[c], (uint8_t)(hs[c] << 4 | vs[c]), 0 });
    w.Seg(0xC0 + r(2), sof);

    // One scan, interleaved by MCU when of several components; each block a new DC value and end of block.
    const int span = 1 + 1400 / q;  // values that reach a little past 0 and 255
    auto scan = [&](std::vector<int> cs) {
        Bytes sos = { (uint8_t)cs.size() };
        for (int c : cs)
            sos.insert(sos.end(), { (uint8_t)id[c], 0 });
        w.Seg(0xDA, (sos.insert(sos.end(), { 0, 63, 0 }), sos));
        int pred[3] = {}, since = 0, rstNo = 0;
        auto block = [&](int c, int& value) {
            value = tiny ? pred[c] + (r(3) ? 0 : 2 * (int)r(2) - 1) : (int)r(2 * span + 1) - span;
            PutValue(w, value - pred[c], tiny), PutAc(w, 0, tiny), pred[c] = value;
        };
        // Interleaved: MCUs; alone: the component's own blocks.
        const int down = cs.size() > 1 ? my : (H * vs[cs[0]] + 8 * maxV - 1) / (8 * maxV),
                  across = cs.size() > 1 ? mx : (W * hs[cs[0]] + 8 * maxH - 1) / (8 * maxH);
        for (int y = 0; y < down; ++y)
            for (int x = 0; x < across; ++x) {
                if (restart && since++ == restart)
                    w.Flush(), w.Raw(Bytes(r(4), 0xFF)).Raw({ 0xFF, (uint8_t)(0xD0 + rstNo++ % 8) }), pred[0] = pred[1] = pred[2] = 0, since = 1;
                if (cs.size() == 1)
                    block(cs[0], dc[cs[0]][(size_t)y * mx * hs[cs[0]] + x]);
                else
                    for (int c : cs)
                        for (int v = 0; v < vs[c] * hs[c]; ++v)
                            block(c, dc[c][(size_t)(y * vs[c] + v / hs[c]) * mx * hs[c] + x * hs[c] + v % hs[c]]);
            }
        w.Flush();
    };
    scan(omit ? std::vector<int>{ 0, 1 } : comps == 1 ? std::vector<int>{ 0 } : std::vector<int>{ 0, 1, 2 });
    if (rescan)
        scan({ rescan - 1 });
    Hand out{ w.Raw({ 0xFF, 0xD9 }).b, {}, w.b.size() - 2 };

    // sample = clamp(floor(128.5 + Q DC / 8)), replicated; JFIF factors in 16.16 fixed point.
    auto sample = [&](int c, int x, int y) {
        const int v = dc[c][(size_t)(y / (8 * maxV / vs[c])) * mx * hs[c] + x / (8 * maxH / hs[c])];
        return std::clamp((int)std::floor(128.5 + q * v / 8.0), 0, 255);
    };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int Y = sample(0, x, y), cb = comps == 1 ? 0 : sample(1, x, y) - 128, cr = comps == 1 || omit ? 0 : sample(2, x, y) - 128;
            for (int v : { Y + ((91881 * cr + 32768) >> 16), Y - ((22554 * cb + 46802 * cr + 32768) >> 16),
                           Y + ((116130 * cb + 32768) >> 16) })
                out.rgb.push_back(omit ? 0 : (uint8_t)std::clamp(v, 0, 255));
        }
    return out;
}

// b with `drop` bytes at `at` replaced by `insert`, the rest cut off at `end`.
Bytes Edit(const Bytes& b, size_t at, size_t drop, const Bytes& insert = {}, size_t end = SIZE_MAX)
{
    Bytes out(b.begin(), b.begin() + at);
    out.insert(out.end(), insert.begin(), insert.end());
    out.insert(out.end(), b.begin() + at + drop, b.begin() + std::min(end, b.size()));
    return out;
}

TEST(Jpeg, HandMadeStreamsGiveTheirExactPixels)
{
    Rng r{ 2024 };
    int ff = 0;
    for (int i = 0; i < 300; ++i) {
        const Hand h = MakeHand(r);
        const Pic p = Decode(IMG_TYPE_JPEG, h.bytes);
        ASSERT_TRUE(p.ok && Rgb(p) == h.rgb) << "stream " << i << ": " << p.why;
        // Fill bytes before EOI, and bytes that are no marker, are passed over; the data ends with the
        // segment, or the segment loses its last byte.
        for (Bytes pass : { Bytes{ 0xFF, 0xFF }, Bytes{ 0x00, 0x12 } })
            EXPECT_TRUE(Decode(IMG_TYPE_JPEG, Edit(h.bytes, h.ecsEnd, 0, pass)).dib == p.dib) << i;
        EXPECT_EQ(Decode(IMG_TYPE_JPEG, Edit(h.bytes, 0, 0, {}, h.ecsEnd)).why, "no end-of-image marker") << i;
        const std::string cut = Decode(IMG_TYPE_JPEG, Edit(h.bytes, 0, 0, {}, h.ecsEnd - 1)).why;
        EXPECT_TRUE(cut == "truncated JPEG stream" || cut == "marker inside entropy-coded data") << i << ": " << cut;
        const Pic lost = Decode(IMG_TYPE_JPEG, Edit(h.bytes, h.ecsEnd - 1, 1));  // a last 0xFF then lacks its stuffed zero
        ff += h.bytes[h.ecsEnd - 2] == 0xFF;
        EXPECT_TRUE(!lost.ok && (h.bytes[h.ecsEnd - 2] != 0xFF || lost.why == "marker inside entropy-coded data")) << i;
        const auto rst = std::adjacent_find(h.bytes.begin(), h.bytes.end(), [](int a, int b) { return a == 0xFF && (b & 0xF8) == 0xD0; });
        if (rst != h.bytes.end())  // a restart marker out of turn
            EXPECT_EQ(Decode(IMG_TYPE_JPEG, Edit(h.bytes, rst - h.bytes.begin() + 1, 1, { (uint8_t)(rst[1] ^ (1 + r(7))) })).why,
                      "wrong or missing restart marker") << i;
    }
    EXPECT_GT(ff, 20) << "too few segments end in 0xFF to learn anything";
}

// A valid stream: the wide tables, a 16 x 16 4:2:0 frame, one scan of six DC-only blocks, the first written
// by `first`; or progressive: one grey block, DC scan, AC first scan (Al = 1), AC refinement by `first`.
Bytes Small(bool progressive = false, std::function<void(JpegWriter&)> first = {})
{
    JpegWriter w;
    Tables(w.Raw({ 0xFF, 0xD8 }).Seg(0xE0, kJfif), 8, false);
    if (progressive) {
        w.Seg(0xC2, { 8, 0, 8, 0, 8, 1, 1, 0x11, 0 }).Seg(0xDA, { 1, 1, 0, 0, 0, 0 });
        PutValue(w, 3), w.Flush(), w.Seg(0xDA, { 1, 1, 0, 1, 63, 1 }), PutAc(w, 0), w.Flush();
        w.Seg(0xDA, { 1, 1, 0, 1, 63, 0x10 });
        first ? first(w) : PutAc(w, 0);
    } else {
        w.Seg(0xC0, { 8, 0, 16, 0, 16, 3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0 }).Seg(0xDA, { 3, 1, 0, 2, 0, 3, 0, 0, 63, 0 });
        for (int i = 0; i < 6; ++i)
            i == 0 && first ? first(w) : (PutValue(w, 0), PutAc(w, 0));
    }
    w.Flush();
    return w.Raw({ 0xFF, 0xD9 }).b;
}

// Where the nth marker of a kind is; bytes set there, or inserted there after `drop` bytes are taken out.
size_t At(const Bytes& b, int marker, int nth = 0)
{
    size_t m = 0;
    while (!(b[m] == 0xFF && b[m + 1] == marker && nth-- == 0))
        ++m;
    return m;
}
Bytes Set(Bytes b, int marker, size_t at, Bytes v, int nth = 0) { return std::copy(v.begin(), v.end(), b.begin() + At(b, marker, nth) + at), b; }
Bytes Insert(const Bytes& b, int marker, Bytes v, size_t drop = 0, size_t at = 0) { return Edit(b, At(b, marker) + at, drop, v); }

// Every refusal of the decoder, and where each limit stops.
TEST(Jpeg, Refusals)
{
    const Bytes ok = Small(), prog = Small(true), bare = Insert(ok, 0xE0, {}, 18);
    const Bytes sof(ok.begin() + At(ok, 0xC0), ok.begin() + At(ok, 0xDA));
    const Bytes scan2 = { 0xFF, 0xDA, 0, 8, 1, 2, 0, 0, 63, 0, 0x00, 0x07 };  // component 2 again: DC 0, end of block
    const char *kNotJpeg = "not a JPEG stream (no JFIF or Exif header)", *kBad = "undecodable JPEG scan";
    const char *kDht = "Huffman table segment length disagrees with its tables", *kQ4 = "quantisation table number above 3";
    const char *kNoQ = "missing quantisation table", *kNoH = "missing Huffman table", *kSize = "JPEG picture of zero width or height";
    const char *kNs = "JPEG scan with 0 or more than 3 components", *kSelector = "Huffman table selector above 3";
    const char *kBand = "bad progressive spectral band", *kApprox = "bad successive approximation bit position";
    const char *kZero = "JPEG sampling factor of 0", *kH4 = "Huffman table number above 3";
    auto first = [](std::vector<std::pair<int, int>> runs) {  // DC 0, three ZRLs, then (run, value)
        return Small(false, [=](JpegWriter& w) {
            PutValue(w, 0), PutAc(w, 0xF0), PutAc(w, 0xF0), PutAc(w, 0xF0);
            for (auto [run, v] : runs)
                PutValue(w, v, false, false, run);
        });
    };
    auto refine = [](int rs) { return Small(true, [=](JpegWriter& w) { PutAc(w, rs), w.Bits(1, rs & 15), PutAc(w, 0); }); };
    // AC first scans: 1 at Al 1, then 8 at Al (13: out of 16 bits, a zero again); the refinement's end of band
    // then reads a correction bit, past its data, only for a coefficient other than 0.
    auto twice = [&](uint8_t al) { return Edit(prog, At(prog, 0xDA, 1) + 10, 1, { 1, 0x80, 0x7F, 0xFF, 0xDA, 0, 8, 1, 1, 0, 1, 63, al, 4, 0x80, 0x0F }); };
    ExpectOutcomes(IMG_TYPE_JPEG, {
        { "the valid stream", ok, nullptr }, { "no file header: SOI, DQT", bare, nullptr },
        { "144 bytes before SOI", Insert(ok, 0xD8, Bytes(144, 0xFE)), nullptr },
        { "145 bytes before SOI", Insert(ok, 0xD8, Bytes(145, 0x01)), kNotJpeg },
        { "Exif header, EOI inside", Set(ok, 0xE0, 1, { 0xE1, 0, 16, 'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD9 }), nullptr },
        { "Exif header not ending in 0", Set(ok, 0xE0, 1, { 0xE1, 0, 16, 'E', 'x', 'i', 'f', 1 }), kNotJpeg },
        { "JFXX header", Set(ok, 0xE0, 6, { 'J', 'F', 'X', 'X' }), kNotJpeg }, { "SOI, DHT", Insert(bare, 0xDB, {}, 69), kNotJpeg },
        { "empty COM and APP15", Insert(ok, 0xC0, { 0xFF, 0xFE, 0, 2, 0xFF, 0xEF, 0, 2 }), nullptr },
        { "COM of length 1", Insert(ok, 0xC0, { 0xFF, 0xFE, 0, 1 }), "JPEG segment length below 2" },
        { "16-bit DQT", Set(ok, 0xDB, 4, { 0x10 }), "16-bit quantisation table" },
        { "DQT number 4", Set(ok, 0xDB, 4, { 4 }), kQ4 }, { "DQT number 3: no table 0", Set(ok, 0xDB, 4, { 3 }), kNoQ },
        { "a 0 in DQT", Set(ok, 0xDB, 68, { 0 }), "zero in a quantisation table" },
        { "DQT one byte longer", Set(ok, 0xDB, 3, { 68 }), "quantisation table segment length disagrees with its tables" },
        { "DHT number 4", Set(ok, 0xC4, 4, { 4 }), kH4 }, { "DHT number 3: no table 0", Set(ok, 0xC4, 4, { 3 }), kNoH },
        { "257 codes", Set(Set(ok, 0xC4, 20, { 1 }, 1), 0xC4, 2, { 0x01, 0x14 }, 1), "Huffman table with more than 256 codes" },
        { "DHT one byte longer", Set(ok, 0xC4, 3, { 38 }), kDht }, { "DHT one byte shorter", Set(ok, 0xC4, 3, { 36 }), kDht },
        { "12-bit SOF1", Set(ok, 0xC0, 1, { 0xC1, 0, 17, 12 }), "12-bit JPEG precision" },
        { "16-bit", Set(ok, 0xC0, 4, { 16 }), "JPEG precision other than 8 bits" },
        { "4 components", Set(ok, 0xC0, 9, { 4 }), "4-component (CMYK) JPEG" },
        { "2 components", Set(ok, 0xC0, 9, { 2 }), "JPEG component count other than 1 or 3" },
        { "SOF one byte longer", Set(ok, 0xC0, 3, { 18 }), "frame header length disagrees with its components" },
        { "height 0", Set(ok, 0xC0, 5, { 0, 0 }), kSize }, { "width 0", Set(ok, 0xC0, 7, { 0, 0 }), kSize },
        { "65535 x 65535", Set(ok, 0xC0, 5, { 255, 255, 255, 255 }), "JPEG picture too large" },
        { "identifier 254", Set(Set(ok, 0xC0, 10, { 254 }), 0xDA, 5, { 254 }), nullptr },
        { "identifier 255", Set(Set(ok, 0xC0, 10, { 255 }), 0xDA, 5, { 255 }), "JPEG component identifier 255" },
        { "identifier twice", Set(ok, 0xC0, 13, { 1 }), "JPEG component identifier used twice" },
        { "H = 0", Set(ok, 0xC0, 11, { 0x02 }), kZero }, { "V = 0", Set(ok, 0xC0, 14, { 0x10 }), kZero },
        { "factors 3 and 2", Set(ok, 0xC0, 11, { 0x31, 0, 2, 0x21 }), "JPEG sampling factors that do not divide the largest" },
        { "SOF table 4", Set(ok, 0xC0, 12, { 4 }), kQ4 }, { "SOF table 3", Set(ok, 0xC0, 12, { 3 }), kNoQ },
        { "second frame", Insert(ok, 0xDA, sof), "second JPEG frame header" },
        { "scan before the frame", Insert(ok, 0xC0, { 0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0 }), "JPEG scan before the frame header" },
        { "scan of 0 components", Set(ok, 0xDA, 4, { 0 }), kNs }, { "scan of 4 components", Set(ok, 0xDA, 4, { 4 }), kNs },
        { "scan of component 9", Set(ok, 0xDA, 5, { 9 }), "JPEG scan names an unknown component" },
        { "component twice in a scan", Set(ok, 0xDA, 7, { 1 }), "JPEG scan names a component twice" },
        { "DC selector 4", Set(ok, 0xDA, 6, { 0x40 }), kSelector }, { "AC selector 4", Set(ok, 0xDA, 6, { 0x04 }), kSelector },
        { "DC selector 3", Set(ok, 0xDA, 6, { 0x30 }), kNoH }, { "a second scan of component 2", Insert(ok, 0xD9, scan2), nullptr },
        { "DC category 16", Small(false, [](JpegWriter& w) { w.Bits(16, 5), w.Bits(0xFFFF, 16), PutAc(w, 0); }), nullptr },
        { "DC category 17", Small(false, [](JpegWriter& w) { w.Bits(17, 5), w.Bits(0x1FFFF, 17), PutAc(w, 0); }), kBad },
        { "a code no length holds", Small(false, [](JpegWriter& w) { w.Bits(31, 5); }), kBad },
        { "AC to 63", first({ { 14, 1 } }), nullptr }, { "AC to 64", first({ { 15, 1 } }), kBad },
        { "AC to 63 in two", first({ { 7, 1 }, { 6, 1 } }), nullptr }, { "AC to 64 in two", first({ { 7, 1 }, { 7, 1 } }), kBad },
        { "a marker in the data", Insert(ok, 0xDA, { 0xFF, 0xC4 }, 0, 16), kBad },
        { "RST0, no interval", Insert(ok, 0xDA, { 0xFF, 0xD0 }, 0, 16), kBad },
        { "no EOI", Edit(ok, 0, 0, {}, ok.size() - 2), "no end-of-image marker" },
        { "no frame", Insert(ok, 0xC0, { 0xFF, 0xD9 }), "JPEG stream without a frame" }, { "progressive", prog, nullptr },
        { "DC scan to 5", Set(prog, 0xDA, 8, { 5 }), "progressive DC scan with Se not 0" },
        { "band to 64", Set(prog, 0xDA, 8, { 64 }, 1), kBand }, { "band 9 to 8", Set(prog, 0xDA, 7, { 9, 8 }, 1), kBand },
        { "Al 13", Set(prog, 0xDA, 9, { 13 }, 1), nullptr }, { "Al 14", Set(prog, 0xDA, 9, { 14 }, 1), kApprox },
        { "Ah 14", Set(prog, 0xDA, 9, { 0xE0 }, 2), kApprox }, { "refining S = 1", refine(0x01), nullptr },
        { "refining S = 2", refine(0x02), kBad }, { "refining S = 2, long code", refine(0x82), kBad },
        { "first-scan value shifted out", twice(13), nullptr }, { "first-scan value kept", twice(12), "marker inside entropy-coded data" },
    });
    // Markers of other processes, and markers that belong nowhere here.
    for (int m : { 0xC3, 0xC7, 0xC5, 0xC6, 0xDE, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF, 0xC8, 0xCC, 0xD3, 0xDC, 0xDF, 0xF0, 0x01 }) {
        const char* why = m == 0xC3 || m == 0xC7 ? "lossless JPEG" : m == 0xC5 || m == 0xC6 || m == 0xDE ? "hierarchical JPEG"
                        : (m & 0xF8) == 0xC8 && m % 4 ? "arithmetic-coded JPEG" : "unexpected JPEG marker";
        EXPECT_EQ(Decode(IMG_TYPE_JPEG, Set(ok, 0xC0, 1, { (uint8_t)m })).why, why) << std::hex << m;
    }
    // Every allocation failing in turn, a second scan after a decode in strips (which starts again) included.
    for (const Enc& o : { Enc(), Enc{ .progressive = true }, Enc{ .scanPerComponent = true } })
        ExpectAllocationFailuresRefused(IMG_TYPE_JPEG, EncodeJpeg(Pattern(40, 24, 9), 40, 24, o));
    ExpectAllocationFailuresRefused(IMG_TYPE_JPEG, Insert(ok, 0xD9, scan2));
}

// libjpeg-turbo's exact-integer transform against this decoder's truncating 6-bit constants, within what each
// picture measured plus 1 level and 0.5 dB; every other coding of the same coefficients gives the same pixels.
TEST(Jpeg, CloseToLibjpegTurboAndTheSameForEveryCoding)
{
    const struct { int w, h; Enc o; int most; double psnr; } kCases[] = {
        { 93, 67, { .quality = 85 }, 6, 47.2 }, { 64, 48, { .quality = 95, .h = { 1, 1, 1 }, .v = { 1, 1, 1 } }, 7, 48.3 },
        { 50, 33, { .quality = 80, .v = { 1, 1, 1 } }, 6, 48.1 }, { 41, 70, { .quality = 80, .h = { 1, 1, 1 } }, 6, 48.8 },
        { 75, 20, { .quality = 75, .h = { 4, 1, 1 }, .v = { 1, 1, 1 } }, 5, 48.4 },
        { 33, 30, { .quality = 80, .h = { 1, 2, 1 }, .v = { 1, 2, 1 } }, 4, 49.3 },
        { 17, 9, { .comps = 1, .quality = 90, .h = { 1, 1, 1 }, .v = { 1, 1, 1 } }, 2, 56.0 },
        { 35, 29, { .comps = 1, .quality = 90 }, 2, 56.8 }, { 40, 40, { .quality = 100, .h = { 1, 1, 1 }, .v = { 1, 1, 1 } }, 5, 52.8 },
        { 80, 64, { .quality = 3 }, 6, 50.1 }, { 1, 1, { .quality = 85 }, 1, 98.5 },
        { 17, 17, { .quality = 85 }, 6, 45.1 }, { 3, 255, { .quality = 85 }, 5, 49.4 },
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const auto& k = kCases[i];
        const Bytes rgb = Pattern(k.w, k.h, (uint32_t)i + 1), base = EncodeJpeg(rgb, k.w, k.h, k.o);
        const Pic p = Decode(IMG_TYPE_JPEG, base), peer = PeerJpeg(base);
        ASSERT_TRUE(p.ok && peer.ok && p.w == k.w && p.h == k.h && peer.w == k.w) << i << ": " << p.why;
        double most = 0, sq = 0;  // largest channel difference, and PSNR (99 dB when equal)
        for (size_t j = 0; j < p.dib.size(); ++j)
            most = std::max(most, (double)std::abs(p.dib[j] - peer.dib[j])), sq += (p.dib[j] - peer.dib[j]) * (p.dib[j] - peer.dib[j]);
        const double psnr = sq ? 10 * std::log10(255.0 * 255.0 * 3 * k.w * k.h / sq) : 99;
        EXPECT_TRUE(most <= k.most && psnr >= k.psnr) << "case " << i << ": " << most << ", " << psnr << " dB";
        for (int coding = 0; coding < 7; ++coding) {
            Enc o = k.o;
            o.progressive = coding < 2, o.restart = coding == 1 ? 2 : coding == 2, o.optimize = coding == 3;
            o.scanPerComponent = coding == 4, o.jfif = coding != 5;
            if (coding == 6)
                o.ids[0] = 0, o.ids[1] = 254, o.ids[2] = 82;
            EXPECT_TRUE(Decode(IMG_TYPE_JPEG, EncodeJpeg(rgb, k.w, k.h, o)).dib == p.dib) << "case " << i << " coding " << coding;
        }
    }
}

// The module's exact arithmetic pinned by a digest of every artwork picture; PNG ones also as libpng reads them.
TEST(Artwork, Digests)
{
    const std::pair<const char*, uint32_t> kArt[] = {
        { "bk_classic.png", 0xE0B17A15 }, { "bk_classic_8bpp.png", 0xF76264FE }, { "bk_lustre.png", 0x9EA19372 },
        { "bk_lustre_8bpp.png", 0x68C10C4F }, { "db_none.jpg", 0x0A6E6EE9 }, { "db_smoothed.jpg", 0x6419BD74 },
        { "ef_emboss1.jpg", 0xD85FFAA1 }, { "ef_emboss2.jpg", 0x44ADAC06 }, { "ef_emboss3.jpg", 0xE23114EC },
        { "ef_neon0.jpg", 0xF5C16150 }, { "ef_neon1.jpg", 0xE5DF6CB1 }, { "ef_neon2.jpg", 0xAB031EDB },
        { "ef_none.jpg", 0x522FF444 }, { "ef_sharpen1.jpg", 0xC384490A }, { "ef_sharpen2.jpg", 0x51474EB2 },
        { "ef_softfocus1.jpg", 0xFFB1449F }, { "ef_softfocus2.jpg", 0xE4964250 }, { "frame.png", 0x7B8274AD },
        { "frame_8bpp.png", 0x92B63730 }, { "logo_classic.png", 0x29E0E2F8 }, { "logo_classic_8bpp.png", 0xEAB20E70 },
        { "logo_lustre.png", 0x430AC8F9 }, { "logo_lustre_8bpp.png", 0x3614481A }, { "radio.bmp", 0xCED31252 },
    };
    size_t seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(QX_SOURCE_DIR "/resources/art")) {
        const std::string name = e.path().filename(), ext = e.path().extension();
        const WORD type = ext == ".jpg" ? IMG_TYPE_JPEG : ext == ".png" ? IMG_TYPE_PNG : IMG_TYPE_BMP;
        if (ext != ".jpg" && ext != ".png" && ext != ".bmp")
            continue;
        std::ifstream f(e.path(), std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const Pic p = Decode(type, file);
        Bytes all = p.dib;
        all.insert(all.end(), (const uint8_t*)p.colors.data(), (const uint8_t*)(p.colors.data() + p.colors.size()));
        const uint32_t digest = crc32(0, all.data(), all.size());
        const auto* k = std::find_if(std::begin(kArt), std::end(kArt), [&](const auto& a) { return name == a.first; });
        EXPECT_TRUE(k != std::end(kArt) && k->second == digest) << name << " now 0x" << std::hex << digest;
        EXPECT_TRUE(type != IMG_TYPE_PNG || Rgb(p) == PeerPng(file)) << name;
        seen += k != std::end(kArt);
    }
    EXPECT_EQ(seen, std::size(kArt));
}

} // namespace
