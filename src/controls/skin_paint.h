// Painting of skinned buttons: push-button faces, the boxes and circles of
// check boxes and radio buttons (from a bitmap strip or drawn), group box
// frames and captions, labels, default frames and focus rectangles. Every
// look is drawn as a one-bit mask and in colour, cached per look, and
// composed over the control's background off screen.
#pragma once
#include <windows.h>

#include "controls/skin_button.h"

// Palette-relative marker that every computed colour carries.
#define SKIN_PALETTE_RELATIVE 0x02000000u

// Each channel times num / den (integer), clamped to 255.
COLORREF ScaleColor(COLORREF c, int num, int den);
// Each channel (a * wa + b * wb) / (wa + wb).
COLORREF BlendColors(COLORREF a, COLORREF b, int wa, int wb);

// The record's colours with their system defaults.
COLORREF SkinLight(const SkinButtonState* s);
COLORREF SkinShadow(const SkinButtonState* s);
COLORREF SkinLight2(const SkinButtonState* s);
COLORREF SkinShadow2(const SkinButtonState* s);
COLORREF SkinFace(const SkinButtonState* s);
COLORREF SkinHotFace(const SkinButtonState* s);
COLORREF SkinText(const SkinButtonState* s, BOOL hot);
COLORREF SkinMark(const SkinButtonState* s, BOOL maskMode);
COLORREF SkinWell(const SkinButtonState* s);

// A palette of the skin's colour ramps for displays of 8 bits or fewer;
// none for a bitmap skin. The caller deletes it.
HPALETTE CreateSkinPalette(const SkinButtonState* s);

// Gradient directions of FillGradientBands.
enum GradientDirection { GRADIENT_VERTICAL_BANDS = 0, GRADIENT_HORIZONTAL_BANDS = 1, GRADIENT_DIAGONAL_LEFT = 2,
    GRADIENT_DIAGONAL_RIGHT = 3 };

// Fills `rect` with `steps` bands running from `from` to `to`. Without
// `solid` (and outside mask mode) each band is a pattern brush of `pattern`
// whose clear pixels take the band colour and set pixels the highlight.
void FillGradientBands(HDC dc, const RECT* rect, int steps, COLORREF from, COLORREF to, int direction, BOOL solid,
    HBITMAP pattern, BOOL maskMode);

// Text in `colour` (black in mask mode) with a transparent background;
// disabled text is embossed in the highlight and shadow colours. Flag
// SKIN_TEXT_DROPDOWN adds a drop-down arrow at the right of the rectangle.
#define SKIN_TEXT_DROPDOWN 0x40000000u
void DrawSkinText(HDC dc, LPCSTR text, int length, const RECT* rect, UINT flags, COLORREF colour, BOOL enabled,
    BOOL maskMode);

// Loads the skin bitmap named by the record (file, else resource) with its
// palette into the record. False when nothing could be loaded.
BOOL LoadSkinBitmap(SkinButtonState* s, HWND hwnd);

// WM_PAINT of a skinned button: 0, or 1 when the paint did not begin.
LRESULT PaintSkinnedButton(SkinButtonState* s, HWND hwnd);
