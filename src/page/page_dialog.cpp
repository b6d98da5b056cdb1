// The page dialog: start-up of the page, Apply and Cancel, the sheet's Apply
// button, context help and the messages the page forwards or answers itself.
// The tab dialogs and their controls are in tab_dialogs.cpp.
#include "page/page_dialog.h"

#include <commctrl.h>
#include <prsht.h>

#include "common/trace.h"
#include "config/localization.h"
#include "config/skin_settings.h"
#include "config/system_services.h"
#include "controls/picture_control.h"
#include "controls/skin_button.h"
#include "driver/chip_family.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "page/effect_model.h"
#include "page/page_localize.h"
#include "page/page_paint.h"
#include "resource.h"

namespace {

void InsertTab(HWND tabControl, int index, int tab)
{
    const TabInfo* info = GetTabInfo(tab);
    char label[QX_CFG_TAB_LABEL_CCH];
    GetCfgString(info->labelKey, info->labelDefault, label, sizeof label);
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = label;
    SendMessageA(tabControl, TCM_INSERTITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

HWND CreateTabDialog(HWND tabControl, int tab, DLGPROC proc)
{
    WORD templateId = TabTemplateId(tab, g_szLanguage);
    return CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(templateId), tabControl, proc, 0);
}

// The driver's request holds the pairs of g_EffectRequest only. A driver
// that reported more than two effects in force gets a count of two: the page
// never chose the others and holds no values for them, and a refused request
// would leave Apply and Cancel without any effect at all. Sending the pair
// the user chose, with pair 1 still (0, 0), is the closest to what was asked.
void SendEffectRequest(DWORD effect, DWORD level)
{
    g_EffectRequest[0].dwEffect = effect;
    g_EffectRequest[0].dwLevel = level;
    DWORD count = gdwNumEfx;
    if (count > QX_EFFECT_REQUEST_PAIRS)
        count = QX_EFFECT_REQUEST_PAIRS;
    QX_TINTRA_SetCurrentEffects(static_cast<int>(count), g_EffectRequest);
}

// Invalidates one picture control's area of the page and repaints at once;
// the picture itself is drawn by the page's owner drawing.
void RepaintItem(HWND page, int itemId)
{
    HWND item = GetDlgItem(page, itemId);
    if (!item)
        return;
    RECT r;
    GetWindowRect(item, &r);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
    InvalidateRect(page, &r, FALSE);
    UpdateWindow(page);
}

// The preview sits in a frame picture and is drawn by the page into the
// frame's window; the reference picture is drawn by the page over all of a
// picture of its own size.
void SetUpPictureControls(HWND page)
{
    const LPARAM instance = reinterpret_cast<LPARAM>(g_hInstance);
    SendDlgItemMessageA(page, IDC_EFFECT_PREVIEW, BMPM_SETINSTANCE, 0, instance);
    SendDlgItemMessageA(page, IDC_REFERENCE, BMPM_SETINSTANCE, 0, instance);
    const WPARAM frame = gdwColorDepth > 8 ? IDB_PREVIEW_FRAME : IDB_PREVIEW_FRAME_8BPP;
    SendDlgItemMessageA(page, IDC_EFFECT_PREVIEW, BMPM_SETIMAGE, frame, 0);
    SendDlgItemMessageA(page, IDC_REFERENCE, BMPM_SETIMAGE, IDB_EF_NONE, 0);
    int previewRect[4] = { QX_FRAME_DRAW_X, QX_FRAME_DRAW_Y, QX_FRAME_DRAW_CX, QX_FRAME_DRAW_CY };
    int referenceRect[4] = { 0, 0, QX_REFERENCE_DRAW_CX, QX_REFERENCE_DRAW_CY };
    SendDlgItemMessageA(page, IDC_EFFECT_PREVIEW, BMPM_SETDRAWRECT, 1, reinterpret_cast<LPARAM>(previewRect));
    SendDlgItemMessageA(page, IDC_REFERENCE, BMPM_SETDRAWRECT, 1, reinterpret_cast<LPARAM>(referenceRect));
}

void ShowVersionText(HWND page)
{
    char path[256];
    if (!GetModuleFileNameA(g_hInstance, path, sizeof path))
        return;
    char version[256];
    if (GetFileVersion(path, version, sizeof version))
        SetDlgItemTextA(page, IDC_VERSION, version);
}

// In the Simplified Chinese layout the group box is made to fit the picture
// inside it, and put behind it.
void FitGroupBoxToReference(HWND page)
{
    HWND group = GetDlgItem(page, IDC_ORIGINALGRPBOX);
    HWND picture = GetDlgItem(page, IDC_REFERENCE);
    if (!group || !picture)
        return;
    RECT rPage, rPicture, rGroup;
    GetWindowRect(page, &rPage);
    GetWindowRect(picture, &rPicture);
    GetWindowRect(group, &rGroup);
    SetWindowPos(group, HWND_BOTTOM, rGroup.left - rPage.left, rGroup.top - rPage.top,
        (rPicture.right - rPicture.left) + 8, rGroup.bottom - rGroup.top, SWP_NOOWNERZORDER | SWP_SHOWWINDOW);
}

// The "Original image" frame: a bevelled frame with a caption band in the
// page's own blue-grey light and shadow.
void SkinGroupBox(HWND page)
{
    SkinButtonDesc skin = {};
    skin.flags = SKIN_FRAMESTYLE | SKIN_COLORS | SKIN_CORNERMAX | SKIN_GRADIENTSTEPS | SKIN_FRAMEWIDTH;
    skin.frameStyle = 1;
    skin.frameWidth = 4;
    skin.cornerPercent = 25;  // not taken: SKIN_CORNERPERCENT is not among the flags
    skin.cornerMax = 20;
    skin.lightColor = RGB(248, 252, 255);
    skin.shadowColor = RGB(136, 144, 152);
    skin.gradientSteps = 16;
    ApplyButtonSkin(GetDlgItem(page, IDC_ORIGINALGRPBOX), &skin);
}

void ForwardToPictures(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    SendDlgItemMessageA(page, IDC_EFFECT_PREVIEW, msg, wParam, lParam);
    SendDlgItemMessageA(page, IDC_REFERENCE, msg, wParam, lParam);
}

INT_PTR OnNotify(HWND page, const NMHDR* hdr)
{
    switch (hdr->code) {
    case TCN_SELCHANGE:
        OnTabSelChanged(page);
        return TRUE;
    case PSN_APPLY:
        ApplyEffect(page);
        SetWindowLongPtrA(page, DWLP_MSGRESULT, PSNRET_NOERROR);
        return TRUE;
    case PSN_KILLACTIVE:
        SetWindowLongPtrA(page, DWLP_MSGRESULT, FALSE);
        return TRUE;
    case PSN_QUERYCANCEL:
        RestoreSavedEffect(page);
        return FALSE;
    default:
        // Handled without an answer of its own: make sure no earlier result
        // left in DWLP_MSGRESULT is taken as this notification's answer.
        SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
        return TRUE;
    }
}

void OnMonitor(HWND page, WPARAM what)
{
    if (what & WSU_MONITOR_PREVIEW)
        UpdateEffectsWindow(page);
    if (what & WSU_MONITOR_REFERENCE)
        UpdateReferenceWindow(page);
    if (what == WSU_MONITOR_WHOLE) {
        InvalidateRect(page, nullptr, TRUE);
        MessageBoxA(nullptr, "Repainting dialog...", "", MB_OK);
    }
}

void OnDestroy(HWND page)
{
    DestroyInstanceWindow();
    ReleasePagePictures();

    // The tab block is freed with the page rather than left behind at every
    // opening of the page.
    auto* info = reinterpret_cast<TINTRA_TAB_INFO*>(SetWindowLongPtrA(page, GWLP_USERDATA, 0));
    if (info)
        LocalFree(info);
    // The tab dialogs go with the page (they are children of its tab
    // control); forget them so nothing reaches a window that no longer exists.
    g_hPageDlg = nullptr;
    g_CurTabDlg = nullptr;
    g_EffectsDlg = nullptr;
    g_DeblockDlg = nullptr;
}

} // namespace

// ---- shared with the tab dialogs ------------------------------------------------

HWND PageTabControl(HWND page)
{
    auto* info = reinterpret_cast<TINTRA_TAB_INFO*>(GetWindowLongPtrA(page, GWLP_USERDATA));
    if (info && info->hwndTab)
        return info->hwndTab;
    return GetDlgItem(page, IDC_TAB);
}

void ShowContextHelp(UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto table = reinterpret_cast<ULONG_PTR>(g_aHelpIds);
    if (msg == WM_HELP) {
        const auto* help = reinterpret_cast<const HELPINFO*>(lParam);
        if (help)
            WinHelpA(static_cast<HWND>(help->hItemHandle), g_szHelpFile, HELP_WM_HELP, table);
    } else {
        WinHelpA(reinterpret_cast<HWND>(wParam), g_szHelpFile, HELP_CONTEXTMENU, table);
    }
}

void NoteResumeFromSuspend(WPARAM event)
{
    if (event == PBT_APMRESUMECRITICAL || event == PBT_APMRESUMESUSPEND)
        g_bRepaintAfterResume = TRUE;
}

BOOL TakeRepaintAfterResume()
{
    if (!g_bRepaintAfterResume)
        return FALSE;
    g_bRepaintAfterResume = FALSE;
    return TRUE;
}

// ---- page start ---------------------------------------------------------------

void InitTabs(HWND page)
{
    auto* info = static_cast<TINTRA_TAB_INFO*>(LocalAlloc(LPTR, sizeof(TINTRA_TAB_INFO)));
    SetWindowLongPtrA(page, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(info));

    // Keeps the common controls loaded for as long as the process lives, so
    // the page's trackbars and tab control outlive any host that frees it.
    LoadLibraryA("comctl32.dll");
    INITCOMMONCONTROLSEX icc = { sizeof icc, ICC_TAB_CLASSES };
    InitCommonControlsEx(&icc);

    HWND tabControl = GetDlgItem(page, IDC_TAB);
    if (info)
        info->hwndTab = tabControl;

    // A failed question leaves no effects offered, also on a later opening
    // of the page.
    gdwEffectCaps = 0;
    QX_TINTRA_QueryArtisticEffectCaps(&gdwEffectCaps);
    QxTrace(" QX_TINTRA_QueryArtisticEffectCaps called: returned 0x%lx\n", gdwEffectCaps);

    TabPlan plan = PlanTabs(g_dwChipFamily, gdwEffectCaps);
    g_CurTabDlg = nullptr;
    g_EffectsDlg = nullptr;
    g_DeblockDlg = nullptr;
    gnArtisticTab = QX_TAB_NONE;
    gnDeblockTab = QX_TAB_NONE;

    if (plan.artisticIndex >= 0) {
        g_EffectsDlg = CreateTabDialog(tabControl, QX_TAB_ARTISTIC, EffectsTabDlgProc);
        QxTrace(" g_EffectsDlg = 0x%x\n", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(g_EffectsDlg)));
        if (!g_CurTabDlg)
            g_CurTabDlg = g_EffectsDlg;
        InsertTab(tabControl, plan.artisticIndex, QX_TAB_ARTISTIC);
        gnArtisticTab = plan.artisticIndex;
    }
    if (plan.deblockIndex >= 0) {
        InsertTab(tabControl, plan.deblockIndex, QX_TAB_DEBLOCK);
        gnDeblockTab = plan.deblockIndex;
        g_DeblockDlg = CreateTabDialog(tabControl, QX_TAB_DEBLOCK, DeblockTabDlgProc);
        QxTrace(" g_DeblockDlg = 0x%x\n", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(g_DeblockDlg)));
        if (!g_CurTabDlg)
            g_CurTabDlg = g_DeblockDlg;
    }

    QX_TINTRA_GetArtisticEffect();
    SelectTabOfEffect(page);
    UpdateRadioBtns();
}

void QX_TINTRA_GetArtisticEffect()
{
    DWORD effects = 0;
    DWORD count = 0;
    QX_EFFECT_PAIR pairs[2] = {};
    // A driver that cannot say what is in force leaves the page at "none"
    // with a pair count of 0: nothing is shown as applied, and Apply and
    // Cancel send a request that names no pair.
    if (!QX_TINTRA_GetCurrentEffects(&effects, &count, pairs)) {
        effects = QX_TINTRA_EF_NONE;
        count = 0;
        pairs[0] = pairs[1] = QX_EFFECT_PAIR{ 0, 0 };
    }
    QxTrace("---\nQX_TINTRA_GetCurrentEffects returns: dwCurEffects: 0x%lx, dwNumEfx: %ld\n Efx_0: %ld, Lvl_0:%ld\n "
            "Efx_1: %ld, Lvl_1:%ld\n\n",
        effects, static_cast<long>(count), static_cast<long>(pairs[0].dwEffect), static_cast<long>(pairs[0].dwLevel),
        static_cast<long>(pairs[1].dwEffect), static_cast<long>(pairs[1].dwLevel));

    gdwCurEffect = effects;
    gdwNumEfx = count;
    // The level of the first pair, whatever effect that pair names.
    gdwCurEffectLevel = pairs[0].dwLevel;
    // The page never shows this flag and never sends it back.
    gdwCurEffect &= ~static_cast<DWORD>(QX_TINTRA_EF_STATUS_FLAG);
    QxTrace(" QX_TINTRA_GetArtisticEffect returns gdwCurEffect=0x%lx, gdwCurEffectLevel=%ld\n", gdwCurEffect,
        static_cast<long>(gdwCurEffectLevel));
    UpdateRadioBtns();
}

void SelectTabOfEffect(HWND page)
{
    HWND tabControl = PageTabControl(page);
    if (DeblockingFilterIsSelected()) {
        g_CurTabDlg = g_DeblockDlg;
        SendMessageA(tabControl, TCM_SETCURSEL, static_cast<WPARAM>(gnDeblockTab), 0);
    }
    if (ArtisticEffectIsSelected()) {
        g_CurTabDlg = g_EffectsDlg;
        SendMessageA(tabControl, TCM_SETCURSEL, static_cast<WPARAM>(gnArtisticTab), 0);
    }
    ShowTabDialog(tabControl, g_CurTabDlg);
    SetFocus(tabControl);
}

void ShowTabDialog(HWND tabControl, HWND child)
{
    if (!tabControl || !child)
        return;
    RECT r;
    GetClientRect(tabControl, &r);
    SendMessageA(tabControl, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    MoveWindow(child, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    ShowWindow(child, SW_SHOWNORMAL);
}

void InitQxTintraPage(HWND page)
{
    QxTrace("InitQxTintraPage\n");
    InitTabs(page);
    UpdateDisplayMetrics();

    g_hPageDlg = page;
    CreateInstanceWindow();
    PostMessageA(page, WSU_RELAYOUT, 0, 0);

    LocalizeGroupBoxTitle(page);
    SetUpPictureControls(page);
    InitLogoBitmap(page);
    SkinGroupBox(page);

    gdwLastEffectApplied = gdwCurEffect;
    gdwSavedEffect = gdwCurEffect;
    gdwSavedLevel = gdwCurEffectLevel;
    gdwLastLevelApplied = gdwCurEffectLevel;

    ShowVersionText(page);
    if (lstrcmpiA(g_szLanguage, "Simplified Chinese") == 0)
        FitGroupBoxToReference(page);
}

// ---- Apply, Cancel and the sheet's Apply button ------------------------------

void NotifyPageChanged(HWND page, BOOL changed)
{
    if (!page)
        return;
    SendMessageA(GetParent(page), changed ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(page), 0);
}

void ApplyEffect(HWND page)
{
    gdwLastEffectApplied = gdwCurEffect;
    gdwLastLevelApplied = gdwCurEffectLevel;
    gdwSavedEffect = gdwCurEffect;
    gdwSavedLevel = gdwCurEffectLevel;
    QxTrace(" Apply button pressed: call escape to set effect 0x%lx and level %ld\n", gdwCurEffect,
        static_cast<long>(gdwCurEffectLevel));
    // The driver's answer changes nothing: the choice counts as applied.
    SendEffectRequest(gdwCurEffect, gdwCurEffectLevel);
    QxTrace(" Update the Effect in the window\n");
    UpdateEffectsWindow(page);
    NotifyPageChanged(page, FALSE);
    g_bPageChanged = FALSE;
}

// Sent on every cancel, changed or not: the driver may have been set by
// another program meanwhile, and Cancel means "as it was when I looked".
void RestoreSavedEffect(HWND page)
{
    NotifyPageChanged(page, FALSE);
    SendEffectRequest(gdwSavedEffect, gdwSavedLevel);
}

// ---- pictures -------------------------------------------------------------------

void UpdateEffectsWindow(HWND page)
{
    QxTrace("\nUpdateEffectsWindow\n");
    RepaintItem(page, IDC_EFFECT_PREVIEW);
    QxTrace(" End of UpdateEffectsWindows\n");
}

void UpdateReferenceWindow(HWND page)
{
    QxTrace(" UpdateReferenceWindow\n");
    RepaintItem(page, IDC_REFERENCE);
}

// ---- the page dialog procedure ------------------------------------------------

INT_PTR CALLBACK QxTintraPageDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        InitQxTintraPage(hwnd);
        NotifyPageChanged(hwnd, FALSE);
        g_bPageChanged = FALSE;
        QxTrace("======= End of WM_INITDIALOG ======== \n");
        return TRUE;
    case WM_DESTROY:
        OnDestroy(hwnd);
        return FALSE;
    case WM_MOVE:
        return TRUE;
    case WM_ERASEBKGND:
        if (TakeRepaintAfterResume())
            PostMessageA(hwnd, WSU_MONITOR, WSU_MONITOR_WHOLE, 0);
        return OnMain_WM_ERASEBKGND(hwnd, reinterpret_cast<HDC>(wParam));
    case WM_DRAWITEM:
        return OnMain_WM_DRAWITEM(hwnd, wParam, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_NOTIFY:
        if (!lParam)
            return FALSE;
        return OnNotify(hwnd, reinterpret_cast<const NMHDR*>(lParam));
    case WM_HELP:
    case WM_CONTEXTMENU:
        ShowContextHelp(msg, wParam, lParam);
        return TRUE;
    case WM_DISPLAYCHANGE:
        return OnMain_WM_DISPLAYCHANGE(hwnd, wParam, lParam);
    case WM_COMMAND:
        // A click on the logo is the only command the page handles itself.
        return OnMain_LogoCommand(hwnd, LOWORD(wParam));
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_POWERBROADCAST:
        NoteResumeFromSuspend(wParam);
        return TRUE;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
        ForwardToPictures(hwnd, msg, wParam, lParam);
        return TRUE;
    case WSU_MONITOR:
        OnMonitor(hwnd, wParam);
        return TRUE;
    case WSU_RELAYOUT:
        RelayoutForLanguage(hwnd, QX_PAGE_TEMPLATE_CX, QX_PAGE_TEMPLATE_CY);
        return TRUE;
    }
    return FALSE;
}
