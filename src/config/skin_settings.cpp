#include "config/skin_settings.h"

#include "common/raii.h"
#include "common/trace.h"
#include "config/system_services.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "resource.h"

char szQxKeyName[QX_KEY_NAME_CHARS] = "HKLM\\Software\\Qx";
char szQxUtilKeyName[QX_KEY_NAME_CHARS] = "HKLM\\Software\\Qx\\QxTintra";

char g_szBackground[QX_SKIN_PATH_CHARS];
char g_szBackground8bpp[QX_SKIN_PATH_CHARS];
char g_szOEMLogo[QX_SKIN_PATH_CHARS];
char g_szOEMLogo8bpp[QX_SKIN_PATH_CHARS];
char g_szTabIcon[QX_SKIN_PATH_CHARS];
DWORD gdwUiStyle = QXLOOK_LUSTRE;
DWORD gdwColorDepth = 16;
char g_szHomePageUrl[QX_SKIN_PATH_CHARS];
BOOL g_bHideLogo = FALSE;

namespace {

constexpr char kKpKeyName[] = "HKLM\\Software\\Qx\\Kp";
constexpr char kKpUtilKeyName[] = "HKLM\\Software\\Qx\\Kp\\QxTintra";

// The picture settings: a non-empty value replaces the current one, an absent
// or empty one leaves it alone.
struct PathSetting {
    SkinValue value;
    char* target;
};
constexpr PathSetting kPathSettings[] = {
    { QX_SKIN_BACKGROUND, g_szBackground },
    { QX_SKIN_BACKGROUND_8BPP, g_szBackground8bpp },
    { QX_SKIN_OEM_LOGO, g_szOEMLogo },
    { QX_SKIN_OEM_LOGO_8BPP, g_szOEMLogo8bpp },
    { QX_SKIN_TAB_ICON, g_szTabIcon },
};

void CopySetting(char* target, const char* text) { lstrcpynA(target, text, QX_SKIN_PATH_CHARS); }

// Skin keys are opened with full access, so a key that a user without
// administrative rights may only read counts as absent, like a missing one.
qx::RegKey OpenSkinKey(LPCSTR path)
{
    HKEY key = nullptr;
    if (OpenRegPath(path, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return qx::RegKey();
    return qx::RegKey(key);
}

} // namespace

DWORD ReadSkinSettings(HKEY key, DWORD defaultOverride)
{
    char text[QX_REG_TEXT_BYTES];
    for (const PathSetting& setting : kPathSettings) {
        ReadRegString(key, kSkinValueNames[setting.value], text, "");
        if (text[0])
            CopySetting(setting.target, text);
    }

    // With "Lustre" as the default, a key without "UiStyle" restores the
    // Lustre look; so does any name the module does not know.
    ReadRegString(key, kSkinValueNames[QX_SKIN_UI_STYLE], text, "Lustre");
    if (lstrcmpiA(text, "Lustre") == 0) {
        gdwUiStyle = QXLOOK_LUSTRE;
        QxTrace("gdwUiStyle == QXLOOK_LUSTRE\n");
    } else if (lstrcmpiA(text, "Classic") == 0) {
        gdwUiStyle = QXLOOK_CLASSIC;
        QxTrace("gdwUiStyle == QXLOOK_CLASSIC\n");
    } else {
        gdwUiStyle = QXLOOK_LUSTRE;
    }

    // Likewise every key read sets the address again, to the maker's site
    // when it names none.
    ReadRegString(key, kSkinValueNames[QX_SKIN_URL], text, QX_DEFAULT_HOME_PAGE_URL);
    CopySetting(g_szHomePageUrl, text);

    g_bHideLogo = static_cast<BOOL>(ReadRegBool(key, kSkinValueNames[QX_SKIN_HIDE_LOGO], static_cast<DWORD>(g_bHideLogo)));
    return ReadRegBool(key, kSkinValueNames[QX_SKIN_OVERRIDE], defaultOverride);
}

void CheckRegFlags() { CheckRegFlagsObserved(nullptr, nullptr); }

void CheckRegFlagsObserved(SkinKeyObserver observer, void* context)
{
    if (g_dwChipFamily == CHIP_FAMILY_KP) {
        lstrcpyA(szQxKeyName, kKpKeyName);
        lstrcpyA(szQxUtilKeyName, kKpUtilKeyName);
    }
    QxTrace("In CheckRegFlags:\n");
    QxTrace("   szQxKeyName    =%s\n", szQxKeyName);
    QxTrace("   szQxUtilKeyName=%s\n", szQxUtilKeyName);
    QxTrace("   szQxByChipKey  =%s\n", szQxByChipKey);

    // Every existing key is opened, but once one has claimed the last word
    // the keys after it are not read.
    const LPCSTR paths[] = { szQxKeyName, szQxUtilKeyName, szQxByChipKey };
    DWORD skinOverride = 0;
    for (int i = 0; i < 3; ++i) {
        DWORD outcome = QX_SKINKEY_ABSENT;
        if (qx::RegKey key = OpenSkinKey(paths[i])) {
            if (i == 1)
                QxTrace("CheckRegFlags: trying to open the szQxUtilKeyName=%s key\n", szQxUtilKeyName);
            outcome = QX_SKINKEY_OVERRIDDEN;
            if (!skinOverride) {
                skinOverride = ReadSkinSettings(key.get(), 0);
                outcome = QX_SKINKEY_READ;
            }
        }
        if (observer)
            observer(i, paths[i], outcome, context);
    }
}

BOOL UpdateDisplayMetrics()
{
    qx::OwnedDC dc(CreateDisplayDC());
    if (!dc)
        return FALSE;
    gdwColorDepth = static_cast<DWORD>(GetDeviceCaps(dc.get(), BITSPIXEL));
    return TRUE;
}

HICON LoadTabIcon()
{
    if (g_szTabIcon[0]) {
        HANDLE icon = LoadImageA(nullptr, g_szTabIcon, IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE);
        if (icon)
            return static_cast<HICON>(icon);
    }
    return static_cast<HICON>(
        LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDI_TAB_ICON), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}
