// Creation of the property page, shared by both roads.
#include "hosting/module.h"

#include <commctrl.h>

#include "config/localization.h"
#include "config/skin_settings.h"
#include "page/page_dialog.h"

namespace {

// The sheet copies the tab icon into its own image list when it builds its
// tabs, but never destroys the icon it was given. The module keeps the one
// of the latest page request and destroys it when the next request replaces
// it or the module is let go.
HICON g_hTabIcon;

} // namespace

void ReleaseTabIcon()
{
    if (g_hTabIcon) {
        DestroyIcon(g_hTabIcon);
        g_hTabIcon = nullptr;
    }
}

void AddTintraPage(LPFNADDPROPSHEETPAGE addPage, LPARAM param, WORD templateId, LPARAM pageParam)
{
    char title[QX_CFG_TITLE_CCH];
    GetCfgString(kCfgSheetTitle.key, kCfgSheetTitle.fallback, title, sizeof title);

    PROPSHEETPAGEA page = {};
    page.dwSize = PROPSHEETPAGEA_V2_SIZE;
    page.dwFlags = PSP_USEHICON | PSP_USETITLE | PSP_USEREFPARENT;
    page.hInstance = g_hInstance;
    page.pszTemplate = MAKEINTRESOURCEA(templateId);
    ReleaseTabIcon();
    g_hTabIcon = LoadTabIcon();
    page.hIcon = g_hTabIcon;
    page.pszTitle = title;
    page.pfnDlgProc = QxTintraPageDlgProc;
    page.lParam = pageParam;
    page.pcRefParent = reinterpret_cast<UINT*>(&g_cDllRef);

    HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
    if (handle && addPage && addPage(handle, param))
        return;
    if (handle)
        DestroyPropertySheetPage(handle);
    ReleaseTabIcon();  // no sheet will ever show it
}
