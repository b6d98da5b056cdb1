// The shell's road into the page: the module as an in-process COM server whose
// property-sheet handler the display control panel asks for pages.
#pragma once
#include <windows.h>
#include <objbase.h>

// The two class identifiers the module answers to; both give the same class
// factory and the same handler. Installers register one of them (see
// docs/install.md); the second lets a second registration, for instance an
// OEM's copy of the module in its own directory, live beside the first
// without the two sharing one CLSID key.
extern const CLSID CLSID_QxTintraPropSheet;     // {4A796E84-9335-4151-AD60-823880BE3622}
extern const CLSID CLSID_QxTintraPropSheetAlt;  // {52E2DDAD-36F4-42BD-AE5B-F5242EA8860F}

// What AddPages answers on a display driver or chip the page does not serve.
// A plain positive value, not an error code: callers testing with SUCCEEDED
// read it as success, and the shell simply gets no page.
constexpr HRESULT QX_ADDPAGES_UNSUPPORTED = 4;

// The clipboard format under which the shell's data object offers the name
// of the display device, as a UTF-16 string in global memory.
#define QX_DISPLAY_DEVICE_FORMAT "Display Device"

extern "C" {
HRESULT WINAPI DllCanUnloadNow();
HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);
}
