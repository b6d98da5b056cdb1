// Library entry: only the DLL has it; the Wine tests link the same objects
// into a program and set g_hInstance themselves.
#include "hosting/module.h"
#include "controls/picture_control.h"
#include "page/page_paint.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_hInstance = instance;
        // A failed registration only means the page's pictures stay empty;
        // the library itself still loads.
        RegisterPictureClass(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary: a shell loads and unloads its handlers for
        // its whole life, so nothing of the module may stay behind. The
        // reference pictures live as long as the module and go with it; so
        // does the tab icon of a host that never said goodbye; and the system
        // never unregisters a library's classes itself, which would leave
        // "QxUtlBmp" pointing into code that is gone. At process exit
        // (reserved set) the system takes everything back and GDI may
        // already be gone.
        ReleaseReferencePictures();
        ReleaseTabIcon();
        UnregisterPictureClass(instance);
    }
    return TRUE;
}
