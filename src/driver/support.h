// Whether the display driver and its chip are ones this page serves.
#pragma once
#include <windows.h>

BOOL CheckSupport();
