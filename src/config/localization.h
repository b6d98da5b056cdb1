// Language choice and the texts of the configuration file.
#pragma once
#include <windows.h>

extern char g_szLanguage[64];

void InitLocalization();
// Looks a text up in the chosen section of the configuration file; the
// default when the key or the file is missing. Returns the length copied.
DWORD GetCfgString(LPCSTR key, LPCSTR defaultText, LPSTR out, DWORD size);
