#include "iat_patch.h"

namespace sim {

namespace {

void** FindImportSlot(HMODULE module, const char* dll, const char* function)
{
    // A module unloaded since it was patched has no import table to put back.
    HMODULE loaded = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(module), &loaded) || loaded != module)
        return nullptr;
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return nullptr;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return nullptr;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (dll && lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

} // namespace

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement)
{
    void** slot = FindImportSlot(module, dll, function);
    if (!slot)
        return nullptr;
    DWORD oldProtect;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &oldProtect))
        return nullptr;
    void* previous = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, oldProtect, &oldProtect);
    return previous;
}

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement)
    : module_(module), dll_(dll), function_(function), original_(PatchImport(module, dll, function, replacement))
{
}

ImportPatch::~ImportPatch()
{
    if (original_)
        PatchImport(module_, dll_, function_, original_);
}

} // namespace sim
