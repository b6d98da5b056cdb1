// The image front end: finds a picture's bytes (a resource of the module or
// a file named in the configuration), decodes it with the decoder of its type,
// and hands back a screen bitmap or the decoder's DIB section.
//
// Everything a load acquires (resource, view, mapping, file, heap buffer,
// DC, palette) is held by an owner and let go before the call returns.
#include "imaging/imaging.h"

#include "common/raii.h"

#include <cstring>

namespace {

struct ResourceType {
    LPCSTR type;
    WORD code;
};

// The first type under which the module holds the name decides.
const ResourceType kResourceTypes[] = {
    { "PNG", IMG_TYPE_PNG },
    { RT_BITMAP, IMG_TYPE_BMP },
    { "JPG", IMG_TYPE_JPEG },
};

// The encoded bytes of one picture, from a resource or from a file, released
// as their APIs require.
class PictureBytes {
public:
    PictureBytes() = default;
    PictureBytes(const PictureBytes&) = delete;
    PictureBytes& operator=(const PictureBytes&) = delete;
    ~PictureBytes() { Release(); }

    bool FromResource(HMODULE module, LPCSTR name)
    {
        HRSRC found = Img_FindResource(module, name, &type_);
        if (!found)
            return false;
        resource_ = LoadResource(module, found);
        if (!resource_)
            return false;
        size_ = SizeofResource(module, found);
        data_ = static_cast<const BYTE*>(LockResource(resource_));
        return data_ != nullptr;
    }

    bool FromFile(LPCSTR path)
    {
        data_ = Img_OpenFile(path, &type_, &size_, &mapping_, &file_, &mapped_);
        return data_ != nullptr;
    }

    void Release()
    {
        if (resource_) {
            FreeResource(resource_);
        } else if (data_ && mapped_) {
            UnmapViewOfFile(data_);
            CloseHandle(mapping_);
            CloseHandle(file_);
        } else if (data_) {
            HeapFree(GetProcessHeap(), 0, const_cast<BYTE*>(data_));
        }
        resource_ = nullptr;
        data_ = nullptr;
    }

    const BYTE* data() const { return data_; }
    DWORD size() const { return size_; }
    WORD type() const { return type_; }
    bool isResource() const { return resource_ != nullptr; }

private:
    HGLOBAL resource_ = nullptr;
    const BYTE* data_ = nullptr;
    DWORD size_ = 0;
    WORD type_ = IMG_TYPE_UNKNOWN;
    HANDLE mapping_ = nullptr;
    HANDLE file_ = nullptr;
    BOOL mapped_ = FALSE;
};

// Steps shared by every loader: the window DC, the decode, the bytes let go.
HBITMAP DecodeBytes(PictureBytes& bytes, HDC dc, IMG_INFO* info)
{
    ZeroMemory(info, sizeof *info);
    info->cbData = bytes.size();
    HBITMAP dib = Img_Decode(dc, bytes.type(), bytes.data(), info);
    bytes.Release();
    return dib;
}

void FreeInfo(IMG_INFO* info)
{
    HeapFree(GetProcessHeap(), 0, info->pLogPalette);
    HeapFree(GetProcessHeap(), 0, info->pBitmapInfo);
    info->pLogPalette = nullptr;
    info->pBitmapInfo = nullptr;
}

// A device-dependent bitmap for the window's DC, made from the decoded DIB
// with the picture's palette realised meanwhile (as a background palette for
// resources, a foreground one for files).
HBITMAP MakeScreenBitmap(HWND hwnd, PictureBytes& bytes, LOGPALETTE* palette)
{
    qx::WindowDC dc(hwnd, true);
    if (!dc)
        return nullptr;
    const bool resource = bytes.isResource();
    IMG_INFO info;
    qx::GdiObject dib(DecodeBytes(bytes, dc.get(), &info));
    if (!dib) {
        FreeInfo(&info);
        return nullptr;
    }
    qx::GdiObject pal;
    HPALETTE previous = nullptr;
    if (info.pLogPalette) {
        pal.reset(CreatePalette(info.pLogPalette));
        if (pal) {
            previous = SelectPalette(dc.get(), static_cast<HPALETTE>(pal.get()), resource ? TRUE : FALSE);
            RealizePalette(dc.get());
        }
    }
    HBITMAP bitmap = CreateDIBitmap(dc.get(), &info.pBitmapInfo->bmiHeader, CBM_INIT, info.pBits, info.pBitmapInfo,
                                    DIB_RGB_COLORS);
    if (pal) {
        SelectPalette(dc.get(), previous, TRUE);
        pal.reset();
    }
    if (palette) {
        if (info.pLogPalette && bitmap) {
            // Resources report the palette's own count, files the decoder's;
            // both are the same number. The caller's block holds 256 entries.
            DWORD n = resource ? info.pLogPalette->palNumEntries : info.nColors;
            if (n > 256)
                n = 256;
            CopyMemory(palette, info.pLogPalette, 4 * n + 8);
        } else if (!info.pLogPalette) {
            palette->palVersion = 0;
            palette->palNumEntries = 0;
        }
    }
    FreeInfo(&info);
    return bitmap;
}

HBITMAP MakeDib(HWND hwnd, PictureBytes& bytes, IMG_INFO* info)
{
    qx::WindowDC dc(hwnd, true);
    if (!dc) {
        ZeroMemory(info, sizeof *info);
        return nullptr;
    }
    return DecodeBytes(bytes, dc.get(), info);
}

} // namespace

HRSRC Img_FindResource(HMODULE module, LPCSTR name, WORD* type)
{
    for (const ResourceType& t : kResourceTypes) {
        HRSRC found = FindResourceA(module, name, t.type);
        if (found) {
            if (type)
                *type = t.code;
            return found;
        }
    }
    return nullptr;
}

const BYTE* Img_OpenFile(LPCSTR path, WORD* type, DWORD* size, HANDLE* mapping, HANDLE* file, BOOL* mapped)
{
    *mapping = nullptr;
    *file = nullptr;
    *mapped = FALSE;
    *size = 0;
    *type = Img_GetTypeFromExtension(path);
    if (*type == IMG_TYPE_UNKNOWN)
        return nullptr;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return nullptr;
    FindClose(search);
    // Files of 4 GB and more are no pictures of this module.
    if (found.nFileSizeHigh != 0 || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    qx::FileHandle handle(
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle)
        return nullptr;
    // The size comes from the directory entry; should the file have shrunk
    // since, the data handed to the decoder must still lie inside the file.
    DWORD bytes = found.nFileSizeLow;
    DWORD actual = GetFileSize(handle.get(), nullptr);
    if (actual != INVALID_FILE_SIZE && actual < bytes)
        bytes = actual;

    qx::KernelHandle section(CreateFileMappingA(handle.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (section) {
        const void* view = MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0);
        if (view) {
            *size = bytes;
            *mapped = TRUE;
            *mapping = section.release();
            *file = handle.release();
            return static_cast<const BYTE*>(view);
        }
    }
    section.reset();
    // No mapping (an empty file has none): one read into a heap buffer.
    qx::HeapBlock buffer(HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1));
    DWORD read = 0;
    if (!buffer || !ReadFile(handle.get(), buffer.get(), bytes, &read, nullptr) || read != bytes)
        return nullptr;
    *size = bytes;
    return static_cast<const BYTE*>(buffer.release());
}

HBITMAP Img_LoadBitmap(HMODULE module, LPCSTR name) { return Img_LoadBitmapEx(nullptr, module, name, nullptr); }

HBITMAP Img_LoadBitmapEx(HWND hwnd, HMODULE module, LPCSTR name, LOGPALETTE* palette)
{
    if (palette)
        palette->palNumEntries = 0;
    PictureBytes bytes;
    if (!bytes.FromResource(module, name))
        return nullptr;
    return MakeScreenBitmap(hwnd, bytes, palette);
}

HBITMAP Img_LoadBitmapFromFile(LPCSTR path) { return Img_LoadBitmapFromFileEx(nullptr, path, nullptr); }

HBITMAP Img_LoadBitmapFromFileEx(HWND hwnd, LPCSTR path, LOGPALETTE* palette)
{
    if (palette)
        palette->palNumEntries = 0;
    PictureBytes bytes;
    if (!bytes.FromFile(path))
        return nullptr;
    return MakeScreenBitmap(hwnd, bytes, palette);
}

HBITMAP Img_LoadDib(HWND hwnd, HMODULE module, LPCSTR name, IMG_INFO* info)
{
    ZeroMemory(info, sizeof *info);
    PictureBytes bytes;
    if (!bytes.FromResource(module, name))
        return nullptr;
    return MakeDib(hwnd, bytes, info);
}

HBITMAP Img_LoadDibFromFile(HWND hwnd, LPCSTR path, IMG_INFO* info)
{
    ZeroMemory(info, sizeof *info);
    PictureBytes bytes;
    if (!bytes.FromFile(path))
        return nullptr;
    return MakeDib(hwnd, bytes, info);
}
