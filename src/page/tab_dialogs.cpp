// The two tab dialogs: one row per effect (radio button, level slider, level
// text), and the rule that only one effect is selected across both tabs.
#include "page/page_dialog.h"

#include <commctrl.h>

#include "common/trace.h"
#include "controls/skin_button.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "page/effect_model.h"
#include "page/page_localize.h"
#include "page/page_paint.h"
#include "resource.h"

namespace {

// Trace texts of each row, in the row order of the tab (rows[0] is "none").
struct RowTraces {
    LPCSTR shown;    // UpdateRadioBtns found the row's effect in force (%ld: level)
    LPCSTR slider;   // its slider was set (%ld: level)
    LPCSTR clicked;  // its radio button was clicked
};

constexpr RowTraces kArtisticTraces[] = {
    { " gdwCurEffect==QX_TINTRA_EF_NONE, nBtnID=IDC_EF_NONE\n", nullptr, "(*) ArtisticEffect: None selected\n" },
    { " gdwCurEffect==QX_TINTRA_EF_EMBOSS\n", "Set EMBOSS slider to level=%ld\n", "(*) Emboss selected\n" },
    { " gdwCurEffect==QX_TINTRA_EF_NEON_EDGES\n", "Set Neon Edges slider to level=%ld\n", "(*) Neon Edges selected\n" },
    { " gdwCurEffect==QX_TINTRA_EF_GAUSSIANBLUR, level=%ld\n", "Set GAUSSIANBLUR slider to level=%ld\n",
        "(*) Soft Focus selected\n" },
    { " gdwCurEffect==QX_TINTRA_EF_UNSHARP_MASK, level=%ld\n", "Set UNSHARP_MASK slider to level=%ld\n",
        "(*) Selected Sharpening selected\n" },
};

constexpr RowTraces kDeblockTraces[] = {
    { " nBtnID set to IDC_DBLK_NONE\n", nullptr, "(*) Deblocking: None selected\n" },
    { " nBtnID set to IDC_DBLK_EDGESMOOTHING\n", "Set Deblock Edge Smoothing slider to level=%ld\n",
        "(*) Deblocking: Edge Smoothing selected\n" },
    { " nBtnID set to IDC_DBLK_COMPLEXPICSMOOTHING\n", "Set Deblock Complex Picture Smoothing slider to level=%ld\n",
        "(*) Deblocking: Complex Picture Smoothing selected\n" },
};

static_assert(sizeof kArtisticTraces / sizeof kArtisticTraces[0] == 5, "one trace set per artistic row");
static_assert(sizeof kDeblockTraces / sizeof kDeblockTraces[0] == 3, "one trace set per deblocking row");

const RowTraces& TracesOf(int tab, const EffectRow* row)
{
    const TabInfo* info = GetTabInfo(tab);
    const RowTraces* traces = tab == QX_TAB_ARTISTIC ? kArtisticTraces : kDeblockTraces;
    return traces[row - info->rows];
}

// The rows of a tab that have a level: every row but "none".
template <typename Fn>
void ForEachEffectRow(int tab, Fn fn)
{
    const TabInfo* info = GetTabInfo(tab);
    if (!info)
        return;
    for (int k = 1; k < info->rowCount; ++k)
        fn(info->rows[k]);
}

void DisableTrackbars(HWND child, int tab)
{
    ForEachEffectRow(tab, [child](const EffectRow& row) { EnableWindow(GetDlgItem(child, row.trackbarId), FALSE); });
}

void ShowLevelText(HWND child, int levelTextId, DWORD level)
{
    char text[QX_LEVEL_TEXT_CCH];
    LevelToText(level, text, sizeof text);
    SetDlgItemTextA(child, levelTextId, text);
}

DWORD TrackbarPosition(HWND trackbar)
{
    return static_cast<DWORD>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
}

// The radio buttons of both tabs draw their check marks from one strip,
// loaded by the first tab and deleted with the page (the buttons never
// delete a bitmap they were handed).
void SkinRadioButtons(HWND child, int tab)
{
    if (!g_hRadioCheckBmp)
        g_hRadioCheckBmp = LoadBitmapA(g_hInstance, MAKEINTRESOURCEA(IDB_RADIO_STRIP));
    const TabInfo* info = GetTabInfo(tab);
    for (int k = 0; info && k < info->rowCount; ++k) {
        SkinButtonDesc skin = {};
        skin.flags = SKIN_BITMAP;
        skin.bitmap = g_hRadioCheckBmp;
        ApplyButtonSkin(GetDlgItem(child, info->rows[k].radioId), &skin);
    }
}

void OnInitTabDialog(HWND child, int tab)
{
    // Localisation runs once the dialog exists and has been laid out.
    PostMessageA(child, WSU_RELAYOUT, 0, 0);
    HideUnsupportedEffects(child, tab);
    SkinRadioButtons(child, tab);
    ForEachEffectRow(tab, [child](const EffectRow& row) {
        SetupLevelRange(GetDlgItem(child, row.trackbarId), row.effect, GetDlgItem(child, row.levelTextId));
    });
}

// A click on one of the tab's radio buttons (the notification code does not
// matter: every command from a button of the tab is a choice).
void OnRadioClick(HWND child, int tab, int controlId)
{
    DisableTrackbars(child, tab);

    const EffectRow* row = nullptr;
    const TabInfo* info = GetTabInfo(tab);
    for (int k = 0; k < info->rowCount; ++k) {
        if (info->rows[k].radioId == controlId)
            row = &info->rows[k];
    }

    if (row) {
        QxTrace("%s", TracesOf(tab, row).clicked);
        if (row->effect == QX_TINTRA_EF_NONE) {
            gdwCurEffect = QX_TINTRA_EF_NONE;
            gdwCurEffectLevel = 0;
        } else {
            HWND trackbar = GetDlgItem(child, row->trackbarId);
            gdwCurEffect = row->effect;
            gdwCurEffectLevel = TrackbarPosition(trackbar);
            EnableWindow(trackbar, TRUE);
        }
        QxTrace("Sending Message WSU_MONITOR to update effect\n");
        SendMessageA(g_hPageDlg, WSU_MONITOR, WSU_MONITOR_PREVIEW | WSU_MONITOR_REFERENCE, 0);
    } else if (tab == QX_TAB_DEBLOCK) {
        QxTrace("(*) Deblocking: Undefined control selected\n");
    }

    // Only the effect counts here: choosing the applied effect again is "no
    // change" even when its slider now stands at another level.
    if (gdwCurEffect != gdwLastEffectApplied) {
        g_bPageChanged = TRUE;
        SendMessageA(g_hPageDlg, WSU_MONITOR, WSU_MONITOR_REFERENCE, 0);
    } else {
        g_bPageChanged = FALSE;
    }
    NotifyPageChanged(g_hPageDlg, g_bPageChanged);
}

// Any trackbar notification: the level follows the slider that moved.
void OnSliderMoved(HWND child, HWND trackbar)
{
    BOOL changed = TRUE;
    const int id = trackbar ? GetDlgCtrlID(trackbar) : 0;
    if (trackbar)
        gdwCurEffectLevel = TrackbarPosition(trackbar);

    const EffectRow* row = FindRowByControl(id);
    if (row && row->trackbarId == id) {
        ShowLevelText(child, row->levelTextId, gdwCurEffectLevel);
        if (row->effect == gdwLastEffectApplied && gdwLastLevelApplied == gdwCurEffectLevel)
            changed = FALSE;
        SendMessageA(g_hPageDlg, WSU_MONITOR, WSU_MONITOR_PREVIEW, 0);
    }
    g_bPageChanged = changed;
    NotifyPageChanged(g_hPageDlg, changed);
}

// Palette messages reach the radio buttons that draw the skin bitmap; the
// deblocking tab's "none" button is left out of them.
void ForwardPalette(HWND child, int tab, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const TabInfo* info = GetTabInfo(tab);
    for (int k = tab == QX_TAB_ARTISTIC ? 0 : 1; k < info->rowCount; ++k)
        SendDlgItemMessageA(child, info->rows[k].radioId, msg, wParam, lParam);
}

INT_PTR TabDialogProc(int tab, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        OnInitTabDialog(hwnd, tab);
        return TRUE;
    case WM_COMMAND:
        OnRadioClick(hwnd, tab, LOWORD(wParam));
        return TRUE;
    case WM_HSCROLL:
        OnSliderMoved(hwnd, reinterpret_cast<HWND>(lParam));
        return TRUE;
    case WM_ERASEBKGND:
        // The tab dialog has no background of its own: the tab control's
        // body shows through. A pending resume repaint redraws just this dialog.
        if (TakeRepaintAfterResume())
            PostMessageA(hwnd, WSU_MONITOR, WSU_MONITOR_WHOLE, 0);
        PaintTabBodyUnder(hwnd, reinterpret_cast<HDC>(wParam));
        return TRUE;
    case WM_HELP:
    case WM_CONTEXTMENU:
        ShowContextHelp(msg, wParam, lParam);
        return TRUE;
    case WM_POWERBROADCAST:
        NoteResumeFromSuspend(wParam);
        return TRUE;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
        ForwardPalette(hwnd, tab, msg, wParam, lParam);
        return TRUE;
    case WSU_MONITOR:
        if (wParam != WSU_MONITOR_WHOLE)
            return FALSE;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    case WSU_RELAYOUT:
        // The labels are measured with the font the relayout gave them.
        if (RelayoutForLanguage(hwnd, QX_TAB_TEMPLATE_CX, QX_TAB_TEMPLATE_CY))
            LocalizeEffectLabels(hwnd, tab);
        return TRUE;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK EffectsTabDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return TabDialogProc(QX_TAB_ARTISTIC, hwnd, msg, wParam, lParam);
}

INT_PTR CALLBACK DeblockTabDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return TabDialogProc(QX_TAB_DEBLOCK, hwnd, msg, wParam, lParam);
}

// ---- the controls of a tab ------------------------------------------------------

void HideUnsupportedEffects(HWND child, int tab)
{
    ForEachEffectRow(tab, [child](const EffectRow& row) {
        if ((gdwEffectCaps & row.effect) == row.effect)
            return;
        ShowWindow(GetDlgItem(child, row.radioId), SW_HIDE);
        ShowWindow(GetDlgItem(child, row.trackbarId), SW_HIDE);
        ShowWindow(GetDlgItem(child, row.levelTextId), SW_HIDE);
    });
}

void SetupLevelRange(HWND trackbar, DWORD effect, HWND levelText)
{
    DWORD maxLevel = 0;
    QX_TINTRA_GetEffectMaxLevel(effect, &maxLevel);
    QxTrace(" QX_TINTRA_GetEffectMaxLevel(%ld) called, dwMaxLevel=%ld\n", static_cast<long>(effect),
        static_cast<long>(maxLevel));
    if (maxLevel == 0) {
        // An effect without levels: its button still selects it, at level 0.
        ShowWindow(trackbar, SW_HIDE);
        ShowWindow(levelText, SW_HIDE);
        return;
    }
    // TBM_SETRANGE packs both ends into 16 bits each; the two single-end
    // messages carry any maximum a driver reports. A trackbar position is a
    // signed LONG, so a larger answer is held at the top of that.
    LPARAM top = maxLevel > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<LPARAM>(maxLevel);
    SendMessageA(trackbar, TBM_SETRANGEMIN, FALSE, 0);
    SendMessageA(trackbar, TBM_SETRANGEMAX, TRUE, top);
    SendMessageA(trackbar, TBM_SETLINESIZE, 0, 1);
    SendMessageA(trackbar, TBM_SETPAGESIZE, 0, 1);
}

void UpdateRadioBtns()
{
    HWND child = g_CurTabDlg;
    const int tab = TabOfDialog(child);
    if (tab == QX_TAB_NONE)
        return;
    if (tab == QX_TAB_DEBLOCK)
        QxTrace("   UpdateRadioBtns: g_CurTabDlg=g_DeblockDlg, gdwLastEffectApplied=0x%lx\n", gdwLastEffectApplied);
    DisableTrackbars(child, tab);

    const EffectRow* row = FindEffectRow(tab, gdwCurEffect);
    if (!row)
        return;
    const RowTraces& traces = TracesOf(tab, row);
    QxTrace(traces.shown, static_cast<long>(gdwCurEffectLevel));
    if (row->trackbarId) {
        HWND trackbar = GetDlgItem(child, row->trackbarId);
        EnableWindow(trackbar, TRUE);
        SendMessageA(trackbar, TBM_SETPOS, TRUE, static_cast<LPARAM>(gdwCurEffectLevel));
        ShowLevelText(child, row->levelTextId, gdwCurEffectLevel);
        QxTrace(traces.slider, static_cast<long>(gdwCurEffectLevel));
    }
    const TabInfo* info = GetTabInfo(tab);
    CheckRadioButton(child, info->firstRadioId, info->lastRadioId, row->radioId);
}

void ClearTabRadios(HWND child, BOOL includeNone)
{
    const int tab = TabOfDialog(child);
    const TabInfo* info = GetTabInfo(tab);
    if (!info)
        return;
    if (includeNone)
        SendDlgItemMessageA(child, info->rows[0].radioId, BM_SETCHECK, BST_UNCHECKED, 0);
    ForEachEffectRow(tab, [child](const EffectRow& row) {
        SendDlgItemMessageA(child, row.radioId, BM_SETCHECK, BST_UNCHECKED, 0);
    });
    DisableTrackbars(g_CurTabDlg, tab);
}

// The user picked a tab. Only one effect may be selected across both tabs:
// the tab shown gets its "none" checked again when nothing is selected, and
// loses every check when the selection belongs to the other tab.
void OnTabSelChanged(HWND page)
{
    QxTrace("Currently selected tab has changed\n");
    HWND tabControl = PageTabControl(page);
    const int selection = static_cast<int>(SendMessageA(tabControl, TCM_GETCURSEL, 0, 0));
    QxTrace(" OnTabSelChanged: TabCtrl_GetCurSel returned %d, gdwCurEffect=0x%lx, gdwLastEffectApplied=0x%lx\n",
        selection, gdwCurEffect, gdwLastEffectApplied);

    // The indexes are the literal 0 and 1: with both tabs the artistic one
    // is 0, and with a single tab there is nothing to switch to.
    if (selection == QX_TAB_ARTISTIC || selection == QX_TAB_DEBLOCK) {
        const bool artistic = selection == QX_TAB_ARTISTIC;
        HWND shown = artistic ? g_EffectsDlg : g_DeblockDlg;
        HWND hidden = artistic ? g_DeblockDlg : g_EffectsDlg;
        QxTrace(artistic ? "  OnTabSelChanged: show the Artistic Effects tab\n"
                         : "  OnTabSelChanged: show the Deblocking tab\n");
        ShowWindow(hidden, SW_HIDE);
        g_CurTabDlg = shown;
        if (gdwCurEffect == QX_TINTRA_EF_NONE) {
            QxTrace("gdwCurEffect is NONE, so check NONE\n");
            const TabInfo* tab = GetTabInfo(selection);
            CheckRadioButton(shown, tab->firstRadioId, tab->lastRadioId, tab->rows[0].radioId);
            gdwCurEffect = QX_TINTRA_EF_NONE;
            ClearTabRadios(shown, FALSE);
            UpdateReferenceWindow(page);
            UpdateEffectsWindow(page);
        } else if (artistic) {
            QxTrace("gdwCurEffect is not NONE, so check Artistic Effects\n");
            if (DeblockingFilterIsSelected()) {
                QxTrace("DeblockingFilterIsSelected\n");
                QxTrace("  Deblocking Filter was last selected, clear Artistic Effects\n");
                ClearTabRadios(shown, TRUE);
            }
        } else {
            QxTrace("gdwCurEffect is not NONE, so check Deblocking Filters\n");
            if (ArtisticEffectIsSelected()) {
                QxTrace("ArtisticEffectIsSelected\n");
                QxTrace("  Artistic Effect was last selected, clear Deblocking Filters\n");
                ClearTabRadios(shown, TRUE);
            }
        }
    }
    ShowTabDialog(tabControl, g_CurTabDlg);
}
