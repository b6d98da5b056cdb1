#include "page/page_dialog.h"

#include "hosting/module.h"

INT_PTR CALLBACK QxTintraPageDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        CreateInstanceWindow();
        return TRUE;
    case WM_DESTROY:
        DestroyInstanceWindow();
        return FALSE;
    }
    return FALSE;
}
