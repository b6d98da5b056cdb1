// The shell's road into the page: the in-process property-sheet handler.
#include <windows.h>
#include <objbase.h>

#include "hosting/module.h"

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_cDllRef == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (out)
        *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}
