// The picture control window class "QxUtlBmp".
#pragma once
#include <windows.h>

#define QX_PICTURE_CLASS "QxUtlBmp"

BOOL RegisterPictureClass(HINSTANCE instance);
void UnregisterPictureClass(HINSTANCE instance);
