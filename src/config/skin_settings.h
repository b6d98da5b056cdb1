// Skin settings from the registry, the colour-depth probe and the tab icon.
//
// An OEM brands and restyles the page through up to three registry keys, read
// in this order: the maker's key, this utility's key and the display driver
// instance's key. A later key replaces what an earlier one set, and a key with
// "SkinOverride" on is the last one read.
#pragma once
#include <windows.h>

// The two looks of the page.
enum : DWORD {
    QXLOOK_CLASSIC = 0,
    QXLOOK_LUSTRE = 1,
};

// Every key name is kept as a text path for OpenRegPath.
constexpr int QX_KEY_NAME_CHARS = 256;
// Skin paths and the home page address: longer registry values are cut to
// QX_SKIN_PATH_CHARS - 1 characters.
constexpr int QX_SKIN_PATH_CHARS = MAX_PATH;

// The logo's link when no key names another. The maker's own site; the
// .example domain keeps it from pointing at anybody real.
constexpr char QX_DEFAULT_HOME_PAGE_URL[] = "http://www.qxgraphics.example/tintra/";

// The maker's key and the utility's key; both switch to their Kp variants for
// the rest of the module's load once a start-up finds a chip of the Kp family.
// The driver instance's key, szQxByChipKey, is found by InitRegKeyVars.
extern char szQxKeyName[QX_KEY_NAME_CHARS];
extern char szQxUtilKeyName[QX_KEY_NAME_CHARS];

// Picture files named by the registry; empty means the built-in picture. For
// the two backgrounds, "<none>" (any case) means no background picture at all:
// the text is kept as read and left to the painter.
extern char g_szBackground[QX_SKIN_PATH_CHARS];
extern char g_szBackground8bpp[QX_SKIN_PATH_CHARS];
extern char g_szOEMLogo[QX_SKIN_PATH_CHARS];
extern char g_szOEMLogo8bpp[QX_SKIN_PATH_CHARS];
// Icon file for the page's tab; empty means the module's own icon.
extern char g_szTabIcon[QX_SKIN_PATH_CHARS];
// QXLOOK_LUSTRE or QXLOOK_CLASSIC.
extern DWORD gdwUiStyle;
// The logo is a link only while this is non-empty.
extern char g_szHomePageUrl[QX_SKIN_PATH_CHARS];
// 1 hides and disables the logo control.
extern BOOL g_bHideLogo;
// Bits per pixel of the page's display, 16 until probed; 8 or fewer selects
// the "8bpp" picture variants.
extern DWORD gdwColorDepth;

// The values a skin key may hold, in the order they are read. Tools that
// explain a skin to its maker walk the same list.
enum SkinValue : int {
    QX_SKIN_BACKGROUND, QX_SKIN_BACKGROUND_8BPP, QX_SKIN_OEM_LOGO, QX_SKIN_OEM_LOGO_8BPP, QX_SKIN_TAB_ICON,
    QX_SKIN_UI_STYLE, QX_SKIN_URL, QX_SKIN_HIDE_LOGO, QX_SKIN_OVERRIDE, QX_SKIN_VALUE_COUNT
};
inline constexpr const char* kSkinValueNames[QX_SKIN_VALUE_COUNT] = { "Background", "Background8bpp", "OEMLogo",
    "OEMLogo8bpp", "TabIcon", "UiStyle", "URL", "HideLogo", "SkinOverride" };

// Sets the key names for the chip family and reads the skin settings from the
// three keys. Needs g_dwChipFamily and szQxByChipKey, so runs after
// CheckSupport and InitRegKeyVars.
void CheckRegFlags();
// The same, telling `observer` after each of the three keys (0 the maker's,
// 1 the utility's, 2 the driver instance's) whether it could not be opened,
// was read, or was left unread because an earlier key's "SkinOverride" was
// on. For tools that explain a skin to its maker; the page passes none.
enum : DWORD { QX_SKINKEY_ABSENT = 0, QX_SKINKEY_READ = 1, QX_SKINKEY_OVERRIDDEN = 2 };
typedef void (*SkinKeyObserver)(int index, LPCSTR keyPath, DWORD outcome, void* context);
void CheckRegFlagsObserved(SkinKeyObserver observer, void* context);
// Reads every skin setting the open key holds; returns the key's
// "SkinOverride" flag, or defaultOverride when it has none.
DWORD ReadSkinSettings(HKEY key, DWORD defaultOverride);
// Stores the display's bits per pixel in gdwColorDepth. FALSE, and
// gdwColorDepth untouched, when no device context could be opened.
BOOL UpdateDisplayMetrics();
// The page's tab icon: the "TabIcon" file when it loads, else the module's own.
// The caller owns the handle.
HICON LoadTabIcon();
