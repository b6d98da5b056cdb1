// Small owners for the handles the module opens, so that no early return
// leaks one. Each closes its handle the way its API requires.
#pragma once
#include <windows.h>

namespace qx {

template <typename Traits>
class Owner {
public:
    using Handle = typename Traits::Handle;
    Owner() = default;
    explicit Owner(Handle h) : h_(h) {}
    ~Owner() { reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& o) noexcept : h_(o.release()) {}
    Owner& operator=(Owner&& o) noexcept
    {
        if (this != &o)
            reset(o.release());
        return *this;
    }

    Handle get() const { return h_; }
    explicit operator bool() const { return Traits::IsValid(h_); }
    Handle release()
    {
        Handle h = h_;
        h_ = Traits::Invalid();
        return h;
    }
    void reset(Handle h = Traits::Invalid())
    {
        if (Traits::IsValid(h_))
            Traits::Close(h_);
        h_ = h;
    }
    // For APIs that hand a handle back through a pointer.
    Handle* put()
    {
        reset();
        return &h_;
    }

private:
    Handle h_ = Traits::Invalid();
};

template <typename H>
struct NullIsInvalid {
    using Handle = H;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
};

struct HeapBlockTraits : NullIsInvalid<void*> {
    static void Close(void* p) { HeapFree(GetProcessHeap(), 0, p); }
};
using HeapBlock = Owner<HeapBlockTraits>;

inline void* HeapAllocZero(SIZE_T bytes) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

#ifdef _WIN32
struct DcTraits : NullIsInvalid<HDC> {
    static void Close(HDC dc) { DeleteDC(dc); }
};
// A DC from CreateDCA or CreateCompatibleDC.
using OwnedDC = Owner<DcTraits>;

struct GdiTraits : NullIsInvalid<HGDIOBJ> {
    static void Close(HGDIOBJ o) { DeleteObject(o); }
};
using GdiObject = Owner<GdiTraits>;

struct RegKeyTraits : NullIsInvalid<HKEY> {
    static void Close(HKEY k) { RegCloseKey(k); }
};
using RegKey = Owner<RegKeyTraits>;

struct KernelHandleTraits : NullIsInvalid<HANDLE> {
    static void Close(HANDLE h) { CloseHandle(h); }
};
using KernelHandle = Owner<KernelHandleTraits>;

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
using FileHandle = Owner<FileHandleTraits>;

// A DC from GetDC / GetWindowDC, given back with ReleaseDC.
class WindowDC {
public:
    WindowDC(HWND hwnd, bool whole) : hwnd_(hwnd), dc_(whole ? GetWindowDC(hwnd) : GetDC(hwnd)) {}
    ~WindowDC()
    {
        if (dc_)
            ReleaseDC(hwnd_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND hwnd_;
    HDC dc_;
};

// Selects an object into a DC for the lifetime of the guard.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
    ~SelectGuard()
    {
        if (old_)
            SelectObject(dc_, old_);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Sets a DC's stretch mode for the lifetime of the guard.
class StretchModeGuard {
public:
    StretchModeGuard(HDC dc, int mode) : dc_(dc), old_(SetStretchBltMode(dc, mode)) {}
    ~StretchModeGuard()
    {
        if (old_)
            SetStretchBltMode(dc_, old_);
    }
    StretchModeGuard(const StretchModeGuard&) = delete;
    StretchModeGuard& operator=(const StretchModeGuard&) = delete;

private:
    HDC dc_;
    int old_;
};

// Selects a palette into a DC (as a background palette) for the lifetime of
// the guard, and puts the DC's previous palette back. A null palette or DC
// selects nothing.
class PaletteSelection {
public:
    PaletteSelection(HDC dc, HPALETTE palette, bool realize)
        : dc_(dc), old_(dc && palette ? SelectPalette(dc, palette, TRUE) : nullptr)
    {
        if (old_ && realize)
            RealizePalette(dc_);
    }
    ~PaletteSelection()
    {
        if (old_)
            SelectPalette(dc_, old_, TRUE);
    }
    PaletteSelection(const PaletteSelection&) = delete;
    PaletteSelection& operator=(const PaletteSelection&) = delete;

private:
    HDC dc_;
    HPALETTE old_;
};
#endif

} // namespace qx
