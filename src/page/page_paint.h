// What the effects page paints itself: the effect preview and the reference
// picture inside their picture controls, the owner-drawn tab items, the
// skinned page background, and the logo with its link to the home page.
#pragma once
#include <windows.h>

// ---- caches of the page ---------------------------------------------------------
// The page background: first the picture as loaded, then its copy stretched
// to the page's client size (g_bBackgroundStretched). Deleted with the page
// and at a display mode change.
extern HBITMAP g_hBackgroundBmp;
extern BOOL g_bBackgroundStretched;
// The two reference pictures, decoded at first use and kept while the module
// is loaded.
extern HBITMAP g_hRefPicEffects;
extern HBITMAP g_hRefPicDeblock;
// The radio buttons' strip of check marks (bitmap resource 232), loaded by
// the button skin and deleted with the page.
extern HBITMAP g_hRadioCheckBmp;
// Tooltip of the logo link; an owned popup of the page, so it goes with it.
extern HWND g_hLogoToolTip;

// ---- pictures -------------------------------------------------------------------
// A newly loaded bitmap of the effect preview for the selection and its
// level band, or null (no picture for the code, or none could be loaded).
// The caller deletes it.
HBITMAP GetImageHandle();
// Draws the bitmap into the rectangle; a picture much smaller than the
// rectangle is tiled 2 by 2 or 4 by 4 rather than blown up. A null bitmap
// draws nothing.
void PaintImage(HDC dc, const RECT* rect, HBITMAP bitmap);

// ---- background -----------------------------------------------------------------
// The background for a colour depth in the current style: *slot when it is
// already loaded, else the file setting for the depth ("<none>" in any case:
// no background at all, null), falling back to the module's own picture.
// What is loaded is stored in *slot.
HBITMAP LoadBackgroundImage(HBITMAP* slot, DWORD colorDepth, LPCSTR file8bpp, LPCSTR file);
// Paints the window's background from *slot. The first paint stretches the
// picture to the client size once (COLORONCOLOR in fast mode, else
// HALFTONE), replaces *slot by the stretched copy and sets *stretched; later
// paints copy only the update rectangle. Returns 1 when something was
// painted, 0 when *slot is empty.
BOOL PaintBackground(HDC dc, HWND window, HBITMAP* slot, BOOL* stretched, BOOL fastMode);

// ---- tab items, logo ------------------------------------------------------------
// One item of the owner-drawn tab control: light grey with its label, and a
// grey gradient under the label of the selected item.
void PaintTabItem(const DRAWITEMSTRUCT* dis);
// Paints the body of the tab control under one of its tab dialogs into the
// dialog's DC, so that a control redrawn through the dialog (the skinned
// radio buttons) is composed over the body rather than over its own old
// pixels.
void PaintTabBodyUnder(HWND child, HDC dc);
// Hides the logo, or gives it the link's hand cursor and tooltip when there
// is a home page, and its OEM picture when there is one.
void InitLogoBitmap(HWND page);
// Opens g_szHomePageUrl with the shell; nothing when it is empty.
void OpenHomePage(HWND owner);

// ---- the page's messages --------------------------------------------------------
// WM_DRAWITEM of the page: the tab items and the two pictures. TRUE when the
// item is one the page draws.
INT_PTR OnMain_WM_DRAWITEM(HWND page, WPARAM controlId, const DRAWITEMSTRUCT* dis);
// WM_ERASEBKGND of the page: the skinned background. The result is also the
// dialog's message result: 0 lets the erase count as not done.
INT_PTR OnMain_WM_ERASEBKGND(HWND page, HDC dc);
// WM_DISPLAYCHANGE of the page: new depth, fresh background, frame and logo
// pictures for the new mode.
INT_PTR OnMain_WM_DISPLAYCHANGE(HWND page, WPARAM wParam, LPARAM lParam);
// WM_COMMAND of the page: a click on the logo opens the home page. TRUE for
// the logo, FALSE for any other control.
BOOL OnMain_LogoCommand(HWND page, int controlId);
// WM_DESTROY of the page: deletes the page's background and radio strip.
void ReleasePagePictures();
// Deletes the two reference pictures; for the module's unloading.
void ReleaseReferencePictures();
