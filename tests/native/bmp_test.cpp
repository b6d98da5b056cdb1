// BMP decoding: files and packed DIBs, colour tables and palettes, row
// sizes, top-down data, and the refusals that keep a copy inside the data.
#include <gtest/gtest.h>

#include <windows.h>

#include "imaging/imaging.h"

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (uint8_t)(v >> (8 * i));
}

struct BmpSpec {
    int width = 3;
    int height = 2;          // negative: top-down
    int bitCount = 24;
    uint32_t clrUsed = 0;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    int tableColours = -1;   // colours written; -1: as the header implies
};

// A packed DIB: header, colour table (entry i = blue i, green 2i, red 3i),
// pixel bytes numbered row by row (byte j of stored row r = r * 16 + j).
Bytes PackedDib(const BmpSpec& s)
{
    int colours = s.tableColours >= 0 ? s.tableColours
                                      : (s.bitCount <= 8 ? (s.clrUsed ? (int)s.clrUsed : 1 << s.bitCount) : 0);
    uint32_t rowBytes = ((uint32_t)s.width * s.bitCount + 31) / 32 * 4;
    uint32_t rows = (uint32_t)(s.height < 0 ? -s.height : s.height);
    Bytes b(s.headerSize + 4 * colours + rowBytes * rows, 0);
    Put32(b, 0, s.headerSize);
    Put32(b, 4, (uint32_t)s.width);
    Put32(b, 8, (uint32_t)s.height);
    Put16(b, 12, 1);
    Put16(b, 14, (uint32_t)s.bitCount);
    Put32(b, 16, s.compression);
    Put32(b, 32, s.clrUsed);
    for (int i = 0; i < colours; ++i) {
        b[s.headerSize + 4 * i] = (uint8_t)i;
        b[s.headerSize + 4 * i + 1] = (uint8_t)(2 * i);
        b[s.headerSize + 4 * i + 2] = (uint8_t)(3 * i);
    }
    size_t pixels = s.headerSize + 4 * colours;
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t j = 0; j < rowBytes; ++j)
            b[pixels + r * rowBytes + j] = (uint8_t)(r * 16 + j);
    }
    return b;
}

Bytes File(const Bytes& dib, uint32_t extraGap = 0)
{
    Bytes f(14 + extraGap, 0);
    f[0] = 'B';
    f[1] = 'M';
    Put32(f, 2, (uint32_t)(14 + extraGap + dib.size()));
    uint32_t headerSize = dib[0] | dib[1] << 8;
    uint32_t bitCount = dib[14];
    uint32_t clrUsed = dib[32] | dib[33] << 8;
    uint32_t colours = bitCount <= 8 ? (clrUsed ? clrUsed : 1u << bitCount) : 0;
    // The gap goes between the table and the pixels, where bfOffBits points past it.
    Bytes out = f;
    out.resize(14);
    out.insert(out.end(), dib.begin(), dib.begin() + headerSize + 4 * colours);
    out.insert(out.end(), extraGap, 0xEE);
    out.insert(out.end(), dib.begin() + headerSize + 4 * colours, dib.end());
    Put32(out, 10, 14 + headerSize + 4 * colours + extraGap);
    return out;
}

struct Decoded {
    HBITMAP dib = nullptr;
    IMG_INFO info = {};
    explicit Decoded(const Bytes& data)
    {
        info.cbData = (DWORD)data.size();
        dib = Img_Decode(nullptr, IMG_TYPE_BMP, data.data(), &info);
    }
    ~Decoded()
    {
        if (dib)
            DeleteObject(dib);
        HeapFree(GetProcessHeap(), 0, info.pBitmapInfo);
        HeapFree(GetProcessHeap(), 0, info.pLogPalette);
    }
    const uint8_t* Bits() const { return static_cast<const uint8_t*>(info.pBits); }
};

TEST(BmpDecode, RowSizesAndBitDepths)
{
    struct {
        int bits, width;
        uint32_t rowBytes;
    } cases[] = { { 1, 3, 4 }, { 1, 33, 8 }, { 4, 9, 8 }, { 8, 5, 8 }, { 16, 3, 8 }, { 24, 3, 12 }, { 24, 17, 52 }, { 32, 3, 12 } };
    for (const auto& c : cases) {
        BmpSpec s;
        s.bitCount = c.bits;
        s.width = c.width;
        Decoded d(PackedDib(s));
        ASSERT_NE(d.dib, nullptr) << c.bits << " " << c.width;
        // Both stored rows arrive as stored: byte j of row r is r * 16 + j.
        for (uint32_t j = 0; j < c.rowBytes; ++j) {
            EXPECT_EQ(d.Bits()[j], j);
            EXPECT_EQ(d.Bits()[c.rowBytes + j], 16 + j);
        }
        EXPECT_EQ(d.info.pBitmapInfo->bmiHeader.biBitCount, c.bits);
    }
    BmpSpec two;
    two.bitCount = 2;
    two.tableColours = 4;
    Decoded refused(PackedDib(two));
    EXPECT_EQ(refused.dib, nullptr);
    EXPECT_STREQ(Img_GetNotes()->refusal, "unsupported BMP bit depth");
}

TEST(BmpDecode, ColourTablesBecomePalettes)
{
    BmpSpec s;
    s.bitCount = 8;
    Decoded d(PackedDib(s));
    ASSERT_NE(d.dib, nullptr);
    EXPECT_EQ(d.info.nColors, 256u);
    ASSERT_NE(d.info.pLogPalette, nullptr);
    EXPECT_EQ(d.info.pLogPalette->palVersion, 0x300);
    EXPECT_EQ(d.info.pLogPalette->palNumEntries, 256);
    for (int i : { 0, 1, 77, 255 }) {
        const PALETTEENTRY& e = d.info.pLogPalette->palPalEntry[i];
        EXPECT_EQ(e.peRed, (uint8_t)(3 * i));
        EXPECT_EQ(e.peGreen, (uint8_t)(2 * i));
        EXPECT_EQ(e.peBlue, (uint8_t)i);
        EXPECT_EQ(e.peFlags, 0);
        EXPECT_EQ(d.info.pBitmapInfo->bmiColors[i].rgbBlue, (uint8_t)i);
    }
    // The DIB section got the same table.
    EXPECT_EQ(NativeWin_DibInfo(d.dib)->bmiColors[200].rgbRed, (uint8_t)600);

    BmpSpec used;
    used.bitCount = 4;
    used.clrUsed = 5;
    Decoded few(PackedDib(used));
    ASSERT_NE(few.dib, nullptr);
    EXPECT_EQ(few.info.nColors, 5u);
    EXPECT_EQ(few.info.pLogPalette->palNumEntries, 5);

    Decoded trueColour(PackedDib(BmpSpec()));
    ASSERT_NE(trueColour.dib, nullptr);
    EXPECT_EQ(trueColour.info.nColors, 0u);
    EXPECT_EQ(trueColour.info.pLogPalette, nullptr);

    BmpSpec tooMany;
    tooMany.bitCount = 4;
    tooMany.clrUsed = 17;
    EXPECT_EQ(Decoded(PackedDib(tooMany)).dib, nullptr);
}

TEST(BmpDecode, FilesAndPackedDibsGiveTheSamePicture)
{
    BmpSpec s;
    s.bitCount = 8;
    s.width = 7;
    s.height = 4;
    Bytes dib = PackedDib(s);
    Decoded packed(dib), file(File(dib)), gapped(File(dib, 10));
    ASSERT_NE(packed.dib, nullptr);
    ASSERT_NE(file.dib, nullptr);
    ASSERT_NE(gapped.dib, nullptr);
    EXPECT_EQ(memcmp(packed.Bits(), file.Bits(), 8 * 4), 0);
    EXPECT_EQ(memcmp(packed.Bits(), gapped.Bits(), 8 * 4), 0);
    EXPECT_EQ(memcmp(packed.info.pBitmapInfo, file.info.pBitmapInfo, 40 + 4 * 256), 0);
}

TEST(BmpDecode, TopDownRowsAreTurnedOver)
{
    BmpSpec s;
    s.height = -3;
    Decoded d(PackedDib(s));
    ASSERT_NE(d.dib, nullptr);
    EXPECT_EQ(d.info.pBitmapInfo->bmiHeader.biHeight, 3);
    // Stored row 0 is the top row: it becomes the last DIB row.
    EXPECT_EQ(d.Bits()[2 * 12], 0);
    EXPECT_EQ(d.Bits()[0], 2 * 16);
}

TEST(BmpDecode, LargerHeadersAreCopiedAsPlainOnes)
{
    BmpSpec s;
    s.bitCount = 8;
    s.headerSize = 124;
    Decoded d(PackedDib(s));
    ASSERT_NE(d.dib, nullptr);
    EXPECT_EQ(d.info.pBitmapInfo->bmiHeader.biSize, 40u);
    EXPECT_EQ(d.info.pBitmapInfo->bmiColors[5].rgbGreen, 10);
    EXPECT_EQ(d.Bits()[0], 0);
}

TEST(BmpDecode, Refusals)
{
    auto refusal = [](const Bytes& b) {
        Decoded d(b);
        EXPECT_EQ(d.dib, nullptr);
        EXPECT_EQ(d.info.pBitmapInfo, nullptr);
        EXPECT_EQ(d.info.pLogPalette, nullptr);
        const char* why = Img_GetNotes()->refusal;
        return std::string(why ? why : "");
    };
    BmpSpec rle;
    rle.bitCount = 8;
    rle.compression = BI_RLE8;
    EXPECT_EQ(refusal(PackedDib(rle)), "compressed BMP (RLE or bit fields)");
    BmpSpec fields;
    fields.bitCount = 32;
    fields.compression = BI_BITFIELDS;
    EXPECT_EQ(refusal(PackedDib(fields)), "compressed BMP (RLE or bit fields)");
    BmpSpec core;
    core.headerSize = 12;
    core.height = 4;
    EXPECT_EQ(refusal(PackedDib(core)), "unsupported BMP header");

    Bytes dib = PackedDib(BmpSpec());
    EXPECT_EQ(refusal(Bytes(dib.begin(), dib.end() - 1)), "truncated BMP pixel data");
    EXPECT_EQ(refusal(Bytes(dib.begin(), dib.begin() + 39)), "truncated BMP header");
    Bytes file = File(dib);
    Put32(file, 10, 0xFFFFFFF0);
    EXPECT_EQ(refusal(file), "truncated BMP pixel data");
    BmpSpec table;
    table.bitCount = 8;
    Bytes cut = PackedDib(table);
    cut.resize(40 + 100);
    EXPECT_EQ(refusal(cut), "truncated BMP colour table");

    Bytes huge = dib;
    Put32(huge, 4, 100000);
    Put32(huge, 8, 100000);
    EXPECT_EQ(refusal(huge), "BMP picture too large");
    Bytes zero = dib;
    Put32(zero, 8, 0);
    EXPECT_EQ(refusal(zero), "bad BMP dimensions");
    Bytes minHeight = dib;
    Put32(minHeight, 8, 0x80000000);
    EXPECT_EQ(refusal(minHeight), "bad BMP dimensions");
}

TEST(BmpDecode, AllocationFailuresLeakNothing)
{
    BmpSpec s;
    s.bitCount = 8;
    Bytes dib = PackedDib(s);
    NativeWinCounts before = NativeWin_Counts();
    for (long n = 0; n < 3; ++n) {
        NativeWin_FailAllocation(n);
        Decoded d(dib);
        NativeWin_FailAllocation(-1);
        EXPECT_EQ(d.dib, nullptr) << n;
    }
    EXPECT_EQ(NativeWin_Counts().heapBlocks, before.heapBlocks);
    EXPECT_EQ(NativeWin_Counts().gdiObjects, before.gdiObjects);
}

} // namespace
