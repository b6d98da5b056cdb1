// The shared services: type codes from file names, dispatch by type, row
// sizes, and gradient palettes.
#include <gtest/gtest.h>

#include <windows.h>

#include "imaging/imaging.h"

namespace {

TEST(ImageCommon, TypeFromExtension)
{
    struct {
        const char* path;
        WORD type;
    } cases[] = {
        { "a.jpg", IMG_TYPE_JPEG },        { "C:\\skin\\bg.JPEG", IMG_TYPE_JPEG },  { "x.gif", IMG_TYPE_GIF },
        { "logo.b.Png", IMG_TYPE_PNG },    { "old.PING", IMG_TYPE_PNG },            { "scan.tif", IMG_TYPE_TIFF },
        { "scan.Tiff", IMG_TYPE_TIFF },    { "face.BMP", IMG_TYPE_BMP },            { "noext", IMG_TYPE_UNKNOWN },
        { "C:\\dir.jpg\\file", IMG_TYPE_UNKNOWN }, { "picture.jpg.txt", IMG_TYPE_UNKNOWN }, { "trailing.", IMG_TYPE_UNKNOWN },
        { "", IMG_TYPE_UNKNOWN },          { ".bmp", IMG_TYPE_BMP },                { "a.jp", IMG_TYPE_UNKNOWN },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Img_GetTypeFromExtension(c.path), c.type) << c.path;
    EXPECT_EQ(Img_GetTypeFromExtension(nullptr), IMG_TYPE_UNKNOWN);
}

TEST(ImageCommon, DecodeDispatchesByType)
{
    static const BYTE kBytes[] = { 'G', 'I', 'F', '8', '9', 'a', 0, 0 };
    for (WORD type : { (WORD)IMG_TYPE_GIF, (WORD)IMG_TYPE_TIFF, (WORD)IMG_TYPE_UNKNOWN, (WORD)5 }) {
        IMG_INFO info = {};
        info.cbData = sizeof kBytes;
        EXPECT_EQ(Img_Decode(nullptr, type, kBytes, &info), nullptr) << type;
        EXPECT_EQ(info.pBitmapInfo, nullptr);
        EXPECT_NE(Img_GetNotes()->refusal, nullptr);
    }
    // Each decoder refuses what is not its own, and says so.
    for (WORD type : { IMG_TYPE_JPEG, IMG_TYPE_BMP }) {
        IMG_INFO info = {};
        info.cbData = sizeof kBytes;
        EXPECT_EQ(Img_Decode(nullptr, type, kBytes, &info), nullptr) << type;
        EXPECT_NE(Img_GetNotes()->refusal, nullptr);
    }
}

TEST(ImageCommon, RowBytes)
{
    EXPECT_EQ(Img_GetRowBytes(3, 1), 4u);
    EXPECT_EQ(Img_GetRowBytes(32, 1), 4u);
    EXPECT_EQ(Img_GetRowBytes(33, 1), 8u);
    EXPECT_EQ(Img_GetRowBytes(7, 4), 4u);
    EXPECT_EQ(Img_GetRowBytes(9, 4), 8u);
    EXPECT_EQ(Img_GetRowBytes(5, 8), 8u);
    EXPECT_EQ(Img_GetRowBytes(3, 16), 8u);
    EXPECT_EQ(Img_GetRowBytes(3, 24), 12u);
    EXPECT_EQ(Img_GetRowBytes(17, 24), 52u);
    EXPECT_EQ(Img_GetRowBytes(3, 32), 12u);
    for (WORD bits : { 0, 2, 15, 48, 64 })
        EXPECT_EQ(Img_GetRowBytes(10, bits), 0u) << bits;
    EXPECT_EQ(Img_GetRowBytes(0, 24), 0u);
    EXPECT_EQ(Img_GetRowBytes(-5, 24), 0u);
    EXPECT_EQ(Img_GetRowBytes(0x7FFFFFFF, 32), 0u);   // does not fit in 32 bits
}

class GradientPalette : public ::testing::Test {
protected:
    const LOGPALETTE* Make(const std::vector<IMG_GRADIENT_SEGMENT>& segments)
    {
        pal_ = Img_CreateGradientPalette(segments.data());
        return pal_ ? NativeWin_Palette(pal_) : nullptr;
    }
    void TearDown() override
    {
        if (pal_)
            DeleteObject(pal_);
        EXPECT_EQ(NativeWin_Counts().heapBlocks, before_.heapBlocks);
        EXPECT_EQ(NativeWin_Counts().gdiObjects, before_.gdiObjects);
    }
    HPALETTE pal_ = nullptr;
    NativeWinCounts before_ = NativeWin_Counts();
};

TEST_F(GradientPalette, RampsOfSixteenTwoAndSixteen)
{
    const LOGPALETTE* lp = Make({ { RGB(10, 200, 30), RGB(250, 0, 130), 16 },
                                  { RGB(1, 2, 3), RGB(4, 5, 6), 2 },
                                  { RGB(0, 0, 0), RGB(255, 255, 255), 16 },
                                  { 0, 0, 0 } });
    ASSERT_NE(lp, nullptr);
    ASSERT_EQ(lp->palNumEntries, 34);
    EXPECT_EQ(lp->palVersion, 0x300);
    auto rgb = [&](int i) {
        const PALETTEENTRY& e = lp->palPalEntry[i];
        EXPECT_EQ(e.peFlags, 0);
        return RGB(e.peRed, e.peGreen, e.peBlue);
    };
    EXPECT_EQ(rgb(0), RGB(10, 200, 30));
    EXPECT_EQ(rgb(15), RGB(250, 0, 130));
    EXPECT_EQ(rgb(1), RGB(26, 186, 36));   // (10 * 14 + 250) / 15, (200 * 14) / 15, (30 * 14 + 130) / 15
    EXPECT_EQ(rgb(16), RGB(1, 2, 3));
    EXPECT_EQ(rgb(17), RGB(4, 5, 6));
    EXPECT_EQ(rgb(18), RGB(0, 0, 0));
    EXPECT_EQ(rgb(19), RGB(17, 17, 17));
    EXPECT_EQ(rgb(32), RGB(238, 238, 238));
    EXPECT_EQ(rgb(33), RGB(255, 255, 255));
}

TEST_F(GradientPalette, EdgeCases)
{
    const LOGPALETTE* empty = Make({ { 0, 0, 0 } });
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->palNumEntries, 0);
    DeleteObject(pal_);
    // A one-step ramp is its crFrom colour.
    const LOGPALETTE* one = Make({ { RGB(9, 8, 7), RGB(1, 1, 1), 1 }, { 0, 0, 0 } });
    ASSERT_NE(one, nullptr);
    ASSERT_EQ(one->palNumEntries, 1);
    EXPECT_EQ(one->palPalEntry[0].peRed, 9);
    EXPECT_EQ(one->palPalEntry[0].peBlue, 7);
    DeleteObject(pal_);
    EXPECT_EQ(Make({ { 0, 0, -3 }, { 0, 0, 0 } }), nullptr);
    EXPECT_EQ(Make({ { 0, 0, 40000 }, { 0, 0, 40000 }, { 0, 0, 0 } }), nullptr);
    EXPECT_EQ(Img_CreateGradientPalette(nullptr), nullptr);
    NativeWin_FailAllocation(0);
    EXPECT_EQ(Make({ { 0, 0, 4 }, { 0, 0, 0 } }), nullptr);
    NativeWin_FailAllocation(-1);
}

} // namespace
