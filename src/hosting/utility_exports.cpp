// The host utility's road into the page: three exported functions.
#include "hosting/module.h"

#include "common/trace.h"
#include "config/localization.h"
#include "config/skin_settings.h"
#include "config/system_services.h"
#include "controls/picture_control.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "driver/support.h"
#include "resource.h"

HINSTANCE g_hInstance;
LONG g_cDllRef;

namespace {

void TraceModuleVersion()
{
    char path[256];
    if (!GetModuleFileNameA(g_hInstance, path, sizeof path))
        return;
    char version[256];
    if (GetFileVersion(path, version, sizeof version))
        QxTrace("QxTintra.dll version: %s\n", version);
}

} // namespace

BOOL StartUpForDevice(LPCSTR deviceName, BOOL markRunningCopy)
{
    TraceModuleVersion();
    SetDisplayDeviceName(deviceName);
    // On a driver the page does not serve nothing else is read: no registry
    // value, no configuration file, no language.
    if (!CheckSupport())
        return FALSE;
    // The page's pictures need "QxUtlBmp". The library entry registers it
    // once per load, but QxUtilityUnInit unregisters it, and a host utility
    // that closes its sheet and initialises again in the same load would get
    // a page without pictures. Registering again here makes every start-up
    // find the class; while it still exists the call fails harmlessly.
    RegisterPictureClass(g_hInstance);
    if (markRunningCopy)
        CreateInstanceWindow();
    // The driver's key first: the skin settings read beside it.
    InitRegKeyVars();
    CheckRegFlags();
    InitLocalization();
    return TRUE;
}

extern "C" DWORD WINAPI QxUtilityInit(DWORD mode, LPCSTR deviceName, LPSTR nameOut, QX_UTILITY_INFO* info)
{
    if (mode == 0 && !info)
        return QX_INIT_BAD_ARGS;
    if (info) {
        if (info->dwStamp != QX_UTILITY_INFO_STAMP)
            return QX_INIT_BAD_ARGS;
        info->dwOut84 = 0x400;
        info->dwOut88 = 0x2000000;
        info->dwOut92 = 2;
    }
    if (nameOut)
        lstrcpyA(nameOut, QX_UTILITY_NAME);

    // The host utility's page marks its running copy only when it is shown.
    return StartUpForDevice(deviceName, FALSE) ? QX_INIT_OK : QX_INIT_UNSUPPORTED;
}

extern "C" DWORD WINAPI QxUtilityAddPages(LPCSTR deviceName, LPFNADDPROPSHEETPAGE addPage, LPARAM param, QX_UTILITY_INFO* info)
{
    char name[128];
    if (QxUtilityInit(1, deviceName, name, info) != QX_INIT_OK)
        return 0;
    // The host utility always gets the standard template; only the shell's
    // road picks the Japanese one (see the property-sheet handler).
    AddTintraPage(addPage, param, IDD_QXTINTRA_PAGE, 0);
    return 0;
}

extern "C" DWORD WINAPI QxUtilityUnInit(DWORD reserved)
{
    UnregisterPictureClass(g_hInstance);
    DestroyInstanceWindow();
    ReleaseTabIcon();
    return 0;
}
