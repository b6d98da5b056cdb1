// Module-wide state of the hosting layer and the start-up shared by the
// host utility's road (exports) and the shell's road (property-sheet handler).
#pragma once
#include <windows.h>
#include <prsht.h>

extern HINSTANCE g_hInstance;
extern LONG g_cDllRef;
extern HWND g_hInstanceWnd;

// Fixed names of the module.
#define QX_UTILITY_NAME "QxTintra"
#define QX_INSTANCE_CLASS "QxTintraInst"

// The record a host utility passes to QxUtilityInit / QxUtilityAddPages.
// A fixed contract with the host: 32-bit little-endian words at fixed offsets.
struct QX_UTILITY_INFO {
    DWORD dwStamp;          // 0: must be QX_UTILITY_INFO_STAMP
    DWORD dwUnused[20];     // 4..83: the host's, never read or written
    DWORD dwOut84;          // set to 1024
    DWORD dwOut88;          // set to 0x2000000
    DWORD dwOut92;          // set to 2
};
static_assert(sizeof(QX_UTILITY_INFO) == 96, "the host record is 96 bytes");

enum : DWORD {
    QX_UTILITY_INFO_STAMP = 100,
    QX_INIT_OK = 0,
    QX_INIT_UNSUPPORTED = 4,
    QX_INIT_BAD_ARGS = 7,
};

extern "C" {
DWORD WINAPI QxUtilityInit(DWORD mode, LPCSTR deviceName, LPSTR nameOut, QX_UTILITY_INFO* info);
DWORD WINAPI QxUtilityAddPages(LPCSTR deviceName, LPFNADDPROPSHEETPAGE addPage, LPARAM param, QX_UTILITY_INFO* info);
DWORD WINAPI QxUtilityUnInit(DWORD reserved);
}

// The start-up of one page request: version trace, device name, support
// check, then (when markRunningCopy) the single-copy marker and the settings.
// FALSE when the driver or chip is not one the page serves; nothing after the
// support check has then run.
BOOL StartUpForDevice(LPCSTR deviceName, BOOL markRunningCopy);

// Creates the page and hands it to the host's callback. templateId is the
// page dialog template; pageParam goes into the page's lParam.
void AddTintraPage(LPFNADDPROPSHEETPAGE addPage, LPARAM param, WORD templateId, LPARAM pageParam);

// Destroys the tab icon of the latest page request (the sheet only copies it).
void ReleaseTabIcon();

// The hidden window that marks a running copy of the page.
BOOL WarnIfAlreadyRunning();
void CreateInstanceWindow();
void DestroyInstanceWindow();
