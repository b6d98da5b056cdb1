// Library entry: only the DLL has it; the Wine tests link the same objects
// into a program and set g_hInstance themselves.
#include "hosting/module.h"
#include "controls/picture_control.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_hInstance = instance;
        // A failed registration only means the page's pictures stay empty;
        // the library itself still loads.
        RegisterPictureClass(instance);
    }
    return TRUE;
}
