// Shared helpers of the Wine tests.
//
// The test program is linked with the module's own objects, so tests can call
// internal operations directly; the simulated driver is patched into this
// program's import table (and into the built DLL's, for tests that go through
// the exports). Resources live only in the DLL: tests that need them point
// g_hInstance at the loaded DLL (ModuleWithResources).
#pragma once
#include <windows.h>

#include <prsht.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "iat_patch.h"
#include "simdriver.h"

namespace qxtest {

// This test program: the module's code linked in.
HMODULE ProgramModule();
// QXTINTRA.dll from the build directory, loaded once and kept loaded.
HMODULE BuiltDll();
// Directory of the test program, with a trailing backslash.
std::string ProgramDir();
// A fresh, empty temporary directory for one test (removed by the caller via
// RemoveTree, or left for inspection on failure).
std::string MakeTempDir(const char* tag);
void RemoveTree(const std::string& dir);
bool WriteFileBytes(const std::string& path, const void* data, size_t size);
// A 24-bit BMP file (bottom-up rows as stored); pixel(x, y) counts y from the top.
std::vector<BYTE> Bmp24File(int width, int height, const std::function<COLORREF(int x, int y)>& pixel);

// A host's add-page callback that collects the pages into the
// std::vector<HPROPSHEETPAGE> its parameter points at, and says yes.
BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages);
// Shows the pages in a modeless property sheet, as a host would; null when
// the sheet could not be made.
HWND OpenSheet(std::vector<HPROPSHEETPAGE>& pages);
// Dispatches what is queued for this thread's windows.
void PumpMessages();
// Top-level windows of this thread (a leak check for windows the page owns).
int ThreadWindowCount();

// Puts the module's driver-facing globals back as they are at load.
void ResetModuleState();

// What the module's code (and the test's own) holds right now, for leak
// checks around an operation: GDI objects and DCs, icons and cursors, kernel
// handles with registry keys and mapped views, and heap blocks. Counted by
// patching both modules' import tables (handle_ledger.h).
struct ResourceCounts {
    DWORD gdi;
    DWORD user;
    DWORD handles;
    DWORD heap;
};
ResourceCounts CurrentCounts();

// A test whose module talks to a fresh simulated driver. The driver is patched
// into the test program and into the built DLL.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    sim::Driver& driver() { return sim::Driver::Instance(); }
    // A driver that serves the page: both escapes, a chip of the family.
    void ConfigureSupportedDriver(DWORD family = 15);
};

// Replaces MessageBoxA in both modules by a recorder that answers IDOK at
// once, so no dialog ever waits for a user.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    struct Box {
        HWND owner;
        std::string text;
        std::string caption;
        UINT type;
    };
    static std::vector<Box>& boxes();

private:
    sim::ImportPatch program_;
    sim::ImportPatch dll_;
};

} // namespace qxtest
