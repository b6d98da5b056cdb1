#include "controls/picture_control.h"

// The page templates name this class, so it must exist before any page is
// created. Until the control learns to draw, it is a plain window.
BOOL RegisterPictureClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = QX_PICTURE_CLASS;
    return RegisterClassA(&wc) != 0;
}

void UnregisterPictureClass(HINSTANCE instance) { UnregisterClassA(QX_PICTURE_CLASS, instance); }
