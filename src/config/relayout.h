// Fitting a dialog laid out for the English texts and the template's font to
// another font and to translated texts.
//
// RelayoutDialogForFont moves and sizes every control of a dialog in
// proportion to the metrics of a new font and hands them that font;
// SetControlTextFromCfg replaces one control's text by its translation from
// the configuration file and widens or narrows the control to fit it.
#pragma once
#include <windows.h>

// What RelayoutDialogForFont measured, handed to each child: the dialog's
// layout size in the old font and its client size in the new one, the x pair
// in quarter pixels, the y pair in eighths of a pixel. Each coordinate v
// becomes v * to / from.
struct FONT_RELAYOUT {
    LONG xFrom;          // unitOld * template width / 100
    LONG yFrom;          // old tmHeight * template height
    LONG xTo;            // ((client width * 400) / unitNew) * unitNew / 100
    LONG yTo;            // ((client height * 8) / new tmHeight) * new tmHeight
    LONG minTextHeight;  // new tmHeight: the least height of a text label
    HFONT hFont;         // the new font
    HWND hDlg;           // the dialog being laid out
    HDWP hdwp;           // deferred positioning, replaced after every DeferWindowPos
};

// Alignment modes of SetControlTextFromCfg. On a mirrored control
// (WS_EX_LAYOUTRTL) the two resizing modes are exchanged.
enum : int {
    QX_ALIGN_TEXT_ONLY = 0,   // the text only; size and position stay
    QX_ALIGN_KEEP_LEFT = 1,   // resize to the text, top-left corner fixed
    QX_ALIGN_KEEP_RIGHT = 3,  // resize to the text, right edge fixed
};

// Lays every child of the dialog out again for newFont, gives them and the
// dialog that font, and repaints the dialog. templateCx and templateCy are
// the size the dialog's layout was made for, in dialog units. Returns the
// dialog's font before the call (the stock system font if it had none).
// Scales whatever it finds: run it once per dialog.
HFONT RelayoutDialogForFont(HWND dlg, HFONT newFont, int templateCx, int templateCy);

// EnumChildWindows callback of RelayoutDialogForFont; param points at the
// FONT_RELAYOUT. Always TRUE.
BOOL CALLBACK RelayoutChildProc(HWND child, LPARAM param);

// Scales the rectangle from the (from) measures to the (to) measures.
void ScaleRectToFont(const FONT_RELAYOUT& layout, RECT& rect);

// Gives dialog item `id` the text of `key` from the configuration file's
// current section, or defaultText when the key is missing (a null default
// keeps the control's own text), and with mode 1 or 3 resizes the control
// to the new text.
void SetControlTextFromCfg(HWND dlg, int id, LPCSTR defaultText, LPCSTR key, int mode);

// The rectangle of a window in its dialog's client coordinates.
RECT RectInDialog(HWND hwnd, HWND dlg);

// Width of a text with its accelerator marks removed, as the control shows
// it in the font selected into dc. false when it cannot be measured.
bool ShownTextWidth(HDC dc, LPCSTR text, LONG& width);

// Copies text to out without its accelerator marks: a single "&" is dropped,
// a doubled "&&" stays two ampersands. out needs room for text.
void StripAccelerators(LPSTR out, LPCSTR text);
