// Small registry, version and operating-system services shared by the
// start-up code and the page.
#pragma once
#include <windows.h>

// Size of every buffer ReadRegString fills.
constexpr DWORD QX_REG_TEXT_BYTES = 512;

// Operating-system class codes of GetOsVersion.
enum : DWORD {
    QX_OS_UNKNOWN = 0,
    QX_OS_WIN95 = 1,
    QX_OS_WIN95_OSR2 = 2,
    QX_OS_WIN98 = 8,
    QX_OS_WIN98_SE = 16,
    QX_OS_WINME = 32,
    QX_OS_NT3 = 128,
    QX_OS_NT4 = 256,
    QX_OS_WIN2000 = 512,
    QX_OS_WINXP = 1024,
    QX_OS_WINXP_SP = 2048,
};

BOOL GetFileVersionString(LPCSTR fileName, LPSTR out, DWORD size, LPCSTR stringName);
BOOL GetFileVersion(LPCSTR fileName, LPSTR out, DWORD size);
LONG OpenRegPath(LPCSTR path, REGSAM access, HKEY* key);
BOOL ReadRegString(HKEY key, LPCSTR valueName, LPSTR out /* QX_REG_TEXT_BYTES */, LPCSTR defaultText);
DWORD ReadRegBool(HKEY key, LPCSTR valueName, DWORD defaultValue);
DWORD GetOsVersion();
