// Reconstruction and output: the scaled tables, the transform's fixed points
// (DC-only blocks, clamping), colour conversion, replication of subsampled
// components and the layout of the 24-bit DIB.
#include "jpeg_fixtures.h"
#include "jpeg_handmade.h"
#include "jpeg_reference.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "imaging/jpeg_decoder.h"

#include <cmath>

namespace {

// Scaled value n = trunc(4096 f(i) f(j) / 8 Q), f(k) = 1 / (sqrt 2 cos(k pi / 16)).
// Where f(i) f(j) is irrational no product lies within 1e-6 of an integer, so
// the table's literals cannot truncate differently from the true values.
TEST(JpegReconstruct, ScaledQuantisationTables)
{
    const long double pi = std::acos(-1.0L);
    auto f = [&](int k) { return k == 0 ? 1.0L : 1.0L / (std::sqrt(2.0L) * std::cos(k * pi / 16)); };
    EXPECT_NEAR((double)(f(0) * f(1) / 8), 0.090120, 1e-6);
    EXPECT_NEAR((double)(f(0) * f(3) / 8), 0.106304, 1e-6);
    EXPECT_NEAR((double)(f(7) * f(7) / 8), 1.642134, 1e-6);
    JPEG_QUANT_TABLE table = {};
    for (int q = 1; q <= 255; ++q) {
        for (int k = 0; k < 64; ++k)
            table.raw[k] = (WORD)q;
        JpegScaleQuant(&table);
        for (int n = 0; n < 64; ++n) {
            long double exact = 4096.0L * f(n / 8) * f(n % 8) / 8.0L * q;
            bool rational = (n / 8) % 4 == 0 && (n % 8) % 4 == 0;
            if (!rational)
                ASSERT_GT(std::fabs(exact - std::round(exact)), 1e-6L) << n << " " << q;
            ASSERT_EQ(table.scaled[n], (uint32_t)(exact + (rational ? 0.5L : 0.0L))) << n << " " << q;
        }
    }
    // Raw values arrive in zigzag order: position 2 of the stream is natural index 8.
    for (int k = 0; k < 64; ++k)
        table.raw[k] = (WORD)(k == 2 ? 16 : 1);
    JpegScaleQuant(&table);
    EXPECT_EQ(table.scaled[8], (uint32_t)(4096.0L * f(1) / 8 * 16));
    EXPECT_EQ(table.scaled[1], (uint32_t)(4096.0L * f(1) / 8));
}

TEST(JpegReconstruct, DcOnlyBlocksAndClamping)
{
    // clamp((trunc(4096 Q / 8) D + 0x80800) >> 12) = 128 + D Q / 8 rounded.
    struct {
        int q, dc, expected;
    } cases[] = {
        { 8, 0, 128 }, { 8, 10, 138 }, { 8, -10, 118 }, { 16, 7, 142 }, { 3, 5, 130 }, { 3, -5, 126 },
        { 8, 127, 255 }, { 8, 128, 255 }, { 8, 200, 255 }, { 8, -128, 0 }, { 8, -200, 0 }, { 255, 2000, 255 },
    };
    for (const auto& c : cases) {
        Picture p = DecodeJpegWithModule(HandGrey(8, 8, { c.dc }, c.q));
        ASSERT_TRUE(p.ok);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                ASSERT_EQ(p.Pixel(x, y)[0], c.expected) << c.q << " " << c.dc;
                ASSERT_EQ(p.Pixel(x, y)[2], c.expected);
            }
        }
    }
    // A block with large AC values swings far past 0 and 255: clamped, never wrapped.
    StreamWriter w = HandStart(255);
    w.Sof(0xC0, 8, 8, { { 1, 1, 1, 0 } });
    w.Sos({ { 1, 0, 0 } }, 0, 63, 0, 0);
    PutDc(w, 0);
    PutAc(w, 0, 1000);   // one horizontal cosine, far past the sample range
    PutEob(w);
    w.Flush();
    w.Eoi();
    Picture p = DecodeJpegWithModule(w.bytes);
    ASSERT_TRUE(p.ok);
    int zeros = 0, full = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            zeros += p.Pixel(x, y)[0] == 0;
            full += p.Pixel(x, y)[0] == 255;
        }
    }
    EXPECT_EQ(zeros + full, 64);
    EXPECT_GT(zeros, 0);
    EXPECT_GT(full, 0);
}

// A 4:4:4 picture of one block per component with these DC sample values
// (Q = 8, so DC value D gives 128 + D).
Picture Colour(int y, int cb, int cr)
{
    StreamWriter w = HandStart();
    w.Sof(0xC0, 8, 8, { { 1, 1, 1, 0 }, { 2, 1, 1, 0 }, { 3, 1, 1, 0 } });
    w.Sos({ { 1, 0, 0 }, { 2, 0, 0 }, { 3, 0, 0 } }, 0, 63, 0, 0);
    for (int v : { y, cb, cr }) {
        PutDc(w, v - 128);
        PutEob(w);
    }
    w.Flush();
    w.Eoi();
    return DecodeJpegWithModule(w.bytes);
}

TEST(JpegReconstruct, ColourConversion)
{
    struct {
        int y, cb, cr;
        int b, g, r;
    } cases[] = {
        { 128, 128, 128, 128, 128, 128 },
        { 255, 128, 255, 255, 164, 255 },   // red 255 + 178 = 433, clamped
        { 0, 0, 128, 0, 44, 0 },            // blue 0 - 227, clamped; green 0 + 44
        { 100, 200, 50, 228, 131, 0 },
        { 50, 60, 200, 0, 22, 151 },
    };
    for (const auto& c : cases) {
        Picture p = Colour(c.y, c.cb, c.cr);
        ASSERT_TRUE(p.ok);
        const uint8_t* px = p.Pixel(3, 5);
        EXPECT_EQ(px[0], c.b) << c.y << " " << c.cb << " " << c.cr;
        EXPECT_EQ(px[1], c.g) << c.y << " " << c.cb << " " << c.cr;
        EXPECT_EQ(px[2], c.r) << c.y << " " << c.cb << " " << c.cr;
    }
}

// A later scan that replaces one component of an interleaved first scan: the
// picture is built from the final samples of all three, as if the first scan
// had never converted anything.
TEST(JpegReconstruct, LaterScanReplacesOneComponent)
{
    StreamWriter w = HandStart();
    w.Sof(0xC0, 8, 8, { { 1, 1, 1, 0 }, { 2, 1, 1, 0 }, { 3, 1, 1, 0 } });
    w.Sos({ { 1, 0, 0 }, { 2, 0, 0 }, { 3, 0, 0 } }, 0, 63, 0, 0);
    for (int v : { 100, 200, 50 }) {
        PutDc(w, v - 128);
        PutEob(w);
    }
    w.Flush();
    w.Sos({ { 2, 0, 0 } }, 0, 63, 0, 0);
    PutDc(w, 60 - 128);
    PutEob(w);
    w.Flush();
    w.Eoi();
    Picture p = DecodeJpegWithModule(w.bytes);
    ASSERT_TRUE(p.ok);
    Picture expected = Colour(100, 60, 50);
    ASSERT_TRUE(expected.ok);
    EXPECT_TRUE(p.dib == expected.dib);
    ReferencePicture plain = ReferenceDecodeJpeg(w.bytes.data(), w.bytes.size());
    ASSERT_TRUE(plain.ok);
    EXPECT_TRUE(p.dib == plain.dib);
}

// 4:2:0: every chroma sample covers a 2 x 2 square of pixels, copied, not
// interpolated. Flat luminance and a chroma block with horizontal and
// vertical detail make every square visible.
TEST(JpegReconstruct, ReplicationOfSubsampledChroma)
{
    StreamWriter w = HandStart();
    w.Sof(0xC0, 16, 16, { { 1, 2, 2, 0 }, { 2, 1, 1, 0 }, { 3, 1, 1, 0 } });
    w.Sos({ { 1, 0, 0 }, { 2, 0, 0 }, { 3, 0, 0 } }, 0, 63, 0, 0);
    for (int i = 0; i < 4; ++i) {
        PutDc(w, 0);
        PutEob(w);
    }
    PutDc(w, 0);
    PutAc(w, 0, 30);    // k = 1: across
    PutAc(w, 0, -25);   // k = 2: down
    PutEob(w);
    PutDc(w, 0);
    PutAc(w, 2, 20);    // k = 3
    PutEob(w);
    w.Flush();
    w.Eoi();
    Picture p = DecodeJpegWithModule(w.bytes);
    ASSERT_TRUE(p.ok);
    int distinct = 0;
    for (int y = 0; y < 16; y += 2) {
        for (int x = 0; x < 16; x += 2) {
            const uint8_t* a = p.Pixel(x, y);
            for (auto [dx, dy] : { std::pair{ 1, 0 }, std::pair{ 0, 1 }, std::pair{ 1, 1 } }) {
                const uint8_t* b = p.Pixel(x + dx, y + dy);
                ASSERT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) << x << "," << y;
            }
            if (x > 0 && memcmp(a, p.Pixel(x - 2, y), 3) != 0)
                ++distinct;
        }
    }
    EXPECT_GT(distinct, 20);
    EXPECT_TRUE(ReferenceDecodeJpeg(w.bytes.data(), w.bytes.size()).dib == p.dib);
}

// Rows are bottom-up, 3 x width rounded up to 4 bytes, padding zero.
TEST(JpegReconstruct, OutputLayout)
{
    Bytes rgb = TestPattern(17, 5, 2);
    EncodeOptions fine;
    fine.quality = 95;
    fine.h[0] = fine.v[0] = 1;
    Bytes jpeg = EncodeJpeg(rgb, 17, 5, fine);
    IMG_INFO info = {};
    info.cbData = (DWORD)jpeg.size();
    HBITMAP dib = Img_Decode(nullptr, IMG_TYPE_JPEG, jpeg.data(), &info);
    ASSERT_NE(dib, nullptr);
    const BITMAPINFOHEADER& h = info.pBitmapInfo->bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 17);
    EXPECT_EQ(h.biHeight, 5);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(h.biXPelsPerMeter, 72);
    EXPECT_EQ(h.biYPelsPerMeter, 72);
    EXPECT_EQ(info.nColors, 0u);
    EXPECT_EQ(info.pLogPalette, nullptr);
    EXPECT_EQ(info.pBits, NativeWin_DibBits(dib));
    EXPECT_EQ(Img_GetRowBytes(17, 24), 52u);
    const uint8_t* bits = static_cast<const uint8_t*>(info.pBits);
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(bits[row * 52 + 51], 0) << row;
    // The top picture row is the last DIB row: compare its first pixel with the source.
    const uint8_t* top = bits + 4 * 52;
    EXPECT_NEAR(top[2], rgb[0], 24);
    EXPECT_NEAR(top[1], rgb[1], 24);
    EXPECT_NEAR(top[0], rgb[2], 24);
    DeleteObject(dib);
    HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
}

// A 3-component frame whose scans leave a component out decodes to black.
TEST(JpegReconstruct, MissingComponentLeavesThePictureBlack)
{
    StreamWriter w = HandStart();
    w.Sof(0xC0, 8, 8, { { 1, 1, 1, 0 }, { 2, 1, 1, 0 }, { 3, 1, 1, 0 } });
    w.Sos({ { 1, 0, 0 }, { 2, 0, 0 } }, 0, 63, 0, 0);
    PutDc(w, 50);
    PutEob(w);
    PutDc(w, 0);
    PutEob(w);
    w.Flush();
    w.Eoi();
    Picture p = DecodeJpegWithModule(w.bytes);
    ASSERT_TRUE(p.ok);
    for (uint8_t b : p.dib)
        ASSERT_EQ(b, 0);
}

} // namespace
