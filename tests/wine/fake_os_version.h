// Plays a Windows version to the module: replaces GetVersionExA in the test
// program's import table (the module's code is linked into it) by an answer
// from a description, and records the structure sizes it was asked with.
#pragma once
#include <windows.h>

#include <vector>

#include "iat_patch.h"
#include "qxtest.h"

namespace qxtest {

struct FakeWindows {
    DWORD platform = VER_PLATFORM_WIN32_NT;
    DWORD major = 5;
    DWORD minor = 1;
    DWORD build = 2600;
    const char* csd = "";
    WORD servicePackMajor = 0;
    bool extendedFails = false;  // a system that knows only the basic structure
    bool basicFails = false;
    std::vector<DWORD> sizesAsked;
};

class FakeVersionPatch {
public:
    explicit FakeVersionPatch(FakeWindows& windows)
        : patch_(ProgramModule(), "kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&Answer))
    {
        current_ = &windows;
    }
    ~FakeVersionPatch() { current_ = nullptr; }
    FakeVersionPatch(const FakeVersionPatch&) = delete;
    FakeVersionPatch& operator=(const FakeVersionPatch&) = delete;
    bool installed() const { return patch_.installed(); }

private:
    static BOOL WINAPI Answer(OSVERSIONINFOA* info)
    {
        FakeWindows& w = *current_;
        DWORD size = info->dwOSVersionInfoSize;
        w.sizesAsked.push_back(size);
        bool extended = size == sizeof(OSVERSIONINFOEXA);
        if (extended ? w.extendedFails : (size != sizeof(OSVERSIONINFOA) || w.basicFails)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        info->dwPlatformId = w.platform;
        info->dwMajorVersion = w.major;
        info->dwMinorVersion = w.minor;
        info->dwBuildNumber = w.build;
        lstrcpynA(info->szCSDVersion, w.csd, sizeof info->szCSDVersion);
        if (extended)
            reinterpret_cast<OSVERSIONINFOEXA*>(info)->wServicePackMajor = w.servicePackMajor;
        return TRUE;
    }

    static inline FakeWindows* current_;
    sim::ImportPatch patch_;
};

} // namespace qxtest
