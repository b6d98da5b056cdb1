#include "controls/transparent_draw.h"

#include "common/raii.h"

namespace {

// Raster operations the stock names do not cover.
constexpr DWORD ROP_PATTERN_OR_DEST = 0x00FA0089;      // D | P
constexpr DWORD ROP_DEST_AND_NOT_PATTERN = 0x000A0329; // D & ~P

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// A memory DC with one bitmap selected into it; the bitmap is not owned.
class BitmapDC {
public:
    explicit BitmapDC(HBITMAP bitmap)
        : dc_(bitmap ? CreateCompatibleDC(nullptr) : nullptr), select_(dc_.get(), dc_ ? bitmap : nullptr)
    {
    }
    HDC get() const { return dc_.get(); }
    explicit operator bool() const { return static_cast<bool>(dc_); }

private:
    qx::OwnedDC dc_;
    qx::SelectGuard select_;
};

// Sets the colours with which a one-bit source or pattern is expanded on a DC
// (0 bits take the text colour, 1 bits the background colour) and puts the
// old ones back.
class MonoColours {
public:
    MonoColours(HDC dc, COLORREF zeroBits, COLORREF oneBits)
        : dc_(dc), text_(SetTextColor(dc, zeroBits)), back_(SetBkColor(dc, oneBits))
    {
    }
    ~MonoColours()
    {
        SetTextColor(dc_, text_);
        SetBkColor(dc_, back_);
    }
    MonoColours(const MonoColours&) = delete;
    MonoColours& operator=(const MonoColours&) = delete;

private:
    HDC dc_;
    COLORREF text_;
    COLORREF back_;
};

// Fills `dc` (w x h) with the dither pattern under raster operation `rop`.
// The pattern's set pixels are expanded to white, its clear ones to black.
bool ApplyDither(HDC dc, int w, int h, DWORD rop)
{
    qx::GdiObject pattern(CreateDitherPattern());
    if (!pattern)
        return false;
    qx::GdiObject brush(CreatePatternBrush(static_cast<HBITMAP>(pattern.get())));
    if (!brush)
        return false;
    MonoColours colours(dc, kBlack, kWhite);
    qx::SelectGuard select(dc, brush.get());
    return PatBlt(dc, 0, 0, w, h, rop) != FALSE;
}

} // namespace

BOOL GetBitmapSize(HBITMAP bitmap, SIZE* size)
{
    BITMAP bm = {};
    if (!bitmap || GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm)
        return FALSE;
    size->cx = bm.bmWidth;
    size->cy = bm.bmHeight;
    return TRUE;
}

HBITMAP CreateDitherPattern()
{
    // Rows are word-aligned for CreateBitmap; the leftmost pixel is the high bit.
    static constexpr WORD kRows[8] = { 0x55, 0x00, 0xAA, 0x00, 0x55, 0x00, 0xAA, 0x00 };
    return CreateBitmap(8, 8, 1, 1, kRows);
}

HBITMAP CreateTransparencyMask(HBITMAP picture)
{
    SIZE size;
    if (!GetBitmapSize(picture, &size))
        return nullptr;
    BitmapDC pictureDC(picture);
    if (!pictureDC)
        return nullptr;
    qx::GdiObject mask(CreateBitmap(size.cx, size.cy, 1, 1, nullptr));
    BitmapDC maskDC(static_cast<HBITMAP>(mask.get()));
    if (!maskDC)
        return nullptr;

    // Colour to one bit: pixels of the background colour become 1.
    const COLORREF key = GetPixel(pictureDC.get(), 0, 0);
    const COLORREF oldBack = SetBkColor(pictureDC.get(), key);
    const BOOL masked = BitBlt(maskDC.get(), 0, 0, size.cx, size.cy, pictureDC.get(), 0, 0, SRCCOPY);
    SetBkColor(pictureDC.get(), oldBack);
    if (!masked)
        return nullptr;

    // Key pixels of the picture become black, so a later SRCPAINT leaves the
    // destination there as it is.
    MonoColours colours(pictureDC.get(), kWhite, kBlack);
    if (!BitBlt(pictureDC.get(), 0, 0, size.cx, size.cy, maskDC.get(), 0, 0, SRCAND))
        return nullptr;
    return static_cast<HBITMAP>(mask.release());
}

BOOL DrawMaskedPicture(HDC dest, int x, int y, HBITMAP picture, HBITMAP mask, BOOL enabled)
{
    SIZE size;
    if (!GetBitmapSize(picture, &size))
        return FALSE;
    const int w = size.cx, h = size.cy;
    MonoColours destColours(dest, kBlack, kWhite);

    if (enabled) {
        BitmapDC pictureDC(picture), maskDC(mask);
        if (!pictureDC || !maskDC)
            return FALSE;
        BitBlt(dest, x, y, w, h, maskDC.get(), 0, 0, SRCAND);
        BitBlt(dest, x, y, w, h, pictureDC.get(), 0, 0, SRCPAINT);
        return TRUE;
    }

    // Disabled: the dither's pixels join the transparent ones in a copy of
    // the mask and are cleared in a copy of the picture; the cached pair is
    // left as it is.
    qx::GdiObject maskCopy(CopyImage(mask, IMAGE_BITMAP, 0, 0, LR_MONOCHROME));
    qx::GdiObject pictureCopy(CopyImage(picture, IMAGE_BITMAP, 0, 0, 0));
    BitmapDC maskDC(static_cast<HBITMAP>(maskCopy.get()));
    BitmapDC pictureDC(static_cast<HBITMAP>(pictureCopy.get()));
    if (!maskDC || !pictureDC)
        return FALSE;
    if (!ApplyDither(maskDC.get(), w, h, ROP_PATTERN_OR_DEST)
        || !ApplyDither(pictureDC.get(), w, h, ROP_DEST_AND_NOT_PATTERN))
        return FALSE;
    BitBlt(dest, x, y, w, h, maskDC.get(), 0, 0, SRCAND);
    BitBlt(dest, x, y, w, h, pictureDC.get(), 0, 0, SRCPAINT);
    return TRUE;
}

BOOL DrawKeyedPicture(HDC dest, int x, int y, HBITMAP picture, BOOL enabled)
{
    // Making a mask blackens the key pixels of its picture; a copy takes
    // that, so the caller's picture needs no saving and restoring.
    qx::GdiObject work(CopyImage(picture, IMAGE_BITMAP, 0, 0, 0));
    if (!work)
        return FALSE;
    qx::GdiObject mask(CreateTransparencyMask(static_cast<HBITMAP>(work.get())));
    if (!mask)
        return FALSE;
    return DrawMaskedPicture(dest, x, y, static_cast<HBITMAP>(work.get()), static_cast<HBITMAP>(mask.get()), enabled);
}

BOOL DrawOpaquePicture(HDC dest, int x, int y, HBITMAP picture)
{
    SIZE size;
    BitmapDC pictureDC(picture);
    if (!GetBitmapSize(picture, &size) || !pictureDC)
        return FALSE;
    return BitBlt(dest, x, y, size.cx, size.cy, pictureDC.get(), 0, 0, SRCCOPY);
}
