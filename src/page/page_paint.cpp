// What the effects page paints itself: the two pictures inside their picture
// controls, the owner-drawn tab items, the skinned background and the logo.
#include "page/page_paint.h"

#include <commctrl.h>
#include <shellapi.h>

#include "common/raii.h"
#include "common/trace.h"
#include "config/localization.h"
#include "config/skin_settings.h"
#include "config/system_services.h"
#include "controls/picture_control.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "imaging/imaging.h"
#include "page/effect_model.h"
#include "page/page_dialog.h"
#include "resource.h"

HBITMAP g_hBackgroundBmp = nullptr;
BOOL g_bBackgroundStretched = FALSE;
HBITMAP g_hRefPicEffects = nullptr;
HBITMAP g_hRefPicDeblock = nullptr;
HBITMAP g_hRadioCheckBmp = nullptr;
HWND g_hLogoToolTip = nullptr;

namespace {

constexpr COLORREF kTabFace = RGB(235, 235, 235);
constexpr COLORREF kTabGradientEnd = RGB(120, 120, 120);
// Where the label starts inside its tab item.
constexpr int kTabLabelDx = 5;
constexpr int kTabLabelDy = 3;

bool BitmapSize(HBITMAP bitmap, SIZE* size)
{
    BITMAP bm;
    if (!bitmap || !GetObjectA(bitmap, sizeof bm, &bm))
        return false;
    size->cx = bm.bmWidth;
    size->cy = bm.bmHeight;
    return true;
}

HBITMAP LoadModulePicture(WORD id) { return Img_LoadBitmap(g_hInstance, MAKEINTRESOURCEA(id)); }

// Tiles per row and column: a picture smaller than an eighth of the area in
// either direction is repeated 4 by 4, one smaller than a quarter 2 by 2.
int TileCount(LONG w, LONG h, LONG areaW, LONG areaH)
{
    if (w < areaW / 8 || h < areaH / 8)
        return 4;
    if (w < areaW / 4 || h < areaH / 4)
        return 2;
    return 1;
}

void FillSolid(HDC dc, const RECT& r, COLORREF colour)
{
    qx::GdiObject brush(CreateSolidBrush(colour));
    if (brush)
        FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

// The logo control of the current style.
int LogoControlId() { return gdwUiStyle == QXLOOK_LUSTRE ? IDC_LOGO : IDC_LOGO_CLASSIC; }

void CreateLogoToolTip(HWND page)
{
    g_hLogoToolTip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, page, nullptr, g_hInstance, nullptr);
    if (!g_hLogoToolTip)
        return;
    SetWindowPos(g_hLogoToolTip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // The link's tool is the "Lustre" logo in either style.
    HWND tool = GetDlgItem(page, IDC_LOGO);
    if (!tool)
        return;
    TOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.uFlags = TTF_SUBCLASS;
    info.hwnd = tool;
    info.uId = IDC_LOGO;
    GetClientRect(tool, &info.rect);
    info.hinst = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(page, GWLP_HINSTANCE));
    info.lpszText = g_szHomePageUrl;
    SendMessageA(g_hLogoToolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

// After a display mode change the logo of the current style shows the
// picture made for the new depth. At 8 bits per pixel or fewer: the OEM's
// 8-bit logo file, else its ordinary logo file, else the module's 16-colour
// logo of the style; above 8 bits: the OEM's logo file, else the logo's own
// picture (its control id). Switching back to more colours so puts the full
// picture back instead of leaving the 16-colour one, and the OEM's 8-bit
// file, which nothing else reads, is used where it was made for.
void UpdateLogoForDepth(HWND page)
{
    const int logoId = LogoControlId();
    HWND logo = GetDlgItem(page, logoId);
    if (!logo)
        return;
    SendMessageA(logo, BMPM_SETINSTANCE, 0, reinterpret_cast<LPARAM>(g_hInstance));
    LPCSTR file = nullptr;
    WPARAM resource = static_cast<WPARAM>(logoId);
    if (gdwColorDepth <= 8) {
        file = g_szOEMLogo8bpp[0] ? g_szOEMLogo8bpp : g_szOEMLogo;
        resource = logoId == IDC_LOGO ? IDB_LOGO_LUSTRE_8BPP : IDB_LOGO_CLASSIC_8BPP;
    } else {
        file = g_szOEMLogo;
    }
    if (file[0])
        SendMessageA(logo, BMPM_SETIMAGE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(file));
    else
        SendMessageA(logo, BMPM_SETIMAGE, resource, 0);
}

void PaintEffectPreview(const DRAWITEMSTRUCT* dis)
{
    qx::GdiObject picture(GetImageHandle());
    PaintImage(dis->hDC, &dis->rcItem, static_cast<HBITMAP>(picture.get()));
}

void PaintReferencePicture(const DRAWITEMSTRUCT* dis)
{
    const WORD id = ChooseReferencePicture(gdwCurEffect, TabOfDialog(g_CurTabDlg));
    HBITMAP* slot = nullptr;
    if (id == IDB_EF_NONE) {
        slot = &g_hRefPicEffects;
        if (!*slot)
            QxTrace(" Calling PaintImage...loading image (IDB_EF_NONE)\n");
    } else if (id == IDB_DB_NONE) {
        slot = &g_hRefPicDeblock;
        if (!*slot)
            QxTrace(" Calling PaintImage...loading image (IDB_DB_NONE)\n");
    } else {
        return;
    }
    if (!*slot)
        *slot = LoadModulePicture(id);
    PaintImage(dis->hDC, &dis->rcItem, *slot);
}

void DeleteBitmap(HBITMAP* slot)
{
    if (*slot)
        DeleteObject(*slot);
    *slot = nullptr;
}

} // namespace

// ---- pictures -------------------------------------------------------------------

HBITMAP GetImageHandle()
{
    const DWORD effect = gdwCurEffect;
    const DWORD level = gdwCurEffectLevel;
    // Asked afresh at every paint, for the four effects whose picture
    // depends on the level band.
    DWORD maxLevel = 0;
    if (effect != QX_TINTRA_EF_NONE && LastEffectViewedOnThisTab(QX_TAB_ARTISTIC, effect))
        QX_TINTRA_GetEffectMaxLevel(effect, &maxLevel);
    const LRESULT selected = SendMessageA(PageTabControl(g_hPageDlg), TCM_GETCURSEL, 0, 0);
    const PreviewPicture picture = ChoosePreviewPicture(effect, level, maxLevel, selected == gnArtisticTab);

    QxTrace("==> GetImageHandle: bitmap to load is...");
    if (!picture.resourceId) {
        if (picture.trace)
            QxTrace(picture.trace, static_cast<unsigned>(effect));
        return nullptr;
    }
    if (picture.trace)
        QxTrace(picture.trace, static_cast<long>(level));
    return LoadModulePicture(picture.resourceId);
}

void PaintImage(HDC dc, const RECT* rect, HBITMAP bitmap)
{
    if (!bitmap) {
        QxTrace(" PaintImage: hbmpPic is NULL -- image will not be painted.\n");
        return;
    }
    SIZE bm;
    if (!dc || !rect || !BitmapSize(bitmap, &bm))
        return;
    const LONG areaW = rect->right - rect->left;
    const LONG areaH = rect->bottom - rect->top;
    const int n = TileCount(bm.cx, bm.cy, areaW, areaH);
    // Tiles abut: tile i starts i tile widths in, so a rectangle that does
    // not divide evenly leaves its remainder at the right and bottom rather
    // than one-pixel seams between the tiles.
    const LONG tileW = areaW / n;
    const LONG tileH = areaH / n;

    qx::OwnedDC source(CreateCompatibleDC(dc));
    if (!source)
        return;
    qx::SelectGuard select(source.get(), bitmap);
    qx::StretchModeGuard mode(dc, COLORONCOLOR);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            StretchBlt(dc, rect->left + i * tileW, rect->top + j * tileH, tileW, tileH, source.get(), 0, 0, bm.cx,
                bm.cy, SRCCOPY);
        }
    }
}

// ---- background -----------------------------------------------------------------

HBITMAP LoadBackgroundImage(HBITMAP* slot, DWORD colorDepth, LPCSTR file8bpp, LPCSTR file)
{
    const bool fewColours = colorDepth <= 8;
    LPCSTR setting = fewColours ? file8bpp : file;
    WORD resource;
    if (gdwUiStyle == QXLOOK_LUSTRE)
        resource = fewColours ? IDB_BKGND_LUSTRE_8BPP : IDB_BKGND_LUSTRE;
    else
        resource = fewColours ? IDB_BKGND_CLASSIC_8BPP : IDB_BKGND_CLASSIC;

    if (*slot)
        return *slot;
    HBITMAP picture = nullptr;
    if (setting && setting[0]) {
        if (lstrcmpiA(setting, "<none>") == 0)
            return nullptr;
        picture = Img_LoadBitmapFromFile(setting);
    }
    if (!picture) {
        QxTrace(" Calling Img_LoadBitmap\n");
        picture = LoadModulePicture(resource);
    }
    *slot = picture;
    return picture;
}

BOOL PaintBackground(HDC dc, HWND window, HBITMAP* slot, BOOL* stretched, BOOL fastMode)
{
    RECT client;
    GetClientRect(window, &client);
    RECT update;
    if (!GetUpdateRect(window, &update, FALSE))
        update = client;
    if (!*slot)
        return FALSE;

    if (*stretched) {
        qx::OwnedDC source(CreateCompatibleDC(dc));
        if (source) {
            qx::SelectGuard select(source.get(), *slot);
            BitBlt(dc, update.left, update.top, update.right - update.left, update.bottom - update.top,
                source.get(), update.left, update.top, SRCCOPY);
        }
        return TRUE;
    }

    SIZE bm;
    if (!BitmapSize(*slot, &bm))
        return TRUE;
    qx::OwnedDC source(CreateCompatibleDC(dc));
    qx::OwnedDC target(CreateCompatibleDC(dc));
    qx::GdiObject copy;
    if (client.right > 0 && client.bottom > 0)
        copy.reset(CreateCompatibleBitmap(dc, client.right, client.bottom));
    if (!source)
        return TRUE;
    bool madeCopy = false;
    {
        qx::SelectGuard selectPicture(source.get(), *slot);
        if (!target || !copy) {
            // No room for the stretched copy (or no client area yet): paint
            // straight from the picture this time and try the copy at the
            // next erase.
            qx::StretchModeGuard mode(dc, fastMode ? COLORONCOLOR : HALFTONE);
            SetBrushOrgEx(dc, 0, 0, nullptr);
            StretchBlt(dc, 0, 0, client.right, client.bottom, source.get(), 0, 0, bm.cx, bm.cy, SRCCOPY);
        } else {
            qx::SelectGuard selectCopy(target.get(), copy.get());
            qx::StretchModeGuard mode(target.get(), fastMode ? COLORONCOLOR : HALFTONE);
            SetBrushOrgEx(target.get(), 0, 0, nullptr);
            StretchBlt(target.get(), 0, 0, client.right, client.bottom, source.get(), 0, 0, bm.cx, bm.cy, SRCCOPY);
            BitBlt(dc, 0, 0, client.right, client.bottom, target.get(), 0, 0, SRCCOPY);
            madeCopy = true;
        }
    }
    // Both bitmaps are out of their DCs here.
    if (madeCopy) {
        DeleteObject(*slot);
        *slot = static_cast<HBITMAP>(copy.release());
        *stretched = TRUE;
    }
    return TRUE;
}

// ---- tab items, logo ------------------------------------------------------------

void PaintTabItem(const DRAWITEMSTRUCT* dis)
{
    char label[QX_CFG_TAB_LABEL_CCH] = "";
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = label;
    item.cchTextMax = QX_CFG_TAB_LABEL_CCH;
    SendMessageA(dis->hwndItem, TCM_GETITEMA, dis->itemID, reinterpret_cast<LPARAM>(&item));
    LPCSTR text = item.pszText ? item.pszText : label;
    const int length = lstrlenA(text);

    HDC dc = dis->hDC;
    const RECT& r = dis->rcItem;
    const int oldMode = GetBkMode(dc);
    if (dis->itemAction & ODA_DRAWENTIRE) {
        FillSolid(dc, r, kTabFace);
        SetBkMode(dc, TRANSPARENT);
        TextOutA(dc, r.left + kTabLabelDx, r.top + kTabLabelDy, text, length);
    }
    if ((dis->itemState & (ODS_SELECTED | ODS_FOCUS)) && (dis->itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) {
        if (GetDeviceCaps(dc, BITSPIXEL) >= 16) {
            // Bands 2 pixels high from white down to grey; their number
            // follows the item's bottom coordinate, not its height.
            LONG y = 0;
            for (; y < r.bottom; y += 2) {
                const LONG k = y / 2;
                const int c = 255 + static_cast<int>(-230LL * k / r.bottom);
                const RECT band = { r.left, r.top + y, r.right, r.top + y + 2 };
                FillSolid(dc, band, RGB(c, c, c));
            }
            if (y > 0) {
                const RECT last = { r.left, r.top + y - 2, r.right, r.top + y };
                FillSolid(dc, last, kTabGradientEnd);
            }
        }
        SetBkMode(dc, TRANSPARENT);
        TextOutA(dc, r.left + kTabLabelDx, r.top + kTabLabelDy, text, length);
    }
    SetBkMode(dc, oldMode);
}

void InitLogoBitmap(HWND page)
{
    HWND logo = GetDlgItem(page, LogoControlId());
    if (g_bHideLogo) {
        if (logo) {
            EnableWindow(logo, FALSE);
            ShowWindow(logo, SW_HIDE);
        }
        return;
    }
    QxTrace(" InitLogoBitmap: g_szHomePageUrl=%s\n", g_szHomePageUrl);
    if (g_szHomePageUrl[0]) {
        // A cursor from the module's resources is shared: never destroyed.
        HCURSOR hand = LoadCursorA(g_hInstance, MAKEINTRESOURCEA(IDR_HAND_CURSOR));
        if (hand)
            SendMessageA(logo, BMPM_SETCURSOR, reinterpret_cast<WPARAM>(hand), 0);
        CreateLogoToolTip(page);
    }
    SendMessageA(logo, BMPM_SETINSTANCE, 0, reinterpret_cast<LPARAM>(g_hInstance));
    if (g_szOEMLogo[0])
        SendMessageA(logo, BMPM_SETIMAGE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(g_szOEMLogo));
}

void OpenHomePage(HWND owner)
{
    // What the shell makes of the address is not the page's business.
    if (g_szHomePageUrl[0])
        ShellExecuteA(owner, nullptr, g_szHomePageUrl, nullptr, nullptr, SW_SHOWDEFAULT);
}

// ---- the page's messages --------------------------------------------------------

INT_PTR OnMain_WM_DRAWITEM(HWND page, WPARAM controlId, const DRAWITEMSTRUCT* dis)
{
    if (!dis)
        return FALSE;
    if (dis->hwndItem && dis->hwndItem == PageTabControl(page)) {
        PaintTabItem(dis);
        return TRUE;
    }
    if (controlId != IDC_EFFECT_PREVIEW && controlId != IDC_REFERENCE)
        return FALSE;
    // Only a whole-item request draws; the picture controls send no other.
    if (dis->itemAction != ODA_DRAWENTIRE)
        return TRUE;
    if (controlId == IDC_EFFECT_PREVIEW)
        PaintEffectPreview(dis);
    else
        PaintReferencePicture(dis);
    return TRUE;
}

INT_PTR OnMain_WM_ERASEBKGND(HWND page, HDC dc)
{
    UpdateDisplayMetrics();
    QxTrace("OnMain_WM_ERASEBKGND called...calling LoadBackgroundImage(), gdwColorDepth=%ld\n",
        static_cast<long>(gdwColorDepth));
    LoadBackgroundImage(&g_hBackgroundBmp, gdwColorDepth, g_szBackground8bpp, g_szBackground);
    const BOOL painted =
        PaintBackground(dc, page, &g_hBackgroundBmp, &g_bBackgroundStretched, g_dwOsVersion >= QX_OS_NT3);
    SetWindowLongPtrA(page, DWLP_MSGRESULT, painted);
    return painted;
}

INT_PTR OnMain_WM_DISPLAYCHANGE(HWND page, WPARAM wParam, LPARAM lParam)
{
    UpdateDisplayMetrics();
    // The next erase loads and stretches the background for the new mode.
    DeleteBitmap(&g_hBackgroundBmp);
    g_bBackgroundStretched = FALSE;
    InvalidateRect(page, nullptr, TRUE);
    if (!g_bHideLogo)
        UpdateLogoForDepth(page);
    const WPARAM frame = gdwColorDepth > 8 ? IDB_PREVIEW_FRAME : IDB_PREVIEW_FRAME_8BPP;
    SendDlgItemMessageA(page, IDC_EFFECT_PREVIEW, BMPM_SETIMAGE, frame, 0);
    // The "Classic" logo has no control in this module's templates; a post to
    // a null window would land in the thread's queue instead.
    HWND logo = g_bHideLogo ? nullptr : GetDlgItem(page, LogoControlId());
    if (logo)
        PostMessageA(logo, WM_DISPLAYCHANGE, wParam, lParam);
    return TRUE;
}

void PaintTabBodyUnder(HWND child, HDC dc)
{
    HWND tabControl = GetParent(child);
    if (!tabControl || !dc)
        return;
    // What the tab control would paint itself, in the dialog's coordinates:
    // its background, then its client area.
    POINT origin = { 0, 0 };
    MapWindowPoints(child, tabControl, &origin, 1);
    POINT previous;
    OffsetViewportOrgEx(dc, -origin.x, -origin.y, &previous);
    SendMessageA(tabControl, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SendMessageA(tabControl, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
}

BOOL OnMain_LogoCommand(HWND page, int controlId)
{
    if (controlId != IDC_LOGO && controlId != IDC_LOGO_CLASSIC)
        return FALSE;
    OpenHomePage(page);
    return TRUE;
}

void ReleasePagePictures()
{
    DeleteBitmap(&g_hBackgroundBmp);
    g_bBackgroundStretched = FALSE;
    DeleteBitmap(&g_hRadioCheckBmp);
    // The tooltip is an owned popup, which the system would destroy only
    // with the sheet; it belongs to this page.
    if (g_hLogoToolTip && IsWindow(g_hLogoToolTip))
        DestroyWindow(g_hLogoToolTip);
    g_hLogoToolTip = nullptr;
}

void ReleaseReferencePictures()
{
    DeleteBitmap(&g_hRefPicEffects);
    DeleteBitmap(&g_hRefPicDeblock);
}
