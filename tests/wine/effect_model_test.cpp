// The effect model: selection ranges, tab plans and templates, level texts
// and the level bands that choose the preview and reference pictures.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "driver/chip_family.h"
#include "page/effect_model.h"
#include "resource.h"

namespace {

TEST(EffectModel, SelectionIsByRangeNotByBit)
{
    // Codes the driver never sends still fall into a range (2 and 3 between
    // Emboss and Sharpen, 0x180 between the filters); bits of a group outside
    // its range do not count (the masks, Emboss with Sharpen, the status flag).
    const struct {
        DWORD code;
        bool artistic, deblock, rowOnArtistic, rowOnDeblock;
    } cases[] = {
        { 0, false, false, true, true }, { 1, true, false, true, false }, { 2, true, false, false, false },
        { 3, true, false, false, false }, { 8, true, false, true, false }, { 32, true, false, true, false },
        { 33, false, false, false, false }, { 0x39, false, false, false, false }, { 255, false, false, false, false },
        { 256, false, true, false, true }, { 0x180, false, true, false, false }, { 512, false, true, false, true },
        { 513, false, false, false, false }, { 0x300, false, false, false, false }, { 0x500, false, false, false, false },
        { 0xFFFFFFFF, false, false, false, false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ArtisticEffectIsSelected(c.code), c.artistic) << c.code;
        EXPECT_EQ(DeblockingFilterIsSelected(c.code), c.deblock) << c.code;
        EXPECT_EQ(LastEffectViewedOnThisTab(QX_TAB_ARTISTIC, c.code), c.rowOnArtistic) << c.code;
        EXPECT_EQ(LastEffectViewedOnThisTab(QX_TAB_DEBLOCK, c.code), c.rowOnDeblock) << c.code;
        EXPECT_EQ(EffectToRadioId(QX_TAB_ARTISTIC, c.code) != 0, c.rowOnArtistic) << c.code;
    }
    // The two ranges never overlap, and every code with a row is in its tab's range.
    for (DWORD v = 1; v < 0x1000; ++v) {
        ASSERT_FALSE(ArtisticEffectIsSelected(v) && DeblockingFilterIsSelected(v)) << v;
        ASSERT_TRUE(!LastEffectViewedOnThisTab(QX_TAB_ARTISTIC, v) || ArtisticEffectIsSelected(v)) << v;
        ASSERT_TRUE(!LastEffectViewedOnThisTab(QX_TAB_DEBLOCK, v) || DeblockingFilterIsSelected(v)) << v;
    }
    for (int tab : { -1, 2, 7 })
        EXPECT_FALSE(LastEffectViewedOnThisTab(tab, 0) || EffectToRadioId(tab, 0) || GetTabInfo(tab)) << tab;
    // Without a value the tests read the effect in force.
    gdwCurEffect = QX_TINTRA_EF_DBLK_COMPLEXPICSMOOTHING;
    EXPECT_TRUE(DeblockingFilterIsSelected() && LastEffectViewedOnThisTab(QX_TAB_DEBLOCK) && !ArtisticEffectIsSelected());
    gdwCurEffect = QX_TINTRA_EF_NONE;
}

TEST(EffectModel, TabPlansTemplatesAndDialogs)
{
    const struct {
        DWORD family, caps;
        int artistic, deblock;
    } plans[] = {
        { CHIP_FAMILY_PRIMARY, 0, 0, 1 }, { CHIP_FAMILY_PRIMARY, 0x300, 0, 1 }, { 0, 0, 0, 1 },  // other families: both
        { CHIP_FAMILY_KP, 0x339, 0, 1 }, { CHIP_FAMILY_KP, 0x001, 0, -1 }, { CHIP_FAMILY_KP, 0x020, 0, -1 },
        { CHIP_FAMILY_KP, 0x100, -1, 0 }, { CHIP_FAMILY_KP, 0x200, -1, 0 },  // deblocking alone takes index 0
        { CHIP_FAMILY_KP, 0x000, -1, -1 }, { CHIP_FAMILY_KP, 0x006, -1, -1 }, { CHIP_FAMILY_KP, 0x400, -1, -1 },
        { CHIP_FAMILY_KP, 0x0C0, -1, -1 },
    };
    for (const auto& p : plans) {
        const TabPlan plan = PlanTabs(p.family, p.caps);
        EXPECT_EQ(std::make_pair(plan.artisticIndex, plan.deblockIndex), std::make_pair(p.artistic, p.deblock))
            << p.family << " caps " << p.caps;
    }
    // Languages compare without regard to case; near misses and nothing at
    // all are the default layout.
    const struct {
        int tab;
        const char* language;
        WORD id;
    } templates[] = {
        { 0, "English", IDD_EFFECTS }, { 0, "jAPANESE", IDD_EFFECTS_JPN }, { 0, "simplified chinese", IDD_EFFECTS_CHS },
        { 0, "Traditional Chinese", IDD_EFFECTS_CHS }, { 1, "German", IDD_DEBLOCK }, { 1, "Japanese", IDD_DEBLOCK_JPN },
        { 1, "TRADITIONAL CHINESE", IDD_DEBLOCK_CHS }, { 1, "Chinese", IDD_DEBLOCK }, { 1, "Japanese ", IDD_DEBLOCK },
        { 0, "", IDD_EFFECTS }, { 0, nullptr, IDD_EFFECTS }, { 5, "English", 0 },
    };
    for (const auto& t : templates)
        EXPECT_EQ(TabTemplateId(t.tab, t.language), t.id) << (t.language ? t.language : "<null>");

    // No tab dialog yet: even a null window is no tab.
    ResetPageState();
    EXPECT_EQ(TabOfDialog(nullptr), QX_TAB_NONE);
    HWND a = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    HWND b = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    g_EffectsDlg = a;
    EXPECT_EQ(std::make_pair(TabOfDialog(a), TabOfDialog(b)), (std::pair<int, int>(QX_TAB_ARTISTIC, QX_TAB_NONE)));
    g_DeblockDlg = b;
    EXPECT_EQ(std::make_pair(TabOfDialog(b), TabOfDialog(nullptr)), (std::pair<int, int>(QX_TAB_DEBLOCK, QX_TAB_NONE)));
    DestroyWindow(a);
    DestroyWindow(b);
    ResetPageState();
}

TEST(EffectModel, LevelTextIsPlainUnsignedDecimal)
{
    const struct {
        DWORD level;
        int cch;
        const char* text;  // null: the buffer is not touched
    } cases[] = { { 0, 11, "0" }, { 15, 11, "15" }, { 0xFFFF, 11, "65535" }, { 0x80000000u, 11, "2147483648" },
        { 0xFFFFFFFFu, 11, "4294967295" }, { 100, 3, "" }, { 99, 3, "99" }, { 5, 0, nullptr } };
    for (const auto& c : cases) {
        char buf[QX_LEVEL_TEXT_CCH];
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(LevelToText(c.level, buf, c.cch), c.text ? static_cast<int>(strlen(c.text)) : 0) << c.level;
        if (c.text)
            EXPECT_STREQ(buf, c.text);
        else
            EXPECT_EQ(buf[0], 'x');
    }
    EXPECT_EQ(LevelToText(5, nullptr, 4), 0);
}

WORD Preview(DWORD effect, DWORD level, DWORD maxLevel, BOOL artisticTab = TRUE)
{
    return ChoosePreviewPicture(effect, level, maxLevel, artisticTab).resourceId;
}

TEST(EffectModel, PreviewBandsAndReferencePictures)
{
    // Thirds (t = (max + 1) / 3) for Emboss and Neon Edges, halves
    // (h = (max + 1) / 2) for Soft Focus and Sharpen; unsigned arithmetic, so
    // the maximum 0xFFFFFFFF wraps to t = h = 0 and everything is the top band.
    const struct {
        DWORD code;
        WORD band[3];
    } effects[] = {
        { QX_TINTRA_EF_EMBOSS, { IDB_EF_EMBBIL1, IDB_EF_EMBBIL2, IDB_EF_EMBBIL3 } },
        { QX_TINTRA_EF_NEON_EDGES, { IDB_EF_NEON_EDGES0, IDB_EF_NEON_EDGES1, IDB_EF_NEON_EDGES2 } },
        { QX_TINTRA_EF_GAUSSIANBLUR, { IDB_EF_SOFTFOCUS1, IDB_EF_SOFTFOCUS2 } },
        { QX_TINTRA_EF_UNSHARP_MASK, { IDB_EF_SHARPEN1, IDB_EF_SHARPEN2 } },
    };
    const struct {
        DWORD level, max;
        int third, half;  // the expected band
    } levels[] = { { 0, 2, 0, 0 }, { 1, 2, 1, 1 }, { 2, 2, 2, 1 }, { 0, 1, 2, 0 }, { 1, 1, 2, 1 }, { 0, 0, 2, 1 },
        { 5, 0, 2, 1 }, { 1, 7, 0, 0 }, { 2, 7, 1, 0 }, { 3, 7, 1, 0 }, { 4, 7, 2, 1 }, { 1, 4, 1, 0 }, { 2, 4, 2, 1 },
        { 2, 5, 1, 0 }, { 3, 5, 1, 1 }, { 0, 0xFFFFFFFF, 2, 1 }, { 0xFFFF, 2, 2, 1 }, { 0x7FFFFFFE, 0xFFFFFFFE, 1, 0 },
        { 0x7FFFFFFF, 0xFFFFFFFE, 1, 1 } };
    for (const auto& e : effects) {
        const bool thirds = e.band[2] != 0;
        for (const auto& l : levels)
            EXPECT_EQ(Preview(e.code, l.level, l.max), e.band[thirds ? l.third : l.half])
                << e.code << " level " << l.level << " of " << l.max;
        // The band never falls as the level rises, and the maximum is the top.
        for (DWORD max = 0; max < 40; ++max) {
            int last = 0;
            for (DWORD level = 0; level <= max; ++level) {
                const WORD id = Preview(e.code, level, max);
                const int band = static_cast<int>(std::find(e.band, e.band + (thirds ? 3 : 2), id) - e.band);
                ASSERT_GE(band, last) << "max " << max << " level " << level;
                last = band;
            }
            EXPECT_EQ(e.band[last], e.band[thirds ? 2 : 1]) << max;
        }
    }
    EXPECT_EQ(Preview(0, 0, 0, TRUE), IDB_EF_NONE);
    EXPECT_EQ(Preview(0, 0xFFFF, 9, FALSE), IDB_DB_NONE);
    for (DWORD level : { 0u, 3u, 0xFFFFu })
        EXPECT_EQ(std::make_pair(Preview(0x100, level, 3), Preview(0x200, level, 3)), (std::pair<WORD, WORD>(IDB_DB_EDGESMOOTH, IDB_DB_CPICT)));
    for (DWORD code : { 2u, 4u, 0x39u, 0x300u, 0x400u, 0x401u, 0xFFFFFFFFu }) {
        const PreviewPicture p = ChoosePreviewPicture(code, 0, 2, TRUE);
        EXPECT_EQ(p.resourceId, 0) << code;
        EXPECT_NE(strstr(p.trace, "Invalid gdwCurEffect"), nullptr) << code;
    }
    // The trace names the band that was chosen.
    EXPECT_NE(strstr(ChoosePreviewPicture(1, 1, 2, TRUE).trace, "Level2"), nullptr);
    EXPECT_NE(strstr(ChoosePreviewPicture(8, 0, 2, TRUE).trace, "Level0"), nullptr);

    // The reference picture follows the selection, then the tab shown; an
    // artistic selection by range without a row shows nothing.
    const std::pair<DWORD, WORD> references[] = { { 1, IDB_EF_NONE }, { 8, IDB_EF_NONE }, { 16, IDB_EF_NONE },
        { 32, IDB_EF_NONE }, { 256, IDB_DB_NONE }, { 512, IDB_DB_NONE }, { 2, 0 }, { 0x180, 0 }, { 0x400, 0 } };
    for (int shown : { QX_TAB_ARTISTIC, QX_TAB_DEBLOCK, QX_TAB_NONE })
        for (const auto& [code, id] : references)
            EXPECT_EQ(ChooseReferencePicture(code, shown), id) << code << " shown " << shown;
    EXPECT_EQ(ChooseReferencePicture(0, QX_TAB_ARTISTIC), IDB_EF_NONE);
    EXPECT_EQ(ChooseReferencePicture(0, QX_TAB_DEBLOCK), IDB_DB_NONE);
    EXPECT_EQ(ChooseReferencePicture(0, QX_TAB_NONE), 0);
}

} // namespace
