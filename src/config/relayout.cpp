// Relayout of a dialog for another font, and translated control texts.
#include "config/relayout.h"

#include "common/raii.h"
#include "common/trace.h"
#include "config/localization.h"

namespace {

// The width of a font's "average" character is taken, as the dialog manager
// takes its base unit, from the extent of both alphabets.
constexpr char kMeasuringString[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kMeasuringChars = sizeof kMeasuringString - 1;

// Slack beside the text of buttons, in pixels: the box of a check box or the
// circle of a radio button plus the gap before the text; the frame of any
// other button lies within kButtonSlackMin to kButtonSlackMax.
constexpr LONG kCheckBoxSlack = 28;
constexpr LONG kRadioSlack = 20;
constexpr LONG kButtonSlackMin = 16;
constexpr LONG kButtonSlackMax = 30;

constexpr UINT kStaticTypeMask = 0x1F;
constexpr UINT kButtonTypeMask = 0x0F;

struct FontMetrics {
    LONG height;  // tmHeight
    SIZE extent;  // of the measuring string
};

bool MeasureFont(HDC dc, HFONT font, FontMetrics& out)
{
    qx::SelectGuard selected(dc, font);
    TEXTMETRICA tm;
    if (!GetTextMetricsA(dc, &tm))
        return false;
    out.height = tm.tmHeight;
    return GetTextExtentPoint32A(dc, kMeasuringString, kMeasuringChars, &out.extent) != FALSE;
}

// A font's average character width in hundredths of a pixel, with the
// allowance that large fonts get for their wider letter spacing.
LONG UnitOfFont(LONG stringWidth, LONG extra)
{
    return ((stringWidth / 26 + 1) / 2) * 100 + extra;
}

LONG ExtraUnitsForHeight(LONG stringHeight)
{
    if (stringHeight > 16)
        return 200;
    if (stringHeight >= 15)
        return 5;
    return 0;
}

// The arithmetic is that of the module's 32-bit build: products wrap at 32
// bits rather than being undefined.
LONG Wrap32(long long value)
{
    return static_cast<LONG>(static_cast<unsigned long>(value & 0xFFFFFFFFull));
}

// (v * to * 10 + 8) / from / 10, each division rounding toward zero. A zero
// source (a font without height, a template without size) measures nothing:
// the coordinate stays.
LONG ScaleCoordinate(LONG v, LONG from, LONG to)
{
    if (from == 0)
        return v;
    const LONG numerator = Wrap32(static_cast<long long>(v) * to * 10 + 8);
    return static_cast<LONG>(static_cast<long long>(numerator) / from / 10);
}

bool ClassIs(HWND hwnd, LPCSTR name)
{
    char cls[64];
    return GetClassNameA(hwnd, cls, sizeof cls) > 0 && lstrcmpiA(cls, name) == 0;
}

} // namespace

// The rectangle of a window in its dialog's client coordinates (mirroring
// taken care of by MapWindowPoints).
RECT RectInDialog(HWND hwnd, HWND dlg)
{
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Width of a text with its accelerator marks removed, as the control shows it.
bool ShownTextWidth(HDC dc, LPCSTR text, LONG& width)
{
    char shown[QX_CFG_TEXT_CCH];
    StripAccelerators(shown, text);
    SIZE extent;
    if (!GetTextExtentPoint32A(dc, shown, lstrlenA(shown), &extent))
        return false;
    width = extent.cx;
    return true;
}

namespace {

// The room a control keeps beside its new text.
LONG SlackForNewText(HWND control, LONG slack, LONG newTextWidth, LONG controlWidth)
{
    if (!ClassIs(control, "Button"))
        return slack;
    switch (static_cast<UINT>(GetWindowLongPtrA(control, GWL_STYLE)) & kButtonTypeMask) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
        return kCheckBoxSlack;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return kRadioSlack;
    default:
        // Any other button keeps a frame around its text and never becomes
        // narrower than it was.
        if (slack < kButtonSlackMin)
            slack = kButtonSlackMin;
        if (slack > kButtonSlackMax)
            slack = kButtonSlackMax;
        if (newTextWidth + slack < controlWidth)
            slack = controlWidth - newTextWidth;
        return slack;
    }
}

} // namespace

void ScaleRectToFont(const FONT_RELAYOUT& layout, RECT& rect)
{
    rect.left = ScaleCoordinate(rect.left, layout.xFrom, layout.xTo);
    rect.right = ScaleCoordinate(rect.right, layout.xFrom, layout.xTo);
    rect.top = ScaleCoordinate(rect.top, layout.yFrom, layout.yTo);
    rect.bottom = ScaleCoordinate(rect.bottom, layout.yFrom, layout.yTo);
}

BOOL CALLBACK RelayoutChildProc(HWND child, LPARAM param)
{
    auto* layout = reinterpret_cast<FONT_RELAYOUT*>(param);
    // Grandchildren (a combo box's edit field, a tab's own dialog) move with
    // their parent.
    if (!layout || GetParent(child) != layout->hDlg)
        return TRUE;

    RECT r = RectInDialog(child, layout->hDlg);
    if (ClassIs(child, "combobox")) {
        // A combo box's height is the height of its dropped-down list. The
        // answer to the question says nothing (some systems answer 0 for
        // success): an untouched, empty rectangle does.
        RECT dropped = {};
        SendMessageA(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
        if (dropped.bottom > dropped.top) {
            MapWindowPoints(nullptr, layout->hDlg, reinterpret_cast<POINT*>(&dropped), 2);
            r.bottom = dropped.bottom;
        }
    }
    const LONG width = r.right - r.left;
    const LONG height = r.bottom - r.top;
    ScaleRectToFont(*layout, r);

    if (ClassIs(child, "Static")) {
        const UINT type = static_cast<UINT>(GetWindowLongPtrA(child, GWL_STYLE)) & kStaticTypeMask;
        if (type == SS_ICON) {
            // Icons keep their pixel size; only their place follows the font.
            r.right = r.left + width;
            r.bottom = r.top + height;
        } else if (type <= SS_RIGHT || type == SS_LEFTNOWORDWRAP) {
            // A text label always has room for one line of the new font.
            if (r.bottom - r.top < layout->minTextHeight)
                r.bottom = r.top + layout->minTextHeight;
        }
    } else if (ClassIs(child, "QxUtlBmp")) {
        // Pictures keep their height, so they are not stretched out of shape
        // by a font that is taller but not wider.
        r.bottom = r.top + height;
    } else if (ClassIs(child, "QxUtlRndBtn")) {
        r.right = r.left + width;
    }

    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(layout->hFont), FALSE);
    layout->hdwp = DeferWindowPos(layout->hdwp, child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
        SWP_NOZORDER);
    return TRUE;
}

HFONT RelayoutDialogForFont(HWND dlg, HFONT newFont, int templateCx, int templateCy)
{
    auto oldFont = reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0));
    if (!oldFont)
        oldFont = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    // A dialog told to take "no font" takes the system font, as a control
    // given a null WM_SETFONT does; measure what it will show.
    if (!newFont)
        newFont = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));

    FontMetrics before = {};
    FontMetrics after = {};
    {
        qx::WindowDC dc(dlg, false);
        if (!dc || !MeasureFont(dc.get(), oldFont, before) || !MeasureFont(dc.get(), newFont, after))
            return oldFont;
    }

    const LONG extra = ExtraUnitsForHeight(after.extent.cy);
    const LONG unitOld = UnitOfFont(before.extent.cx, extra);
    const LONG unitNew = UnitOfFont(after.extent.cx, extra);
    // A font that measured nothing cannot be scaled to: the dialog stays.
    if (unitNew == 0 || after.height == 0)
        return oldFont;

    RECT client;
    GetClientRect(dlg, &client);
    FONT_RELAYOUT layout = {};
    layout.xFrom = Wrap32(static_cast<long long>(unitOld) * templateCx) / 100;
    layout.yFrom = Wrap32(static_cast<long long>(before.height) * templateCy);
    layout.xTo = Wrap32(static_cast<long long>(Wrap32(client.right * 400LL) / unitNew) * unitNew) / 100;
    layout.yTo = Wrap32(static_cast<long long>(Wrap32(client.bottom * 8LL) / after.height) * after.height);
    layout.minTextHeight = after.height;
    layout.hFont = newFont;
    layout.hDlg = dlg;
    QxTrace("RelayoutDialogForFont: x %ld -> %ld, y %ld -> %ld\n", static_cast<long>(layout.xFrom),
        static_cast<long>(layout.xTo), static_cast<long>(layout.yFrom), static_cast<long>(layout.yTo));

    layout.hdwp = BeginDeferWindowPos(16);
    EnumChildWindows(dlg, RelayoutChildProc, reinterpret_cast<LPARAM>(&layout));
    if (layout.hdwp)
        EndDeferWindowPos(layout.hdwp);

    SendMessageA(dlg, WM_SETFONT, reinterpret_cast<WPARAM>(newFont), FALSE);
    InvalidateRect(dlg, nullptr, TRUE);
    return oldFont;
}

void StripAccelerators(LPSTR out, LPCSTR text)
{
    if (!out)
        return;
    // Byte by byte is safe for double-byte texts too: no trail byte of the
    // East Asian code pages is as low as "&".
    while (text && *text) {
        if (*text != '&') {
            *out++ = *text++;
        } else if (text[1] == '&') {
            *out++ = '&';
            *out++ = '&';
            text += 2;
        } else {
            ++text;
        }
    }
    *out = '\0';
}

void SetControlTextFromCfg(HWND dlg, int id, LPCSTR defaultText, LPCSTR key, int mode)
{
    HWND control = GetDlgItem(dlg, id);
    if (!control)
        return;
    if (!defaultText)
        defaultText = "";

    char text[QX_CFG_TEXT_CCH];
    GetWindowTextA(control, text, sizeof text);
    const RECT r = RectInDialog(control, dlg);
    const LONG controlWidth = r.right - r.left;

    qx::WindowDC dc(control, false);
    qx::SelectGuard font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    LONG oldTextWidth = 0;
    const bool measured = dc && ShownTextWidth(dc.get(), text, oldTextWidth);

    // A mirrored control grows toward the other side.
    if (GetWindowLongPtrA(control, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) {
        if (mode == QX_ALIGN_KEEP_LEFT)
            mode = QX_ALIGN_KEEP_RIGHT;
        else if (mode == QX_ALIGN_KEEP_RIGHT)
            mode = QX_ALIGN_KEEP_LEFT;
    }
    LONG slack = controlWidth - oldTextWidth;

    GetCfgString(key, defaultText, text, sizeof text);
    if (text[0])
        SetWindowTextA(control, text);
    else
        GetWindowTextA(control, text, sizeof text);

    LONG newTextWidth = 0;
    if (mode == QX_ALIGN_TEXT_ONLY || !text[0] || !measured || !ShownTextWidth(dc.get(), text, newTextWidth))
        return;
    if (slack < 0)
        slack = 0;
    slack = SlackForNewText(control, slack, newTextWidth, controlWidth);
    const LONG newWidth = newTextWidth + slack;
    const LONG height = r.bottom - r.top;
    // Any mode but these two sets the text only.
    if (mode == QX_ALIGN_KEEP_LEFT)
        SetWindowPos(control, nullptr, 0, 0, newWidth, height, SWP_NOMOVE | SWP_NOZORDER);
    else if (mode == QX_ALIGN_KEEP_RIGHT)
        SetWindowPos(control, nullptr, r.right - newWidth, r.top, newWidth, height, SWP_NOZORDER);
}
