// The effect model: selection tests, tab rows, level bands and the pictures
// chosen for them, the tab plan and the page state.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "driver/chip_family.h"
#include "page/effect_model.h"
#include "resource.h"

namespace {

WORD Preview(DWORD effect, DWORD level, DWORD maxLevel, BOOL artisticTab = TRUE)
{
    return ChoosePreviewPicture(effect, level, maxLevel, artisticTab).resourceId;
}

TEST(EffectModelSelection, RangeTestsDifferFromBitTests)
{
    // Codes the driver never sends still fall into a range: 2 and 3 lie between
    // Emboss and Sharpen, 0x180 between the two filters.
    EXPECT_TRUE(ArtisticEffectIsSelected(2));
    EXPECT_TRUE(ArtisticEffectIsSelected(3));
    EXPECT_TRUE(ArtisticEffectIsSelected(32));
    EXPECT_TRUE(DeblockingFilterIsSelected(0x180));
    EXPECT_TRUE(DeblockingFilterIsSelected(512));
    // Bits of a group outside its range do not count: the artistic mask itself
    // (57), Emboss with Sharpen (33), both filters (0x300), the status flag.
    EXPECT_FALSE(ArtisticEffectIsSelected(QX_TINTRA_EF_ARTISTIC_MASK));
    EXPECT_FALSE(ArtisticEffectIsSelected(QX_TINTRA_EF_EMBOSS | QX_TINTRA_EF_UNSHARP_MASK));
    EXPECT_FALSE(DeblockingFilterIsSelected(QX_TINTRA_EF_DEBLOCK_MASK));
    EXPECT_FALSE(DeblockingFilterIsSelected(QX_TINTRA_EF_STATUS_FLAG | QX_TINTRA_EF_DBLK_EDGESMOOTHING));
    EXPECT_FALSE(ArtisticEffectIsSelected(0));
    EXPECT_FALSE(DeblockingFilterIsSelected(0));
    EXPECT_FALSE(DeblockingFilterIsSelected(255));
    EXPECT_FALSE(DeblockingFilterIsSelected(513));
    EXPECT_FALSE(ArtisticEffectIsSelected(0xFFFFFFFF));

    // Over the whole low range the two ranges never overlap, and every code
    // with a row on a tab is inside that tab's range (or is "none").
    for (DWORD v = 0; v < 0x1000; ++v) {
        EXPECT_FALSE(ArtisticEffectIsSelected(v) && DeblockingFilterIsSelected(v)) << v;
        if (v != 0 && LastEffectViewedOnThisTab(QX_TAB_ARTISTIC, v))
            EXPECT_TRUE(ArtisticEffectIsSelected(v)) << v;
        if (v != 0 && LastEffectViewedOnThisTab(QX_TAB_DEBLOCK, v))
            EXPECT_TRUE(DeblockingFilterIsSelected(v)) << v;
    }
}

TEST(EffectModelSelection, DefaultsToTheCurrentEffect)
{
    ResetPageState();
    gdwCurEffect = QX_TINTRA_EF_NEON_EDGES;
    EXPECT_TRUE(ArtisticEffectIsSelected());
    EXPECT_FALSE(DeblockingFilterIsSelected());
    EXPECT_TRUE(LastEffectViewedOnThisTab(QX_TAB_ARTISTIC));
    EXPECT_FALSE(LastEffectViewedOnThisTab(QX_TAB_DEBLOCK));
    gdwCurEffect = QX_TINTRA_EF_DBLK_COMPLEXPICSMOOTHING;
    EXPECT_TRUE(DeblockingFilterIsSelected());
    EXPECT_TRUE(LastEffectViewedOnThisTab(QX_TAB_DEBLOCK));
    ResetPageState();
}

TEST(EffectModelSelection, LastEffectViewedOnlyForCodesWithARow)
{
    const DWORD artistic[] = {0, 1, 8, 16, 32};
    const DWORD deblock[] = {0, 256, 512};
    for (DWORD v : artistic)
        EXPECT_TRUE(LastEffectViewedOnThisTab(0, v)) << v;
    for (DWORD v : deblock)
        EXPECT_TRUE(LastEffectViewedOnThisTab(1, v)) << v;
    // 2 is an artistic selection by range, yet no tab shows it.
    EXPECT_FALSE(LastEffectViewedOnThisTab(0, 2));
    EXPECT_FALSE(LastEffectViewedOnThisTab(1, 2));
    EXPECT_FALSE(LastEffectViewedOnThisTab(0, 256));
    EXPECT_FALSE(LastEffectViewedOnThisTab(1, 8));
    EXPECT_FALSE(LastEffectViewedOnThisTab(1, 0x300));
    for (int tab : {-1, 2, 7})
        EXPECT_FALSE(LastEffectViewedOnThisTab(tab, 0)) << tab;
}

TEST(EffectModelRows, EffectToRadioPerTab)
{
    EXPECT_EQ(EffectToRadioId(QX_TAB_ARTISTIC, 0), IDC_EF_NONE);
    EXPECT_EQ(EffectToRadioId(QX_TAB_ARTISTIC, 1), IDC_EMBOSS);
    EXPECT_EQ(EffectToRadioId(QX_TAB_ARTISTIC, 8), IDC_NEON_EDGES);
    EXPECT_EQ(EffectToRadioId(QX_TAB_ARTISTIC, 16), IDC_SOFT_FOCUS);
    EXPECT_EQ(EffectToRadioId(QX_TAB_ARTISTIC, 32), IDC_SELECTED_SHARP);
    EXPECT_EQ(EffectToRadioId(QX_TAB_DEBLOCK, 0), IDC_DBLK_NONE);
    EXPECT_EQ(EffectToRadioId(QX_TAB_DEBLOCK, 256), IDC_DBLK_EDGESMOOTHING);
    EXPECT_EQ(EffectToRadioId(QX_TAB_DEBLOCK, 512), IDC_DBLK_COMPLEXPICSMOOTHING);
    // Codes without a row on the tab map to no button.
    EXPECT_EQ(EffectToRadioId(QX_TAB_ARTISTIC, 2), 0);
    EXPECT_EQ(EffectToRadioId(QX_TAB_ARTISTIC, 256), 0);
    EXPECT_EQ(EffectToRadioId(QX_TAB_DEBLOCK, 32), 0);
    EXPECT_EQ(EffectToRadioId(QX_TAB_DEBLOCK, 0x400), 0);
    EXPECT_EQ(EffectToRadioId(QX_TAB_NONE, 0), 0);
    EXPECT_EQ(EffectToRadioId(2, 1), 0);
}

TEST(EffectModelRows, ControlsOfARowFindTheirEffect)
{
    struct Case {
        int id;
        DWORD effect;
    } cases[] = {
        {IDC_EF_NONE, 0}, {IDC_DBLK_NONE, 0}, {IDC_EMBOSS_SLIDER, 1}, {IDC_NEON_EDGES_LEVEL, 8},
        {IDC_SOFT_FOCUS, 16}, {IDC_SHARP_SLIDER, 32}, {IDC_SHARP_LEVEL, 32},
        {IDC_DBLK_EDGESMOOTHING_SLIDER, 256}, {IDC_DBLK_EDGESMOOTHING_LEVEL, 256},
        {IDC_DBLK_COMPLEXPICSMOOTHING_SLIDER, 512}, {IDC_DBLK_COMPLEXPICSMOOTHING, 512},
    };
    for (const Case& c : cases) {
        const EffectRow* row = FindRowByControl(c.id);
        ASSERT_NE(row, nullptr) << c.id;
        EXPECT_EQ(row->effect, c.effect) << c.id;
    }
    for (int id : {0, IDC_TAB, IDC_EFFECT_PREVIEW, 359, 364, 354})
        EXPECT_EQ(FindRowByControl(id), nullptr) << id;

    // The rows of a tab lie inside its CheckRadioButton range, "none" first.
    for (int tab : {QX_TAB_ARTISTIC, QX_TAB_DEBLOCK}) {
        const TabInfo* info = GetTabInfo(tab);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->rows[0].effect, QX_TINTRA_EF_NONE);
        EXPECT_EQ(info->rows[0].radioId, info->firstRadioId);
        EXPECT_EQ(info->rows[info->rowCount - 1].radioId, info->lastRadioId);
        for (int k = 1; k < info->rowCount; ++k) {
            EXPECT_NE(info->rows[k].trackbarId, 0);
            EXPECT_NE(info->rows[k].levelTextId, 0);
        }
    }
    EXPECT_EQ(GetTabInfo(-1), nullptr);
    EXPECT_EQ(GetTabInfo(2), nullptr);
    // Only the two-line button keeps its size when relabelled.
    EXPECT_EQ(FindEffectRow(QX_TAB_DEBLOCK, 512)->alignMode, 0);
    EXPECT_EQ(FindEffectRow(QX_TAB_DEBLOCK, 256)->alignMode, 1);
}

TEST(EffectModelTabs, TemplateByLanguage)
{
    EXPECT_EQ(TabTemplateId(QX_TAB_ARTISTIC, "English"), IDD_EFFECTS);
    EXPECT_EQ(TabTemplateId(QX_TAB_ARTISTIC, "jAPANESE"), IDD_EFFECTS_JPN);
    EXPECT_EQ(TabTemplateId(QX_TAB_ARTISTIC, "simplified chinese"), IDD_EFFECTS_CHS);
    EXPECT_EQ(TabTemplateId(QX_TAB_ARTISTIC, "Traditional Chinese"), IDD_EFFECTS_CHS);
    EXPECT_EQ(TabTemplateId(QX_TAB_DEBLOCK, "German"), IDD_DEBLOCK);
    EXPECT_EQ(TabTemplateId(QX_TAB_DEBLOCK, "Japanese"), IDD_DEBLOCK_JPN);
    EXPECT_EQ(TabTemplateId(QX_TAB_DEBLOCK, "TRADITIONAL CHINESE"), IDD_DEBLOCK_CHS);
    // Near misses and nothing at all are the default layout.
    EXPECT_EQ(TabTemplateId(QX_TAB_DEBLOCK, "Chinese"), IDD_DEBLOCK);
    EXPECT_EQ(TabTemplateId(QX_TAB_DEBLOCK, "Japanese "), IDD_DEBLOCK);
    EXPECT_EQ(TabTemplateId(QX_TAB_ARTISTIC, ""), IDD_EFFECTS);
    EXPECT_EQ(TabTemplateId(QX_TAB_ARTISTIC, nullptr), IDD_EFFECTS);
    EXPECT_EQ(TabTemplateId(5, "English"), 0);
}

TEST(EffectModelTabs, KpFamilyOffersOnlyTabsWithEffects)
{
    struct Case {
        DWORD family;
        DWORD caps;
        int artistic;
        int deblock;
    } cases[] = {
        {CHIP_FAMILY_PRIMARY, 0, 0, 1},        // other families: always both
        {CHIP_FAMILY_PRIMARY, 0x300, 0, 1},
        {0, 0, 0, 1},
        {CHIP_FAMILY_KP, 0x339, 0, 1},
        {CHIP_FAMILY_KP, 0x001, 0, -1},
        {CHIP_FAMILY_KP, 0x020, 0, -1},
        {CHIP_FAMILY_KP, 0x100, -1, 0},        // deblocking alone takes index 0
        {CHIP_FAMILY_KP, 0x200, -1, 0},
        {CHIP_FAMILY_KP, 0x000, -1, -1},
        {CHIP_FAMILY_KP, 0x006, -1, -1},       // bits 1 and 2 are no artistic effects
        {CHIP_FAMILY_KP, 0x400, -1, -1},
        {CHIP_FAMILY_KP, 0x0C0, -1, -1},
    };
    for (const Case& c : cases) {
        TabPlan plan = PlanTabs(c.family, c.caps);
        EXPECT_EQ(plan.artisticIndex, c.artistic) << c.family << " caps " << c.caps;
        EXPECT_EQ(plan.deblockIndex, c.deblock) << c.family << " caps " << c.caps;
    }
}

TEST(EffectModelTabs, DialogOfATab)
{
    ResetPageState();
    // No tab dialog yet: even a null window is no tab.
    EXPECT_EQ(TabOfDialog(nullptr), QX_TAB_NONE);
    HWND a = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    HWND b = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(a && b);
    g_EffectsDlg = a;
    EXPECT_EQ(TabOfDialog(a), QX_TAB_ARTISTIC);
    EXPECT_EQ(TabOfDialog(b), QX_TAB_NONE);
    g_DeblockDlg = b;
    EXPECT_EQ(TabOfDialog(b), QX_TAB_DEBLOCK);
    EXPECT_EQ(TabOfDialog(nullptr), QX_TAB_NONE);
    DestroyWindow(a);
    DestroyWindow(b);
    ResetPageState();
}

TEST(EffectModelLevels, TextIsPlainUnsignedDecimal)
{
    char buf[QX_LEVEL_TEXT_CCH];
    struct Case {
        DWORD level;
        const char* text;
    } cases[] = {{0, "0"}, {7, "7"}, {15, "15"}, {100, "100"}, {0xFFFF, "65535"},
                 {0x80000000u, "2147483648"}, {0xFFFFFFFFu, "4294967295"}};
    for (const Case& c : cases) {
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(LevelToText(c.level, buf, sizeof buf), static_cast<int>(strlen(c.text)));
        EXPECT_STREQ(buf, c.text);
    }
    // A buffer one short of digits and terminator gets an empty text.
    char small[3] = {'x', 'x', 'x'};
    EXPECT_EQ(LevelToText(100, small, 3), 0);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(LevelToText(99, small, 3), 2);
    EXPECT_STREQ(small, "99");
    EXPECT_EQ(LevelToText(5, small, 0), 0);
    EXPECT_EQ(small[0], '9');
    EXPECT_EQ(LevelToText(5, nullptr, 4), 0);
}

TEST(EffectModelPreview, ThirdsAtTheBandEdges)
{
    struct Effect {
        DWORD code;
        WORD low, mid, high;
    } effects[] = {
        {QX_TINTRA_EF_EMBOSS, IDB_EF_EMBBIL1, IDB_EF_EMBBIL2, IDB_EF_EMBBIL3},
        {QX_TINTRA_EF_NEON_EDGES, IDB_EF_NEON_EDGES0, IDB_EF_NEON_EDGES1, IDB_EF_NEON_EDGES2},
    };
    for (const Effect& e : effects) {
        // max 2: t = 1, one level per band.
        EXPECT_EQ(Preview(e.code, 0, 2), e.low);
        EXPECT_EQ(Preview(e.code, 1, 2), e.mid);
        EXPECT_EQ(Preview(e.code, 2, 2), e.high);
        // max 1 and max 0: t = 0, everything is the top band.
        EXPECT_EQ(Preview(e.code, 0, 1), e.high);
        EXPECT_EQ(Preview(e.code, 1, 1), e.high);
        EXPECT_EQ(Preview(e.code, 0, 0), e.high);
        // max 7: t = 2 (8 / 3 truncated), bands 0-1, 2-3, 4-7.
        EXPECT_EQ(Preview(e.code, 1, 7), e.low);
        EXPECT_EQ(Preview(e.code, 2, 7), e.mid);
        EXPECT_EQ(Preview(e.code, 3, 7), e.mid);
        EXPECT_EQ(Preview(e.code, 4, 7), e.high);
        // The maximum wraps to t = 0 in unsigned arithmetic.
        EXPECT_EQ(Preview(e.code, 0, 0xFFFFFFFF), e.high);
        // A level above the maximum still picks the top band.
        EXPECT_EQ(Preview(e.code, 0xFFFF, 2), e.high);
        // The band never falls as the level rises.
        for (DWORD max = 0; max < 40; ++max) {
            int last = 0;
            for (DWORD level = 0; level <= max; ++level) {
                WORD id = Preview(e.code, level, max);
                int band = id == e.low ? 0 : id == e.mid ? 1 : id == e.high ? 2 : -1;
                ASSERT_GE(band, last) << "max " << max << " level " << level;
                last = band;
            }
            EXPECT_EQ(last, 2) << "the maximum is always the strongest picture, max " << max;
        }
    }
}

TEST(EffectModelPreview, HalvesAtTheBandEdges)
{
    struct Effect {
        DWORD code;
        WORD low, high;
    } effects[] = {
        {QX_TINTRA_EF_GAUSSIANBLUR, IDB_EF_SOFTFOCUS1, IDB_EF_SOFTFOCUS2},
        {QX_TINTRA_EF_UNSHARP_MASK, IDB_EF_SHARPEN1, IDB_EF_SHARPEN2},
    };
    for (const Effect& e : effects) {
        EXPECT_EQ(Preview(e.code, 0, 0), e.high);  // h = 0
        EXPECT_EQ(Preview(e.code, 5, 0), e.high);
        EXPECT_EQ(Preview(e.code, 0, 1), e.low);   // h = 1
        EXPECT_EQ(Preview(e.code, 1, 1), e.high);
        EXPECT_EQ(Preview(e.code, 0, 2), e.low);   // h = 1
        EXPECT_EQ(Preview(e.code, 1, 2), e.high);
        EXPECT_EQ(Preview(e.code, 1, 4), e.low);   // h = 2
        EXPECT_EQ(Preview(e.code, 2, 4), e.high);
        EXPECT_EQ(Preview(e.code, 3, 5), e.high);  // h = 3
        EXPECT_EQ(Preview(e.code, 2, 5), e.low);
        // max + 1 wraps to 0 in unsigned arithmetic: h = 0.
        EXPECT_EQ(Preview(e.code, 0, 0xFFFFFFFF), e.high);
        EXPECT_EQ(Preview(e.code, 0x7FFFFFFEu, 0xFFFFFFFEu), e.low);  // h = 0x7FFFFFFF
        EXPECT_EQ(Preview(e.code, 0x7FFFFFFFu, 0xFFFFFFFEu), e.high);
    }
}

TEST(EffectModelPreview, NoneFiltersAndCodesWithoutAPicture)
{
    EXPECT_EQ(Preview(0, 0, 0, TRUE), IDB_EF_NONE);
    EXPECT_EQ(Preview(0, 0xFFFF, 9, FALSE), IDB_DB_NONE);
    for (DWORD level : {0u, 3u, 0xFFFFu}) {
        EXPECT_EQ(Preview(QX_TINTRA_EF_DBLK_EDGESMOOTHING, level, 3), IDB_DB_EDGESMOOTH);
        EXPECT_EQ(Preview(QX_TINTRA_EF_DBLK_COMPLEXPICSMOOTHING, level, 3), IDB_DB_CPICT);
    }
    for (DWORD code : {2u, 4u, 0x39u, 0x300u, 0x400u, 0x401u, 0xFFFFFFFFu}) {
        PreviewPicture p = ChoosePreviewPicture(code, 0, 2, TRUE);
        EXPECT_EQ(p.resourceId, 0) << code;
        ASSERT_NE(p.trace, nullptr);
        EXPECT_NE(strstr(p.trace, "Invalid gdwCurEffect"), nullptr);
    }
    // The trace names the band that was chosen.
    EXPECT_NE(strstr(ChoosePreviewPicture(1, 1, 2, TRUE).trace, "Level2"), nullptr);
    EXPECT_NE(strstr(ChoosePreviewPicture(8, 0, 2, TRUE).trace, "Level0"), nullptr);
}

TEST(EffectModelReference, PictureFollowsSelectionThenShownTab)
{
    for (int shown : {QX_TAB_ARTISTIC, QX_TAB_DEBLOCK, QX_TAB_NONE}) {
        for (DWORD code : {1u, 8u, 16u, 32u})
            EXPECT_EQ(ChooseReferencePicture(code, shown), IDB_EF_NONE) << code;
        for (DWORD code : {256u, 512u})
            EXPECT_EQ(ChooseReferencePicture(code, shown), IDB_DB_NONE) << code;
        // An artistic selection by range without a row shows nothing.
        for (DWORD code : {2u, 0x180u, 0x400u})
            EXPECT_EQ(ChooseReferencePicture(code, shown), 0) << code;
    }
    EXPECT_EQ(ChooseReferencePicture(0, QX_TAB_ARTISTIC), IDB_EF_NONE);
    EXPECT_EQ(ChooseReferencePicture(0, QX_TAB_DEBLOCK), IDB_DB_NONE);
    EXPECT_EQ(ChooseReferencePicture(0, QX_TAB_NONE), 0);
}

TEST(EffectModelState, ResetRestoresLoadValues)
{
    gdwCurEffect = 8;
    gdwCurEffectLevel = 3;
    gdwLastEffectApplied = 8;
    gdwLastLevelApplied = 3;
    gdwSavedEffect = 16;
    gdwSavedLevel = 2;
    g_EffectRequest[0] = QX_EFFECT_PAIR{8, 3};
    g_EffectRequest[1] = QX_EFFECT_PAIR{1, 1};
    gdwNumEfx = 2;
    gdwEffectCaps = 0x339;
    g_hPageDlg = g_CurTabDlg = g_EffectsDlg = g_DeblockDlg = reinterpret_cast<HWND>(0x1234);
    gnArtisticTab = 0;
    gnDeblockTab = 1;
    g_bPageChanged = g_bRepaintAfterResume = TRUE;

    ResetPageState();
    EXPECT_EQ(gdwCurEffect, 0u);
    EXPECT_EQ(gdwCurEffectLevel, 0xFFFFu);
    EXPECT_EQ(gdwLastEffectApplied, 0u);
    EXPECT_EQ(gdwLastLevelApplied, 0xFFFFu);
    EXPECT_EQ(gdwSavedEffect, 0u);
    EXPECT_EQ(gdwSavedLevel, 0u);
    for (const QX_EFFECT_PAIR& pair : g_EffectRequest) {
        EXPECT_EQ(pair.dwEffect, 0u);
        EXPECT_EQ(pair.dwLevel, 0u);
    }
    EXPECT_EQ(gdwNumEfx, 0u);
    EXPECT_EQ(gdwEffectCaps, 0u);
    EXPECT_EQ(g_hPageDlg, nullptr);
    EXPECT_EQ(g_CurTabDlg, nullptr);
    EXPECT_EQ(g_EffectsDlg, nullptr);
    EXPECT_EQ(g_DeblockDlg, nullptr);
    EXPECT_EQ(gnArtisticTab, -1);
    EXPECT_EQ(gnDeblockTab, -1);
    EXPECT_FALSE(g_bPageChanged);
    EXPECT_FALSE(g_bRepaintAfterResume);
}

}  // namespace
