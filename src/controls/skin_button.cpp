#include "controls/skin_button.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "common/raii.h"
#include "controls/picture_control.h"
#include "controls/skin_paint.h"

namespace {

constexpr int kTextMax = 255;

// The fields a description hands over, with the flag that takes each.
struct SkinField {
    DWORD flag;
    size_t from;  // offset in SkinButtonDesc
    size_t to;    // offset in SkinButtonState
    size_t size;
};

#define QX_SKIN_FIELD(flag, name) { flag, offsetof(SkinButtonDesc, name), offsetof(SkinButtonState, name), \
    sizeof(SkinButtonDesc::name) }
constexpr SkinField kSkinFields[] = {
    QX_SKIN_FIELD(SKIN_FRAMESTYLE, frameStyle),
    QX_SKIN_FIELD(SKIN_HOVER, hoverEffect),
    QX_SKIN_FIELD(SKIN_TRANSPARENT, transparentBackground),
    QX_SKIN_FIELD(SKIN_FRAMEWIDTH, frameWidth),
    QX_SKIN_FIELD(SKIN_CORNERPERCENT, cornerPercent),
    QX_SKIN_FIELD(SKIN_CORNERMAX, cornerMax),
    QX_SKIN_FIELD(SKIN_COLORS, lightColor),
    QX_SKIN_FIELD(SKIN_COLORS, shadowColor),
    QX_SKIN_FIELD(SKIN_COLORS2, lightColor2),
    QX_SKIN_FIELD(SKIN_COLORS2, shadowColor2),
    QX_SKIN_FIELD(SKIN_TEXTCOLOR, textColor),
    QX_SKIN_FIELD(SKIN_HOTTEXTCOLOR, hotTextColor),
    QX_SKIN_FIELD(SKIN_MARKCOLOR, markColor),
    QX_SKIN_FIELD(SKIN_FACECOLOR, faceColor),
    QX_SKIN_FIELD(SKIN_CHECKEDFACE, checkedFaceColor),
    QX_SKIN_FIELD(SKIN_GRADIENTSTEPS, gradientSteps),
    QX_SKIN_FIELD(SKIN_INSETS, bitmapInsets),
};
#undef QX_SKIN_FIELD
static_assert(sizeof(SkinButtonDesc::bitmapInsets) == sizeof(SkinButtonState::bitmapInsets), "same insets");

DWORD Kind(const SkinButtonState* s) { return ButtonKind(s->style); }

bool IsButtonWindow(HWND hwnd)
{
    char name[16];
    return GetClassNameA(hwnd, name, sizeof name) > 0 && lstrcmpiA(name, "Button") == 0;
}

void PostClicked(SkinButtonState* s, HWND hwnd)
{
    PostMessageA(s->parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED), reinterpret_cast<LPARAM>(hwnd));
}

// ---- refresh --------------------------------------------------------------------

void Refresh(SkinButtonState* s, HWND hwnd, BOOL updateNow, BOOL captionOnly)
{
    RECT client;
    GetClientRect(hwnd, &client);
    const DWORD kind = Kind(s);
    const bool bitmapSkin = (s->skinFlags & SKIN_BITMAP) != 0;
    if (IsPushKind(kind) && (!(s->skinFlags & SKIN_BITMAP_FLAGS) || (bitmapSkin && s->bitmapInsets[5]))) {
        InvalidateInParent(hwnd, &client, updateNow);
        return;
    }
    if (kind == BS_GROUPBOX) {
        DropSkinImages(s);
        if (captionOnly) {
            if (IsWindowVisible(hwnd)) {
                RECT band = { client.left, client.top, client.right, client.top + s->captionHeight };
                InvalidateInParent(hwnd, &band, updateNow);
            }
            return;
        }
    }
    if (!IsWindowVisible(hwnd))
        return;
    if (s->transparentBackground)
        InvalidateInParent(hwnd, &client, updateNow);
    else
        InvalidateRect(hwnd, nullptr, updateNow);
}

// ---- radio groups ---------------------------------------------------------------

bool IsAutoRadio(HWND w)
{
    return IsButtonWindow(w) && ButtonKind(static_cast<DWORD>(GetWindowLongPtrA(w, GWL_STYLE))) == BS_AUTORADIOBUTTON;
}

bool StartsGroup(HWND w) { return (GetWindowLongPtrA(w, GWL_STYLE) & WS_GROUP) != 0; }

// The group of a window: its start (itself or the nearest earlier sibling
// with WS_GROUP) and its end (the nearest later one, exclusive); either may
// be missing when the group runs over an end of the sibling list.
struct Group {
    HWND first;
    HWND last;
};

Group GroupOf(HWND w)
{
    Group g = { nullptr, nullptr };
    for (HWND x = w; x; x = GetWindow(x, GW_HWNDPREV)) {
        if (StartsGroup(x)) {
            g.first = x;
            break;
        }
    }
    for (HWND x = GetWindow(w, GW_HWNDNEXT); x; x = GetWindow(x, GW_HWNDNEXT)) {
        if (StartsGroup(x)) {
            g.last = x;
            break;
        }
    }
    return g;
}

void Uncheck(HWND w) { SendMessageA(w, BM_SETCHECK, BST_UNCHECKED, 0); }

// Unchecks the auto radio buttons from `from` up to `to` (exclusive; null:
// the end of the list), except `keep`.
void ClearRange(HWND from, HWND to, HWND keep)
{
    for (HWND x = from; x && x != to; x = GetWindow(x, GW_HWNDNEXT)) {
        if (x != keep && IsAutoRadio(x))
            Uncheck(x);
    }
}

// A checked auto radio button unchecks the other auto radio buttons of its
// WS_GROUP group; other controls between them are passed over. A group
// without a start or without an end wraps round the sibling list as the
// dialog manager's groups do: the list's last group continues at its first
// window and the first group ends at the list's end.
void ClearRadioGroup(HWND control)
{
    const Group g = GroupOf(control);
    HWND head = GetWindow(control, GW_HWNDFIRST);
    ClearRange(g.first ? g.first : head, g.last, control);

    if (!g.first && g.last) {
        // The group also takes in the tail of the list from its last start.
        HWND tailStart = nullptr;
        for (HWND x = g.last; x; x = GetWindow(x, GW_HWNDNEXT)) {
            if (StartsGroup(x))
                tailStart = x;
        }
        ClearRange(tailStart, nullptr, control);
    } else if (g.first && !g.last) {
        // The group also takes in the head of the list up to its first start.
        HWND headEnd = head;
        while (headEnd && !StartsGroup(headEnd))
            headEnd = GetWindow(headEnd, GW_HWNDNEXT);
        if (headEnd != head)
            ClearRange(head, headEnd, control);
    }
}

// ---- check state ----------------------------------------------------------------

void SetCheck(SkinButtonState* s, HWND hwnd, WPARAM wParam)
{
    const DWORD kind = Kind(s);
    DWORD value = 1;
    if (wParam == BST_UNCHECKED)
        value = 0;
    else if (wParam == BST_INDETERMINATE && (kind == BS_3STATE || kind == BS_AUTO3STATE))
        value = 2;
    if (value == s->check)
        return;
    s->check = value;
    DropSkinImages(s);
    Refresh(s, hwnd, FALSE, FALSE);
    if (kind == BS_AUTORADIOBUTTON && value == 1)
        ClearRadioGroup(hwnd);
}

// The automatic check change of a click.
void ClickCheck(SkinButtonState* s, HWND hwnd)
{
    WPARAM next;
    switch (Kind(s)) {
    case BS_AUTORADIOBUTTON:
        if (s->check != 0)
            return;
        next = BST_CHECKED;
        break;
    case BS_AUTOCHECKBOX:
        next = s->check != 1 ? BST_CHECKED : BST_UNCHECKED;
        break;
    case BS_AUTO3STATE:
        next = s->check == 0 ? BST_CHECKED : s->check == 1 ? BST_INDETERMINATE : BST_UNCHECKED;
        break;
    default:
        return;
    }
    SendMessageA(hwnd, BM_SETCHECK, next, 0);
}

// ---- mouse ----------------------------------------------------------------------

bool CursorInside(HWND hwnd)
{
    POINT pt;
    GetCursorPos(&pt);
    ScreenToClient(hwnd, &pt);
    RECT client;
    GetClientRect(hwnd, &client);
    return PtInRect(&client, pt) != FALSE;
}

bool MessageInside(HWND hwnd, LPARAM lParam)
{
    const POINT pt = { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
    RECT client;
    GetClientRect(hwnd, &client);
    return PtInRect(&client, pt) != FALSE;
}

void OnPress(SkinButtonState* s, HWND hwnd, LPARAM lParam)
{
    const bool inside = CursorInside(hwnd);
    HWND capture = GetCapture();
    if ((capture && capture != hwnd && inside) || !s->focused)
        return;
    s->trackFlags |= TRACK_HELD;
    if (inside)
        SetCapture(hwnd);
    else if (lParam == 0)
        s->trackFlags |= TRACK_REMOTE;
    s->trackFlags |= TRACK_ACTIVE;
    if (inside)
        s->trackFlags |= TRACK_PUSHED | TRACK_INSIDE;
    else
        s->trackFlags &= ~TRACK_PUSHED;
    Refresh(s, hwnd, FALSE, FALSE);
}

void OnMove(SkinButtonState* s, HWND hwnd, LPARAM lParam)
{
    if (s->trackFlags & TRACK_SPACE)
        return;
    const bool inside = MessageInside(hwnd, lParam);
    const DWORD t = s->trackFlags;
    if ((t & TRACK_ACTIVE) && !(t & TRACK_HELD)) {
        // Hovering: keep the capture while over the control, drop it on leaving.
        if (inside) {
            if (!GetCapture())
                SetCapture(hwnd);
        } else {
            ReleaseCapture();
            s->trackFlags &= ~(TRACK_ACTIVE | TRACK_PUSHED);
            if (s->hoverEffect)
                Refresh(s, hwnd, FALSE, FALSE);
        }
        return;
    }
    if ((!s->hoverEffect && !(t & TRACK_HELD)) || ((t & TRACK_PUSHED) != 0) == inside)
        return;
    if (t & TRACK_ACTIVE) {
        s->trackFlags = inside ? (t | TRACK_PUSHED) : (t & ~TRACK_PUSHED);
    } else {
        SetCapture(hwnd);
        s->trackFlags |= TRACK_ACTIVE | TRACK_PUSHED;
    }
    if (s->hoverEffect || (t & TRACK_HELD))
        Refresh(s, hwnd, FALSE, FALSE);
}

enum class Release { LeftButton, RightButton, SpaceBar };

void OnRelease(SkinButtonState* s, HWND hwnd, Release how)
{
    if (!(s->trackFlags & TRACK_ACTIVE))
        return;
    ReleaseCapture();
    if (Kind(s) == BS_GROUPBOX) {
        s->trackFlags &= ~(TRACK_ACTIVE | TRACK_HELD | TRACK_PUSHED);
        return;
    }
    const DWORD t = s->trackFlags;
    if (t & (TRACK_PUSHED | TRACK_REMOTE)) {
        Refresh(s, hwnd, FALSE, FALSE);
        const bool byMouse = how == Release::LeftButton && !(t & TRACK_SPACE);
        const bool bySpace = how == Release::SpaceBar && !(t & TRACK_INSIDE);
        if (s->focused && (byMouse || bySpace)) {
            ClickCheck(s, hwnd);
            PostClicked(s, hwnd);
        }
    }
    s->trackFlags &= ~(TRACK_ACTIVE | TRACK_HELD | TRACK_PUSHED | TRACK_REMOTE);
    if (how == Release::LeftButton)
        s->trackFlags &= ~TRACK_INSIDE;
}

// ---- keyboard -------------------------------------------------------------------

LRESULT OnKeyDown(SkinButtonState* s, HWND hwnd, WPARAM key)
{
    switch (key) {
    case VK_RETURN:
        SendMessageA(s->parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED), reinterpret_cast<LPARAM>(hwnd));
        return 0;
    case VK_ADD:
    case VK_OEM_PLUS:
        SendMessageA(hwnd, BM_SETCHECK, BST_CHECKED, 0);
        PostClicked(s, hwnd);
        return 1;
    case VK_SUBTRACT:
    case VK_OEM_MINUS:
        if (key == VK_OEM_MINUS && (GetAsyncKeyState(VK_SHIFT) & 0x8000))
            return 1;
        SendMessageA(hwnd, BM_SETCHECK, BST_UNCHECKED, 0);
        PostClicked(s, hwnd);
        return 1;
    case VK_SPACE:
        if ((s->trackFlags & (TRACK_ACTIVE | TRACK_HELD)) == (TRACK_ACTIVE | TRACK_HELD))
            return 1;
        if (!(s->trackFlags & TRACK_ACTIVE))
            SetCapture(hwnd);
        s->trackFlags |= TRACK_ACTIVE | TRACK_HELD | TRACK_PUSHED | TRACK_SPACE;
        Refresh(s, hwnd, FALSE, FALSE);
        return 0;
    }
    return 1;
}

LRESULT OnKeyUp(SkinButtonState* s, HWND hwnd, WPARAM key)
{
    if (key == VK_SPACE) {
        s->trackFlags &= ~TRACK_SPACE;
        OnRelease(s, hwnd, Release::SpaceBar);
        return 0;
    }
    return key == VK_RETURN ? 0 : 1;
}

// ---- other messages -------------------------------------------------------------

LRESULT OnGetText(const SkinButtonState* s, WPARAM size, LPARAM buffer)
{
    char* out = reinterpret_cast<char*>(buffer);
    if (!out || size == 0)
        return 0;
    lstrcpynA(out, s->text, static_cast<int>(size < sizeof s->text ? size : sizeof s->text));
    return lstrlenA(out);
}

LRESULT OnGetDlgCode(const SkinButtonState* s, bool* handled)
{
    const DWORD kind = Kind(s);
    *handled = true;
    if (IsPushKind(kind))
        return DLGC_BUTTON | ((s->defaultFlag & 1) ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    if (IsBoxKind(kind))
        return DLGC_BUTTON;
    if (IsRadioKind(kind))
        return DLGC_BUTTON | DLGC_RADIOBUTTON;
    *handled = false;
    return 0;
}

void OnUpdateUiState(SkinButtonState* s, HWND hwnd, WPARAM wParam)
{
    const bool clear = LOWORD(wParam) == UIS_CLEAR;
    if (HIWORD(wParam) & UISF_HIDEFOCUS)
        s->showFocus = clear;
    if (HIWORD(wParam) & UISF_HIDEACCEL)
        s->showAccelerators = clear;
    Refresh(s, hwnd, FALSE, Kind(s) == BS_GROUPBOX);
}

void RemoveButtonSkin(SkinButtonState* s, HWND hwnd)
{
    DropSkinImages(s);
    ReleaseSkinBitmap(s, TRUE);
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s->oldWndProc));
    RemovePropA(hwnd, QX_SKIN_PROP);
    HeapFree(GetProcessHeap(), 0, s);
}

LRESULT PassOn(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return proc ? CallWindowProcA(proc, hwnd, msg, wParam, lParam) : DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK SkinButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    SkinButtonState* s = GetButtonSkin(hwnd);
    if (!s)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    s->style = static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE));
    s->rtl = (GetWindowLongPtrA(hwnd, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    const DWORD kind = Kind(s);
    const WNDPROC old = s->oldWndProc;

    switch (msg) {
    case WM_DESTROY:
        RemoveButtonSkin(s, hwnd);
        break;
    case WM_SIZE:
    case WM_STYLECHANGED:
        DropSkinImages(s);
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        s->focused = msg == WM_SETFOCUS;
        if (kind == BS_GROUPBOX)
            break;
        Refresh(s, hwnd, TRUE, FALSE);
        return 0;
    case WM_ENABLE:
        if (s->enabled == static_cast<BOOL>(wParam != 0))
            break;
        s->enabled = wParam != 0;
        DropSkinImages(s);
        Refresh(s, hwnd, TRUE, FALSE);
        return 0;
    case WM_SETTEXT:
        lstrcpynA(s->text, lParam ? reinterpret_cast<LPCSTR>(lParam) : "", kTextMax + 1);
        Refresh(s, hwnd, FALSE, kind == BS_GROUPBOX);
        return 1;
    case WM_GETTEXT:
        return OnGetText(s, wParam, lParam);
    case WM_PAINT:
        return PaintSkinnedButton(s, hwnd);
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        s->font = reinterpret_cast<HFONT>(wParam);
        break;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(s->font);
    case WM_NCHITTEST:
        return kind == BS_GROUPBOX ? HTTRANSPARENT : HTCLIENT;
    case WM_GETDLGCODE: {
        bool handled;
        const LRESULT code = OnGetDlgCode(s, &handled);
        if (handled)
            return code;
        break;
    }
    case BM_GETCHECK:
        if (IsCheckKind(kind))
            return s->check;
        break;
    case BM_SETCHECK:
        if (!IsCheckKind(kind))
            break;
        SetCheck(s, hwnd, wParam);
        return 0;
    case BM_SETSTATE:
        return 0;
    case BM_SETSTYLE:
        if ((wParam & 1) != (s->defaultFlag & 1u))
            DropSkinImages(s);
        s->defaultFlag = LOWORD(wParam);
        if (LOWORD(lParam))
            Refresh(s, hwnd, FALSE, FALSE);
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
        if (!s->focused)
            return 1;
        return msg == WM_KEYDOWN ? OnKeyDown(s, hwnd, wParam) : OnKeyUp(s, hwnd, wParam);
    case WM_SYSKEYDOWN:
        if (!(lParam & (1 << 29)))
            break;
        SendMessageA(s->parent, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
        return 0;
    case WM_UPDATEUISTATE:
        if (LOWORD(wParam) != UIS_SET && LOWORD(wParam) != UIS_CLEAR)
            break;
        OnUpdateUiState(s, hwnd, wParam);
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (kind == BS_GROUPBOX)
            return 0;
        SetFocus(hwnd);
        OnPress(s, hwnd, lParam);
        return 0;
    case WM_MOUSEMOVE:
        if (kind != BS_GROUPBOX)
            OnMove(s, hwnd, lParam);
        return 0;
    case WM_LBUTTONUP:
        OnRelease(s, hwnd, Release::LeftButton);
        return 0;
    case WM_RBUTTONUP:
        OnRelease(s, hwnd, Release::RightButton);
        break;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
        Refresh(s, hwnd, TRUE, FALSE);
        return 1;
    }
    return PassOn(old, hwnd, msg, wParam, lParam);
}

// The state a record starts from, before the description is taken.
SkinButtonState* NewRecord(HWND hwnd)
{
    auto* s = static_cast<SkinButtonState*>(qx::HeapAllocZero(sizeof(SkinButtonState)));
    if (!s)
        return nullptr;
    s->focused = GetFocus() == hwnd;
    {
        qx::WindowDC dc(hwnd, true);
        // The depth the first look will be made for; a later paint on
        // another depth makes everything again.
        s->colorDepth = dc ? GetColorDepth(dc.get()) : 0;
    }
    s->font = reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0));
    s->style = static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE));
    s->frameWidth = 3;
    s->cornerPercent = -1;
    s->cornerMax = -1;
    s->captionHeight = 26;
    s->enabled = IsWindowEnabled(hwnd);
    s->rtl = (GetWindowLongPtrA(hwnd, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    s->gradientSteps = 8;
    for (COLORREF* c : { &s->lightColor, &s->shadowColor, &s->lightColor2, &s->shadowColor2, &s->textColor,
             &s->markColor, &s->faceColor, &s->checkedFaceColor })
        *c = SKIN_DEFAULT_COLOR;
    s->hotTextColor = RGB(0, 0, 0);
    GetWindowTextA(hwnd, s->text, sizeof s->text);
    s->parent = GetParent(hwnd);
    s->drawFocusFrame = TRUE;
    s->drawDefaultFrame = TRUE;
    s->transparentBackground = TRUE;
    const LRESULT ui = SendMessageA(s->parent, WM_QUERYUISTATE, 0, 0);
    s->showAccelerators = !(ui & UISF_HIDEACCEL);
    s->showFocus = !(ui & UISF_HIDEFOCUS);
    return s;
}

} // namespace

BOOL SkinLoadsOwnBitmap(const SkinButtonState* s)
{
    return (s->bitmapInstance && s->bitmapId) || ((s->skinFlags & SKIN_FILE) && s->bitmapFile[0]);
}

SkinButtonState* GetButtonSkin(HWND hwnd) { return static_cast<SkinButtonState*>(GetPropA(hwnd, QX_SKIN_PROP)); }

DWORD GetColorDepth(HDC dc)
{
    const int planes = GetDeviceCaps(dc, PLANES);
    const int bits = GetDeviceCaps(dc, BITSPIXEL);
    return static_cast<DWORD>(planes > bits ? planes : bits);
}

void DropSkinImages(SkinButtonState* s)
{
    for (int look = 0; look < LOOK_COUNT; ++look) {
        for (HBITMAP* b : { &s->images[look], &s->masks[look] }) {
            if (*b)
                DeleteObject(*b);
            *b = nullptr;
        }
    }
    s->drawFocusFrame = TRUE;
    s->drawDefaultFrame = TRUE;
}

void ReleaseSkinBitmap(SkinButtonState* s, BOOL forget)
{
    if (!(s->skinFlags & SKIN_BITMAP_FLAGS))
        return;
    if (s->bitmapMask)
        DeleteObject(s->bitmapMask);
    s->bitmapMask = nullptr;
    if (SkinLoadsOwnBitmap(s)) {
        if (s->bitmap)
            DeleteObject(s->bitmap);
        if (s->bitmapPalette)
            DeleteObject(s->bitmapPalette);
        s->bitmap = nullptr;
        s->bitmapPalette = nullptr;
    } else if (forget) {
        s->bitmap = nullptr;
    }
}

BOOL ApplyButtonSkin(HWND hwnd, SkinButtonDesc* description)
{
    if (!IsButtonWindow(hwnd))
        return FALSE;
    if (GetButtonSkin(hwnd))
        return UpdateButtonSkin(hwnd, description);
    SkinButtonState* s = NewRecord(hwnd);
    if (!s)
        return FALSE;
    if (!SetPropA(hwnd, QX_SKIN_PROP, s)) {
        HeapFree(GetProcessHeap(), 0, s);
        return FALSE;
    }
    s->oldWndProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SkinButtonProc)));
    if (description) {
        description->mask = description->flags;
        UpdateButtonSkin(hwnd, description);
    }
    if (s->style & 1)
        s->defaultFlag = 1;
    return TRUE;
}

BOOL UpdateButtonSkin(HWND hwnd, const SkinButtonDesc* d)
{
    SkinButtonState* s = GetButtonSkin(hwnd);
    if (!s)
        return FALSE;
    if (!d)
        return TRUE;
    const DWORD take = d->mask & d->flags;
    // A bitmap the control loaded is judged by the flags it was loaded under.
    if (take & SKIN_BITMAP_FLAGS)
        ReleaseSkinBitmap(s, TRUE);
    s->skinFlags = (s->skinFlags & ~d->mask) | d->flags;
    for (const SkinField& f : kSkinFields) {
        if (take & f.flag)
            memcpy(reinterpret_cast<BYTE*>(s) + f.to, reinterpret_cast<const BYTE*>(d) + f.from, f.size);
    }

    if (take & SKIN_BITMAP_FLAGS) {
        s->bitmapInstance = nullptr;
        s->bitmapId = 0;
        s->bitmapFile[0] = '\0';
        if (d->bitmap) {
            if ((s->skinFlags & SKIN_RESOURCE) && d->bitmapInstance) {
                s->bitmapInstance = d->bitmapInstance;
                s->bitmapId = static_cast<LONG>(reinterpret_cast<UINT_PTR>(d->bitmap));
            } else {
                s->bitmap = d->bitmap;
            }
        } else if (d->bitmapFile[0]) {
            lstrcpynA(s->bitmapFile, d->bitmapFile, MAX_PATH);
        }
        if ((take & SKIN_PRELOAD) && IsPushKind(Kind(s))) {
            qx::WindowDC dc(hwnd, true);
            const DWORD depth = dc ? GetColorDepth(dc.get()) : s->colorDepth;
            if (depth != s->colorDepth) {
                s->colorDepth = depth;
                DropSkinImages(s);
                ReleaseSkinBitmap(s, FALSE);
            }
            if (!s->bitmap && SkinLoadsOwnBitmap(s))
                LoadSkinBitmap(s, hwnd);
        }
    }
    DropSkinImages(s);
    return TRUE;
}
