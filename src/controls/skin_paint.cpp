#include "controls/skin_paint.h"

#include "common/raii.h"
#include "controls/transparent_draw.h"
#include "imaging/imaging.h"

#include <initializer_list>

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
// A LOGPALETTE with room for 256 entries and 4 spare bytes.
constexpr SIZE_T kPaletteBufferBytes = 1032;

bool IsSet(COLORREF c) { return c != SKIN_DEFAULT_COLOR; }
COLORREF Sys(int index) { return GetSysColor(index); }
COLORREF Relative(int r, int g, int b)
{
    return RGB(r, g, b) | SKIN_PALETTE_RELATIVE;
}
int Channel(COLORREF c, int k) { return k == 0 ? GetRValue(c) : k == 1 ? GetGValue(c) : GetBValue(c); }

// Step i of `steps` from `from` to `to`, in tenths as the band fills count.
COLORREF Ramp(COLORREF from, COLORREF to, int i, int steps)
{
    const int span = steps > 1 ? steps - 1 : 1;
    int c[3];
    for (int k = 0; k < 3; ++k) {
        const int f = Channel(from, k);
        c[k] = f + (Channel(to, k) - f) * 10 / span * i / 10;
    }
    return Relative(c[0], c[1], c[2]);
}

int Even(int v) { return v & ~1; }
int Min(int a, int b) { return a < b ? a : b; }
int Max(int a, int b) { return a > b ? a : b; }
int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

bool Pushed(const SkinButtonState* s) { return (s->trackFlags & (TRACK_PUSHED | TRACK_HELD)) == (TRACK_PUSHED | TRACK_HELD); }
bool HotText(const SkinButtonState* s) { return (s->trackFlags & TRACK_PUSHED) && s->hoverEffect; }
bool IsDefaultButton(const SkinButtonState* s)
{
    return (s->defaultFlag & 1) || (ButtonKind(s->style) == BS_DEFPUSHBUTTON && s->focused);
}
UINT PrefixFlag(const SkinButtonState* s) { return s->showAccelerators ? 0 : DT_HIDEPREFIX; }

// ---- small drawing helpers ------------------------------------------------------

void FillPolygon(HDC dc, const POINT* points, int count, COLORREF colour)
{
    qx::GdiObject brush(CreateSolidBrush(colour));
    qx::SelectGuard pen(dc, GetStockObject(NULL_PEN));
    qx::SelectGuard fill(dc, brush.get());
    Polygon(dc, points, count);
}

void FillRegion(HDC dc, HRGN region, COLORREF colour)
{
    qx::GdiObject brush(CreateSolidBrush(colour));
    if (region && brush)
        FillRgn(dc, region, static_cast<HBRUSH>(brush.get()));
}

void FillBox(HDC dc, const RECT& r, COLORREF colour)
{
    qx::GdiObject brush(CreateSolidBrush(colour));
    if (brush)
        FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

// Limits drawing to a region until the guard ends; the DC had no clip before.
class ClipTo {
public:
    ClipTo(HDC dc, HRGN region) : dc_(dc), region_(region) { SelectClipRgn(dc, region); }
    ~ClipTo() { SelectClipRgn(dc_, nullptr); }
    ClipTo(const ClipTo&) = delete;
    ClipTo& operator=(const ClipTo&) = delete;

private:
    HDC dc_;
    qx::GdiObject region_;
};

HRGN PolygonRegion(const POINT* points, int count) { return CreatePolygonRgn(points, count, WINDING); }

// A gradient limited to a four-point area: the bevels of frames and faces.
void FillTrapezoid(HDC dc, const POINT (&points)[4], const RECT& over, int steps, COLORREF from, COLORREF to,
    BOOL maskMode)
{
    ClipTo clip(dc, PolygonRegion(points, 4));
    FillGradientBands(dc, &over, steps, from, to, GRADIENT_HORIZONTAL_BANDS, TRUE, nullptr, maskMode);
}

// Corner radius of round faces: a share of the shorter side, at least 8.
int FaceRadius(const SkinButtonState* s, const RECT& r)
{
    const int p = s->cornerPercent == -1 ? 80 : s->cornerPercent;
    return Max(Min(Width(r), Height(r)) * p / 100, 8);
}

// ---- bevel fill of rings ----------------------------------------------------------

// Fills `r` (within the clip) so that its top and left edges take `a`, its
// bottom and right edges `b`, turning through `mid` at the top-right and
// bottom-left corners.
void BevelFill(HDC dc, const RECT& r, int steps, COLORREF mid, COLORREF a, COLORREF b)
{
    const LONG L = r.left, T = r.top, R = r.right, B = r.bottom;
    const int m = Min(Width(r), Height(r));
    const int span = m * 65 / 100;
    const int h = m / 2;
    if (steps <= 0)
        return;
    if (span / steps == 0)
        steps /= 2;
    if (steps <= 0)
        return;
    if (GetColorDepth(dc) <= 8 && steps > 4)
        steps = 4;

    const POINT upper[6] = { { L, T }, { R, T }, { R, T + h }, { L + h, T + h }, { L + h, B - span + 1 },
        { L, B - span + 1 } };
    const POINT lower[6] = { { L, B }, { L, B - h }, { R - h + 1, B - h }, { R - h + 1, T + h - 1 }, { R, T + h - 1 },
        { R, B } };
    FillPolygon(dc, upper, 6, a);
    FillPolygon(dc, lower, 6, b);
    for (int i = 0; i < steps; ++i) {
        const int x = i * span / steps, y = (i + 1) * span / steps;
        const POINT topStrip[4] = { { R - span + x, T }, { R - span + y + 1, T }, { R - span + y + 1 - h, T + h },
            { R - span + x - h, T + h } };
        const POINT bottomStrip[4] = { { L + span - y + h, B - h }, { L + span - x + h, B - h }, { L + span - x, B },
            { L + span - y, B } };
        FillPolygon(dc, topStrip, 4, Ramp(a, mid, i, steps));
        FillPolygon(dc, bottomStrip, 4, Ramp(b, mid, i, steps));
    }
    for (int i = 0; i < steps; ++i) {
        const int x = i * span / steps, y = (i + 1) * span / steps;
        const POINT rightStrip[4] = { { R - h, T + x + h - 1 }, { R, T + x }, { R, T + y }, { R - h, T + y + h } };
        const POINT leftStrip[4] = { { L, B - y }, { L + h, B - y - h - 1 }, { L + h, B - x - h }, { L, B - x } };
        FillPolygon(dc, rightStrip, 4, Ramp(mid, b, i, steps));
        FillPolygon(dc, leftStrip, 4, Ramp(mid, a, i, steps));
    }
}

// `rings` rings along a rounded outline of `r`, from the outside in: the
// ring at depth d from the edge keeps colours blended from the edge colours
// toward `partner`, so the frame softens inward.
void PaintRings(HDC dc, const RECT& r, int radius, int rings, COLORREF upperLeft, COLORREF lowerRight,
    COLORREF partner, COLORREF mid, int steps, BOOL maskMode)
{
    const RECT grown = { r.left, r.top, r.right + 1, r.bottom + 1 };
    for (int i = 0; i < rings; ++i) {
        const int inset = rings - i;
        HRGN ring = CreateRoundRectRgn(grown.left, grown.top, grown.right, grown.bottom, radius, radius);
        qx::GdiObject inner(CreateRoundRectRgn(grown.left + inset, grown.top + inset, grown.right - inset,
            grown.bottom - inset, radius, radius));
        if (ring && inner)
            CombineRgn(ring, ring, static_cast<HRGN>(inner.get()), RGN_XOR);
        ClipTo clip(dc, ring);
        if (maskMode) {
            FillBox(dc, grown, kBlack);
            continue;
        }
        const bool last = i == rings - 1;
        const COLORREF c1 = last ? upperLeft : BlendColors(upperLeft, partner, i + 1, rings - i - 1);
        const COLORREF c2 = last ? lowerRight : BlendColors(lowerRight, partner, i + 1, rings - i - 1);
        BevelFill(dc, grown, steps, mid, c1, c2);
    }
}

// ---- group box ----------------------------------------------------------------------

// The caption band of a group box for frame width fw; `probeWidth` gets the
// width of one accelerator-sized character, the text's margin in the band.
RECT MeasureCaption(HDC dc, SkinButtonState* s, const RECT& r, int fw, int* probeWidth)
{
    RECT probe = { 0, 0, 0, 0 };
    RECT text = { 0, 0, 0, 0 };
    DrawTextA(dc, "&j", -1, &probe, DT_CALCRECT | DT_SINGLELINE);
    DrawTextA(dc, s->text, -1, &text, DT_CALCRECT | DT_SINGLELINE);
    *probeWidth = Width(probe);
    RECT band = { r.left + fw, fw - 1, r.right - fw, Max(Height(text), Height(probe)) + fw + 1 };
    s->captionHeight = band.bottom + 2;
    return band;
}

UINT CaptionAlignment(DWORD style)
{
    switch (style & 0x0F00) {
    case BS_RIGHT:
        return DT_RIGHT;
    case BS_CENTER:
        return DT_CENTER;
    }
    return DT_LEFT;
}

void DrawCaption(HDC dc, SkinButtonState* s, RECT text, BOOL maskMode)
{
    DrawSkinText(dc, s->text, -1, &text, DT_SINGLELINE | DT_VCENTER | CaptionAlignment(s->style) | PrefixFlag(s),
        SkinText(s, FALSE), s->enabled, maskMode);
}

// Ramps across the caption band, light where the caption is.
void FillCaptionBand(HDC dc, const SkinButtonState* s, const RECT& band, BOOL maskMode)
{
    const COLORREF face = SkinFace(s), light = SkinLight(s), shadow = SkinShadow(s);
    const int third = Width(band) / 3, twoThirds = 2 * Width(band) / 3;
    struct Ramp3 {
        int from, to;  // x offsets in the band; -1: the band's right edge
        int steps;
        COLORREF a, b;
    };
    Ramp3 ramps[3];
    int count;
    switch (s->style & 0x0F00) {
    case BS_RIGHT:
        ramps[0] = { 0, third, 24, face, light };
        ramps[1] = { third, -1, 32, light, shadow };
        count = 2;
        break;
    case BS_CENTER:
        ramps[0] = { 0, third, 16, face, shadow };
        ramps[1] = { third, twoThirds, 24, shadow, light };
        ramps[2] = { twoThirds, -1, 16, light, face };
        count = 3;
        break;
    default:
        ramps[0] = { 0, twoThirds, 32, shadow, light };
        ramps[1] = { twoThirds, -1, 24, light, face };
        count = 2;
        break;
    }
    for (int k = 0; k < count; ++k) {
        const RECT part = { band.left + ramps[k].from, band.top, ramps[k].to < 0 ? band.right : band.left + ramps[k].to,
            band.bottom };
        FillGradientBands(dc, &part, ramps[k].steps, ramps[k].a, ramps[k].b, GRADIENT_VERTICAL_BANDS, TRUE, nullptr,
            maskMode);
    }
}

// Bevelled frame: a lit top and left, a dark right and bottom, and a
// caption band across the top. The inside is left alone.
void DrawBevelGroup(HDC dc, SkinButtonState* s, const RECT& r, BOOL maskMode)
{
    const int fw = s->frameWidth;
    const int n = s->gradientSteps ? s->gradientSteps : 4;
    int probe;
    RECT band = MeasureCaption(dc, s, r, fw, &probe);
    band.bottom += 1;
    FillCaptionBand(dc, s, band, maskMode);
    RECT text = band;
    InflateRect(&text, -Max(fw / 2, probe), 0);
    DrawCaption(dc, s, text, maskMode);

    const COLORREF light = SkinLight(s), shadow = SkinShadow(s);
    const LONG L = r.left, T = r.top, R = r.right, B = r.bottom;
    const COLORREF rightFrom = ScaleColor(shadow, 80, 100);
    const COLORREF top = ScaleColor(light, 150, 100);
    FillTrapezoid(dc, { { L, B }, { L, T }, { L + fw, T + fw }, { L + fw, B - fw } }, r, n,
        ScaleColor(shadow, 85, 100), ScaleColor(light, 80, 100), maskMode);
    FillTrapezoid(dc, { { R - fw, T + fw }, { R, T }, { R, B }, { R - fw, B - fw } }, r, n, rightFrom,
        ScaleColor(rightFrom, 50, 100), maskMode);
    FillTrapezoid(dc, { { L, B }, { L + fw, B - fw }, { R - fw, B - fw }, { R, B } }, r, n, kBlack, kBlack, maskMode);
    FillTrapezoid(dc, { { L, T }, { R, T }, { R - fw, T + fw }, { L + fw, T + fw } }, r, n, top, top, maskMode);
}

// Rounded frame: rings that soften toward the face colour, an etched line
// under the caption.
void DrawRoundGroup(HDC dc, SkinButtonState* s, const RECT& r, BOOL maskMode)
{
    const int fw = s->frameWidth;
    const int n = s->gradientSteps ? s->gradientSteps : 4;
    const int p = s->cornerPercent == -1 ? 12 : s->cornerPercent;
    const int cap = s->cornerMax == -1 ? 16 : s->cornerMax;
    const int radius = Min(Min(Width(r), Height(r)) * p / 100, cap);
    int probe;
    RECT band = MeasureCaption(dc, s, r, fw, &probe);
    band.bottom = s->captionHeight;
    if (maskMode) {
        for (int k = 1; k <= 2; ++k) {
            const RECT line = { band.left, band.bottom - k, band.right, band.bottom - k + 1 };
            FillBox(dc, line, kBlack);
        }
    } else {
        DrawEdge(dc, &band, EDGE_ETCHED, BF_BOTTOM);
    }
    band.bottom -= 2;
    RECT text = band;
    InflateRect(&text, -Max(probe, radius / 2), 0);
    DrawCaption(dc, s, text, maskMode);

    const COLORREF light = SkinLight(s), shadow = SkinShadow(s);
    PaintRings(dc, r, radius, fw, light, shadow, SkinFace(s), BlendColors(light, shadow, 1, 1), n, maskMode);
}

// ---- check kinds --------------------------------------------------------------------

bool IsChecked(const SkinButtonState* s)
{
    return IsRadioKind(ButtonKind(s->style)) ? s->check == 1 : s->check != 0;
}

// One cell of a strip of square cells: unchecked, checked, pushed unchecked,
// pushed checked, disabled unchecked, disabled checked; a shorter strip
// falls back to its first cells.
int StripCell(const SkinButtonState* s, int count)
{
    const int checked = IsChecked(s) ? 1 : 0;
    int cell = checked;
    if (Pushed(s)) {
        cell = 2 + checked;
        if (cell >= count)
            cell -= 2;
    } else if (!s->enabled) {
        cell = 4 + checked;
        if (cell >= count)
            cell -= 4;
    }
    return cell < count ? cell : 0;
}

// The skin bitmap's mask, made at first use. Making it blackens the key
// pixels of the bitmap itself; a bitmap shared by several buttons is keyed
// by the first of them and the others key on black, so skin strips must not
// use pure black inside their cells.
HBITMAP SkinMask(SkinButtonState* s)
{
    if (!s->bitmapMask)
        s->bitmapMask = CreateTransparencyMask(s->bitmap);
    return s->bitmapMask;
}

// A DC holding one bitmap for reading from.
class SourceDC {
public:
    SourceDC(HDC like, HBITMAP bitmap) : dc_(bitmap ? CreateCompatibleDC(like) : nullptr), select_(dc_.get(), bitmap) {}
    HDC get() const { return dc_.get(); }
    explicit operator bool() const { return static_cast<bool>(dc_); }

private:
    qx::OwnedDC dc_;
    qx::SelectGuard select_;
};

bool DrawCheckFromStrip(HDC dc, SkinButtonState* s, const RECT& r, BOOL maskMode)
{
    SIZE bm;
    if (!GetBitmapSize(s->bitmap, &bm) || bm.cy <= 0 || bm.cx < bm.cy)
        return false;
    const int cell = bm.cy;
    const int index = StripCell(s, bm.cx / cell);
    SourceDC source(dc, maskMode ? SkinMask(s) : s->bitmap);
    if (!source)
        return false;
    const int x = r.left + (IsRadioKind(ButtonKind(s->style)) ? 1 : 0);
    const int y = (Height(r) - cell) / 2;
    BitBlt(dc, x, y, cell, cell, source.get(), index * cell, 0, SRCCOPY);
    return true;
}

// Two outlines along a rounded box, one colour pair for the upper-left half
// and one for the lower-right: a raised or sunken rim.
void DrawRimPair(HDC dc, const RECT& box, int corner, const COLORREF (&ul)[2], const COLORREF (&lr)[2], BOOL maskMode)
{
    const POINT halves[2][3] = {
        { { box.left, box.bottom + 1 }, { box.left, box.top }, { box.right + 1, box.top } },
        { { box.left, box.bottom + 1 }, { box.right + 1, box.top }, { box.right + 1, box.bottom + 1 } },
    };
    for (int k = 0; k < 2; ++k) {
        ClipTo clip(dc, PolygonRegion(halves[k], 3));
        const COLORREF* pair = k == 0 ? ul : lr;
        qx::GdiObject outer(CreatePen(PS_INSIDEFRAME, 2, maskMode ? kBlack : pair[0]));
        qx::GdiObject inner(CreatePen(PS_INSIDEFRAME, 1, maskMode ? kBlack : pair[1]));
        qx::SelectGuard brush(dc, GetStockObject(NULL_BRUSH));
        {
            qx::SelectGuard pen(dc, outer.get());
            RoundRect(dc, box.left, box.top, box.right, box.bottom, corner, corner);
        }
        qx::SelectGuard pen(dc, inner.get());
        RoundRect(dc, box.left + 1, box.top + 1, box.right - 1, box.bottom - 1, corner, corner);
    }
}

void DrawRaised(HDC dc, const RECT& box, int corner, BOOL maskMode)
{
    DrawRimPair(dc, box, corner, { Sys(COLOR_BTNFACE), Sys(COLOR_BTNHIGHLIGHT) },
        { Sys(COLOR_3DDKSHADOW), Sys(COLOR_BTNSHADOW) }, maskMode);
}

void DrawSunken(HDC dc, const RECT& box, int corner, BOOL maskMode)
{
    DrawRimPair(dc, box, corner, { Sys(COLOR_BTNSHADOW), Sys(COLOR_3DDKSHADOW) },
        { Sys(COLOR_BTNHIGHLIGHT), Sys(COLOR_BTNFACE) }, maskMode);
}

// The dot of a checked radio button: an ellipse in `r`, or the diamond
// `points`, filled with `fill`, outlined in black when `outlined`.
void DrawDot(HDC dc, COLORREF fill, bool outlined, const RECT* r, const POINT* points)
{
    qx::GdiObject brush(CreateSolidBrush(fill));
    qx::SelectGuard selectBrush(dc, brush.get());
    qx::SelectGuard selectPen(dc, GetStockObject(outlined ? BLACK_PEN : NULL_PEN));
    if (r)
        Ellipse(dc, r->left, r->top, r->right, r->bottom);
    else
        Polygon(dc, points, 4);
}

void Diamond(const RECT& r, int rightInset, int inset, POINT (&p)[4])
{
    const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    p[0] = { cx, r.top + inset };
    p[1] = { r.right - rightInset, cy };
    p[2] = { cx, r.bottom - inset };
    p[3] = { r.left + inset, cy };
}

// Circles shrinking toward a point up and to the left of the centre, from
// the shadow colour outside to the light colour inside: a lit ball.
void EllipticGradient(HDC dc, const RECT& box, int steps, COLORREF from, COLORREF to)
{
    const int d = Width(box);
    const int i = d * 55 / 100;
    const int count = Min(steps, (d - i - (i % 2 == 0 ? 1 : 0)) * 14 / 20);
    if (count <= 0) {
        FillBox(dc, box, to);
        return;
    }
    ClipTo clip(dc, CreateEllipticRgn(box.left, box.top, box.right, box.bottom));
    const int cx = box.left + d / 2, cy = box.top + d / 2;
    const int tx = box.left + (d / 2) * 5 / 9, ty = box.top + (d / 2) * 5 / 9;
    qx::SelectGuard pen(dc, GetStockObject(NULL_PEN));
    for (int k = 0; k < count; ++k) {
        const int span = count > 1 ? count - 1 : 1;
        const int x = cx + (tx - cx) * k / span, y = cy + (ty - cy) * k / span;
        const int dk = d - 2 * k;
        qx::GdiObject brush(CreateSolidBrush(Ramp(from, to, k, count)));
        qx::SelectGuard fill(dc, brush.get());
        Ellipse(dc, x - dk / 2, y - dk / 2, x - dk / 2 + dk + 1, y - dk / 2 + dk + 1);
    }
}

void DrawRadio(HDC dc, SkinButtonState* s, const RECT& r, BOOL maskMode)
{
    const DWORD fs = s->frameStyle;
    int size = Min(Height(r) + 1, 12);
    if ((fs == 2 || fs == 3) && size % 2 == 0)
        --size;
    const int top = r.top + (Height(r) - size) / 2;
    const RECT box = { 1, top, size + 1, top + size };
    const int corner = (fs == 4 || fs == 5) ? Even(size * 60 / 100) : size;
    POINT diamond[4];
    Diamond(box, 0, 0, diamond);
    const bool checked = s->check == 1;
    {
        ClipTo clip(dc, fs == 3 ? PolygonRegion(diamond, 4)
                                : CreateRoundRectRgn(box.left, box.top, box.right, box.bottom, corner, corner));
        COLORREF from = checked ? SkinShadow2(s) : SkinShadow(s);
        COLORREF to = checked ? SkinLight2(s) : SkinLight(s);
        if (!s->enabled)
            from = to = Sys(COLOR_BTNFACE);
        else if (Pushed(s))
            to = ScaleColor(to, 80, 100);
        const bool ramps = (s->skinFlags & SKIN_COLORS) && s->gradientSteps;
        if (maskMode) {
            FillBox(dc, box, kBlack);
        } else if (ramps && (s->skinFlags & SKIN_ELLIPTIC)) {
            EllipticGradient(dc, box, s->gradientSteps, from, to);
        } else if (ramps) {
            RECT g = box;
            if (fs != 3)
                InflateRect(&g, -2, -2);
            const int direction = (s->skinFlags & SKIN_DIAGONAL) ? GRADIENT_DIAGONAL_LEFT
                : (s->skinFlags & SKIN_VERTICAL)                  ? GRADIENT_VERTICAL_BANDS
                                                                  : GRADIENT_HORIZONTAL_BANDS;
            FillGradientBands(dc, &g, s->gradientSteps, from, to, direction, TRUE, nullptr, FALSE);
        } else {
            const COLORREF well = (s->skinFlags & SKIN_COLORS) ? SkinShadow(s) : SkinWell(s);
            FillBox(dc, box, s->enabled ? well : Sys(COLOR_BTNFACE));
        }
    }

    switch (fs) {
    case 1:
    case 5:
        DrawRaised(dc, box, corner, maskMode);
        break;
    case 2: {
        qx::GdiObject pen(CreatePen(PS_SOLID, 1, kBlack));
        qx::SelectGuard selectPen(dc, pen.get());
        qx::SelectGuard brush(dc, GetStockObject(NULL_BRUSH));
        Ellipse(dc, box.left, box.top, box.right, box.bottom);
        break;
    }
    case 3: {
        const POINT upper[3] = { diamond[3], diamond[0], diamond[1] };
        const POINT lower[3] = { diamond[3], diamond[2], diamond[1] };
        for (int k = 0; k < 2; ++k) {
            qx::GdiObject pen(CreatePen(PS_SOLID, 1,
                maskMode ? kBlack : Sys(k == 0 ? COLOR_3DDKSHADOW : COLOR_BTNHIGHLIGHT)));
            qx::SelectGuard selectPen(dc, pen.get());
            Polyline(dc, k == 0 ? upper : lower, 3);
        }
        break;
    }
    default:
        DrawSunken(dc, box, corner, maskMode);
        break;
    }

    if (!checked)
        return;
    const COLORREF mark = SkinMark(s, maskMode);
    if (fs == 2) {
        RECT dot = box;
        InflateRect(&dot, -2, -2);
        DrawDot(dc, mark, true, &dot, nullptr);
    } else if (fs == 3) {
        POINT small[4];
        Diamond(box, 4, 3, small);
        DrawDot(dc, mark, true, nullptr, small);
    } else {
        const RECT dot = { box.left + 4, box.top + 4, box.right - 3, box.bottom - 4 };
        DrawDot(dc, mark, false, &dot, nullptr);
    }
}

void DrawTick(HDC dc, const RECT& box, COLORREF colour, bool heavy, bool mirrored)
{
    RECT in = box;
    InflateRect(&in, -2, -2);
    const int middle = (in.top + in.bottom) / 2;
    const int elbowX = in.left + (Width(in) + 1) / 2 - 2;
    auto x = [&](int v) { return mirrored ? in.left + in.right - v : v; };
    qx::GdiObject pen(CreatePen(PS_SOLID, 1, colour));
    qx::SelectGuard select(dc, pen.get());
    for (int shift = 0; shift < (heavy ? 2 : 1); ++shift) {
        for (int k = 0; k < 3; ++k) {
            const POINT stroke[3] = { { x(in.left + 1 + shift), middle - 1 + k }, { x(elbowX + shift), in.bottom - 3 + k },
                { x(in.right - 1 + shift), in.top + 1 + k } };
            Polyline(dc, stroke, 3);
        }
    }
}

void DrawBoxMark(HDC dc, SkinButtonState* s, const RECT& box)
{
    const DWORD shape = s->frameStyle & 0xFFFF;
    const DWORD mark = s->frameStyle & 0xFFFF0000;
    const COLORREF colour = SkinMark(s, FALSE);
    const bool checked = s->check != 0;
    if (mark == 0x20000 || mark == 0x30000 || mark == 0x40000) {
        if (!checked)
            return;
        const int inset = mark == 0x20000 ? 4 : mark == 0x30000 ? 2 : 3;
        RECT in = box;
        InflateRect(&in, -inset, -inset);
        if (mark == 0x20000) {
            qx::GdiObject pen(CreatePen(PS_SOLID, 2, colour));
            qx::SelectGuard select(dc, pen.get());
            const POINT a[2] = { { in.left, in.top }, { in.right, in.bottom } };
            const POINT b[2] = { { in.left, in.bottom }, { in.right, in.top } };
            Polyline(dc, a, 2);
            Polyline(dc, b, 2);
        } else if (mark == 0x30000) {
            RECT d = in;
            DrawEdge(dc, &d, EDGE_ETCHED, BF_DIAGONAL_ENDBOTTOMRIGHT);
            d = in;
            DrawEdge(dc, &d, EDGE_ETCHED, BF_DIAGONAL_ENDTOPRIGHT);
        } else {
            qx::GdiObject brush(CreateSolidBrush(colour));
            qx::SelectGuard selectBrush(dc, brush.get());
            qx::SelectGuard selectPen(dc, GetStockObject(BLACK_PEN));
            Rectangle(dc, in.left, in.top, in.right, in.bottom);
        }
        return;
    }
    if (shape == 4) {
        // A switch: the bar sits left when checked, right when not.
        RECT in = box;
        InflateRect(&in, -2, -2);
        const int w = Width(in) / 2 + 2;
        RECT bar = checked ? RECT{ in.left, in.top, in.left + w, in.bottom } : RECT{ in.right - w, in.top, in.right, in.bottom };
        FillBox(dc, bar, s->enabled ? ScaleColor(colour, 120, 100) : colour);
        DrawEdge(dc, &bar, EDGE_SUNKEN, BF_RECT);
        return;
    }
    if (checked)
        DrawTick(dc, box, colour, mark == 0x10000, s->rtl != FALSE);
}

void DrawCheckBox(HDC dc, SkinButtonState* s, const RECT& r, BOOL maskMode)
{
    const int side = Min(Height(r) + 1, 12) + 1;
    const int top = r.top + (Height(r) - side) / 2;
    const RECT box = { r.left, top, r.left + side, top + side };
    const DWORD shape = s->frameStyle & 0xFFFF;
    const int corner = Even(side * 60 / 100);
    const bool rounded = shape == 5 || shape == 6;
    if (maskMode) {
        // Every part of the box is opaque.
        ClipTo clip(dc, rounded ? CreateRoundRectRgn(box.left, box.top, box.right, box.bottom, corner, corner)
                                : CreateRectRgnIndirect(&box));
        FillBox(dc, box, kBlack);
        return;
    }

    const bool checked = s->check == 1;
    COLORREF first = SkinWell(s), second = first;
    if (s->skinFlags & SKIN_COLORS) {
        first = checked ? SkinLight2(s) : SkinLight(s);
        second = checked ? SkinShadow2(s) : SkinShadow(s);
        if (Pushed(s)) {
            first = ScaleColor(first, 80, 100);
            second = ScaleColor(second, 80, 100);
        }
    }
    if (s->check == 2) {
        first = ScaleColor(first, 105, 100);
        second = ScaleColor(second, 105, 100);
    }
    if (!s->enabled)
        first = Sys(COLOR_3DLIGHT);
    {
        ClipTo clip(dc, rounded ? CreateRoundRectRgn(box.left, box.top, box.right, box.bottom, corner, corner)
                                : nullptr);
        if ((s->skinFlags & SKIN_COLORS) && s->gradientSteps >= 1 && s->enabled) {
            const int direction = !(s->skinFlags & SKIN_DIAGONAL) ? GRADIENT_HORIZONTAL_BANDS
                : s->rtl                                        ? GRADIENT_DIAGONAL_RIGHT
                                                                : GRADIENT_DIAGONAL_LEFT;
            FillGradientBands(dc, &box, s->gradientSteps, first, second, direction, TRUE, nullptr, FALSE);
        } else {
            FillBox(dc, box, first);
        }
    }

    RECT edge = box;
    switch (shape) {
    case 1:
        DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
        break;
    case 2:
        DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
        break;
    case 3: {
        qx::GdiObject pen(CreatePen(PS_SOLID, 1, s->enabled ? kBlack : ScaleColor(Sys(COLOR_BTNSHADOW), 80, 100)));
        qx::SelectGuard selectPen(dc, pen.get());
        qx::SelectGuard brush(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, box.left, box.top, box.right, box.bottom);
        break;
    }
    case 5:
        DrawSunken(dc, box, corner, FALSE);
        break;
    case 6:
        DrawRaised(dc, box, corner, FALSE);
        break;
    default:
        DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
        break;
    }
    DrawBoxMark(dc, s, box);
}

// ---- push buttons -------------------------------------------------------------------

// Copies a cell into `to` in nine parts: the corners as they are, the edges
// and the centre stretched.
void NineSlice(HDC dc, const RECT& to, HDC source, int cellX, int cellW, int cellH, const LONG (&m)[6], bool smooth)
{
    const int dx[4] = { to.left, to.left + m[0], to.right - m[2], to.right };
    const int dy[4] = { to.top, to.top + m[1], to.bottom - m[3], to.bottom };
    const int sx[4] = { cellX, cellX + m[0], cellX + cellW - m[2], cellX + cellW };
    const int sy[4] = { 0, m[1], cellH - m[3], cellH };
    // A one-bit mask is stretched pixel for pixel; halftoning would dither it.
    qx::StretchModeGuard mode(dc, smooth ? HALFTONE : COLORONCOLOR);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const int w = dx[col + 1] - dx[col], h = dy[row + 1] - dy[row];
            const int sw = sx[col + 1] - sx[col], sh = sy[row + 1] - sy[row];
            if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0)
                continue;
            if (row != 1 && col != 1)
                BitBlt(dc, dx[col], dy[row], w, h, source, sx[col], sy[row], SRCCOPY);
            else
                StretchBlt(dc, dx[col], dy[row], w, h, source, sx[col], sy[row], sw, sh, SRCCOPY);
        }
    }
}

// Cells of a push-button strip: normal, pushed, default, focused, disabled,
// hot. False when the strip has fewer than three cells.
bool DrawPushFromStrip(HDC dc, SkinButtonState* s, const RECT& r, BOOL maskMode)
{
    SIZE bm;
    if (!GetBitmapSize(s->bitmap, &bm))
        return false;
    int cellW = s->bitmapInsets[4];
    if (cellW <= 0 || cellW > bm.cx)
        cellW = bm.cy;
    const int count = cellW > 0 ? bm.cx / cellW : 0;
    if (count < 3)
        return false;
    const bool isDefault = IsDefaultButton(s);
    int cell;
    if (Pushed(s))
        cell = 1;
    else if (s->trackFlags & TRACK_PUSHED)
        cell = isDefault ? 2 : (count > 5 ? 5 : 0);
    else if (!s->enabled)
        cell = count > 4 ? 4 : 0;
    else if (isDefault)
        cell = 2;
    else
        cell = s->focused && count > 3 ? 3 : 0;
    SourceDC source(dc, maskMode ? SkinMask(s) : s->bitmap);
    if (!source)
        return false;
    NineSlice(dc, r, source.get(), cell * cellW, cellW, bm.cy, s->bitmapInsets, !maskMode);
    s->drawDefaultFrame = FALSE;
    s->drawFocusFrame = count < 4;
    return true;
}

void DrawRectFace(HDC dc, SkinButtonState* s, RECT r, BOOL maskMode)
{
    const bool held = Pushed(s);
    COLORREF light = SkinLight(s), shadow = SkinShadow(s);
    if ((s->trackFlags & TRACK_PUSHED) && s->hoverEffect) {
        light = ScaleColor(light, 120, 100);
        shadow = ScaleColor(shadow, 120, 100);
    }
    const int bw = held ? 1 : s->frameWidth;
    if (IsDefaultButton(s))
        InflateRect(&r, -1, -1);
    if (maskMode) {
        FillBox(dc, r, kBlack);
        return;
    }
    const int n = s->gradientSteps ? s->gradientSteps : 4;
    FillGradientBands(dc, &r, 3, ScaleColor(light, 150, 100), shadow, GRADIENT_HORIZONTAL_BANDS, TRUE, nullptr, FALSE);
    RECT body = r;
    body.top += bw;
    FillGradientBands(dc, &body, n, shadow, light, GRADIENT_HORIZONTAL_BANDS, TRUE, nullptr, FALSE);

    const LONG L = r.left, T = r.top, R = r.right, B = r.bottom;
    const COLORREF s6 = ScaleColor(shadow, 60, 100), s7 = ScaleColor(shadow, 70, 100);
    FillTrapezoid(dc, { { L, B }, { L, T }, { L + bw, T + bw }, { L + bw, B - bw } }, r, n,
        held ? s6 : ScaleColor(shadow, 85, 100), held ? ScaleColor(s6, 40, 100) : ScaleColor(light, 80, 100), FALSE);
    FillTrapezoid(dc, { { R - bw, T + bw }, { R, T }, { R, B }, { R - bw, B - bw } }, r, n,
        held ? ScaleColor(shadow, 80, 100) : s7, held ? ScaleColor(light, 75, 100) : ScaleColor(s7, 50, 100), FALSE);
    const COLORREF bottom = held ? ScaleColor(light, 105, 100) : kBlack;
    FillTrapezoid(dc, { { L, B }, { L + bw, B - bw }, { R - bw, B - bw }, { R, B } }, r, n, bottom, bottom, FALSE);
    if (held)
        FillTrapezoid(dc, { { L, T }, { R, T }, { R - bw, T + bw }, { L + bw, T + bw } }, r, n, kBlack, kBlack, FALSE);
}

void DrawRoundFace(HDC dc, SkinButtonState* s, RECT r, BOOL maskMode)
{
    const int radius = FaceRadius(s, r);
    const bool held = Pushed(s);
    COLORREF face = kBlack;
    if (!maskMode) {
        const COLORREF wanted = ((s->trackFlags & TRACK_PUSHED) && s->hoverEffect) ? SkinHotFace(s) : SkinFace(s);
        face = GetNearestColor(dc, wanted) | SKIN_PALETTE_RELATIVE;
    }
    qx::GdiObject outline(CreateRoundRectRgn(r.left, r.top, r.right + 1, r.bottom + 1, radius, radius));
    FillRegion(dc, static_cast<HRGN>(outline.get()), face);
    if (maskMode)
        return;
    if (IsDefaultButton(s))
        InflateRect(&r, -1, -1);
    const COLORREF light = SkinLight(s), shadow = SkinShadow(s);
    PaintRings(dc, r, radius, s->frameWidth - (held ? 1 : 0), held ? shadow : light, held ? light : shadow, face, face,
        16, FALSE);
}

void DrawPushFace(HDC dc, SkinButtonState* s, const RECT& r, BOOL maskMode)
{
    if ((s->skinFlags & SKIN_BITMAP) && DrawPushFromStrip(dc, s, r, maskMode))
        return;
    if (s->frameStyle == 2)
        DrawRectFace(dc, s, r, maskMode);
    else
        DrawRoundFace(dc, s, r, maskMode);
}

// Where a push button's label and focus rectangle go.
RECT PushContent(const SkinButtonState* s, const RECT& client)
{
    RECT c = client;
    if (s->skinFlags & SKIN_BITMAP) {
        c.left += s->bitmapInsets[0];
        c.top += s->bitmapInsets[1];
        c.right -= s->bitmapInsets[2];
        c.bottom -= s->bitmapInsets[3];
        return c;
    }
    InflateRect(&c, -1, -1);
    if (s->frameStyle == 2) {
        InflateRect(&c, -(s->frameWidth + 1), -(s->frameWidth + 1));
    } else {
        const int radius = FaceRadius(s, client);
        InflateRect(&c, -(radius * 36 / 100), -(radius * 16 / 100));
    }
    return c;
}

void DrawDefaultFrame(HDC dc, const SkinButtonState* s, const RECT& client)
{
    if (!IsDefaultButton(s))
        return;
    if (s->frameStyle == 2) {
        qx::GdiObject pen(CreatePen(PS_SOLID, 1, Sys(COLOR_WINDOWFRAME)));
        qx::SelectGuard selectPen(dc, pen.get());
        qx::SelectGuard brush(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, client.left, client.top, client.right, client.bottom);
        return;
    }
    const int radius = FaceRadius(s, client);
    qx::GdiObject outline(CreateRoundRectRgn(client.left, client.top, client.right + 1, client.bottom + 1, radius, radius));
    if (outline)
        FrameRgn(dc, static_cast<HRGN>(outline.get()), static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)), 1, 1);
}

void DrawPushLabel(HDC dc, SkinButtonState* s, const RECT& content)
{
    RECT t = content;
    if (Pushed(s))
        OffsetRect(&t, 1, 1);
    UINT flags = DT_SINGLELINE | PrefixFlag(s);
    switch (s->style & 0x300) {
    case BS_LEFT:
        t.left += 2;
        flags |= DT_LEFT;
        break;
    case BS_RIGHT:
        t.right -= 2;
        flags |= DT_RIGHT;
        break;
    default:
        flags |= DT_CENTER;
        break;
    }
    switch (s->style & 0xC00) {
    case BS_TOP:
        t.top += 2;
        flags |= DT_TOP;
        break;
    case BS_BOTTOM:
        t.bottom -= 2;
        flags |= DT_BOTTOM;
        break;
    default:
        flags |= DT_VCENTER;
        break;
    }
    SIZE bm;
    if ((s->skinFlags & SKIN_ICON) && GetBitmapSize(s->bitmap, &bm)) {
        const int x = s->text[0] ? t.left + 1 : t.left + (Width(t) - bm.cx) / 2;
        const int y = t.top + (Height(t) - bm.cy) / 2;
        if (SkinMask(s))
            DrawMaskedPicture(dc, x, y, s->bitmap, s->bitmapMask, s->enabled);
        t.left = x + bm.cx + 4;
    }
    if (s->skinFlags & SKIN_DROPDOWN)
        flags |= SKIN_TEXT_DROPDOWN;
    DrawSkinText(dc, s->text, -1, &t, flags, SkinText(s, HotText(s)), s->enabled, FALSE);
}

// ---- labels of the check kinds ------------------------------------------------------

SIZE MeasureLabel(HDC dc, const SkinButtonState* s, int width, UINT lines)
{
    RECT m = { 0, 0, width, 0 };
    DrawTextA(dc, s->text, -1, &m, DT_CALCRECT | lines);
    return SIZE{ m.right, Height(m) };
}

// The label right of the box and its focus rectangle. Centred and
// right-aligned labels follow the push-button mapping (BS_CENTER centres,
// BS_RIGHT aligns right, over the whole width right of the box), so a
// check box aligns its text the way a push button with the same style does.
void DrawCheckLabel(HDC dc, SkinButtonState* s, const RECT& client)
{
    const UINT lines = (s->style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
    const DWORD align = s->style & 0x300;
    const SIZE text = MeasureLabel(dc, s, client.right - 19, lines);
    RECT t;
    t.left = client.left + 18;
    t.right = align == BS_RIGHT || align == BS_CENTER ? client.right : text.cx + 19;
    t.top = (Height(client) - (text.cy + 1)) / 2;
    t.bottom = t.top + text.cy + 1;
    const UINT horizontal = align == BS_RIGHT ? DT_RIGHT : align == BS_CENTER ? DT_CENTER : DT_LEFT;
    DrawSkinText(dc, s->text, -1, &t, DT_VCENTER | lines | PrefixFlag(s) | horizontal, SkinText(s, HotText(s)),
        s->enabled, FALSE);

    if (!s->focused || !s->showFocus)
        return;
    const SIZE f = MeasureLabel(dc, s, client.right - 18, lines);
    const int w = f.cx + 2;
    RECT focus;
    focus.top = (Height(client) - (f.cy + 2) - 1) / 2;
    focus.bottom = focus.top + f.cy + 2;
    if (align == BS_RIGHT) {
        focus.right = client.right;
        focus.left = Max(client.left + 17, focus.right - w);
    } else if (align == BS_CENTER) {
        focus.left = Max(client.left + 17, (client.left + 18 + client.right - w) / 2);
        focus.right = Min(focus.left + w, client.right);
    } else {
        focus.left = client.left + 17;
        focus.right = Min(focus.left + w, client.right);
    }
    DrawFocusRect(dc, &focus);
}

// ---- one look, in mask or colour ------------------------------------------------------

void DrawLook(HDC dc, SkinButtonState* s, const RECT& client, BOOL maskMode)
{
    const DWORD kind = ButtonKind(s->style);
    if (IsPushKind(kind)) {
        DrawPushFace(dc, s, client, maskMode);
    } else if (IsCheckKind(kind)) {
        if (!(s->skinFlags & SKIN_BITMAP) || !DrawCheckFromStrip(dc, s, client, maskMode)) {
            if (IsRadioKind(kind))
                DrawRadio(dc, s, client, maskMode);
            else
                DrawCheckBox(dc, s, client, maskMode);
        }
    } else if (s->frameStyle == 1) {
        DrawBevelGroup(dc, s, client, maskMode);
    } else {
        DrawRoundGroup(dc, s, client, maskMode);
    }
}

// Draws the pair of a look: the mask on white, the colour on black.
void DrawLookPair(SkinButtonState* s, HDC like, HBITMAP mask, HBITMAP image, const RECT& client, HPALETTE palette)
{
    SourceDC maskDC(like, mask), colourDC(like, image);
    if (!maskDC || !colourDC)
        return;
    const int w = client.right + 1, h = client.bottom + 1;
    qx::PaletteSelection colourPalette(colourDC.get(), palette, true);
    qx::SelectGuard maskFont(maskDC.get(), s->font);
    qx::SelectGuard colourFont(colourDC.get(), s->font);
    PatBlt(maskDC.get(), 0, 0, w, h, WHITENESS);
    DrawLook(maskDC.get(), s, client, TRUE);
    PatBlt(colourDC.get(), 0, 0, w, h, BLACKNESS);
    DrawLook(colourDC.get(), s, client, FALSE);
}

// The background of the control in the memory DC: what the parent painted
// under it, or the parent's brush. A group box without a transparent
// background asks for the brush of static controls, as standard group
// boxes do.
void PaintBackground(SkinButtonState* s, HWND hwnd, HDC paintDC, HDC memoryDC, const RECT& client)
{
    if (s->transparentBackground) {
        BitBlt(memoryDC, 0, 0, client.right, client.bottom, paintDC, 0, 0, SRCCOPY);
        return;
    }
    const UINT ask = ButtonKind(s->style) == BS_GROUPBOX ? WM_CTLCOLORSTATIC : WM_CTLCOLORBTN;
    auto brush = reinterpret_cast<HBRUSH>(
        SendMessageA(s->parent, ask, reinterpret_cast<WPARAM>(memoryDC), reinterpret_cast<LPARAM>(hwnd)));
    LOGBRUSH lb;
    if (brush && GetObjectA(brush, sizeof lb, &lb) == sizeof lb && lb.lbStyle != BS_NULL)
        FillRect(memoryDC, &client, brush);
}

// The look the control shows now; a group box has only its normal look.
SkinLook CurrentLook(const SkinButtonState* s)
{
    if (ButtonKind(s->style) == BS_GROUPBOX || !(s->trackFlags & TRACK_PUSHED))
        return LOOK_NORMAL;
    return (s->trackFlags & TRACK_HELD) ? LOOK_PUSHED : LOOK_HOT;
}

// The pair of the current look, made (empty) when missing. False when it
// cannot be made.
bool EnsureLookPair(SkinButtonState* s, HDC paintDC, const RECT& client, SkinLook look, bool* fresh)
{
    *fresh = false;
    if (s->images[look] && s->masks[look])
        return true;
    for (HBITMAP* b : { &s->images[look], &s->masks[look] }) {
        if (*b)
            DeleteObject(*b);
        *b = nullptr;
    }
    qx::GdiObject mask(CreateBitmap(client.right + 1, client.bottom + 1, 1, 1, nullptr));
    qx::GdiObject image(CreateCompatibleBitmap(paintDC, client.right + 1, client.bottom + 1));
    if (!mask || !image)
        return false;
    s->masks[look] = static_cast<HBITMAP>(mask.release());
    s->images[look] = static_cast<HBITMAP>(image.release());
    *fresh = true;
    return true;
}

void Compose(SkinButtonState* s, HWND hwnd, HDC paintDC, const RECT& client, HPALETTE palette)
{
    const int w = client.right, h = client.bottom;
    qx::OwnedDC memoryDC(CreateCompatibleDC(paintDC));
    qx::GdiObject canvas(CreateCompatibleBitmap(paintDC, w > 0 ? w : 1, h > 0 ? h : 1));
    if (!memoryDC || !canvas)
        return;
    qx::SelectGuard selectCanvas(memoryDC.get(), canvas.get());
    qx::PaletteSelection memoryPalette(memoryDC.get(), s->colorDepth < 9 ? palette : nullptr, true);
    PaintBackground(s, hwnd, paintDC, memoryDC.get(), client);
    qx::SelectGuard memoryFont(memoryDC.get(), s->font);

    const DWORD kind = ButtonKind(s->style);
    const bool drawn = IsPushKind(kind) || IsCheckKind(kind) || kind == BS_GROUPBOX;
    const SkinLook look = CurrentLook(s);
    bool fresh = false;
    if (drawn && EnsureLookPair(s, paintDC, client, look, &fresh)) {
        if (fresh)
            DrawLookPair(s, paintDC, s->masks[look], s->images[look], client, palette);
        DrawMaskedPicture(memoryDC.get(), 0, 0, s->images[look], s->masks[look], TRUE);
    }
    if (IsPushKind(kind)) {
        const RECT content = PushContent(s, client);
        if (s->drawDefaultFrame)
            DrawDefaultFrame(memoryDC.get(), s, client);
        DrawPushLabel(memoryDC.get(), s, content);
        if (s->drawFocusFrame && s->focused && s->showFocus)
            DrawFocusRect(memoryDC.get(), &content);
    }
    BitBlt(paintDC, 0, 0, w, h, memoryDC.get(), 0, 0, SRCCOPY);
    if (IsCheckKind(kind))
        DrawCheckLabel(paintDC, s, client);
}

} // namespace

// ---- colours -------------------------------------------------------------------------

COLORREF ScaleColor(COLORREF c, int num, int den)
{
    int v[3];
    for (int k = 0; k < 3; ++k) {
        v[k] = den ? Channel(c, k) * num / den : 0;
        v[k] = v[k] > 255 ? 255 : v[k] < 0 ? 0 : v[k];
    }
    return Relative(v[0], v[1], v[2]);
}

COLORREF BlendColors(COLORREF a, COLORREF b, int wa, int wb)
{
    if (wa + wb == 0)
        return a | SKIN_PALETTE_RELATIVE;
    int v[3];
    for (int k = 0; k < 3; ++k)
        v[k] = (Channel(a, k) * wa + Channel(b, k) * wb) / (wa + wb);
    return Relative(v[0], v[1], v[2]);
}

COLORREF SkinLight(const SkinButtonState* s) { return IsSet(s->lightColor) ? s->lightColor : Sys(COLOR_BTNHIGHLIGHT); }
COLORREF SkinShadow(const SkinButtonState* s) { return IsSet(s->shadowColor) ? s->shadowColor : Sys(COLOR_BTNSHADOW); }
COLORREF SkinLight2(const SkinButtonState* s) { return IsSet(s->lightColor2) ? s->lightColor2 : SkinLight(s); }
COLORREF SkinShadow2(const SkinButtonState* s) { return IsSet(s->shadowColor2) ? s->shadowColor2 : SkinShadow(s); }
COLORREF SkinFace(const SkinButtonState* s) { return IsSet(s->faceColor) ? s->faceColor : Sys(COLOR_BTNFACE); }

COLORREF SkinHotFace(const SkinButtonState* s)
{
    return IsSet(s->checkedFaceColor) ? s->checkedFaceColor : ScaleColor(SkinFace(s), 125, 100);
}

COLORREF SkinText(const SkinButtonState* s, BOOL hot)
{
    const COLORREF text = IsSet(s->textColor) ? s->textColor : Sys(COLOR_BTNTEXT);
    return hot && IsSet(s->hotTextColor) ? s->hotTextColor : text;
}

COLORREF SkinMark(const SkinButtonState* s, BOOL maskMode)
{
    if (maskMode)
        return kBlack;
    if (!s->enabled)
        return Sys(COLOR_BTNSHADOW);
    if (IsSet(s->markColor))
        return s->markColor;
    return Sys(s->check == 2 ? COLOR_BTNSHADOW : COLOR_BTNTEXT);
}

COLORREF SkinWell(const SkinButtonState* s)
{
    COLORREF base = s->faceColor;
    if (s->check == 1 && IsSet(s->checkedFaceColor))
        base = s->checkedFaceColor;
    if (Pushed(s) || s->check == 2) {
        const COLORREF well = IsSet(base) ? ScaleColor(base, 80, 100) : Sys(COLOR_BTNFACE);
        return s->check == 2 ? ScaleColor(well, 110, 100) : well;
    }
    return IsSet(base) ? base : Sys(COLOR_WINDOW);
}

HPALETTE CreateSkinPalette(const SkinButtonState* s)
{
    if (s->skinFlags & SKIN_BITMAP)
        return nullptr;
    const COLORREF light = SkinLight(s), shadow = SkinShadow(s);
    auto sum = [](COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); };
    auto grey = [](COLORREF c) { return GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c); };
    const bool lightIsDark = sum(light) < sum(shadow);
    const COLORREF darkEnd = ScaleColor(lightIsDark ? light : shadow, 90, 100);
    const COLORREF brightEnd = ScaleColor(lightIsDark ? shadow : light, 115, 100);
    IMG_GRADIENT_SEGMENT ramps[4] = {};
    int n = 0;
    if (!grey(darkEnd) || !grey(brightEnd))
        ramps[n++] = { darkEnd, brightEnd, 16 };
    ramps[n++] = { SkinFace(s), SkinHotFace(s), 2 };
    ramps[n++] = { kBlack, kWhite, 16 };
    return Img_CreateGradientPalette(ramps);
}

void FillGradientBands(HDC dc, const RECT* rect, int steps, COLORREF from, COLORREF to, int direction, BOOL solid,
    HBITMAP pattern, BOOL maskMode)
{
    if (steps <= 0)
        return;
    const RECT& r = *rect;
    const int w = Width(r), h = Height(r);
    const int extent = direction == GRADIENT_HORIZONTAL_BANDS ? h : direction == GRADIENT_VERTICAL_BANDS ? w : w + h;
    const int band10 = extent * 10 / steps;
    const COLORREF oldBack = SetBkColor(dc, Sys(COLOR_BTNHIGHLIGHT));
    const COLORREF oldText = GetTextColor(dc);
    qx::SelectGuard pen(dc, GetStockObject(NULL_PEN));
    const bool diagonal = direction == GRADIENT_DIAGONAL_LEFT || direction == GRADIENT_DIAGONAL_RIGHT;
    const int saved = diagonal ? SaveDC(dc) : 0;
    if (diagonal)
        IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    int sum = 0;
    for (int i = 0; i < steps; ++i) {
        const int a = sum / 10;
        sum += band10;
        const int b = i == steps - 1 ? extent : sum / 10;
        POINT p[4];
        switch (direction) {
        case GRADIENT_HORIZONTAL_BANDS:
            p[0] = { r.left, r.top + a }, p[1] = { r.right, r.top + a }, p[2] = { r.right, r.top + b },
            p[3] = { r.left, r.top + b };
            break;
        case GRADIENT_VERTICAL_BANDS:
            p[0] = { r.left + a, r.top }, p[1] = { r.left + b, r.top }, p[2] = { r.left + b, r.bottom },
            p[3] = { r.left + a, r.bottom };
            break;
        case GRADIENT_DIAGONAL_LEFT:
            p[0] = { r.left + a, r.top }, p[1] = { r.left + b, r.top }, p[2] = { r.left + b - h, r.bottom },
            p[3] = { r.left + a - h, r.bottom };
            break;
        default:
            p[0] = { r.right - a, r.top }, p[1] = { r.right - b, r.top }, p[2] = { r.right - b + h, r.bottom },
            p[3] = { r.right - a + h, r.bottom };
            break;
        }
        const COLORREF colour = maskMode ? kBlack : Ramp(from, to, i, steps);
        qx::GdiObject brush;
        if (solid || maskMode || !pattern) {
            brush.reset(CreateSolidBrush(colour));
        } else {
            brush.reset(CreatePatternBrush(pattern));
            SetTextColor(dc, colour);
        }
        qx::SelectGuard fill(dc, brush.get());
        Polygon(dc, p, 4);
    }
    if (diagonal)
        RestoreDC(dc, saved);
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBack);
}

void DrawSkinText(HDC dc, LPCSTR text, int length, const RECT* rect, UINT flags, COLORREF colour, BOOL enabled,
    BOOL maskMode)
{
    RECT r = *rect;
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldText = GetTextColor(dc);
    const COLORREF ink = maskMode ? kBlack : enabled ? colour : Sys(COLOR_BTNSHADOW);
    if (flags & SKIN_TEXT_DROPDOWN) {
        flags &= ~SKIN_TEXT_DROPDOWN;
        r.right -= 13;
        const LONG right = rect->right;
        const LONG m = (Height(*rect) - 7) / 2 + rect->top + 1;
        const POINT arrow[3] = { { right - 8, m }, { right - 1, m }, { right - 5, m + 4 } };
        FillPolygon(dc, arrow, 3, ink);
    }
    if (!enabled) {
        RECT raised = r;
        OffsetRect(&raised, 1, 1);
        SetTextColor(dc, maskMode ? kBlack : Sys(COLOR_BTNHIGHLIGHT));
        DrawTextA(dc, text, length, &raised, flags);
    }
    SetTextColor(dc, ink);
    DrawTextA(dc, text, length, &r, flags);
    SetTextColor(dc, oldText);
    SetBkMode(dc, oldMode);
}

BOOL LoadSkinBitmap(SkinButtonState* s, HWND hwnd)
{
    qx::HeapBlock buffer(qx::HeapAllocZero(kPaletteBufferBytes));
    if (!buffer)
        return FALSE;
    auto* palette = static_cast<LOGPALETTE*>(buffer.get());
    HBITMAP bitmap = s->bitmapFile[0]
        ? Img_LoadBitmapFromFileEx(hwnd, s->bitmapFile, palette)
        : Img_LoadBitmapEx(hwnd, s->bitmapInstance, MAKEINTRESOURCEA(LOWORD(s->bitmapId)), palette);
    if (!bitmap)
        return FALSE;
    s->bitmap = bitmap;
    if (palette->palNumEntries) {
        palette->palVersion = 0x300;
        s->bitmapPalette = CreatePalette(palette);
    }
    return TRUE;
}

LRESULT PaintSkinnedButton(SkinButtonState* s, HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC paintDC = BeginPaint(hwnd, &ps);
    if (!paintDC)
        return 1;
    const DWORD depth = GetColorDepth(paintDC);
    if (depth != s->colorDepth) {
        // Looks and a loaded bitmap are made again for the new depth.
        s->colorDepth = depth;
        DropSkinImages(s);
        ReleaseSkinBitmap(s, FALSE);
    }
    RECT client;
    GetClientRect(hwnd, &client);
    s->lastRect = client;

    if ((s->skinFlags & SKIN_BITMAP_FLAGS) && SkinLoadsOwnBitmap(s) && !s->bitmap)
        LoadSkinBitmap(s, hwnd);
    HPALETTE palette = s->bitmapPalette;
    qx::GdiObject skinPalette;
    if (depth < 9 && !palette) {
        skinPalette.reset(CreateSkinPalette(s));
        palette = static_cast<HPALETTE>(skinPalette.get());
    }
    {
        qx::PaletteSelection paintPalette(paintDC, depth < 9 ? palette : nullptr, true);
        qx::SelectGuard paintFont(paintDC, s->font);
        Compose(s, hwnd, paintDC, client, palette);
    }
    EndPaint(hwnd, &ps);
    return 0;
}
