// Skinned buttons: a standard "Button" control (push button, check box,
// three-state box, radio button or group box) keeps its class but gets the
// skinned button procedure and a skin record in the window property
// "QxButtn". From then on the record holds the check state, the text and the
// mouse and keyboard tracking, and skin_paint.cpp paints the control from it.
#pragma once
#include <windows.h>

#define QX_SKIN_PROP "QxButtn"

// Skin flags: the flags word of a description and the skin flags of a record.
// Flags that name a field copy it from the description when they are taken.
enum : DWORD {
    SKIN_FRAMEWIDTH = 0x00000001,      // frameWidth
    SKIN_CORNERPERCENT = 0x00000002,   // cornerPercent
    SKIN_GRADIENTSTEPS = 0x00000004,   // gradientSteps
    SKIN_CORNERMAX = 0x00000008,       // cornerMax
    SKIN_COLORS = 0x00000100,          // lightColor, shadowColor; check kinds: gradient wells
    SKIN_COLORS2 = 0x00000200,         // lightColor2, shadowColor2
    SKIN_TEXTCOLOR = 0x00000400,       // textColor
    SKIN_HOTTEXTCOLOR = 0x00000800,    // hotTextColor
    SKIN_FACECOLOR = 0x00001000,       // faceColor
    SKIN_MARKCOLOR = 0x00002000,       // markColor
    SKIN_CHECKEDFACE = 0x00004000,     // checkedFaceColor
    SKIN_FRAMESTYLE = 0x00010000,      // frameStyle
    SKIN_HOVER = 0x00020000,           // hoverEffect
    SKIN_DIAGONAL = 0x00040000,        // check kinds: diagonal gradient
    SKIN_ELLIPTIC = 0x00080000,        // radio kinds: elliptic gradient
    SKIN_VERTICAL = 0x00100000,        // radio kinds: gradient in vertical bands
    SKIN_DROPDOWN = 0x00200000,        // push button: drop-down arrow after the label
    SKIN_ICON = 0x00400000,            // bitmap attached, face drawn by vector (icon on push buttons)
    SKIN_PRELOAD = 0x01000000,         // push button: load the bitmap at skinning
    SKIN_TRANSPARENT = 0x02000000,     // transparentBackground
    SKIN_FILE = 0x10000000,            // the bitmap may come from bitmapFile
    SKIN_INSETS = 0x20000000,          // bitmapInsets
    SKIN_RESOURCE = 0x40000000,        // bitmap is a resource id of bitmapInstance
    SKIN_BITMAP = 0x80000000,          // bitmap skin: drawn from the bitmap
    SKIN_BITMAP_FLAGS = SKIN_BITMAP | SKIN_ICON,
};

// trackFlags of a record.
enum : DWORD {
    TRACK_ACTIVE = 0x01,    // the control holds or wants the mouse capture
    TRACK_HELD = 0x02,      // a press by mouse or space bar is in progress
    TRACK_PUSHED = 0x04,    // pushed look: pointer inside while held, or hovering
    TRACK_SPACE = 0x08,     // the press came from the space bar
    TRACK_REMOTE = 0x20,    // a press at position 0 with the pointer elsewhere (BM_CLICK)
    TRACK_INSIDE = 0x40,    // the press began with the mouse inside
};

// What a caller fills (zeroed first) to skin a button. Only the fields whose
// flags are taken change the record.
struct SkinButtonDesc {
    DWORD flags;
    DWORD mask;                     // which skin flags change (UpdateButtonSkin)
    DWORD frameStyle;
    BOOL hoverEffect;
    BOOL transparentBackground;
    LONG frameWidth;
    LONG cornerPercent;
    LONG cornerMax;
    COLORREF lightColor, shadowColor;
    COLORREF lightColor2, shadowColor2;
    COLORREF textColor;
    COLORREF hotTextColor;
    COLORREF markColor;
    COLORREF faceColor;
    COLORREF checkedFaceColor;
    LONG gradientSteps;
    char bitmapFile[MAX_PATH];
    // A bitmap handle; with SKIN_RESOURCE and a bitmapInstance, a resource
    // id in MAKEINTRESOURCE form.
    HBITMAP bitmap;
    HINSTANCE bitmapInstance;
    LONG bitmapInsets[6];
};

// The three cached looks of a control.
enum SkinLook { LOOK_NORMAL = 0, LOOK_HOT = 1, LOOK_PUSHED = 2, LOOK_COUNT = 3 };

// Colour fields holding this use the system's default colour.
#define SKIN_DEFAULT_COLOR 0xFF000000u

// One per skinned window, reached through the property "QxButtn".
struct SkinButtonState {
    BOOL focused;
    DWORD colorDepth;               // depth the cached images were made for
    HBITMAP images[LOOK_COUNT];     // colour images of the looks (normal, hot, pushed)
    HBITMAP masks[LOOK_COUNT];      // their one-bit masks
    WORD defaultFlag;               // bit 0: default push button
    HFONT font;
    WNDPROC oldWndProc;
    DWORD style;                    // refreshed at every message
    LONG frameWidth;
    LONG cornerPercent;             // -1: the drawing routine's default
    LONG cornerMax;                 // -1: the drawing routine's default
    LONG captionHeight;             // group box: caption band height + 2
    BOOL enabled;
    BOOL hoverEffect;
    BOOL rtl;                       // WS_EX_LAYOUTRTL, refreshed at every message
    DWORD trackFlags;               // TRACK_* bits
    DWORD check;                    // 0 unchecked, 1 checked, 2 indeterminate
    DWORD skinFlags;
    DWORD frameStyle;
    HBITMAP bitmap;                 // skin bitmap
    HBITMAP bitmapMask;             // its transparency mask, made at first use
    HPALETTE bitmapPalette;         // palette of a bitmap the control loaded
    LONG gradientSteps;
    COLORREF lightColor, shadowColor, lightColor2, shadowColor2, textColor;
    COLORREF hotTextColor;
    COLORREF markColor, faceColor, checkedFaceColor;
    char text[256];                 // the window text; the replaced procedure keeps its own
    HWND parent;                    // every notification goes here
    RECT lastRect;                  // client rectangle of the last paint
    HINSTANCE bitmapInstance;
    LONG bitmapId;
    char bitmapFile[MAX_PATH];
    // Push-button nine-slice margins (left, top, right, bottom), cell width
    // (0: the bitmap's height), and a flag sending refreshes through the parent.
    LONG bitmapInsets[6];
    BOOL drawFocusFrame;
    BOOL drawDefaultFrame;
    BOOL transparentBackground;     // composed over the parent's painted background
    BOOL showAccelerators;
    BOOL showFocus;
};

// Skins a "Button" window. Sets description->mask to its flags. 1 on
// success; 0 for a window of another class or when no record can be made.
// A window already skinned is updated instead.
BOOL ApplyButtonSkin(HWND hwnd, SkinButtonDesc* description);
// Takes the fields of the flags in description->mask AND description->flags.
// 0 when the window is not skinned; 1 otherwise, also for a null description.
BOOL UpdateButtonSkin(HWND hwnd, const SkinButtonDesc* description);
// The record of a skinned window, or null.
SkinButtonState* GetButtonSkin(HWND hwnd);

// Button kind (BS_TYPEMASK bits of a style) tests shared with the painter.
inline DWORD ButtonKind(DWORD style) { return style & BS_TYPEMASK; }
inline bool IsPushKind(DWORD kind) { return kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON; }
inline bool IsRadioKind(DWORD kind) { return kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON; }
inline bool IsBoxKind(DWORD kind)
{
    return kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_3STATE || kind == BS_AUTO3STATE;
}
inline bool IsCheckKind(DWORD kind) { return IsRadioKind(kind) || IsBoxKind(kind); }

// Drops the cached looks (and lets the frames be drawn again).
void DropSkinImages(SkinButtonState* s);
// Lets go of the skin bitmap and its mask. A bitmap the control loaded
// itself (a resource or file is named) is deleted with its palette; a
// caller's handle is never deleted, and is forgotten only when `forget`.
void ReleaseSkinBitmap(SkinButtonState* s, BOOL forget);
// True when the skin bitmap is one the control loads itself: a resource or
// a file is named.
BOOL SkinLoadsOwnBitmap(const SkinButtonState* s);
// Colour depth of a DC: the larger of its planes and bits per pixel.
DWORD GetColorDepth(HDC dc);
