// Import-table patching: replaces the address a loaded module calls for one
// of its imports. The simulated display driver installs itself this way, and
// tests use it to watch or fail any other import. The module itself knows
// nothing of it and calls the real APIs.
#pragma once
#include <windows.h>

namespace sim {

// Replaces `function` imported from `dll` (any letter case; null: from
// whichever DLL names it) by `replacement` in `module`'s import table. Returns the previous address, or null when the
// module does not import that function.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// Keeps a patch for its lifetime and puts the old address back at the end.
class ImportPatch {
public:
    ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    bool installed() const { return original_ != nullptr; }
    void* original() const { return original_; }

private:
    HMODULE module_;
    const char* dll_;
    const char* function_;
    void* original_;
};

} // namespace sim
