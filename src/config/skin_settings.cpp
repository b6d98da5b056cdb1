#include "config/skin_settings.h"

#include "hosting/module.h"
#include "resource.h"

void CheckRegFlags() {}

HICON LoadTabIcon() { return LoadIconA(g_hInstance, MAKEINTRESOURCEA(IDI_TAB_ICON)); }
