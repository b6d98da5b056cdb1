// The effects page in a real property sheet, driven as a user would: radio
// clicks, slider moves, tab clicks and the sheet's own Apply and Cancel, with
// the simulated driver recording what the page sends.
#include "page_fixture.h"

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "chips.h"
#include "config/localization.h"
#include "config/skin_settings.h"
#include "controls/picture_control.h"
#include "driver/chip_family.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "page/effect_model.h"
#include "page/page_dialog.h"
#include "resource.h"
#include "version.h"

namespace {

// The sheet's Apply button (the common controls' own id).
constexpr int kSheetApplyButton = 0x3021;

struct SetRequest {
    DWORD count;
    QX_EFFECT_PAIR pairs[QX_TINTRA_MAX_PAIRS];
    int cbIn;
};

struct HelpCall {
    HWND window;
    std::string file;
    UINT command;
    ULONG_PTR data;
};
std::vector<HelpCall> g_helpCalls;

// Local heap blocks handed out to the module and not yet given back.
std::vector<HLOCAL> g_liveLocalBlocks;
decltype(&LocalAlloc) g_realLocalAlloc;
decltype(&LocalFree) g_realLocalFree;

HLOCAL WINAPI CountingLocalAlloc(UINT flags, SIZE_T bytes)
{
    HLOCAL block = g_realLocalAlloc(flags, bytes);
    if (block)
        g_liveLocalBlocks.push_back(block);
    return block;
}

HLOCAL WINAPI CountingLocalFree(HLOCAL block)
{
    auto live = std::find(g_liveLocalBlocks.begin(), g_liveLocalBlocks.end(), block);
    if (live != g_liveLocalBlocks.end())
        g_liveLocalBlocks.erase(live);
    return g_realLocalFree(block);
}

BOOL WINAPI RecordWinHelp(HWND window, LPCSTR file, UINT command, ULONG_PTR data)
{
    g_helpCalls.push_back({ window, file ? file : "", command, data });
    return TRUE;
}

class PageDialogTest : public qxtest::PageTest {
protected:
    HWND Tab() const { return GetDlgItem(page, IDC_TAB); }
    static HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }
    static bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    static bool Enabled(HWND dialog, int id) { return IsWindowEnabled(Item(dialog, id)) != FALSE; }
    // Shown by its own style, whatever its parents.
    static bool Shown(HWND window) { return (GetWindowLongPtrA(window, GWL_STYLE) & WS_VISIBLE) != 0; }
    static bool Shown(HWND dialog, int id) { return Shown(Item(dialog, id)); }
    static std::string Text(HWND dialog, int id)
    {
        char text[64] = "";
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }
    // None of the radios checked, none of the sliders enabled.
    static void ExpectAllOff(HWND dialog, std::initializer_list<int> radios, std::initializer_list<int> sliders)
    {
        for (int id : radios)
            EXPECT_FALSE(Checked(dialog, id)) << id;
        for (int id : sliders)
            EXPECT_FALSE(Enabled(dialog, id)) << id;
    }
    static LRESULT Position(HWND dialog, int trackbarId)
    {
        return SendMessageA(Item(dialog, trackbarId), TBM_GETPOS, 0, 0);
    }
    // The window erases now, children aside.
    static void EraseNow(HWND window)
    {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW | RDW_NOCHILDREN);
        Pump();
    }
    bool ApplyEnabled() const { return IsWindowEnabled(GetDlgItem(sheet, kSheetApplyButton)) != FALSE; }

    static void Click(HWND dialog, int id)
    {
        SendMessageA(Item(dialog, id), BM_CLICK, 0, 0);
        Pump();
    }
    // The user drags a slider: the trackbar moves and tells its dialog.
    static void Slide(HWND dialog, int trackbarId, int position)
    {
        HWND trackbar = Item(dialog, trackbarId);
        SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(trackbar));
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(trackbar));
        Pump();
    }
    // A mouse click on a tab item: the tab control itself sends TCN_SELCHANGE.
    void ClickTab(int index)
    {
        RECT r;
        ASSERT_TRUE(SendMessageA(Tab(), TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r)));
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageA(Tab(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(Tab(), WM_LBUTTONUP, 0, at);
        Pump();
        ASSERT_EQ(SendMessageA(Tab(), TCM_GETCURSEL, 0, 0), index);
    }
    void PressApply()
    {
        PropSheet_PressButton(sheet, PSBTN_APPLYNOW);
        Pump();
    }
    void PressCancel()
    {
        PropSheet_PressButton(sheet, PSBTN_CANCEL);
        Pump();
    }

    // The requests of the page's start, in this order; after them only the
    // maximum-level questions that painting a preview asks.
    void ExpectStartCalls(const std::vector<std::string>& start) const
    {
        std::vector<std::string> calls = TintraCalls();
        ASSERT_GE(calls.size(), start.size());
        EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + static_cast<long>(start.size())), start);
        for (size_t i = start.size(); i < calls.size(); ++i)
            EXPECT_EQ(calls[i].rfind("GET_MAX_LEVEL", 0), 0u) << calls[i];
    }

    // Every effects-escape request, described.
    std::vector<std::string> TintraCalls() const
    {
        std::vector<std::string> calls;
        for (const sim::EscapeRecord& r : sim::Driver::Instance().RecordsOf(sim::kTintraEscape))
            calls.push_back(sim::Driver::Describe(r));
        return calls;
    }
    std::vector<SetRequest> SetRequests() const
    {
        std::vector<SetRequest> requests;
        for (const sim::EscapeRecord& r : sim::Driver::Instance().RecordsOf(sim::kTintraEscape)) {
            if (r.function != QX_TINTRA_FN_SET_EFFECTS)
                continue;
            SetRequest s = {};
            s.cbIn = r.cbIn;
            if (r.input.size() >= sizeof(QX_TINTRA_SET_EFFECTS_IN)) {
                memcpy(&s.count, r.input.data() + 4, 4);
                memcpy(s.pairs, r.input.data() + 8, sizeof s.pairs);
            }
            requests.push_back(s);
        }
        return requests;
    }
    // Exactly one set request since the records were last cleared: count and
    // pair 0, every other pair zero.
    void ExpectOneSet(DWORD count, DWORD effect, DWORD level)
    {
        std::vector<SetRequest> sets = SetRequests();
        ASSERT_EQ(sets.size(), 1u);
        EXPECT_EQ(sets[0].cbIn, 40);
        EXPECT_EQ(sets[0].count, count);
        EXPECT_EQ(sets[0].pairs[0].dwEffect, effect);
        EXPECT_EQ(sets[0].pairs[0].dwLevel, level);
        for (int i = 1; i < QX_TINTRA_MAX_PAIRS; ++i) {
            EXPECT_EQ(sets[0].pairs[i].dwEffect, 0u) << "pair " << i;
            EXPECT_EQ(sets[0].pairs[i].dwLevel, 0u) << "pair " << i;
        }
    }

};

// ---- page start -------------------------------------------------------------------

TEST_F(PageDialogTest, StartAsksTheDriverInOrderAndNothingMoreUntilApply)
{
    driver().config.maxLevel[QX_TINTRA_EF_NEON_EDGES] = 5;
    InForce(QX_TINTRA_EF_NEON_EDGES, 3);
    Open();
    const std::vector<std::string> start = {
        "QUERY_CAPS -> 1",
        "GET_MAX_LEVEL effect=0x1 -> 1",
        "GET_MAX_LEVEL effect=0x8 -> 1",
        "GET_MAX_LEVEL effect=0x10 -> 1",
        "GET_MAX_LEVEL effect=0x20 -> 1",
        "GET_MAX_LEVEL effect=0x100 -> 1",
        "GET_MAX_LEVEL effect=0x200 -> 1",
        "GET_EFFECTS -> 1",
    };
    ExpectStartCalls(start);
    EXPECT_EQ(driver().LiveDCs(), 0);

    // Neon Edges in force shows on the artistic tab.
    EXPECT_EQ(SendMessageA(Tab(), TCM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(Tab(), TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(GetParent(g_EffectsDlg), Tab()) << "the tab dialogs live in the tab control";
    EXPECT_TRUE(Shown(g_EffectsDlg));
    EXPECT_FALSE(Shown(g_DeblockDlg));
    EXPECT_EQ(g_CurTabDlg, g_EffectsDlg);

    EXPECT_TRUE(Checked(g_EffectsDlg, IDC_NEON_EDGES));
    ExpectAllOff(g_EffectsDlg, { IDC_EF_NONE, IDC_EMBOSS, IDC_SOFT_FOCUS, IDC_SELECTED_SHARP },
        { IDC_EMBOSS_SLIDER, IDC_SOFT_FOCUS_SLIDER, IDC_SHARP_SLIDER });
    EXPECT_TRUE(Enabled(g_EffectsDlg, IDC_NEON_EDGES_SLIDER));
    EXPECT_EQ(Position(g_EffectsDlg, IDC_NEON_EDGES_SLIDER), 3);
    EXPECT_EQ(SendMessageA(Item(g_EffectsDlg, IDC_NEON_EDGES_SLIDER), TBM_GETRANGEMAX, 0, 0), 5);
    EXPECT_EQ(Text(g_EffectsDlg, IDC_NEON_EDGES_LEVEL), "3");
    EXPECT_FALSE(ApplyEnabled());

    // The version text is the module's own file version.
    EXPECT_EQ(Text(page, IDC_VERSION), QX_VERSION_STRING);

    // The picture controls know their module, picture and drawn area.
    struct Picture {
        int id;
        LONG image;
        LONG rect[4];
    } pictures[] = {
        { IDC_EFFECT_PREVIEW, gdwColorDepth > 8 ? IDB_PREVIEW_FRAME : IDB_PREVIEW_FRAME_8BPP,
            { QX_FRAME_DRAW_X, QX_FRAME_DRAW_Y, QX_FRAME_DRAW_CX, QX_FRAME_DRAW_CY } },
        { IDC_REFERENCE, IDB_EF_NONE, { 0, 0, QX_REFERENCE_DRAW_CX, QX_REFERENCE_DRAW_CY } },
    };
    for (const Picture& p : pictures) {
        SCOPED_TRACE(p.id);
        auto* state = reinterpret_cast<const PictureControlState*>(GetWindowLongPtrA(Item(page, p.id), 0));
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->instance, g_hInstance);
        EXPECT_EQ(state->imageId, p.image);
        EXPECT_TRUE(state->hasDrawRect);
        const auto& d = state->drawRect;
        EXPECT_EQ((std::vector<LONG>{ d.left, d.top, d.width, d.height }), std::vector<LONG>(p.rect, p.rect + 4));
    }

    // Choosing, sliding and switching tabs only touch the page.
    Click(g_EffectsDlg, IDC_EMBOSS);
    Slide(g_EffectsDlg, IDC_EMBOSS_SLIDER, 6);
    ClickTab(1);
    Click(g_DeblockDlg, IDC_DBLK_COMPLEXPICSMOOTHING);
    ClickTab(0);
    ExpectStartCalls(start);
    EXPECT_TRUE(SetRequests().empty());

    driver().records.clear();
    PressApply();
    ExpectOneSet(1, QX_TINTRA_EF_DBLK_COMPLEXPICSMOOTHING, 0);
}

TEST_F(PageDialogTest, TheEffectInForceChoosesTabAndButton)
{
    struct Case {
        const char* what;
        DWORD effects;
        int tab;             // selected tab item
        int checkedButton;   // 0: no button of that tab checked
        bool readFails = false;
    } cases[] = {
        { "Edge Smoothing", 0x100, 1, IDC_DBLK_EDGESMOOTHING },
        { "Emboss with the 0x400 flag", 0x401, 0, IDC_EMBOSS },
        { "two effects at once", 0x101, 1, 0 },
        { "none", 0x000, 0, IDC_EF_NONE },
        { "Complex Picture Smoothing", 0x200, 1, IDC_DBLK_COMPLEXPICSMOOTHING },
        { "a failed read: none, and no pairs to send", 0x100, 0, IDC_EF_NONE, true },  // last: the failure stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetPageState();
        driver().records.clear();
        InForce(c.effects, 4);
        if (c.readFails)
            driver().config.tintraResults[QX_TINTRA_FN_GET_EFFECTS] = 0;
        Open();
        EXPECT_EQ(gdwNumEfx, c.readFails ? 0u : 1u);
        HWND shown = c.tab == 0 ? g_EffectsDlg : g_DeblockDlg;
        HWND other = c.tab == 0 ? g_DeblockDlg : g_EffectsDlg;
        EXPECT_EQ(SendMessageA(Tab(), TCM_GETCURSEL, 0, 0), c.tab);
        EXPECT_TRUE(Shown(shown));
        EXPECT_FALSE(Shown(other));

        const TabInfo* tab = GetTabInfo(c.tab);
        for (int k = 0; k < tab->rowCount; ++k) {
            const EffectRow& row = tab->rows[k];
            EXPECT_EQ(Checked(shown, row.radioId), row.radioId == c.checkedButton) << row.radioId;
            if (row.trackbarId)
                EXPECT_EQ(Enabled(shown, row.trackbarId), row.radioId == c.checkedButton) << row.trackbarId;
        }
        EXPECT_FALSE(ApplyEnabled());

        // Apply sends what was read, without the flag, at the level of the
        // first pair (also for "none" and for a code with no button).
        driver().records.clear();
        PressApply();
        if (c.readFails)
            ExpectOneSet(0, 0, 0);
        else
            ExpectOneSet(1, c.effects & ~0x400u, 4);
        Close();
    }
}

TEST_F(PageDialogTest, KpAdapterWithOnlyDeblockingHasOneTab)
{
    ASSERT_TRUE(sim::UseChipOfFamily(driver().config, CHIP_FAMILY_KP));
    g_dwChipFamily = CHIP_FAMILY_KP;
    driver().config.caps = 0x300;
    InForce(QX_TINTRA_EF_DBLK_EDGESMOOTHING, 2);
    Open();

    EXPECT_EQ(SendMessageA(Tab(), TCM_GETITEMCOUNT, 0, 0), 1);
    EXPECT_EQ(gnDeblockTab, 0);
    EXPECT_EQ(gnArtisticTab, -1);
    EXPECT_EQ(g_EffectsDlg, nullptr);
    EXPECT_EQ(SendMessageA(Tab(), TCM_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(Shown(g_DeblockDlg));
    EXPECT_TRUE(Checked(g_DeblockDlg, IDC_DBLK_EDGESMOOTHING));
    EXPECT_EQ(Position(g_DeblockDlg, IDC_DBLK_EDGESMOOTHING_SLIDER), 2);
    char label[64] = "";
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = label;
    item.cchTextMax = sizeof label;
    SendMessageA(Tab(), TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(label, "  Deblocking Filters  ");

    // No artistic slider was set up.
    const std::vector<std::string> start = {
        "QUERY_CAPS -> 1",
        "GET_MAX_LEVEL effect=0x100 -> 1",
        "GET_MAX_LEVEL effect=0x200 -> 1",
        "GET_EFFECTS -> 1",
    };
    ExpectStartCalls(start);
}

TEST_F(PageDialogTest, LanguageChoosesTheTabTemplatesAndTheGroupBoxFit)
{
    // The East Asian tab templates give the first slider a selection range
    // and "Complex Picture Smoothing" one line (their labels come from the
    // configuration file, like every translated page's).
    struct Case {
        const char* language;
        bool eastAsianTabs;
        bool groupFitsPicture;
    } cases[] = {
        { "English", false, false },
        { "japanese", true, false },
        { "Simplified Chinese", true, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        lstrcpyA(g_szLanguage, c.language);
        Open();
        auto style = [](HWND dialog, int id) { return GetWindowLongPtrA(Item(dialog, id), GWL_STYLE); };
        EXPECT_EQ((style(g_EffectsDlg, IDC_EMBOSS_SLIDER) & TBS_ENABLESELRANGE) != 0, c.eastAsianTabs);
        EXPECT_EQ((style(g_DeblockDlg, IDC_DBLK_COMPLEXPICSMOOTHING) & BS_MULTILINE) == 0, c.eastAsianTabs);
        RECT group, picture;
        GetWindowRect(Item(page, IDC_ORIGINALGRPBOX), &group);
        GetWindowRect(Item(page, IDC_REFERENCE), &picture);
        EXPECT_EQ(group.right - group.left == picture.right - picture.left + 8, c.groupFitsPicture);
        Close();
    }
    lstrcpyA(g_szLanguage, "English");
}

// ---- choices and the sheet's Apply button ------------------------------------------

TEST_F(PageDialogTest, SliderAndRadioChangesLightApplyOnlyForANewChoice)
{
    InForce(QX_TINTRA_EF_EMBOSS, 2);
    Open();
    ASSERT_FALSE(ApplyEnabled());

    Slide(g_EffectsDlg, IDC_EMBOSS_SLIDER, 4);
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_EQ(Text(g_EffectsDlg, IDC_EMBOSS_LEVEL), "4");
    Slide(g_EffectsDlg, IDC_EMBOSS_SLIDER, 2);
    EXPECT_FALSE(ApplyEnabled()) << "back at the applied level of the applied effect";
    EXPECT_EQ(Text(g_EffectsDlg, IDC_EMBOSS_LEVEL), "2");

    Slide(g_EffectsDlg, IDC_EMBOSS_SLIDER, 4);
    Click(g_EffectsDlg, IDC_NEON_EDGES);
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_TRUE(Checked(g_EffectsDlg, IDC_NEON_EDGES));
    EXPECT_TRUE(Enabled(g_EffectsDlg, IDC_NEON_EDGES_SLIDER));
    EXPECT_FALSE(Enabled(g_EffectsDlg, IDC_EMBOSS_SLIDER));

    // The applied effect again: unchanged, although its slider stands at 4.
    Click(g_EffectsDlg, IDC_EMBOSS);
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_EQ(Position(g_EffectsDlg, IDC_EMBOSS_SLIDER), 4);
    EXPECT_TRUE(Enabled(g_EffectsDlg, IDC_EMBOSS_SLIDER));
    EXPECT_FALSE(Enabled(g_EffectsDlg, IDC_NEON_EDGES_SLIDER));

    // Neon Edges picks up the level its own slider shows.
    Slide(g_EffectsDlg, IDC_NEON_EDGES_SLIDER, 0);
    Click(g_EffectsDlg, IDC_NEON_EDGES);
    Slide(g_EffectsDlg, IDC_NEON_EDGES_SLIDER, 9);
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_EQ(Text(g_EffectsDlg, IDC_NEON_EDGES_LEVEL), "9");

    driver().records.clear();
    PressApply();
    ExpectOneSet(1, QX_TINTRA_EF_NEON_EDGES, 9);
    EXPECT_FALSE(ApplyEnabled());

    // "None" is level 0, and a change until applied.
    Click(g_EffectsDlg, IDC_EF_NONE);
    EXPECT_TRUE(ApplyEnabled());
    ExpectAllOff(
        g_EffectsDlg, {}, { IDC_EMBOSS_SLIDER, IDC_NEON_EDGES_SLIDER, IDC_SOFT_FOCUS_SLIDER, IDC_SHARP_SLIDER });
    driver().records.clear();
    PressApply();
    ExpectOneSet(1, QX_TINTRA_EF_NONE, 0);
}

TEST_F(PageDialogTest, TabSwitchKeepsOneEffectAcrossBothTabs)
{
    Open();
    // Nothing selected: the tab shown gets its "none" checked.
    EXPECT_TRUE(Checked(g_EffectsDlg, IDC_EF_NONE));
    ClickTab(1);
    EXPECT_TRUE(Shown(g_DeblockDlg));
    EXPECT_FALSE(Shown(g_EffectsDlg));
    EXPECT_EQ(g_CurTabDlg, g_DeblockDlg);
    EXPECT_TRUE(Checked(g_DeblockDlg, IDC_DBLK_NONE));
    EXPECT_FALSE(ApplyEnabled()) << "a tab switch changes nothing";

    ClickTab(0);
    Click(g_EffectsDlg, IDC_NEON_EDGES);
    Slide(g_EffectsDlg, IDC_NEON_EDGES_SLIDER, 7);
    ClickTab(1);
    ExpectAllOff(g_DeblockDlg, { IDC_DBLK_NONE, IDC_DBLK_EDGESMOOTHING, IDC_DBLK_COMPLEXPICSMOOTHING },
        { IDC_DBLK_EDGESMOOTHING_SLIDER, IDC_DBLK_COMPLEXPICSMOOTHING_SLIDER });
    EXPECT_TRUE(ApplyEnabled()) << "Neon Edges is still the choice";

    // Back without choosing: Neon Edges still stands on its tab.
    ClickTab(0);
    EXPECT_TRUE(Checked(g_EffectsDlg, IDC_NEON_EDGES));
    EXPECT_TRUE(Enabled(g_EffectsDlg, IDC_NEON_EDGES_SLIDER));

    ClickTab(1);
    Click(g_DeblockDlg, IDC_DBLK_EDGESMOOTHING);
    EXPECT_TRUE(Enabled(g_DeblockDlg, IDC_DBLK_EDGESMOOTHING_SLIDER));
    ClickTab(0);
    ExpectAllOff(g_EffectsDlg, { IDC_EF_NONE, IDC_EMBOSS, IDC_NEON_EDGES, IDC_SOFT_FOCUS, IDC_SELECTED_SHARP },
        { IDC_EMBOSS_SLIDER, IDC_NEON_EDGES_SLIDER, IDC_SOFT_FOCUS_SLIDER, IDC_SHARP_SLIDER });

    driver().records.clear();
    PressApply();
    ExpectOneSet(1, QX_TINTRA_EF_DBLK_EDGESMOOTHING, 0);
}

// ---- Apply and Cancel ---------------------------------------------------------------

TEST_F(PageDialogTest, CancelAfterApplySendsTheAppliedEffect)
{
    InForce(QX_TINTRA_EF_NEON_EDGES, 3);
    Open();
    Click(g_EffectsDlg, IDC_SOFT_FOCUS);
    Slide(g_EffectsDlg, IDC_SOFT_FOCUS_SLIDER, 7);
    driver().records.clear();
    PressApply();
    ExpectOneSet(1, QX_TINTRA_EF_GAUSSIANBLUR, 7);

    Click(g_EffectsDlg, IDC_SELECTED_SHARP);
    EXPECT_TRUE(ApplyEnabled());
    driver().records.clear();
    PressCancel();
    ExpectOneSet(1, QX_TINTRA_EF_GAUSSIANBLUR, 7);
    EXPECT_EQ(PropSheet_GetCurrentPageHwnd(sheet), nullptr) << "the sheet accepted the cancel";
}

TEST_F(PageDialogTest, CancelWithoutAChangeStillSendsAndCountFollowsTheDriver)
{
    struct Case {
        DWORD numEfx;
        DWORD sentCount;  // more pairs than the page holds are never sent
    } cases[] = { { 1, 1 }, { 0, 0 }, { 2, 2 }, { 3, 2 }, { 7, 2 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.numEfx);
        ResetPageState();
        InForce(QX_TINTRA_EF_DBLK_EDGESMOOTHING, 5, c.numEfx);
        // A second pair in force is not the page's to send back.
        driver().config.pairs[2] = QX_TINTRA_EF_EMBOSS;
        driver().config.pairs[3] = 6;
        Open();
        driver().records.clear();
        PressCancel();
        // A count of 0 carries no pair at all.
        if (c.sentCount)
            ExpectOneSet(c.sentCount, QX_TINTRA_EF_DBLK_EDGESMOOTHING, 5);
        else
            ExpectOneSet(0, 0, 0);
        Close();
    }
}

// ---- capabilities and level ranges ------------------------------------------------------

TEST_F(PageDialogTest, MissingCapabilitiesHideRowsAndNoMaximumHidesTheSlider)
{
    driver().config.caps = QX_TINTRA_EF_EMBOSS | QX_TINTRA_EF_NEON_EDGES | QX_TINTRA_EF_DBLK_EDGESMOOTHING;
    driver().config.maxLevel.erase(QX_TINTRA_EF_NEON_EDGES);   // the driver refuses the question
    driver().config.maxLevel[QX_TINTRA_EF_EMBOSS] = 0;         // or answers 0
    InForce(QX_TINTRA_EF_UNSHARP_MASK, 3);                    // in force although not offered
    Open();

    struct Row {
        HWND dialog;
        int radio, trackbar, text;
        bool radioShown, levelShown;
    } rows[] = {
        { g_EffectsDlg, IDC_EMBOSS, IDC_EMBOSS_SLIDER, IDC_EMBOSS_LEVEL, true, false },
        { g_EffectsDlg, IDC_NEON_EDGES, IDC_NEON_EDGES_SLIDER, IDC_NEON_EDGES_LEVEL, true, false },
        { g_EffectsDlg, IDC_SOFT_FOCUS, IDC_SOFT_FOCUS_SLIDER, IDC_SOFT_FOCUS_LEVEL, false, false },
        { g_EffectsDlg, IDC_SELECTED_SHARP, IDC_SHARP_SLIDER, IDC_SHARP_LEVEL, false, false },
        { g_DeblockDlg, IDC_DBLK_EDGESMOOTHING, IDC_DBLK_EDGESMOOTHING_SLIDER, IDC_DBLK_EDGESMOOTHING_LEVEL, true,
            true },
        { g_DeblockDlg, IDC_DBLK_COMPLEXPICSMOOTHING, IDC_DBLK_COMPLEXPICSMOOTHING_SLIDER,
            IDC_DBLK_COMPLEXPICSMOOTHING_LEVEL, false, false },
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.radio);
        EXPECT_EQ(Shown(r.dialog, r.radio), r.radioShown);
        EXPECT_EQ(Shown(r.dialog, r.trackbar), r.levelShown);
        EXPECT_EQ(Shown(r.dialog, r.text), r.levelShown);
    }
    EXPECT_TRUE(Shown(g_EffectsDlg, IDC_EF_NONE));
    EXPECT_TRUE(Shown(g_DeblockDlg, IDC_DBLK_NONE));
    EXPECT_TRUE(Checked(g_EffectsDlg, IDC_SELECTED_SHARP)) << "checked, though hidden";

    // An effect without levels is still chosen, at level 0.
    Click(g_EffectsDlg, IDC_NEON_EDGES);
    EXPECT_TRUE(ApplyEnabled());
    driver().records.clear();
    PressApply();
    ExpectOneSet(1, QX_TINTRA_EF_NEON_EDGES, 0);
}

// ---- help and repaint -------------------------------------------------------------------

TEST_F(PageDialogTest, ContextHelpGoesToWinHelpWithTheHelpTable)
{
    sim::ImportPatch patch(qxtest::ProgramModule(), "user32.dll", "WinHelpA", reinterpret_cast<void*>(&RecordWinHelp));
    ASSERT_TRUE(patch.installed());
    g_helpCalls.clear();
    lstrcpyA(g_szHelpFile, "QXTINENU.HLP");
    Open();

    HWND button = Item(g_EffectsDlg, IDC_NEON_EDGES);
    HELPINFO help = {};
    help.cbSize = sizeof help;
    help.iContextType = HELPINFO_WINDOW;
    help.iCtrlId = IDC_NEON_EDGES;
    help.hItemHandle = button;
    SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    SendMessageA(g_EffectsDlg, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    SendMessageA(page, WM_HELP, 0, 0);  // nothing to ask about
    HWND slider = Item(g_EffectsDlg, IDC_NEON_EDGES_SLIDER);
    SendMessageA(g_EffectsDlg, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(slider), MAKELPARAM(10, 10));
    SendMessageA(page, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Tab()), MAKELPARAM(10, 10));

    ASSERT_EQ(g_helpCalls.size(), 4u);
    const HWND windows[] = { button, button, slider, Tab() };
    const UINT commands[] = { HELP_WM_HELP, HELP_WM_HELP, HELP_CONTEXTMENU, HELP_CONTEXTMENU };
    for (size_t i = 0; i < g_helpCalls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(g_helpCalls[i].window, windows[i]);
        EXPECT_EQ(g_helpCalls[i].file, "QXTINENU.HLP");
        EXPECT_EQ(g_helpCalls[i].command, commands[i]);
        const DWORD* table = reinterpret_cast<const DWORD*>(g_helpCalls[i].data);
        ASSERT_EQ(table, g_aHelpIds);
        EXPECT_EQ(table[0], static_cast<DWORD>(IDC_VERSION));
        EXPECT_EQ(table[2 * QX_HELP_ID_PAIRS - 2], 0u) << "the table ends with (0, 0)";
    }
}

TEST_F(PageDialogTest, ResumeFromSuspendRepaintsAtTheNextErase)
{
    qxtest::MessageBoxRecorder boxes;
    Open();
    const auto& shown = qxtest::MessageBoxRecorder::boxes();

    // A suspend alone asks for nothing.
    SendMessageA(page, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    EraseNow(page);
    EXPECT_TRUE(shown.empty());

    // The page erasing first: one box, then the flag is spent.
    SendMessageA(page, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    EraseNow(page);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(shown[0].text, "Repainting dialog...");
    EXPECT_EQ(shown[0].caption, "");
    EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_OK));
    EraseNow(page);
    EXPECT_EQ(shown.size(), 1u);

    // A tab dialog erasing first repaints itself, without a box; the page's
    // next erase finds nothing left to do.
    SendMessageA(g_EffectsDlg, WM_POWERBROADCAST, PBT_APMRESUMECRITICAL, 0);
    EraseNow(g_EffectsDlg);
    EraseNow(page);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(g_bRepaintAfterResume, FALSE);
}

// ---- lifetime -------------------------------------------------------------------------------

TEST_F(PageDialogTest, OpeningAndClosingThePageLeaksNothing)
{
    InForce(QX_TINTRA_EF_EMBOSS, 2);
    // The first sheet of the process loads and caches what every later one
    // shares (classes, fonts, themes).
    Open();
    Close();
    g_realLocalAlloc = &LocalAlloc;
    g_realLocalFree = &LocalFree;
    sim::ImportPatch allocPatch(qxtest::ProgramModule(), "kernel32.dll", "LocalAlloc",
        reinterpret_cast<void*>(&CountingLocalAlloc));
    sim::ImportPatch freePatch(qxtest::ProgramModule(), "kernel32.dll", "LocalFree",
        reinterpret_cast<void*>(&CountingLocalFree));
    ASSERT_TRUE(allocPatch.installed() && freePatch.installed());
    g_liveLocalBlocks.clear();
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();
    const int windowsBefore = qxtest::ThreadWindowCount();
    for (int round = 0; round < 3; ++round) {
        Open();
        Click(g_EffectsDlg, IDC_SOFT_FOCUS);
        Slide(g_EffectsDlg, IDC_SOFT_FOCUS_SLIDER, 3);
        ClickTab(1);
        ClickTab(0);
        PressApply();
        PressCancel();
        Close();
        EXPECT_EQ(g_hPageDlg, nullptr);
        EXPECT_EQ(g_EffectsDlg, nullptr);
        EXPECT_EQ(g_hInstanceWnd, nullptr) << "the running-copy marker goes with the page";
    }
    const qxtest::ResourceCounts after = qxtest::CurrentCounts();
    EXPECT_EQ(after.gdi, before.gdi);
    EXPECT_EQ(after.user, before.user);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(qxtest::ThreadWindowCount(), windowsBefore) << "no window outlives the sheet";
    EXPECT_TRUE(g_liveLocalBlocks.empty()) << "the tab block goes with its page";
    EXPECT_EQ(driver().LiveDCs(), 0);
}

} // namespace
