// Drawing a picture over a background with its top-left colour as the
// transparent key, and greying it with a dither when disabled. Shared by the
// picture control and the skinned buttons.
#pragma once
#include <windows.h>

// 8 x 8 one-bit pattern with one set pixel in four (rows 0x55, 0, 0xAA, 0).
// The caller deletes it.
HBITMAP CreateDitherPattern();

// Builds the one-bit mask of `picture` (1 where a pixel has the colour of
// pixel (0, 0)) and blackens those key pixels in `picture` itself, so that
// the pair can be composed with SRCAND then SRCPAINT. Null on failure, with
// `picture` unchanged. The caller deletes the mask.
HBITMAP CreateTransparencyMask(HBITMAP picture);

// Composes `picture` (key pixels already black) through its cached `mask`
// onto `dest` at (x, y). Disabled: the dither's pixels also show the
// destination. False when a DC, copy or pattern cannot be made (nothing is
// drawn then).
BOOL DrawMaskedPicture(HDC dest, int x, int y, HBITMAP picture, HBITMAP mask, BOOL enabled);

// The same for a picture without a cached mask: the mask is worked out for
// this call only and `picture` is left as it is.
BOOL DrawKeyedPicture(HDC dest, int x, int y, HBITMAP picture, BOOL enabled);

// Plain copy of the whole picture.
BOOL DrawOpaquePicture(HDC dest, int x, int y, HBITMAP picture);

// Width and height of a bitmap; false when it is not one.
BOOL GetBitmapSize(HBITMAP bitmap, SIZE* size);
