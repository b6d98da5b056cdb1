// Finding the display driver's own registry key.
#pragma once
#include <windows.h>

void InitRegKeyVars();
