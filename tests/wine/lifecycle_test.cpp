// The module as its hosts use it for their whole life: loaded and unloaded
// again, initialised again within one load, by both roads, and with every
// creation call it makes failing once in turn. Each load maps a copy of
// QXTINTRA.dll (the harness keeps the original loaded), so that FreeLibrary
// really unloads it; the harness's driver and message boxes are wired into
// the copy, and the ledger counts through the copy's imports.
#include "qxtest.h"

#include <shlobj.h>

#include <memory>
#include <set>

#include "handle_ledger.h"
#include "hosting/module.h"
#include "hosting/shell_extension.h"
#include "resource.h"

namespace {

using qxtest::Recorder;

// The skin keys below HKLM\Software\Qx are read from a key of this test's own
// below HKCU instead, so that suites running beside it never see its values.
const std::string kSkinBase = "Software\\QxTintraLifecycle" + std::to_string(GetCurrentProcessId());

void SetSkin(const char* value, const std::string& text)
{
    RegSetKeyValueA(HKEY_CURRENT_USER, (kSkinBase + "\\Qx\\QxTintra").c_str(), value, REG_SZ, text.c_str(), DWORD(text.size() + 1));
}

// One load of the copy, with the harness and the skin redirection in its import table.
class Load {
public:
    explicit Load(const std::string& path) : module(LoadLibraryA(path.c_str()))
    {
        if (!module)
            return;
        // The copy calls what the harness put into the built DLL's slots.
        for (const char* f : { "ExtEscape", "CreateDCA", "DeleteDC", "MessageBoxA" }) {
            void* harness = sim::PatchImport(qxtest::BuiltDll(), nullptr, f, nullptr);
            sim::PatchImport(qxtest::BuiltDll(), nullptr, f, harness);
            patches_.push_back(std::make_unique<sim::ImportPatch>(module, nullptr, f, harness));
        }
        ledger_ = std::make_unique<qxtest::ModuleLedger>(module);
        skin_ = std::make_unique<Recorder<decltype(&RegOpenKeyExA)>>("RegOpenKeyExA", module);
        skin_->answer = [this](HKEY root, LPCSTR sub, DWORD options, REGSAM access, PHKEY out) {
            if (root == HKEY_LOCAL_MACHINE && sub && (!lstrcmpiA(sub, "Software") || !_strnicmp(sub, "Software\\Qx", 11)))
                return skin_->Next(HKEY_CURRENT_USER, (kSkinBase + (sub + 8)).c_str(), options, access, out);
            return skin_->Next(root, sub, options, access, out);
        };
    }
    // Unloaded with the ledger in place, which so counts what the library entry
    // gives back; the patches then find no import table to restore.
    ~Load() { FreeLibrary(module); }
    template <typename Fn> Fn Export(const char* name) const { return reinterpret_cast<Fn>(GetProcAddress(module, name)); }

    const HMODULE module;
private:
    std::vector<std::unique_ptr<sim::ImportPatch>> patches_;
    std::unique_ptr<qxtest::ModuleLedger> ledger_;
    std::unique_ptr<Recorder<decltype(&RegOpenKeyExA)>> skin_;
};

enum class Road { Utility, Shell };

// Opens the page by one road as its host does, lets it paint (with `modeChange`
// repaints it and changes the display mode), closes it and lets go. "shown": the
// page with its picture controls; "empty": a page whose dialog could not be
// built; "refused": no page; "stray post": the page posted to no window.
std::string Cycle(const Load& load, Road road, LPCSTR device = nullptr, bool modeChange = true)
{
    std::vector<HPROPSHEETPAGE> pages;
    const LPARAM collect = reinterpret_cast<LPARAM>(&pages);
    IShellExtInit* handler = nullptr;
    if (road == Road::Utility) {
        char name[128];
        QX_UTILITY_INFO info = { QX_UTILITY_INFO_STAMP };
        if (load.Export<decltype(&QxUtilityInit)>("QxUtilityInit")(0, device, name, &info) == QX_INIT_OK)
            load.Export<decltype(&QxUtilityAddPages)>("QxUtilityAddPages")(device, qxtest::CollectPage, collect, &info);
    } else {
        IClassFactory* factory = nullptr;
        IShellPropSheetExt* sheetExt = nullptr;
        load.Export<decltype(&DllGetClassObject)>("DllGetClassObject")(CLSID_QxTintraPropSheet, IID_IClassFactory,
            reinterpret_cast<void**>(&factory));
        if (factory && SUCCEEDED(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&handler)))
            && SUCCEEDED(handler->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&sheetExt))))
            handler->Initialize(nullptr, nullptr, nullptr), sheetExt->AddPages(qxtest::CollectPage, collect), sheetExt->Release();
        if (factory)
            factory->Release();
    }
    std::string outcome = pages.empty() ? "refused" : "empty";
    if (!pages.empty()) {
        HWND sheet = qxtest::OpenSheet(pages);
        HWND page = sheet ? PropSheet_GetCurrentPageHwnd(sheet) : nullptr;
        char preview[16] = "";
        if (page && GetClassNameA(GetDlgItem(page, IDC_EFFECT_PREVIEW), preview, sizeof preview) && !lstrcmpA(preview, "QxUtlBmp"))
            outcome = "shown";
        if (page && modeChange) {
            RedrawWindow(sheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            // The pictures are loaded again for the new mode; whatever the
            // page posts must reach a window, not the thread's queue.
            SendMessageA(page, WM_DISPLAYCHANGE, 32, MAKELPARAM(1280, 1024));
            if (MSG stray; PeekMessageA(&stray, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
                outcome = "stray post";
        }
        DestroyWindow(sheet);
        qxtest::PumpMessages();
    }
    if (road == Road::Utility)
        load.Export<decltype(&QxUtilityUnInit)>("QxUtilityUnInit")(0);
    else if (handler)
        handler->Release();
    if (road == Road::Shell)
        EXPECT_EQ(load.Export<decltype(&DllCanUnloadNow)>("DllCanUnloadNow")(), S_OK);
    return outcome;
}

class LifecycleTest : public qxtest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ConfigureSupportedDriver();
        dir_ = qxtest::MakeTempDir("lifecycle");
        copy_ = dir_ + "\\qxlife.dll";
        ASSERT_TRUE(CopyFileA((qxtest::ProgramDir() + "QXTINTRA.dll").c_str(), copy_.c_str(), FALSE));
        // An OEM's background and logo files: read, mapped, decoded at every opening.
        for (auto [value, id, type] : { std::tuple{ "Background", IDB_BKGND_LUSTRE, "PNG" }, { "OEMLogo", IDB_EF_NONE, "JPG" } }) {
            const std::string file = dir_ + "\\" + value + "." + type;
            const std::vector<BYTE> bytes = qxtest::DllResource(id, type);
            ASSERT_TRUE(qxtest::WriteFileBytes(file, bytes.data(), bytes.size()));
            SetSkin(value, file);
        }
        SetSkin("UiStyle", "Lustre");
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kSkinBase.c_str()), qxtest::RemoveTree(dir_), DriverTest::TearDown(); }
    std::string dir_, copy_;
};

// Ten loads, as a shell process loads and unloads its handlers; in each the host utility opens the page
// twice (initialised again after QxUtilityUnInit, the second time "Classic")
// and the shell once. The utility's request without a name stays on the device
// it named last; the shell's is for the primary display ("").
TEST_F(LifecycleTest, LoadsInTurnLeaveNothingBehind)
{
    const struct Round { Road road; const char* style; LPCSTR device; const char* opened; } rounds[] = {
        { Road::Utility, "Lustre", "\\\\.\\DISPLAY2", "\\\\.\\DISPLAY2" },
        { Road::Utility, "Classic", nullptr, "\\\\.\\DISPLAY2" },
        { Road::Shell, "Lustre", nullptr, "" },
    };
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();
    const int windows = qxtest::ThreadWindowCount();
    for (int n = 1; n <= 10; ++n) {
        SCOPED_TRACE("load " + std::to_string(n));
        {
            Load load(copy_);
            ASSERT_NE(load.module, nullptr);
            for (const Round& r : rounds) {
                SCOPED_TRACE("round " + std::to_string(&r - rounds));
                SetSkin("UiStyle", r.style);
                driver().dcOpened.clear();
                EXPECT_EQ(Cycle(load, r.road, r.device), "shown");
                EXPECT_EQ(std::set<std::string>(driver().dcOpened.begin(), driver().dcOpened.end()), std::set<std::string>{ r.opened });
            }
        }
        EXPECT_EQ(qxtest::CurrentCounts(), before);
        EXPECT_EQ(qxtest::ThreadWindowCount(), windows);
        EXPECT_EQ(driver().LiveDCs(), 0);
    }
}

// Every creation import a cycle reaches (the module makes no fonts, no regions)
// with the failure it answers and the one outcome besides "shown" it may end in:
// no display DC fails the support check; a picture control without its record
// fails its creation and the page's dialog. `cycle`: one cycle in a fresh load
// with call `nth` failing (none when 0); returns how many calls it made.
struct Fault { const char* import; const char* otherwise; int (*cycle)(const std::string&, int, std::string*); };
#define QX_FAULT(fn, failure, otherwise) \
    Fault { #fn, otherwise, [](const std::string& copy, int nth, std::string* outcome) { \
        Load load(copy); \
        Recorder<decltype(&::fn)> failing(#fn, load.module); \
        if (nth > 0) \
            failing.Fail(nth, failure, true); \
        *outcome = Cycle(load, Road::Utility, nullptr, false); \
        return failing.calls; } }
const Fault kFaults[] = {
    QX_FAULT(CreateDCA, nullptr, "refused"), QX_FAULT(CreateCompatibleDC, nullptr, "shown"),
    QX_FAULT(GetWindowDC, nullptr, "shown"), QX_FAULT(BeginPaint, nullptr, "shown"),
    QX_FAULT(CreateCompatibleBitmap, nullptr, "shown"), QX_FAULT(CreateBitmap, nullptr, "shown"),
    QX_FAULT(CreateDIBSection, nullptr, "shown"), QX_FAULT(CreateDIBitmap, nullptr, "shown"),
    QX_FAULT(CreateSolidBrush, nullptr, "shown"), QX_FAULT(CreatePalette, nullptr, "shown"),
    QX_FAULT(LoadImageA, nullptr, "shown"), QX_FAULT(FindFirstFileA, INVALID_HANDLE_VALUE, "shown"),
    QX_FAULT(CreateFileA, INVALID_HANDLE_VALUE, "shown"), QX_FAULT(CreateFileMappingA, nullptr, "shown"),
    QX_FAULT(MapViewOfFile, nullptr, "shown"), QX_FAULT(RegOpenKeyExA, LONG(ERROR_ACCESS_DENIED), "shown"),
    QX_FAULT(HeapAlloc, nullptr, "empty"), QX_FAULT(LocalAlloc, nullptr, "shown"),
    QX_FAULT(CreateWindowExA, nullptr, "shown"), QX_FAULT(CreateDialogParamA, nullptr, "shown"),
};

// For every N an undisturbed cycle reaches, a load whose Nth call of one import
// fails: the page is shown or refused as above, and nothing of it is left.
TEST_F(LifecycleTest, EveryCreationCallFailingOnceInTurn)
{
    for (const Fault& f : kFaults) {
        std::string outcome;
        const int reached = f.cycle(copy_, 0, &outcome);
        ASSERT_EQ(outcome, "shown") << f.import;
        EXPECT_GT(reached, 0) << f.import << " is not reached by a cycle";
        for (int n = 1; n <= reached; ++n) {
            SCOPED_TRACE(std::string(f.import) + " call " + std::to_string(n));
            const qxtest::ResourceCounts before = qxtest::CurrentCounts();
            f.cycle(copy_, n, &outcome);
            EXPECT_TRUE(outcome == "shown" || outcome == f.otherwise) << outcome;
            EXPECT_EQ(qxtest::CurrentCounts(), before);
            EXPECT_EQ(driver().LiveDCs(), 0);
        }
    }
}

} // namespace
