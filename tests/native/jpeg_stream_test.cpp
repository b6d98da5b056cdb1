// The stream rules of the JPEG decoder: signature, markers and refused
// frames, table and header checks, restarts, progressive end-of-band runs and
// refinement, truncation, and what a failed decode leaves behind.
#include "jpeg_fixtures.h"
#include "jpeg_handmade.h"
#include "jpeg_reference.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "imaging/imaging.h"

#include <cstring>
#include <string>

namespace {

Bytes SmallJpeg(bool jfif = true, bool progressive = false)
{
    EncodeOptions o;
    o.jfif = jfif;
    o.progressive = progressive;
    return EncodeJpeg(TestPattern(24, 16, 7), 24, 16, o);
}

// Refusal text of a stream the decoder must refuse.
std::string Refusal(const Bytes& jpeg)
{
    Picture p = DecodeJpegWithModule(jpeg);
    EXPECT_FALSE(p.ok);
    ReferencePicture plain = ReferenceDecodeJpeg(jpeg.data(), jpeg.size());
    EXPECT_FALSE(plain.ok);
    const char* why = Img_GetNotes()->refusal;
    return why ? why : "";
}

size_t FindMarker(const Bytes& b, int marker)
{
    for (size_t i = 0; i + 1 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] == marker)
            return i;
    }
    return std::string::npos;
}

TEST(JpegSignature, LeadingJunkUpTo144Bytes)
{
    Bytes jpeg = SmallJpeg();
    Bytes junk144(144, 0x17), junk145(145, 0xFE);
    junk144[5] = 0xFE;   // any value below 0xFF counts as junk
    Bytes ok = junk144, bad = junk145;
    ok.insert(ok.end(), jpeg.begin(), jpeg.end());
    bad.insert(bad.end(), jpeg.begin(), jpeg.end());
    Picture plain = DecodeJpegWithModule(jpeg), shifted = DecodeJpegWithModule(ok);
    ASSERT_TRUE(shifted.ok);
    EXPECT_TRUE(shifted.dib == plain.dib);
    EXPECT_FALSE(DecodeJpegWithModule(bad).ok);
}

TEST(JpegSignature, HeaderRules)
{
    // SOI directly followed by DQT needs no file header.
    Bytes bare = SmallJpeg(false);
    ASSERT_EQ(bare[3], 0xDB);
    EXPECT_TRUE(DecodeJpegWithModule(bare).ok);

    // Anything else after SOI must be a JFIF or Exif application segment.
    auto afterSoi = [&](std::initializer_list<uint8_t> segment) {
        Bytes b = bare;
        b.insert(b.begin() + 2, segment);
        return b;
    };
    EXPECT_FALSE(DecodeJpegWithModule(afterSoi({ 0xFF, 0xE2, 0, 4, 1, 2 })).ok);
    EXPECT_FALSE(DecodeJpegWithModule(afterSoi({ 0xFF, 0xFE, 0, 4, 'h', 'i' })).ok);
    size_t dht = FindMarker(bare, 0xC4);
    Bytes dhtFirst = bare;
    dhtFirst.erase(dhtFirst.begin() + 2, dhtFirst.begin() + (long)dht);   // SOI, then the tables from DHT on
    EXPECT_FALSE(DecodeJpegWithModule(dhtFirst).ok);
    EXPECT_FALSE(DecodeJpegWithModule(afterSoi({ 0xFF, 0xE0, 0, 7, 'J', 'F', 'X', 'X', 0 })).ok);
    EXPECT_FALSE(DecodeJpegWithModule(afterSoi({ 0xFF, 0xE1, 0, 7, 'E', 'x', 'i', 'f', 1 })).ok);

    // An Exif header is accepted as JFIF is, and its segment skipped whole.
    Bytes exif = afterSoi({ 0xFF, 0xE1, 0, 12, 'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD9, 0xFF, 0xD9 });
    Picture p = DecodeJpegWithModule(exif);
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.dib == DecodeJpegWithModule(bare).dib);
}

TEST(JpegMarkers, RefusedFramesAndMarkers)
{
    Bytes jpeg = SmallJpeg();
    size_t sof = FindMarker(jpeg, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    auto patched = [&](size_t at, uint8_t value) {
        Bytes b = jpeg;
        b[at] = value;
        return b;
    };
    Bytes twelveBit = patched(sof + 1, 0xC1);
    twelveBit[sof + 4] = 12;
    EXPECT_EQ(Refusal(twelveBit), "12-bit JPEG precision");
    EXPECT_EQ(Refusal(patched(sof + 1, 0xC3)), "lossless JPEG");
    EXPECT_EQ(Refusal(patched(sof + 1, 0xC5)), "hierarchical JPEG");
    EXPECT_EQ(Refusal(patched(sof + 1, 0xC9)), "arithmetic-coded JPEG");
    for (int m : { 0xC6, 0xC7, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF, 0xDE, 0xC8, 0xCC, 0xD3, 0xDC, 0xDF, 0xF0, 0xFD, 0x01, 0x7F })
        EXPECT_FALSE(DecodeJpegWithModule(patched(sof + 1, (uint8_t)m)).ok) << std::hex << m;

    size_t dqt = FindMarker(jpeg, 0xDB);
    EXPECT_EQ(Refusal(patched(dqt + 4, 0x10)), "16-bit quantisation table");
    EXPECT_EQ(Refusal(patched(dqt + 4, 0x04)), "quantisation table number above 3");
    EXPECT_EQ(Refusal(patched(dqt + 5 + 9, 0)), "zero in a quantisation table");

    StreamWriter cmyk = HandStart();
    cmyk.Sof(0xC0, 8, 8, { { 1, 1, 1, 0 }, { 2, 1, 1, 0 }, { 3, 1, 1, 0 }, { 4, 1, 1, 0 } });
    cmyk.Eoi();
    EXPECT_EQ(Refusal(cmyk.bytes), "4-component (CMYK) JPEG");
    StreamWriter two = HandStart();
    two.Sof(0xC0, 8, 8, { { 1, 1, 1, 0 }, { 2, 1, 1, 0 } });
    two.Eoi();
    EXPECT_FALSE(DecodeJpegWithModule(two.bytes).ok);

    // Empty application and comment segments skip nothing; a length below 2 is refused.
    Bytes withEmpty = jpeg;
    withEmpty.insert(withEmpty.begin() + (long)sof, { 0xFF, 0xFE, 0, 2, 0xFF, 0xEF, 0, 2 });
    EXPECT_TRUE(DecodeJpegWithModule(withEmpty).ok);
    Bytes shortSegment = jpeg;
    shortSegment.insert(shortSegment.begin() + (long)sof, { 0xFF, 0xFE, 0, 1 });
    EXPECT_FALSE(DecodeJpegWithModule(shortSegment).ok);
}

// Headers the decoder cannot use safely are refused before anything is read
// through them.
TEST(JpegMarkers, RefusedHeaderValues)
{
    auto grey = [](std::vector<std::array<int, 4>> comps, std::vector<std::array<int, 3>> scan) {
        StreamWriter w = HandStart();
        w.Sof(0xC0, 16, 16, comps);
        w.Sos(scan, 0, 63, 0, 0);
        for (int i = 0; i < 12; ++i) {
            PutDc(w, 0);
            PutEob(w);
        }
        w.Flush();
        w.Eoi();
        return w.bytes;
    };
    EXPECT_EQ(Refusal(grey({ { 255, 1, 1, 0 } }, { { 255, 0, 0 } })), "JPEG component identifier 255");
    EXPECT_EQ(Refusal(grey({ { 1, 0, 1, 0 } }, { { 1, 0, 0 } })), "JPEG sampling factor of 0");
    EXPECT_EQ(Refusal(grey({ { 1, 1, 0, 0 } }, { { 1, 0, 0 } })), "JPEG sampling factor of 0");
    EXPECT_EQ(Refusal(grey({ { 1, 1, 1, 4 } }, { { 1, 0, 0 } })), "quantisation table number above 3");
    EXPECT_EQ(Refusal(grey({ { 1, 3, 1, 0 }, { 2, 2, 1, 0 }, { 3, 1, 1, 0 } }, { { 1, 0, 0 } })),
              "JPEG sampling factors that do not divide the largest");
    EXPECT_EQ(Refusal(grey({ { 1, 1, 1, 0 }, { 1, 1, 1, 0 }, { 3, 1, 1, 0 } }, { { 1, 0, 0 } })),
              "JPEG component identifier used twice");
    EXPECT_EQ(Refusal(grey({ { 1, 1, 1, 0 } }, { { 1, 4, 0 } })), "Huffman table selector above 3");
    EXPECT_EQ(Refusal(grey({ { 1, 1, 1, 0 } }, { { 1, 0, 4 } })), "Huffman table selector above 3");
    EXPECT_EQ(Refusal(grey({ { 1, 1, 1, 0 } }, { { 2, 0, 0 } })), "JPEG scan names an unknown component");
    EXPECT_EQ(Refusal(grey({ { 1, 1, 1, 0 } }, { { 1, 1, 0 } })), "missing Huffman table");
    EXPECT_EQ(Refusal(grey({ { 1, 1, 1, 1 } }, { { 1, 0, 0 } })), "missing quantisation table");
    // The sane version of the same stream decodes, so the refusals above are
    // about the values changed.
    EXPECT_TRUE(DecodeJpegWithModule(grey({ { 1, 1, 1, 0 } }, { { 1, 0, 0 } })).ok);

    // A scan before any frame, and a second frame.
    StreamWriter early = HandStart();
    early.Sos({ { 1, 0, 0 } }, 0, 63, 0, 0);
    early.Eoi();
    EXPECT_EQ(Refusal(early.bytes), "JPEG scan before the frame header");
    Bytes twoFrames = HandGrey(8, 8, { 0 });
    StreamWriter sof;
    sof.Sof(0xC0, 8, 8, { { 1, 1, 1, 0 } });
    size_t sos = FindMarker(twoFrames, 0xDA);
    twoFrames.insert(twoFrames.begin() + (long)sos, sof.bytes.begin(), sof.bytes.end());
    EXPECT_EQ(Refusal(twoFrames), "second JPEG frame header");

    // Table segments whose length disagrees with the tables they hold.
    Bytes good = HandGrey(8, 8, { 0 });
    size_t dht = FindMarker(good, 0xC4);
    Bytes longDht = good, shortDht = good, longDqt = good;
    longDht[dht + 3] += 1;
    shortDht[dht + 3] -= 1;
    EXPECT_EQ(Refusal(longDht), "Huffman table segment length disagrees with its tables");
    EXPECT_EQ(Refusal(shortDht), "Huffman table segment length disagrees with its tables");
    longDqt[FindMarker(good, 0xDB) + 3] += 3;
    EXPECT_FALSE(DecodeJpegWithModule(longDqt).ok);
}

// 9 one-block MCUs with a restart interval of 1: RST0 ... RST7, RST0.
Bytes RestartStream(const std::vector<int>& rstNumbers, int interval = 1)
{
    StreamWriter w = HandStart();
    w.Sof(0xC0, 72, 8, { { 1, 1, 1, 0 } });
    w.Dri(interval);
    w.Sos({ { 1, 0, 0 } }, 0, 63, 0, 0);
    for (int block = 0; block < 9; ++block) {
        if (block > 0 && block % interval == 0) {
            w.Flush();
            w.Raw({ 0xFF, 0xD0 + rstNumbers[(size_t)(block / interval - 1)] });
        }
        PutDc(w, block == 0 || block % interval == 0 ? 40 : 0);   // the predictor starts again at each restart
        PutEob(w);
    }
    w.Flush();
    w.Eoi();
    return w.bytes;
}

TEST(JpegRestart, MarkersCountModulo8)
{
    Picture p = DecodeJpegWithModule(RestartStream({ 0, 1, 2, 3, 4, 5, 6, 7, 0 }));
    ASSERT_TRUE(p.ok);
    for (int x = 0; x < 72; x += 7)
        EXPECT_EQ(p.Pixel(x, 3)[0], 128 + 40) << x;   // every block DC 40 after its restart
    EXPECT_EQ(Refusal(RestartStream({ 0, 1, 3, 4, 5, 6, 7, 0, 1 })), "wrong or missing restart marker");
    EXPECT_FALSE(DecodeJpegWithModule(RestartStream({ 1, 2, 3, 4, 5, 6, 7, 0, 1 })).ok);
    // Interval 4: markers only after blocks 4 and 8.
    EXPECT_TRUE(DecodeJpegWithModule(RestartStream({ 0, 1 }, 4)).ok);

    // Interval 0 expects no markers: a marker in the data is then refused.
    Bytes none = RestartStream({ 0, 1, 2, 3, 4, 5, 6, 7, 0 });
    size_t dri = FindMarker(none, 0xDD);
    none[dri + 5] = 0;
    EXPECT_FALSE(DecodeJpegWithModule(none).ok);
}

TEST(JpegRestart, NumberingStartsAgainInEachScan)
{
    // Two sequential scans of the same component, each with RST0 after its first block.
    auto stream = [](int secondScanRst) {
        StreamWriter w = HandStart();
        w.Sof(0xC0, 16, 8, { { 1, 1, 1, 0 } });
        w.Dri(1);
        for (int scan = 0; scan < 2; ++scan) {
            w.Sos({ { 1, 0, 0 } }, 0, 63, 0, 0);
            PutDc(w, 10 * (scan + 1));
            PutEob(w);
            w.Flush();
            w.Raw({ 0xFF, scan == 0 ? 0xD0 : 0xD0 + secondScanRst });
            PutDc(w, 10 * (scan + 1));
            PutEob(w);
            w.Flush();
        }
        w.Eoi();
        return w.bytes;
    };
    Picture p = DecodeJpegWithModule(stream(0));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.Pixel(0, 0)[0], 148);   // the second scan's values replace the first's
    EXPECT_EQ(p.Pixel(15, 0)[0], 148);
    EXPECT_FALSE(DecodeJpegWithModule(stream(1)).ok);
    // libjpeg's progressive files restart their numbering per scan too.
    EncodeOptions o;
    o.progressive = true;
    o.restartInterval = 2;
    EXPECT_TRUE(DecodeJpegWithModule(EncodeJpeg(TestPattern(64, 48, 3), 64, 48, o)).ok);
}

TEST(JpegStream, TruncationAndMarkersInsideData)
{
    Bytes jpeg = SmallJpeg();
    Bytes noEoi(jpeg.begin(), jpeg.end() - 2);
    EXPECT_EQ(Refusal(noEoi), "no end-of-image marker");
    Bytes progressiveNoEoi = SmallJpeg(true, true);
    progressiveNoEoi.resize(progressiveNoEoi.size() - 2);
    EXPECT_FALSE(DecodeJpegWithModule(progressiveNoEoi).ok);
    for (size_t cut : { (size_t)3, jpeg.size() / 3, jpeg.size() / 2, jpeg.size() - 5 })
        EXPECT_FALSE(DecodeJpegWithModule(Bytes(jpeg.begin(), jpeg.begin() + (long)cut)).ok) << cut;

    // A marker where entropy-coded data goes on.
    size_t sos = FindMarker(jpeg, 0xDA);
    Bytes inside = jpeg;
    inside.insert(inside.begin() + (long)sos + 30, { 0xFF, 0xC4 });
    EXPECT_FALSE(DecodeJpegWithModule(inside).ok);

    // Tables where DC category 0 and end-of-block are both the code '1':
    // each block is two 1 bits, so the scan's last byte is 0xFF, wholly used
    // (4 blocks) or partly (3 blocks). Stepping past it needs a stuffed zero.
    auto ffEnding = [](int blocks, bool stuffed) {
        StreamWriter w;
        w.Soi();
        w.Jfif();
        w.Dqt(0, 8);
        w.Dht(0, 0, { 1, 0 }, 1);
        w.Dht(1, 0, { 1, 0 }, 1);
        w.Sof(0xC0, 8 * blocks, 8, { { 1, 1, 1, 0 } });
        w.Sos({ { 1, 0, 0 } }, 0, 63, 0, 0);
        w.Raw({ 0xFF });
        if (stuffed)
            w.Raw({ 0x00 });
        w.Eoi();
        return w.bytes;
    };
    for (int blocks : { 3, 4 }) {
        EXPECT_TRUE(DecodeJpegWithModule(ffEnding(blocks, true)).ok) << blocks;
        EXPECT_FALSE(DecodeJpegWithModule(ffEnding(blocks, false)).ok) << blocks;
        EXPECT_FALSE(ReferenceDecodeJpeg(ffEnding(blocks, false).data(), ffEnding(blocks, false).size()).ok);
    }
}

// Coefficients of one 8x8 grey block written as a progressive stream: DC
// first, AC first with Al = 1, then an AC refinement with a ZRL and an
// end-of-band run over the following blocks, against the same coefficients
// written as a baseline stream.
TEST(JpegProgressive, EndOfBandRunsAndRefinement)
{
    const int blocks = 4;
    StreamWriter p = HandStart();
    p.Sof(0xC2, 8 * blocks, 8, { { 1, 1, 1, 0 } });
    p.Sos({ { 1, 0, 0 } }, 0, 0, 0, 0);
    for (int diff : { 20, -25, 0, 0 })
        PutDc(p, diff);
    p.Flush();
    // AC first, Al = 1: block 0 gets +2 at k = 1 (sent as 1) and -4 at k = 5
    // (sent as -2), then an end-of-band run of 2^2 + 0 - 1 = 3 more blocks.
    p.Sos({ { 1, 0, 0 } }, 1, 63, 0, 1);
    PutAc(p, 0, 1);
    PutAc(p, 3, -2);
    PutAcSymbol(p, 0x20);
    p.Bits(0, 2);
    p.Flush();
    // AC refinement, Al = 0. Block 0: a ZRL passes k = 1 (non-zero, refined
    // to 3), 2..4 (zeros), 5 (non-zero, refinement bit 0: stays -4) and 6..18
    // (zeros: 16 in all); then R = 1, S = 1 skips k = 19 and puts +1 at k = 20;
    // an end of band closes the block. Blocks 1 to 3: one run of 2^1 + 1.
    p.Sos({ { 1, 0, 0 } }, 1, 63, 1, 0);
    PutAcSymbol(p, 0xF0);
    p.Bits(1, 1);
    p.Bits(0, 1);
    PutAcSymbol(p, 0x11);
    p.Bits(1, 1);
    PutEob(p);
    PutAcSymbol(p, 0x10);
    p.Bits(1, 1);
    p.Flush();
    p.Eoi();

    // The same coefficients as a baseline stream.
    StreamWriter s2 = HandStart();
    s2.Sof(0xC0, 8 * blocks, 8, { { 1, 1, 1, 0 } });
    s2.Sos({ { 1, 0, 0 } }, 0, 63, 0, 0);
    PutDc(s2, 20);
    PutAc(s2, 0, 3);
    PutAc(s2, 3, -4);
    PutAc(s2, 14, 1);
    PutEob(s2);
    for (int diff : { -25, 0, 0 }) {
        PutDc(s2, diff);
        PutEob(s2);
    }
    s2.Flush();
    s2.Eoi();

    Picture progressive = DecodeJpegWithModule(p.bytes);
    Picture baseline = DecodeJpegWithModule(s2.bytes);
    ASSERT_TRUE(progressive.ok);
    ASSERT_TRUE(baseline.ok);
    EXPECT_TRUE(progressive.dib == baseline.dib);
    EXPECT_TRUE(ReferenceDecodeJpeg(p.bytes.data(), p.bytes.size()).dib == progressive.dib);
    // libjpeg reads the same coefficients from both streams.
    Picture peerP = DecodeWithLibjpeg(p.bytes), peerS = DecodeWithLibjpeg(s2.bytes);
    ASSERT_TRUE(peerP.ok && peerS.ok);
    EXPECT_TRUE(peerP.dib == peerS.dib);
    // Block 3 is DC-only: -5 x 8 / 8 + 128.
    EXPECT_EQ(progressive.Pixel(28, 4)[0], 123);
}

TEST(JpegProgressive, RefusedScanHeaders)
{
    auto scan = [](int ss, int se, int ah, int al) {
        StreamWriter w = HandStart();
        w.Sof(0xC2, 8, 8, { { 1, 1, 1, 0 } });
        w.Sos({ { 1, 0, 0 } }, 0, 0, 0, 0);
        PutDc(w, 3);
        w.Flush();
        w.Sos({ { 1, 0, 0 } }, ss, se, ah, al);
        PutEob(w);
        w.Flush();
        w.Eoi();
        return w.bytes;
    };
    EXPECT_TRUE(DecodeJpegWithModule(scan(1, 63, 0, 0)).ok);
    EXPECT_EQ(Refusal(scan(0, 5, 0, 0)), "progressive DC scan with Se not 0");
    EXPECT_EQ(Refusal(scan(1, 64, 0, 0)), "bad progressive spectral band");
    EXPECT_EQ(Refusal(scan(9, 8, 0, 0)), "bad progressive spectral band");
    EXPECT_EQ(Refusal(scan(1, 63, 0, 14)), "bad successive approximation bit position");
    // A refinement symbol with S above 1.
    StreamWriter w = HandStart();
    w.Sof(0xC2, 8, 8, { { 1, 1, 1, 0 } });
    w.Sos({ { 1, 0, 0 } }, 0, 0, 0, 0);
    PutDc(w, 3);
    w.Flush();
    w.Sos({ { 1, 0, 0 } }, 1, 63, 1, 0);
    PutAc(w, 0, 2);
    w.Flush();
    w.Eoi();
    EXPECT_FALSE(DecodeJpegWithModule(w.bytes).ok);
}

TEST(JpegStream, ComponentIdentifiersNeedNotBeConsecutive)
{
    EncodeOptions plain, odd, zero;
    odd.ids[0] = 82, odd.ids[1] = 71, odd.ids[2] = 66;
    zero.ids[0] = 0, zero.ids[1] = 254, zero.ids[2] = 7;
    Bytes rgb = TestPattern(40, 24, 5);
    Picture a = DecodeJpegWithModule(EncodeJpeg(rgb, 40, 24, plain));
    Picture b = DecodeJpegWithModule(EncodeJpeg(rgb, 40, 24, odd));
    Picture c = DecodeJpegWithModule(EncodeJpeg(rgb, 40, 24, zero));
    ASSERT_TRUE(a.ok && b.ok && c.ok);
    EXPECT_TRUE(a.dib == b.dib);
    EXPECT_TRUE(a.dib == c.dib);
}

// Every allocation of a decode made to fail in turn: each failure refuses
// the picture and leaves no heap block or GDI object behind.
TEST(JpegHardening, AllocationFailuresLeakNothing)
{
    EncodeOptions progressive;
    progressive.progressive = true;
    for (const Bytes& jpeg : { SmallJpeg(), EncodeJpeg(TestPattern(40, 40, 9), 40, 40, progressive) }) {
        NativeWinCounts before = NativeWin_Counts();
        int failures = 0;
        for (long n = 0; n < 50; ++n) {
            NativeWin_FailAllocation(n);
            Picture p = DecodeJpegWithModule(jpeg);
            NativeWin_FailAllocation(-1);
            NativeWinCounts after = NativeWin_Counts();
            EXPECT_EQ(after.heapBlocks, before.heapBlocks) << n;
            EXPECT_EQ(after.gdiObjects, before.gdiObjects) << n;
            if (!p.ok)
                ++failures;
            else
                break;
        }
        EXPECT_GE(failures, 4);   // the decoder, the header, the DIB section, planes...
    }
}

TEST(JpegHardening, HugeDimensionsAreRefusedBeforeAllocating)
{
    StreamWriter w = HandStart();
    w.Sof(0xC0, 65535, 65535, { { 1, 2, 2, 0 }, { 2, 1, 1, 0 }, { 3, 1, 1, 0 } });
    w.Eoi();
    NativeWinCounts before = NativeWin_Counts();
    EXPECT_EQ(Refusal(w.bytes), "JPEG picture too large");
    EXPECT_EQ(NativeWin_Counts().gdiObjects, before.gdiObjects);
    EXPECT_EQ(NativeWin_Counts().heapBlocks, before.heapBlocks);
}

} // namespace
