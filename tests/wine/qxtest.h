// The Wine tests' harness. The test program is linked with the module's own
// objects, so tests call internal operations directly; resources live only in
// the built DLL, so g_hInstance points at it. Before any test runs, main()
// installs into the import tables of both the program and QXTINTRA.dll: the
// simulated display driver (ExtEscape, CreateDCA, DeleteDC), a MessageBoxA
// that records and answers IDOK at once, and the leak ledger. Everything else
// a test wants to see or change of the module's calls goes through a Recorder.
#pragma once
#include <windows.h>

#include <prsht.h>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "iat_patch.h"
#include "simdriver.h"

namespace qxtest {

HMODULE ProgramModule();  // the test program, which holds the module's code
HMODULE BuiltDll();       // QXTINTRA.dll from the build directory, loaded once

// ---- the import recorder -------------------------------------------------------
// Replaces `function` (imported from any DLL) in the import tables of the test
// program and of the built DLL (or only of `only`) while it lives, and puts the
// previous address back at the end. Every call is counted; then it fails when
// Fail chose its number (`value` comes back, nothing runs), or else `answer`
// stands in for the import when set (it may call Next), or else the call goes
// on to what the slot held (the real function, the simulated driver, the
// ledger); `observe` sees the result with the arguments. The recorder made
// last is called first.
//
//   qxtest::Recorder<decltype(&RegOpenKeyExA)> open("RegOpenKeyExA");
//   open.observe = [&](LONG rc, HKEY, LPCSTR sub, DWORD, REGSAM, PHKEY) { seen.push_back(sub); };
//   open.Fail(2, ERROR_ACCESS_DENIED);        // the second call and every later one
//   open.Fail(3, ERROR_ACCESS_DENIED, true);  // only the third
template <typename Fn> class Recorder;

template <typename R, typename... A> class Recorder<R(WINAPI*)(A...)> {
    static_assert(!std::is_void_v<R>, "imports without a result are not recorded");

public:
    using Fn = R(WINAPI*)(A...);
    explicit Recorder(const char* function, HMODULE only = nullptr) : function_(function)
    {
        for (int s = 0; s < kSlots && slot_ < 0; ++s)
            slot_ = active_[s] ? -1 : s;
        if (slot_ < 0)
            return;
        active_[slot_] = this;
        const HMODULE modules[2] = { only ? only : ProgramModule(), only ? nullptr : BuiltDll() };
        for (int m = 0; m < 2; ++m) {
            // Both modules held the same address before: the real function or
            // whatever the harness installed under this recorder.
            if ((modules_[m] = modules[m]))
                previous_[m] = reinterpret_cast<Fn>(sim::PatchImport(modules[m], nullptr, function, reinterpret_cast<void*>(Thunk(slot_))));
            next_ = next_ ? next_ : previous_[m];
        }
        if (!next_)
            active_[slot_] = nullptr;
    }
    ~Recorder()
    {
        for (int m = 0; m < 2; ++m)
            if (previous_[m])
                sim::PatchImport(modules_[m], nullptr, function_, reinterpret_cast<void*>(previous_[m]));
        if (next_)
            active_[slot_] = nullptr;
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // False when neither module imports the function (or too many recorders
    // of this signature are alive).
    bool installed() const { return next_ != nullptr; }
    // The call numbered `nth` (1: the first since the recorder was made)
    // answers `value`; so do all later ones unless `onlyThat`.
    void Fail(int nth, R value, bool onlyThat = false) { failFrom_ = nth, failOnly_ = onlyThat, failValue_ = value; }
    // What the slot held before: the function this recorder stands in front of.
    R Next(A... a) const { return next_(a...); }

    int calls = 0;
    std::function<void(R result, A... args)> observe;
    std::function<R(A... args)> answer;

private:
    static constexpr int kSlots = 8;
    static inline Recorder* active_[kSlots];
    template <int S> static R WINAPI Trampoline(A... a) { return active_[S]->Call(a...); }
    template <int... S> static Fn Thunk(int slot, std::integer_sequence<int, S...>)
    {
        static const Fn thunks[] = { &Trampoline<S>... };
        return thunks[slot];
    }
    static Fn Thunk(int slot) { return Thunk(slot, std::make_integer_sequence<int, kSlots>()); }
    R Call(A... a)
    {
        const int n = ++calls;
        const bool fail = failFrom_ > 0 && (failOnly_ ? n == failFrom_ : n >= failFrom_);
        R result = fail ? failValue_ : answer ? answer(a...) : next_(a...);
        if (observe)
            observe(result, a...);
        return result;
    }

    const char* function_;
    HMODULE modules_[2] = {};
    Fn previous_[2] = {}, next_ = nullptr;
    int slot_ = -1, failFrom_ = 0;
    bool failOnly_ = false;
    R failValue_ {};
};

// ---- the leak ledger (handle_ledger.cpp) ----------------------------------------
// Wine answers GetGuiResources and GetProcessHandleCount with 0, so what the
// module's code (and the test's own) holds is counted by permanent recorders on
// every creator and destroyer: GDI objects and DCs, icons and cursors, kernel
// handles with registry keys, mapped views and find handles, heap blocks; and
// the windows and window classes made through the imports that still exist.
struct ResourceCounts {
    DWORD gdi, user, handles, heap;
    DWORD windows = 0, classes = 0;
    bool operator==(const ResourceCounts&) const = default;
};
void PrintTo(const ResourceCounts& c, std::ostream* os);
ResourceCounts CurrentCounts();
bool InstallHarness();  // main() calls it once

// ---- files, registry, windows, sheets --------------------------------------------
std::string ProgramDir();  // with a trailing backslash
// A fresh, empty temporary directory (no trailing backslash), for RemoveTree.
std::string MakeTempDir(const char* tag);
void RemoveTree(const std::string& dir);
bool WriteFileBytes(const std::string& path, const void* data, size_t size);
// A 24-bit BMP file; pixel(x, y) counts y from the top.
std::vector<BYTE> Bmp24File(int width, int height, const std::function<COLORREF(int x, int y)>& pixel);
// Bytes of a resource of the built DLL (empty when it has none).
std::vector<BYTE> DllResource(int id, LPCSTR type);
// Registry values below `root`: the key is made on demand (no value without
// a name); `bytes` are stored as given, SetRegText adds the terminator.
void SetReg(HKEY root, const std::string& key, const char* name, DWORD type, const std::string& bytes);
void SetRegText(HKEY root, const std::string& key, const char* name, const std::string& text);
void DeleteRegTree(HKEY root, const std::string& key);

// A host's add-page callback that collects the pages into the
// std::vector<HPROPSHEETPAGE> its parameter points at, and says yes.
BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages);
// Shows the pages in a modeless property sheet, as a host would.
HWND OpenSheet(std::vector<HPROPSHEETPAGE>& pages);
void PumpMessages();
int ThreadWindowCount();  // top-level windows of this thread
void ResetModuleState();  // the module's driver-facing globals as at load

// Plays a Windows version to GetVersionExA while it lives, and notes the
// structure sizes it was asked with.
struct PlayWindows {
    PlayWindows();
    DWORD platform = VER_PLATFORM_WIN32_NT, major = 5, minor = 1, build = 2600;
    const char* csd = "";
    WORD servicePack = 0;
    bool extendedFails = false, basicFails = false;  // extended: a system that knows only the basic structure
    std::vector<DWORD> sizesAsked;
    Recorder<decltype(&GetVersionExA)> recorder { "GetVersionExA" };
};

// ---- fixtures ------------------------------------------------------------------

// A test whose module talks to a fresh simulated driver.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    sim::Driver& driver() { return sim::Driver::Instance(); }
    // A driver that serves the page: both escapes, a chip of the family.
    void ConfigureSupportedDriver(DWORD family = 15);
    // Every request since the records were last cleared, described
    // ("GET_MAX_LEVEL effect=0x8 -> 1"); only those of `escape` unless 0.
    std::vector<std::string> Requests(int escape = 0);
};

// The boxes the module showed (recorded by the harness, answered IDOK).
class MessageBoxRecorder {
public:
    MessageBoxRecorder() { boxes().clear(); }
    ~MessageBoxRecorder() { boxes().clear(); }
    struct Box {
        HWND owner;
        std::string text, caption;
        UINT type;
    };
    static std::vector<Box>& boxes();
};

} // namespace qxtest

inline std::ostream& operator<<(std::ostream& os, const qxtest::ResourceCounts& c) { return qxtest::PrintTo(c, &os), os; }
