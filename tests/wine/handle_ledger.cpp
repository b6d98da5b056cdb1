#include "handle_ledger.h"

#include <mutex>
#include <set>
#include <utility>

#include "iat_patch.h"
#include "qxtest.h"

namespace qxtest {

namespace {

enum Kind { kGdi, kUser, kHandle, kHeap, kKinds };

std::mutex g_lock;
std::set<std::pair<int, const void*>> g_live;

void Add(Kind kind, const void* h)
{
    if (!h || h == INVALID_HANDLE_VALUE)
        return;
    std::lock_guard<std::mutex> guard(g_lock);
    g_live.insert({ kind, h });
}

void Remove(Kind kind, const void* h)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_live.erase({ kind, h });
}

// One hook per imported function: the fake, and the address it passes on to.
#define QX_LEDGER_CREATOR(dll, name, kind, RET, PARAMS, ARGS) \
    decltype(&::name) o_##name; \
    RET WINAPI f_##name PARAMS \
    { \
        RET h = o_##name ARGS; \
        Add(kind, reinterpret_cast<const void*>(h)); \
        return h; \
    }
#define QX_LEDGER_DESTROYER(dll, name, kind, RET, PARAMS, ARGS, HANDLE_ARG) \
    decltype(&::name) o_##name; \
    RET WINAPI f_##name PARAMS \
    { \
        Remove(kind, reinterpret_cast<const void*>(HANDLE_ARG)); \
        return o_##name ARGS; \
    }

QX_LEDGER_CREATOR(gdi32, CreateCompatibleDC, kGdi, HDC, (HDC a), (a))
QX_LEDGER_CREATOR(gdi32, CreateCompatibleBitmap, kGdi, HBITMAP, (HDC a, int b, int c), (a, b, c))
QX_LEDGER_CREATOR(gdi32, CreateBitmap, kGdi, HBITMAP, (int a, int b, UINT c, UINT d, const void* e), (a, b, c, d, e))
QX_LEDGER_CREATOR(gdi32, CreateBitmapIndirect, kGdi, HBITMAP, (const BITMAP* a), (a))
QX_LEDGER_CREATOR(gdi32, CreateDIBSection, kGdi, HBITMAP,
    (HDC a, const BITMAPINFO* b, UINT c, void** d, HANDLE e, DWORD f), (a, b, c, d, e, f))
QX_LEDGER_CREATOR(gdi32, CreateDIBitmap, kGdi, HBITMAP,
    (HDC a, const BITMAPINFOHEADER* b, DWORD c, const void* d, const BITMAPINFO* e, UINT f), (a, b, c, d, e, f))
QX_LEDGER_CREATOR(gdi32, CreateSolidBrush, kGdi, HBRUSH, (COLORREF a), (a))
QX_LEDGER_CREATOR(gdi32, CreatePatternBrush, kGdi, HBRUSH, (HBITMAP a), (a))
QX_LEDGER_CREATOR(gdi32, CreateBrushIndirect, kGdi, HBRUSH, (const LOGBRUSH* a), (a))
QX_LEDGER_CREATOR(gdi32, CreateHatchBrush, kGdi, HBRUSH, (int a, COLORREF b), (a, b))
QX_LEDGER_CREATOR(gdi32, CreatePen, kGdi, HPEN, (int a, int b, COLORREF c), (a, b, c))
QX_LEDGER_CREATOR(gdi32, CreatePenIndirect, kGdi, HPEN, (const LOGPEN* a), (a))
QX_LEDGER_CREATOR(gdi32, CreateFontIndirectA, kGdi, HFONT, (const LOGFONTA* a), (a))
QX_LEDGER_CREATOR(gdi32, CreatePalette, kGdi, HPALETTE, (const LOGPALETTE* a), (a))
QX_LEDGER_CREATOR(gdi32, CreateHalftonePalette, kGdi, HPALETTE, (HDC a), (a))
QX_LEDGER_CREATOR(gdi32, CreateRectRgn, kGdi, HRGN, (int a, int b, int c, int d), (a, b, c, d))
QX_LEDGER_CREATOR(gdi32, CreateRectRgnIndirect, kGdi, HRGN, (const RECT* a), (a))
QX_LEDGER_CREATOR(gdi32, CreateEllipticRgn, kGdi, HRGN, (int a, int b, int c, int d), (a, b, c, d))
QX_LEDGER_CREATOR(gdi32, CreateRoundRectRgn, kGdi, HRGN, (int a, int b, int c, int d, int e, int f), (a, b, c, d, e, f))
QX_LEDGER_CREATOR(gdi32, CreatePolygonRgn, kGdi, HRGN, (const POINT* a, int b, int c), (a, b, c))
QX_LEDGER_DESTROYER(gdi32, DeleteObject, kGdi, BOOL, (HGDIOBJ a), (a), a)
QX_LEDGER_DESTROYER(gdi32, DeleteDC, kGdi, BOOL, (HDC a), (a), a)

QX_LEDGER_CREATOR(user32, GetDC, kGdi, HDC, (HWND a), (a))
QX_LEDGER_CREATOR(user32, GetWindowDC, kGdi, HDC, (HWND a), (a))
QX_LEDGER_CREATOR(user32, GetDCEx, kGdi, HDC, (HWND a, HRGN b, DWORD c), (a, b, c))
QX_LEDGER_DESTROYER(user32, ReleaseDC, kGdi, int, (HWND a, HDC b), (a, b), b)
QX_LEDGER_CREATOR(user32, LoadBitmapA, kGdi, HBITMAP, (HINSTANCE a, LPCSTR b), (a, b))
QX_LEDGER_CREATOR(user32, CreateIconIndirect, kUser, HICON, (PICONINFO a), (a))
QX_LEDGER_DESTROYER(user32, DestroyIcon, kUser, BOOL, (HICON a), (a), a)
QX_LEDGER_DESTROYER(user32, DestroyCursor, kUser, BOOL, (HCURSOR a), (a), a)

// Shared images belong to the system; bitmaps are GDI objects, icons and
// cursors user objects.
decltype(&::LoadImageA) o_LoadImageA;
HANDLE WINAPI f_LoadImageA(HINSTANCE a, LPCSTR b, UINT type, int c, int d, UINT flags)
{
    HANDLE h = o_LoadImageA(a, b, type, c, d, flags);
    if (!(flags & LR_SHARED))
        Add(type == IMAGE_BITMAP ? kGdi : kUser, h);
    return h;
}

decltype(&::CopyImage) o_CopyImage;
HANDLE WINAPI f_CopyImage(HANDLE a, UINT type, int c, int d, UINT flags)
{
    HANDLE h = o_CopyImage(a, type, c, d, flags);
    if (h != a)  // LR_COPYRETURNORG may hand the original back
        Add(type == IMAGE_BITMAP ? kGdi : kUser, h);
    return h;
}

QX_LEDGER_CREATOR(kernel32, CreateFileA, kHandle, HANDLE,
    (LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g), (a, b, c, d, e, f, g))
QX_LEDGER_CREATOR(kernel32, CreateFileMappingA, kHandle, HANDLE,
    (HANDLE a, LPSECURITY_ATTRIBUTES b, DWORD c, DWORD d, DWORD e, LPCSTR f), (a, b, c, d, e, f))
QX_LEDGER_CREATOR(kernel32, MapViewOfFile, kHandle, LPVOID, (HANDLE a, DWORD b, DWORD c, DWORD d, SIZE_T e),
    (a, b, c, d, e))
QX_LEDGER_DESTROYER(kernel32, UnmapViewOfFile, kHandle, BOOL, (LPCVOID a), (a), a)
QX_LEDGER_CREATOR(kernel32, FindFirstFileA, kHandle, HANDLE, (LPCSTR a, LPWIN32_FIND_DATAA b), (a, b))
QX_LEDGER_DESTROYER(kernel32, FindClose, kHandle, BOOL, (HANDLE a), (a), a)
QX_LEDGER_DESTROYER(kernel32, CloseHandle, kHandle, BOOL, (HANDLE a), (a), a)
QX_LEDGER_DESTROYER(kernel32, HeapFree, kHeap, BOOL, (HANDLE a, DWORD b, LPVOID c), (a, b, c), c)

decltype(&::HeapAlloc) o_HeapAlloc;
LPVOID WINAPI f_HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    LPVOID p = o_HeapAlloc(heap, flags, bytes);
    Add(kHeap, p);
    return p;
}

decltype(&::HeapReAlloc) o_HeapReAlloc;
LPVOID WINAPI f_HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes)
{
    LPVOID p = o_HeapReAlloc(heap, flags, block, bytes);
    if (p) {
        Remove(kHeap, block);
        Add(kHeap, p);
    }
    return p;
}

// Registry keys come back through an out parameter.
decltype(&::RegOpenKeyExA) o_RegOpenKeyExA;
LONG WINAPI f_RegOpenKeyExA(HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY out)
{
    LONG r = o_RegOpenKeyExA(a, b, c, d, out);
    if (r == ERROR_SUCCESS && out)
        Add(kHandle, *out);
    return r;
}
decltype(&::RegCreateKeyExA) o_RegCreateKeyExA;
LONG WINAPI f_RegCreateKeyExA(HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g,
    PHKEY out, LPDWORD h)
{
    LONG r = o_RegCreateKeyExA(a, b, c, d, e, f, g, out, h);
    if (r == ERROR_SUCCESS && out)
        Add(kHandle, *out);
    return r;
}
QX_LEDGER_DESTROYER(advapi32, RegCloseKey, kHandle, LONG, (HKEY a), (a), a)

struct Hook {
    const char* dll;
    const char* name;
    void* fake;
    void** original;
};

#define QX_HOOK(dll, name) { #dll ".dll", #name, reinterpret_cast<void*>(&f_##name), reinterpret_cast<void**>(&o_##name) }
const Hook kHooks[] = {
    QX_HOOK(gdi32, CreateCompatibleDC), QX_HOOK(gdi32, CreateCompatibleBitmap), QX_HOOK(gdi32, CreateBitmap),
    QX_HOOK(gdi32, CreateBitmapIndirect), QX_HOOK(gdi32, CreateDIBSection), QX_HOOK(gdi32, CreateDIBitmap),
    QX_HOOK(gdi32, CreateSolidBrush), QX_HOOK(gdi32, CreatePatternBrush), QX_HOOK(gdi32, CreateBrushIndirect),
    QX_HOOK(gdi32, CreateHatchBrush), QX_HOOK(gdi32, CreatePen), QX_HOOK(gdi32, CreatePenIndirect),
    QX_HOOK(gdi32, CreateFontIndirectA), QX_HOOK(gdi32, CreatePalette), QX_HOOK(gdi32, CreateHalftonePalette),
    QX_HOOK(gdi32, CreateRectRgn), QX_HOOK(gdi32, CreateRectRgnIndirect), QX_HOOK(gdi32, CreateEllipticRgn),
    QX_HOOK(gdi32, CreateRoundRectRgn), QX_HOOK(gdi32, CreatePolygonRgn), QX_HOOK(gdi32, DeleteObject), QX_HOOK(gdi32, DeleteDC),
    QX_HOOK(user32, GetDC), QX_HOOK(user32, GetWindowDC), QX_HOOK(user32, GetDCEx), QX_HOOK(user32, ReleaseDC),
    QX_HOOK(user32, LoadBitmapA), QX_HOOK(user32, CreateIconIndirect), QX_HOOK(user32, DestroyIcon),
    QX_HOOK(user32, DestroyCursor), QX_HOOK(user32, LoadImageA), QX_HOOK(user32, CopyImage),
    QX_HOOK(kernel32, CreateFileA), QX_HOOK(kernel32, CreateFileMappingA), QX_HOOK(kernel32, MapViewOfFile),
    QX_HOOK(kernel32, UnmapViewOfFile), QX_HOOK(kernel32, FindFirstFileA), QX_HOOK(kernel32, FindClose),
    QX_HOOK(kernel32, CloseHandle), QX_HOOK(kernel32, HeapAlloc), QX_HOOK(kernel32, HeapReAlloc),
    QX_HOOK(kernel32, HeapFree),
    QX_HOOK(advapi32, RegOpenKeyExA), QX_HOOK(advapi32, RegCreateKeyExA), QX_HOOK(advapi32, RegCloseKey),
};

void InstallOnce()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    for (HMODULE module : { ProgramModule(), BuiltDll() }) {
        if (!module)
            continue;
        for (const Hook& hook : kHooks) {
            void* previous = sim::PatchImport(module, hook.dll, hook.name, hook.fake);
            // Both modules held the same address before (the real function,
            // or the simulated driver's stand-in for it).
            if (previous && !*hook.original)
                *hook.original = previous;
            if (!previous)
                continue;
            if (!*hook.original) {
                // The other module imports it but this one did not: pass on to
                // the real function by name.
                *hook.original = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(hook.dll), hook.name));
            }
        }
    }
    // A function neither module imports keeps a null original and is never
    // called; one only the DLL imports got its original above.
}

} // namespace

LedgerCounts LiveLedgerCounts()
{
    InstallOnce();
    std::lock_guard<std::mutex> guard(g_lock);
    long counts[kKinds] = {};
    for (const auto& entry : g_live)
        ++counts[entry.first];
    return { counts[kGdi], counts[kUser], counts[kHandle], counts[kHeap] };
}

} // namespace qxtest
