// Skin settings from the registry, the colour-depth probe and the tab icon.
#pragma once
#include <windows.h>

void CheckRegFlags();
HICON LoadTabIcon();
