// The picture control window class "QxUtlBmp": one picture from a module's
// resources or from a file, laid out by style bits, drawn over whatever the
// parent painted underneath with its top-left colour as the transparent key,
// greyed when disabled, with an optional owner-drawn sub-rectangle and a
// click notification.
#pragma once
#include <windows.h>

#define QX_PICTURE_CLASS "QxUtlBmp"

// Control styles (low word of the window style; each bit stands alone).
#define BMPS_HCENTER        0x0001  // centre horizontally (unless BMPS_RIGHT)
#define BMPS_RIGHT          0x0002  // right edge on the client's right edge
#define BMPS_VCENTER        0x0004  // centre vertically (unless BMPS_BOTTOM)
#define BMPS_BOTTOM         0x0008  // bottom edge on the client's bottom edge
#define BMPS_OPAQUE         0x0040  // no transparent key colour
#define BMPS_NOMASKCACHE    0x0100  // work transparency out at every paint
#define BMPS_NATURALSIZE    0x0200  // lay the picture out at its own size
#define BMPS_OWNERDRAWONLY  0x0400  // draw no picture, only ask the parent
#define BMPS_DRAWITEM       0x0800  // ask the parent to draw over the picture
#define BMPS_SHRINKTOFIT    0x1000  // lay out and shrink a picture that is too big
#define BMPS_PARENTMOUSE    0x2000  // left button goes to the parent, no clicks

// Private messages.
#define BMPM_SETINSTANCE    0x0700  // lParam: module the pictures come from
#define BMPM_SETIMAGE       0x0701  // wParam: resource id, or -1 with lParam = file name
#define BMPM_SETDRAWRECT    0x0702  // wParam: flag, lParam: int[4] left, top, width, height
#define BMPM_SETCURSOR      0x0703  // wParam: hover cursor
#define BMPM_SETFLIP        0x0704  // wParam: BMP_FLIP_* bits, lParam: redraw now

#define BMP_FLIP_VERTICAL   0x0001  // top to bottom
#define BMP_FLIP_HORIZONTAL 0x0002  // left to right

// Notification code of the WM_COMMAND a click sends to the parent.
#define BMPN_CLICKED        0x00F5

// One per window, in window slot 0 from WM_CREATE to WM_DESTROY.
struct PictureControlState {
    HINSTANCE instance;     // module whose resources pictures come from
    LONG imageId;           // resource id; -1: the picture is fileName
    char fileName[MAX_PATH];
    HPALETTE palette;       // for pictures of 17..256 colours
    HBITMAP bitmap;         // device bitmap, already shrunk
    HBITMAP mask;           // cached transparency mask
    HCURSOR hoverCursor;
    RECT imageRect;         // where the picture lies, client coordinates
    BOOL enabled;
    BOOL pressed;           // left button down on us, capture held
    BOOL hasDrawRect;
    struct {
        LONG left, top, width, height;  // in the picture's unshrunk pixels
    } drawRect;
    LONG scale;             // per mille of the last shrink, 0 when none
    WORD flip;              // BMP_FLIP_* bits
};

// Registers the class for `instance`; true when an atom was made.
BOOL RegisterPictureClass(HINSTANCE instance, LPCSTR className = QX_PICTURE_CLASS);
BOOL UnregisterPictureClass(HINSTANCE instance, LPCSTR className = QX_PICTURE_CLASS);

// Repaints the parent under `hwnd` (and so `hwnd` on top of it): `rect` is in
// the window's client coordinates; null means the whole window rectangle.
// The parent does not clip its children, so this is how a transparent
// control gets a fresh background.
void InvalidateInParent(HWND hwnd, const RECT* rect, BOOL updateNow);
