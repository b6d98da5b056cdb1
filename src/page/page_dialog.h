// The effects page's dialog procedure.
#pragma once
#include <windows.h>

INT_PTR CALLBACK QxTintraPageDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
