// Creation of the property page, shared by both roads.
#include "hosting/module.h"

#include <commctrl.h>

#include "config/localization.h"
#include "config/skin_settings.h"
#include "page/page_dialog.h"

void AddTintraPage(LPFNADDPROPSHEETPAGE addPage, LPARAM param, WORD templateId, LPARAM pageParam)
{
    char title[256];
    GetCfgString("IDS_TAB_COLOR", "QxTintra", title, sizeof title);

    PROPSHEETPAGEA page = {};
    page.dwSize = PROPSHEETPAGEA_V2_SIZE;
    page.dwFlags = PSP_USEHICON | PSP_USETITLE | PSP_USEREFPARENT;
    page.hInstance = g_hInstance;
    page.pszTemplate = MAKEINTRESOURCEA(templateId);
    page.hIcon = LoadTabIcon();
    page.pszTitle = title;
    page.pfnDlgProc = QxTintraPageDlgProc;
    page.lParam = pageParam;
    page.pcRefParent = reinterpret_cast<UINT*>(&g_cDllRef);

    HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
    if (!handle)
        return;
    if (!addPage || !addPage(handle, param))
        DestroyPropertySheetPage(handle);
}
