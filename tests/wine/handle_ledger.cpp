#include "handle_ledger.h"

#include <mutex>
#include <set>
#include <string>
#include <tuple>

#include "qxtest.h"

namespace qxtest {

namespace {

enum Kind { kGdi, kUser, kHandle, kHeap, kKinds };
std::mutex g_lock;
std::set<std::pair<int, const void*>> g_live;
std::set<HWND> g_windows;
std::set<std::pair<HINSTANCE, std::string>> g_classes;

void Add(Kind kind, const void* h)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (h && h != INVALID_HANDLE_VALUE)
        g_live.insert({ kind, h });
}

void Remove(Kind kind, const void* h)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_live.erase({ kind, h });
}

// The ledger's recorders stay for the life of the process, on both modules;
// a ModuleLedger's (g_keep set) go with it, on its module only.
HMODULE g_only;
std::vector<std::shared_ptr<void>>* g_keep;
template <typename Fn> Recorder<Fn>& Permanent(const char* name)
{
    auto* recorder = new Recorder<Fn>(name, g_only);
    if (g_keep)
        g_keep->emplace_back(recorder);
    return *recorder;
}
template <typename Fn> void Creator(const char* name, Kind kind)
{
    Permanent<Fn>(name).observe = [kind](auto result, auto...) { Add(kind, (const void*)result); };
}
// Argument I of the destroyer names what is gone.
template <typename Fn, size_t I = 0> void Destroyer(const char* name, Kind kind)
{
    Permanent<Fn>(name).observe = [kind](auto, auto... args) { Remove(kind, (const void*)std::get<I>(std::tie(args...))); };
}
template <typename Fn> void Window(const char* name)
{
    Permanent<Fn>(name).observe = [](HWND window, auto...) { window ? (void)g_windows.insert(window) : (void)0; };
}
template <typename Fn> void Class(const char* name)
{
    Permanent<Fn>(name).observe = [](ATOM atom, auto* wc) {
        if (atom)
            g_classes.insert({ wc->hInstance, IS_INTRESOURCE(wc->lpszClassName) ? "#" + std::to_string(LOWORD(wc->lpszClassName)) : wc->lpszClassName });
    };
}
#define QX_CREATOR(fn, kind) Creator<decltype(&::fn)>(#fn, kind)
#define QX_DESTROYER(fn, kind) Destroyer<decltype(&::fn)>(#fn, kind)

void InstallCounters()
{
    QX_CREATOR(CreateCompatibleDC, kGdi), QX_CREATOR(CreateCompatibleBitmap, kGdi), QX_CREATOR(CreateBitmap, kGdi);
    QX_CREATOR(CreateBitmapIndirect, kGdi), QX_CREATOR(CreateDIBSection, kGdi), QX_CREATOR(CreateDIBitmap, kGdi);
    QX_CREATOR(CreateSolidBrush, kGdi), QX_CREATOR(CreatePatternBrush, kGdi), QX_CREATOR(CreateBrushIndirect, kGdi);
    QX_CREATOR(CreateHatchBrush, kGdi), QX_CREATOR(CreatePen, kGdi), QX_CREATOR(CreatePenIndirect, kGdi);
    QX_CREATOR(CreateFontIndirectA, kGdi), QX_CREATOR(CreatePalette, kGdi), QX_CREATOR(CreateHalftonePalette, kGdi);
    QX_CREATOR(CreateRectRgn, kGdi), QX_CREATOR(CreateRectRgnIndirect, kGdi), QX_CREATOR(CreateEllipticRgn, kGdi);
    QX_CREATOR(CreateRoundRectRgn, kGdi), QX_CREATOR(CreatePolygonRgn, kGdi), QX_CREATOR(GetDC, kGdi), QX_CREATOR(GetWindowDC, kGdi);
    QX_CREATOR(GetDCEx, kGdi), QX_CREATOR(LoadBitmapA, kGdi), QX_DESTROYER(DeleteObject, kGdi), QX_DESTROYER(DeleteDC, kGdi);
    Destroyer<decltype(&::ReleaseDC), 1>("ReleaseDC", kGdi);
    QX_CREATOR(CreateIconIndirect, kUser), QX_DESTROYER(DestroyIcon, kUser), QX_DESTROYER(DestroyCursor, kUser);
    // Shared images belong to the system; bitmaps are GDI objects, icons and
    // cursors user objects. CopyImage may hand the original back.
    Permanent<decltype(&::LoadImageA)>("LoadImageA").observe = [](HANDLE h, HINSTANCE, LPCSTR, UINT type, int, int, UINT flags) {
        if (!(flags & LR_SHARED))
            Add(type == IMAGE_BITMAP ? kGdi : kUser, h);
    };
    Permanent<decltype(&::CopyImage)>("CopyImage").observe = [](HANDLE h, HANDLE original, UINT type, int, int, UINT) {
        if (h != original)
            Add(type == IMAGE_BITMAP ? kGdi : kUser, h);
    };
    QX_CREATOR(CreateFileA, kHandle), QX_CREATOR(CreateFileMappingA, kHandle), QX_CREATOR(MapViewOfFile, kHandle);
    QX_CREATOR(FindFirstFileA, kHandle), QX_DESTROYER(UnmapViewOfFile, kHandle), QX_DESTROYER(FindClose, kHandle);
    QX_DESTROYER(CloseHandle, kHandle), QX_DESTROYER(RegCloseKey, kHandle);
    // Registry keys come back through an out parameter.
    Permanent<decltype(&::RegOpenKeyExA)>("RegOpenKeyExA").observe = [](LONG rc, HKEY, LPCSTR, DWORD, REGSAM, PHKEY out) {
        if (rc == ERROR_SUCCESS && out)
            Add(kHandle, *out);
    };
    Permanent<decltype(&::RegCreateKeyExA)>("RegCreateKeyExA").observe = [](LONG rc, HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM,
                                                                              LPSECURITY_ATTRIBUTES, PHKEY out, LPDWORD) {
        if (rc == ERROR_SUCCESS && out)
            Add(kHandle, *out);
    };
    QX_CREATOR(HeapAlloc, kHeap);
    Destroyer<decltype(&::HeapFree), 2>("HeapFree", kHeap);
    Permanent<decltype(&::HeapReAlloc)>("HeapReAlloc").observe = [](LPVOID p, HANDLE, DWORD, LPVOID block, SIZE_T) {
        if (p)
            Remove(kHeap, block), Add(kHeap, p);
    };
    Window<decltype(&::CreateWindowExA)>("CreateWindowExA"), Window<decltype(&::CreateDialogParamA)>("CreateDialogParamA");
    Window<decltype(&::CreateDialogIndirectParamA)>("CreateDialogIndirectParamA");
    Class<decltype(&::RegisterClassA)>("RegisterClassA"), Class<decltype(&::RegisterClassExA)>("RegisterClassExA");
}

// The C runtime's free has no result to record; one at a time is patched.
decltype(&::free) g_nextFree;
void CountedFree(void* block)
{
    Remove(kHeap, block);
    g_nextFree(block);
}

} // namespace

void InstallLedger()
{
    static bool installed = false;
    if (!std::exchange(installed, true))
        InstallCounters();
}

ModuleLedger::ModuleLedger(HMODULE module) : module_(module)
{
    g_only = module;
    g_keep = &recorders_;
    InstallCounters();
    // What a C runtime or thread emulation linked into the module makes.
    QX_CREATOR(CreateEventA, kHandle), QX_CREATOR(CreateSemaphoreA, kHandle);
    Permanent<decltype(&::DuplicateHandle)>("DuplicateHandle").observe = [](BOOL ok, HANDLE, HANDLE, HANDLE, LPHANDLE out, DWORD, BOOL, DWORD) {
        if (ok && out)
            Add(kHandle, *out);
    };
    QX_CREATOR(LocalAlloc, kHeap), QX_DESTROYER(LocalFree, kHeap), QX_CREATOR(malloc, kHeap), QX_CREATOR(calloc, kHeap);
    Permanent<decltype(&::realloc)>("realloc").observe = [](void* p, void* block, size_t) {
        if (p)
            Remove(kHeap, block), Add(kHeap, p);
    };
    g_nextFree = reinterpret_cast<decltype(&::free)>(sim::PatchImport(module, nullptr, "free", reinterpret_cast<void*>(&CountedFree)));
    g_only = nullptr;
    g_keep = nullptr;
}

ModuleLedger::~ModuleLedger()
{
    if (g_nextFree)
        sim::PatchImport(module_, nullptr, "free", reinterpret_cast<void*>(g_nextFree));
    g_nextFree = nullptr;
}

ResourceCounts CurrentCounts()
{
    InstallLedger();
    std::lock_guard<std::mutex> guard(g_lock);
    DWORD counts[kKinds] = {};
    for (const auto& entry : g_live)
        ++counts[entry.first];
    ResourceCounts c = { counts[kGdi], counts[kUser], counts[kHandle], counts[kHeap] };
    for (auto it = g_windows.begin(); it != g_windows.end();)
        it = IsWindow(*it) ? (++c.windows, ++it) : g_windows.erase(it);
    for (const auto& [instance, name] : g_classes) {
        WNDCLASSEXA wc = { sizeof wc };
        c.classes += GetClassInfoExA(instance, name[0] == '#' ? MAKEINTRESOURCEA(atoi(name.c_str() + 1)) : name.c_str(), &wc) ? 1 : 0;
    }
    return c;
}

void PrintTo(const ResourceCounts& c, std::ostream* os)
{
    *os << "{gdi " << c.gdi << ", user " << c.user << ", handles " << c.handles << ", heap " << c.heap << ", windows " << c.windows
        << ", classes " << c.classes << "}";
}

} // namespace qxtest
