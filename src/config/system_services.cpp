#include "config/system_services.h"

BOOL GetFileVersion(LPCSTR path, LPSTR out, DWORD size) { return FALSE; }
