#include "config/localization.h"

char g_szLanguage[64] = "English";

void InitLocalization() {}

DWORD GetCfgString(LPCSTR key, LPCSTR defaultText, LPSTR out, DWORD size)
{
    if (!out || !size)
        return 0;
    lstrcpynA(out, defaultText ? defaultText : "", static_cast<int>(size));
    return static_cast<DWORD>(lstrlenA(out));
}
