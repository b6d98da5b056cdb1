// The hidden window that marks a running copy of the page, and the warning
// shown when another copy already has one.
#include "hosting/module.h"

#include "config/localization.h"

HWND g_hInstanceWnd;

BOOL WarnIfAlreadyRunning()
{
    if (!FindWindowA(QX_INSTANCE_CLASS, QX_UTILITY_NAME))
        return FALSE;

    char first[QX_CFG_TEXT_CCH], second[QX_CFG_TEXT_CCH];
    GetCfgString(kCfgTwoCopies.key, kCfgTwoCopies.fallback, first, sizeof first);
    GetCfgString(kCfgTwoCopies2.key, kCfgTwoCopies2.fallback, second, sizeof second);

    // wsprintfA writes at most 1024 characters; two 512-character texts and
    // the line break always fit.
    char text[1026];
    wsprintfA(text, "%s\n%s", first, second);
    MessageBoxA(nullptr, text, QX_UTILITY_NAME, MB_OK);
    return TRUE;
}

void CreateInstanceWindow()
{
    if (g_hInstanceWnd)
        return;
    // The warning does not stop anything: both copies go on, and each finds
    // the other's window from now on.
    WarnIfAlreadyRunning();

    WNDCLASSA wc = {};
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = g_hInstance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_APPWORKSPACE + 1));
    wc.lpszClassName = QX_INSTANCE_CLASS;
    RegisterClassA(&wc);  // a second registration fails harmlessly

    g_hInstanceWnd = CreateWindowExA(0, QX_INSTANCE_CLASS, QX_UTILITY_NAME, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, g_hInstance, nullptr);
    // DestroyInstanceWindow unregisters the class only together with a
    // window; without one the class must not outlive this call (nor the
    // module, which a shell may unload at any time).
    if (!g_hInstanceWnd)
        UnregisterClassA(QX_INSTANCE_CLASS, g_hInstance);
}

void DestroyInstanceWindow()
{
    if (!g_hInstanceWnd)
        return;
    DestroyWindow(g_hInstanceWnd);
    UnregisterClassA(QX_INSTANCE_CLASS, g_hInstance);
    g_hInstanceWnd = nullptr;
}
