#include "controls/picture_control.h"

#include "common/raii.h"
#include "controls/transparent_draw.h"
#include "imaging/imaging.h"

#include <cstring>
#include <initializer_list>

namespace {

PictureControlState* StateOf(HWND hwnd) { return reinterpret_cast<PictureControlState*>(GetWindowLongPtrA(hwnd, 0)); }

DWORD ControlStyle(HWND hwnd) { return static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE)) & 0xFFFF; }

void DropPicture(PictureControlState* s)
{
    for (HGDIOBJ* object : { reinterpret_cast<HGDIOBJ*>(&s->bitmap), reinterpret_cast<HGDIOBJ*>(&s->mask),
             reinterpret_cast<HGDIOBJ*>(&s->palette) }) {
        if (*object)
            DeleteObject(*object);
        *object = nullptr;
    }
}

// The sixteen colours of the VGA palette: every component 0 or 255, or every
// component 0 or 128, or the light grey.
constexpr bool IsStandardColor(BYTE r, BYTE g, BYTE b)
{
    auto allIn = [&](BYTE lo, BYTE hi) {
        return (r == lo || r == hi) && (g == lo || g == hi) && (b == lo || b == hi);
    };
    return allIn(0, 255) || allIn(0, 128) || (r == 192 && g == 192 && b == 192);
}
static_assert(IsStandardColor(128, 0, 128) && IsStandardColor(192, 192, 192) && !IsStandardColor(128, 255, 0),
    "VGA colours");

// A palette from the colour table of a picture of up to 256 colours; colours
// outside the VGA set must not collapse onto the system's entries.
HPALETTE BuildPalette(const BITMAPINFO* info)
{
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biBitCount > 8)
        return nullptr;
    DWORD count = h.biClrUsed ? h.biClrUsed : 1u << h.biBitCount;
    if (count > 256)
        count = 256;
    qx::HeapBlock block(qx::HeapAllocZero(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY)));
    if (!block)
        return nullptr;
    auto* pal = static_cast<LOGPALETTE*>(block.get());
    pal->palVersion = 0x300;
    pal->palNumEntries = static_cast<WORD>(count);
    for (DWORD i = 0; i < count; ++i) {
        const RGBQUAD& c = info->bmiColors[i];
        PALETTEENTRY& e = pal->palPalEntry[i];
        e.peRed = c.rgbRed;
        e.peGreen = c.rgbGreen;
        e.peBlue = c.rgbBlue;
        e.peFlags = IsStandardColor(c.rgbRed, c.rgbGreen, c.rgbBlue) ? 0 : PC_NOCOLLAPSE;
    }
    return CreatePalette(pal);
}

// Decodes the picture the record names and turns it into a bitmap for the
// window's device; a palette picture also leaves its palette in the record.
HBITMAP LoadPicture(HWND hwnd, PictureControlState* s)
{
    IMG_INFO info = {};
    HBITMAP dib;
    if (s->imageId == -1)
        dib = s->fileName[0] ? Img_LoadDibFromFile(hwnd, s->fileName, &info) : nullptr;
    else
        dib = Img_LoadDib(hwnd, s->instance, MAKEINTRESOURCEA(LOWORD(s->imageId)), &info);
    qx::HeapBlock header(info.pBitmapInfo);
    qx::HeapBlock logPalette(info.pLogPalette);
    qx::GdiObject section(dib);
    if (!section)
        return nullptr;
    qx::WindowDC dc(hwnd, true);
    if (!dc)
        return nullptr;

    const DWORD entries = info.pLogPalette ? info.pLogPalette->palNumEntries : 0;
    logPalette.reset();
    if (entries > 16)
        s->palette = BuildPalette(info.pBitmapInfo);
    qx::PaletteSelection selection(dc.get(), s->palette, true);
    return CreateDIBitmap(dc.get(), &info.pBitmapInfo->bmiHeader, CBM_INIT, info.pBits, info.pBitmapInfo,
        DIB_RGB_COLORS);
}

// Drops whatever is held and loads the picture again; false when nothing
// could be loaded (the control is then empty).
bool Reload(HWND hwnd, PictureControlState* s)
{
    DropPicture(s);
    // The loader gives the picture at full size; a shrink is made again by
    // the layout that follows.
    s->scale = 0;
    s->bitmap = LoadPicture(hwnd, s);
    if (!s->bitmap)
        DropPicture(s);
    return s->bitmap != nullptr;
}

// Replaces the picture by a copy shrunk to `scale` per mille. The new size is
// kept at one pixel at least, so a collapsed control still has a picture.
void ShrinkPicture(HWND hwnd, PictureControlState* s, SIZE* size, LONG scale)
{
    const int w = static_cast<int>(scale * size->cx / 1000) > 0 ? static_cast<int>(scale * size->cx / 1000) : 1;
    const int h = static_cast<int>(scale * size->cy / 1000) > 0 ? static_cast<int>(scale * size->cy / 1000) : 1;
    qx::WindowDC windowDC(hwnd, true);
    if (!windowDC)
        return;
    qx::GdiObject shrunk(CreateCompatibleBitmap(windowDC.get(), w, h));
    qx::OwnedDC from(CreateCompatibleDC(windowDC.get()));
    qx::OwnedDC to(CreateCompatibleDC(windowDC.get()));
    if (!shrunk || !from || !to)
        return;
    {
        qx::SelectGuard selectFrom(from.get(), s->bitmap);
        qx::SelectGuard selectTo(to.get(), shrunk.get());
        qx::PaletteSelection paletteFrom(from.get(), s->palette, true);
        qx::PaletteSelection paletteTo(to.get(), s->palette, true);
        const int oldMode = SetStretchBltMode(to.get(), COLORONCOLOR);
        const BOOL stretched = StretchBlt(to.get(), 0, 0, w, h, from.get(), 0, 0, size->cx, size->cy, SRCCOPY);
        SetStretchBltMode(to.get(), oldMode);
        if (!stretched)
            return;
    }
    DeleteObject(s->bitmap);
    s->bitmap = static_cast<HBITMAP>(shrunk.release());
    if (s->mask)
        DeleteObject(s->mask);
    s->mask = nullptr;
    s->scale = scale;
    size->cx = w;
    size->cy = h;
}

// Places (and, with BMPS_SHRINKTOFIT, shrinks) the picture in the client area.
void Layout(HWND hwnd, PictureControlState* s)
{
    const DWORD style = ControlStyle(hwnd);
    SIZE bm;
    if (!(style & (BMPS_NATURALSIZE | BMPS_SHRINKTOFIT)) || !GetBitmapSize(s->bitmap, &bm))
        return;
    RECT client;
    GetClientRect(hwnd, &client);
    LONG refW = client.right - client.left;
    LONG refH = client.bottom - client.top;

    if (style & BMPS_SHRINKTOFIT) {
        if (bm.cx > refW || bm.cy > refH) {
            const LONG sx = (refW * 1000 + bm.cx / 2) / bm.cx;
            const LONG sy = (refH * 1000 + bm.cy / 2) / bm.cy;
            ShrinkPicture(hwnd, s, &bm, sx < sy ? sx : sy);
        }
    } else {
        refW = bm.cx;
        refH = bm.cy;
    }

    LONG x = client.left, y = client.top;
    if (style & BMPS_RIGHT)
        x = client.right - bm.cx;
    else if (style & BMPS_HCENTER)
        x = refW / 2 - bm.cx / 2 + client.left;
    if (style & BMPS_BOTTOM)
        y = client.bottom - bm.cy;
    else if (style & BMPS_VCENTER)
        y = refH / 2 - bm.cy / 2 + client.top;
    SetRect(&s->imageRect, x, y, x + bm.cx, y + bm.cy);
}

void RedrawThroughParent(HWND hwnd)
{
    if (IsWindowVisible(hwnd))
        InvalidateInParent(hwnd, nullptr, FALSE);
}

// Reload, layout and redraw: the answer of WM_SIZE, BMPM_SETINSTANCE and
// BMPM_SETIMAGE. The reloads caused by a style, display or palette change
// run the same steps: a shrunk picture comes back at full size from the
// loader and must be shrunk and placed again.
LRESULT Refresh(HWND hwnd, PictureControlState* s)
{
    if (!Reload(hwnd, s))
        return 0;
    Layout(hwnd, s);
    RedrawThroughParent(hwnd);
    return 1;
}

// The rectangle the parent draws into, in client coordinates of the memory
// DC; (x, y) is where the picture was drawn.
void SendDrawItem(HWND hwnd, PictureControlState* s, HDC memoryDC, int x, int y, const RECT& client)
{
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_STATIC;
    dis.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
    dis.itemID = 0;
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = s->enabled ? 0 : ODS_DISABLED;
    dis.hwndItem = hwnd;
    dis.hDC = memoryDC;
    SetRect(&dis.rcItem, x, y, client.right + 1, client.bottom + 1);
    if (s->hasDrawRect) {
        // drawRect is in the picture's own pixels; follow the shrink.
        const LONG k = s->scale ? s->scale : 1000;
        dis.rcItem.left = x + (s->drawRect.left * k + k / 2) / 1000;
        dis.rcItem.top = y + (s->drawRect.top * k + k / 2) / 1000;
        dis.rcItem.right = dis.rcItem.left + s->drawRect.width * k / 1000;
        dis.rcItem.bottom = dis.rcItem.top + s->drawRect.height * k / 1000;
        dis.itemData = static_cast<ULONG_PTR>(k);
    }
    SendMessageA(GetParent(hwnd), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
}

// Composes background, picture and owner drawing off screen and copies the
// result once, so the picture never flickers over its background.
LRESULT Paint(HWND hwnd, PictureControlState* s)
{
    const DWORD style = ControlStyle(hwnd);
    const bool transparent = !(style & BMPS_OPAQUE);
    RECT client;
    GetClientRect(hwnd, &client);
    const int cw = client.right - client.left, ch = client.bottom - client.top;

    PAINTSTRUCT ps;
    HDC paintDC = BeginPaint(hwnd, &ps);
    if (!paintDC)
        return 1;
    LRESULT result = 0;
    {
        qx::OwnedDC memoryDC(CreateCompatibleDC(paintDC));
        qx::GdiObject canvas(CreateCompatibleBitmap(paintDC, cw, ch));
        if (!memoryDC || !canvas) {
            result = 1;
        } else {
            qx::SelectGuard selectCanvas(memoryDC.get(), canvas.get());
            SendMessageA(GetParent(hwnd), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(paintDC),
                reinterpret_cast<LPARAM>(hwnd));
            // What the parent painted under us is the background.
            BitBlt(memoryDC.get(), 0, 0, cw, ch, paintDC, 0, 0, SRCCOPY);

            // Without a picture the whole client area is copied back.
            RECT copy = client;
            int x = 0, y = 0;
            SIZE bm;
            const bool drawPicture = !(style & BMPS_OWNERDRAWONLY) && GetBitmapSize(s->bitmap, &bm);
            qx::PaletteSelection paintPalette(paintDC, drawPicture ? s->palette : nullptr, true);
            qx::PaletteSelection memoryPalette(memoryDC.get(), drawPicture ? s->palette : nullptr, true);
            if (drawPicture) {
                const RECT& r = s->imageRect;
                x = (r.right - r.left - bm.cx) / 2 + r.left;
                y = (r.bottom - r.top - bm.cy) / 2 + r.top;
                SetRect(&copy, x, y, x + bm.cx, y + bm.cy);
                if (!s->mask && transparent && !(style & BMPS_NOMASKCACHE))
                    s->mask = CreateTransparencyMask(s->bitmap);
                BOOL drawn;
                if (!transparent)
                    drawn = DrawOpaquePicture(memoryDC.get(), x, y, s->bitmap);
                else if (s->mask)
                    drawn = DrawMaskedPicture(memoryDC.get(), x, y, s->bitmap, s->mask, s->enabled);
                else
                    drawn = DrawKeyedPicture(memoryDC.get(), x, y, s->bitmap, s->enabled);
                if (!drawn)
                    result = 1;
            }
            if (style & (BMPS_OWNERDRAWONLY | BMPS_DRAWITEM))
                SendDrawItem(hwnd, s, memoryDC.get(), x, y, client);

            // A mirrored destination starts at its last pixel: starting one
            // past it would move the flipped picture a pixel off its own
            // rectangle and leave its first row or column unpainted.
            const int w = copy.right - copy.left, h = copy.bottom - copy.top;
            const bool mirror = s->flip & BMP_FLIP_HORIZONTAL;
            const bool upsideDown = s->flip & BMP_FLIP_VERTICAL;
            StretchBlt(paintDC, mirror ? copy.right - 1 : copy.left, upsideDown ? copy.bottom - 1 : copy.top,
                mirror ? -w : w, upsideDown ? -h : h, memoryDC.get(), copy.left, copy.top, w, h, SRCCOPY);
        }
    }
    EndPaint(hwnd, &ps);
    return result;
}

LRESULT OnCreate(HWND hwnd)
{
    auto* s = static_cast<PictureControlState*>(qx::HeapAllocZero(sizeof(PictureControlState)));
    if (!s)
        return -1;
    SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(s));
    s->instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(GetParent(hwnd), GWLP_HINSTANCE));
    s->enabled = IsWindowEnabled(hwnd);
    GetClientRect(hwnd, &s->imageRect);
    // The picture whose resource id is our control id, when there is one.
    SendMessageA(hwnd, BMPM_SETIMAGE, static_cast<WPARAM>(GetDlgCtrlID(hwnd)), 0);
    return 0;
}

void OnDestroy(HWND hwnd, PictureControlState* s)
{
    SetWindowLongPtrA(hwnd, 0, 0);
    DropPicture(s);
    HeapFree(GetProcessHeap(), 0, s);
}

LRESULT OnSetImage(HWND hwnd, PictureControlState* s, WPARAM wParam, LPARAM lParam)
{
    const LONG id = static_cast<LONG>(wParam);
    if (id == s->imageId && id != -1)
        return 1;
    if (id == -1) {
        const char* name = reinterpret_cast<const char*>(lParam);
        // A name that does not fit the buffer is refused rather than cut: a
        // cut path would name some other file. Nothing changes then.
        if (name && lstrlenA(name) >= MAX_PATH)
            return 0;
        s->imageId = -1;
        if (!name)
            return 0;
        lstrcpynA(s->fileName, name, MAX_PATH);
    } else {
        s->imageId = id;
    }
    return Refresh(hwnd, s);
}

void OnLeftButtonUp(HWND hwnd, PictureControlState* s, LPARAM lParam)
{
    if (!s->pressed)
        return;
    s->pressed = FALSE;
    RECT client;
    GetClientRect(hwnd, &client);
    // Unsigned, so a release left of or above the control is outside too.
    const POINT pt = { static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(lParam)) };
    if (PtInRect(&client, pt)) {
        const int id = GetDlgCtrlID(hwnd);
        SendMessageA(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(id, BMPN_CLICKED), reinterpret_cast<LPARAM>(hwnd));
    }
    ReleaseCapture();
}

void OnPaletteChanged(HWND hwnd, PictureControlState* s, HWND changedBy)
{
    if (!s->palette || changedBy == hwnd)
        return;
    qx::WindowDC dc(hwnd, false);
    if (!dc)
        return;
    qx::PaletteSelection selection(dc.get(), s->palette, true);
    UpdateColors(dc.get());
}

LRESULT CALLBACK PictureControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // Messages that need no record.
    switch (msg) {
    case WM_CREATE:
        return OnCreate(hwnd);
    case WM_ERASEBKGND:
        return 1;
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_GETDLGCODE:
        return DLGC_BUTTON;
    }

    PictureControlState* s = StateOf(hwnd);
    if (!s)
        return msg == BMPM_SETFLIP ? 1 : DefWindowProcA(hwnd, msg, wParam, lParam);

    switch (msg) {
    case WM_DESTROY:
        OnDestroy(hwnd, s);
        break;
    case WM_SIZE:
        return Refresh(hwnd, s);
    case WM_ENABLE:
        if (s->enabled != static_cast<BOOL>(wParam != 0)) {
            s->enabled = wParam != 0;
            RedrawThroughParent(hwnd);
        }
        break;
    case WM_PAINT:
        return Paint(hwnd, s);
    case WM_SETCURSOR:
        if (s->hoverCursor) {
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(hwnd, &pt);
            if (PtInRect(&s->imageRect, pt)) {
                SetCursor(s->hoverCursor);
                return 1;
            }
        }
        break;
    case WM_STYLECHANGED:
    case WM_DISPLAYCHANGE:
        Refresh(hwnd, s);
        break;
    case WM_QUERYNEWPALETTE:
        Refresh(hwnd, s);
        return 1;
    case WM_PALETTECHANGED:
        OnPaletteChanged(hwnd, s, reinterpret_cast<HWND>(wParam));
        break;
    case WM_LBUTTONDOWN:
        if (ControlStyle(hwnd) & BMPS_PARENTMOUSE) {
            SendMessageA(GetParent(hwnd), msg, wParam, lParam);
        } else {
            SetCapture(hwnd);
            s->pressed = TRUE;
        }
        break;
    case WM_LBUTTONUP:
        if (ControlStyle(hwnd) & BMPS_PARENTMOUSE)
            SendMessageA(GetParent(hwnd), msg, wParam, lParam);
        else
            OnLeftButtonUp(hwnd, s, lParam);
        break;
    case BMPM_SETINSTANCE:
        if (reinterpret_cast<HINSTANCE>(lParam) == s->instance)
            break;
        s->instance = reinterpret_cast<HINSTANCE>(lParam);
        return Refresh(hwnd, s);
    case BMPM_SETIMAGE:
        return OnSetImage(hwnd, s, wParam, lParam);
    case BMPM_SETDRAWRECT:
        s->hasDrawRect = static_cast<BOOL>(wParam);
        if (wParam && lParam)
            memcpy(&s->drawRect, reinterpret_cast<const void*>(lParam), sizeof s->drawRect);
        return 1;
    case BMPM_SETCURSOR:
        s->hoverCursor = reinterpret_cast<HCURSOR>(wParam);
        break;
    case BMPM_SETFLIP:
        s->flip = LOWORD(wParam);
        if (lParam)
            RedrawThroughParent(hwnd);
        return 1;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

BOOL RegisterPictureClass(HINSTANCE instance, LPCSTR className)
{
    WNDCLASSA wc = {};
    wc.style = 0;  // no double clicks, no redraw on resize
    wc.lpfnWndProc = PictureControlProc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_APPWORKSPACE + 1));
    wc.lpszClassName = className;
    return RegisterClassA(&wc) != 0;
}

BOOL UnregisterPictureClass(HINSTANCE instance, LPCSTR className) { return UnregisterClassA(className, instance); }

void InvalidateInParent(HWND hwnd, const RECT* rect, BOOL updateNow)
{
    HWND parent = GetParent(hwnd);
    if (!parent)
        return;
    RECT area;
    if (rect) {
        area = *rect;
        MapWindowPoints(hwnd, parent, reinterpret_cast<POINT*>(&area), 2);
    } else {
        GetWindowRect(hwnd, &area);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
    }
    InvalidateRect(parent, &area, TRUE);
    if (updateNow)
        UpdateWindow(parent);
}
