// The two roads into the built DLL, with the simulated driver under it: the host utility's exports, and the shell's
// property-sheet handler played as the display control panel plays it (class factory, handler, data object, AddPages,
// DllCanUnloadNow); the single-copy marker on both.
// ctest: run serial (the single-copy marker of another test process would show the warning here)
#include "qxtest.h"

#include "display_data_object.h"

#include <commctrl.h>
#include <locale.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "chips.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "hosting/shell_extension.h"
#include "resource.h"

namespace {

using Pages = std::vector<HPROPSHEETPAGE>;
using sim::DisplayDataObject;
constexpr char kWarning[] = "A copy of this utility is already running. Running 2 copies at the same time may cause "
                            "unpredictable results.\nPlease close one of the copies.";

template <typename Fn> Fn Export(const char* name) { return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(qxtest::BuiltDll(), name))); }

// The marker window of a running copy that the DLL made in this process (parallel test processes may hold their own), other than `except`.
HWND OwnMarker(HWND except = nullptr)
{
    DWORD pid = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "QxTintraInst", nullptr)) != nullptr;)
        if (w != except && GetWindowThreadProcessId(w, &pid) && pid == GetCurrentProcessId() && reinterpret_cast<HMODULE>(GetWindowLongPtrA(w, GWLP_HINSTANCE)) == qxtest::BuiltDll())
            return w;
    return nullptr;
}

BOOL CALLBACK RefusePage(HPROPSHEETPAGE page, LPARAM pages) { return qxtest::CollectPage(page, pages), FALSE; }

class Hosting : public qxtest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ASSERT_TRUE(init && addPages && unInit && getClassObject && canUnloadNow);
        ConfigureSupportedDriver(15);
        memset(info, 0xCC, sizeof info), info[0] = 100;
        ASSERT_EQ(canUnloadNow(), S_OK) << "an earlier test left an object or a page alive";
    }
    // A handler as the shell makes one, initialized with `data`.
    struct Handler {
        IShellExtInit* init = nullptr;
        IShellPropSheetExt* sheet = nullptr;
        HRESULT AddPages(Pages& pages, bool accept = true) { return sheet->AddPages(accept ? qxtest::CollectPage : RefusePage, reinterpret_cast<LPARAM>(&pages)); }
        void Close() { sheet->Release(); EXPECT_EQ(init->Release(), 0u); }
    };
    Handler Open(IDataObject* data)
    {
        Handler h;
        IClassFactory* factory = nullptr;
        EXPECT_EQ(getClassObject(CLSID_QxTintraPropSheet, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&h.init)), S_OK);
        factory->Release();
        EXPECT_EQ(h.init->Initialize(nullptr, data, nullptr), S_OK);
        EXPECT_EQ(h.init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&h.sheet)), S_OK);
        return h;
    }
    // The device every DC of the module was opened on; "?" when they differ or none was.
    std::string DeviceOfEveryDc() { const auto& o = driver().dcOpened; return !o.empty() && std::count(o.begin(), o.end(), o[0]) == long(o.size()) ? o[0] : "?"; }
    void ClearRecords() { driver().records.clear(), driver().dcOpened.clear(); }
    DWORD UtilityPages(Pages& pages, LPFNADDPROPSHEETPAGE add = qxtest::CollectPage) { return addPages(nullptr, add, reinterpret_cast<LPARAM>(&pages), info); }
    DWORD(WINAPI* init)(DWORD, LPCSTR, LPSTR, void*) = Export<decltype(init)>("QxUtilityInit");
    DWORD(WINAPI* addPages)(LPCSTR, LPFNADDPROPSHEETPAGE, LPARAM, void*) = Export<decltype(addPages)>("QxUtilityAddPages");
    DWORD(WINAPI* unInit)(DWORD) = Export<decltype(unInit)>("QxUtilityUnInit");
    HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = Export<decltype(getClassObject)>("DllGetClassObject");
    HRESULT(WINAPI* canUnloadNow)() = Export<decltype(canUnloadNow)>("DllCanUnloadNow");
    DWORD info[26];  // 96 bytes of record and two guard words
};

// ---- the host utility's road -----------------------------------------------------

TEST_F(Hosting, UtilityInitChecksItsArgumentsAndFillsThreeWords)
{
    // A record without the stamp 100, or none in mode 0, is refused untouched, without a word to the driver.
    char name[128];
    memset(name, 'z', sizeof name);
    EXPECT_EQ(init(0, nullptr, name, nullptr), 7u);
    for (DWORD stamp : { 99u, 101u, 0u }) {
        info[0] = stamp;
        EXPECT_EQ(init(0, nullptr, name, info) + init(1, nullptr, name, info), 14u);
        EXPECT_EQ(std::count(info + 1, info + 26, 0xCCCCCCCCu), 25);
    }
    EXPECT_EQ(name[0] + driver().dcCreateCalls, 'z');
    // The record gets its three words and nothing else, also when the driver then turns out unsupported; mode 1 needs no record.
    for (bool supported : { true, false }) {
        info[0] = 100, driver().config.tintraEscape = supported;
        EXPECT_TRUE(init(0, nullptr, name, info) == (supported ? 0u : 4u) && !strcmp(name, "QxTintra"));
        EXPECT_EQ(std::vector<DWORD>(info + 21, info + 24), (std::vector<DWORD> { 1024, 0x2000000, 2 }));
        EXPECT_EQ(std::count(info + 1, info + 26, 0xCCCCCCCCu), 22);
    }
    name[0] = '\0', driver().config.tintraEscape = true;
    EXPECT_TRUE(init(1, nullptr, name, nullptr) == 0u && !strcmp(name, "QxTintra"));
    // The probes come first, on the named device.
    driver().Reset(), ConfigureSupportedDriver(15);
    EXPECT_EQ(init(0, "\\\\.\\DISPLAY2", name, info), 0u);
    std::vector<std::string> requests = Requests();
    EXPECT_EQ((requests.resize(2), requests), (std::vector<std::string> { "QUERYESCSUPPORT 0x3000 -> 1", "QUERYESCSUPPORT 0x3200 -> 1" }));
    EXPECT_EQ(DeviceOfEveryDc(), "\\\\.\\DISPLAY2");
}

TEST_F(Hosting, UtilityRoadOffersThePageOnlyWhenSupported)
{
    const struct { bool util, tintra; DWORD family; } refusals[] = { { false, true, 15 }, { true, false, 15 }, { true, true, 14 }, { true, true, 0 } };
    for (const auto& c : refusals) {
        driver().Reset(), driver().config.utilEscape = c.util, driver().config.tintraEscape = c.tintra;
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, c.family));
        char name[128];
        Pages pages;
        EXPECT_TRUE(init(0, nullptr, name, info) == 4u && UtilityPages(pages) == 0u && pages.empty());
        for (const sim::EscapeRecord& r : driver().records)
            EXPECT_NE(r.function, 0x69u) << "no driver-key request after a refusal";
    }
    // A page the host refuses is destroyed; the one it takes, shown, marks the running copy, which goes with it; nothing is left.
    ConfigureSupportedDriver(15), driver().config.utilEscape = driver().config.tintraEscape = true;
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();
    Pages pages;
    EXPECT_TRUE(UtilityPages(pages, RefusePage) == 0u && qxtest::CurrentCounts().user == before.user);
    EXPECT_TRUE(UtilityPages(pages) == 0u && qxtest::CurrentCounts().gdi == before.gdi);
    ASSERT_EQ(pages.size(), 2u);
    Pages shown = { pages[1] };
    HWND sheet = qxtest::OpenSheet(shown);
    ASSERT_NE(PropSheet_GetCurrentPageHwnd(sheet), nullptr);
    HWND marker = FindWindowA("QxTintraInst", "QxTintra");
    EXPECT_TRUE(marker && !IsWindowVisible(marker));
    DestroyWindow(sheet);
    EXPECT_FALSE(FindWindowA("QxTintraInst", "QxTintra"));
    // A page the common controls refuse is not offered; the sheet counts the page in the module's own count.
    PROPSHEETPAGEA seen = {};
    qxtest::Recorder<decltype(&CreatePropertySheetPageA)> create("CreatePropertySheetPageA", qxtest::BuiltDll());
    create.answer = [&](LPCPROPSHEETPAGEA page) { return seen = *page, HPROPSHEETPAGE(nullptr); };
    pages.clear();
    EXPECT_TRUE(UtilityPages(pages) == 0u && pages.empty());
    EXPECT_EQ(qxtest::CurrentCounts().user, before.user) << "the tab icons of the earlier requests and of this one are gone";
    ASSERT_NE(seen.pcRefParent, nullptr);
    EXPECT_EQ((++*seen.pcRefParent, canUnloadNow()), S_FALSE);
    EXPECT_EQ((--*seen.pcRefParent, canUnloadNow()), S_OK);
}

TEST_F(Hosting, SingleCopyMarkerWarnsOnceOnEitherRoad)
{
    qxtest::MessageBoxRecorder recorder;
    auto& boxes = qxtest::MessageBoxRecorder::boxes();
    g_hInstance = qxtest::ProgramModule();  // the program's copy of the code marks with its own class
    CreateInstanceWindow();  // no other copy: no warning, and the marker appears
    HWND other = g_hInstanceWnd;
    ASSERT_EQ(FindWindowA("QxTintraInst", "QxTintra"), other);
    EXPECT_EQ(GetWindowLongA(other, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    CreateInstanceWindow();  // already marked: nothing happens
    EXPECT_TRUE(boxes.empty() && g_hInstanceWnd == other);
    // Another copy's marker exists: the warning, once, then our own marker.
    g_hInstanceWnd = nullptr, CreateInstanceWindow();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(std::tie(boxes[0].owner, boxes[0].text, boxes[0].caption, boxes[0].type),
        std::make_tuple(HWND(nullptr), std::string(kWarning), std::string("QxTintra"), UINT(MB_OK)));
    EXPECT_TRUE(g_hInstanceWnd && g_hInstanceWnd != other);
    DestroyInstanceWindow();
    EXPECT_EQ((DestroyInstanceWindow(), g_hInstanceWnd), nullptr);  // nothing left: the second does nothing
    // The shell's road: the warning stops nothing; a second request of the same copy does not warn again.
    boxes.clear();
    DisplayDataObject data("\\\\.\\DISPLAY1");
    Pages pages;
    Handler h = Open(&data);
    EXPECT_EQ(h.AddPages(pages, false) | h.AddPages(pages, false), S_OK);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text + boxes[0].caption, kWarning + std::string("QxTintra"));
    EXPECT_TRUE(pages.size() == 2 && OwnMarker(other));
    h.Close();
    EXPECT_EQ(OwnMarker(other), nullptr);
    DestroyWindow(other), UnregisterClassA("QxTintraInst", qxtest::ProgramModule());
}

// ---- the shell's road ---------------------------------------------------------------

TEST_F(Hosting, ClassFactoryAndHandlerObject)
{
    const CLSID unknownClass = { 0x12345678, 0x1111, 0x2222, { 1, 2, 3, 4, 5, 6, 7, 8 } };
    const struct { const CLSID* clsid; const IID* iid; HRESULT expected; } classes[] = { { &CLSID_QxTintraPropSheet, &IID_IClassFactory, S_OK },
        { &CLSID_QxTintraPropSheetAlt, &IID_IUnknown, S_OK }, { &CLSID_QxTintraPropSheet, &IID_IShellExtInit, E_NOINTERFACE },
        { &unknownClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE }, { &IID_IClassFactory, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE } };
    for (const auto& c : classes) {
        SCOPED_TRACE(&c - classes);
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(getClassObject(*c.clsid, *c.iid, &out), c.expected);
        EXPECT_TRUE(c.expected == S_OK || (out == nullptr && canUnloadNow() == S_OK)) << "a factory nobody took is not kept alive";
        if (c.expected != S_OK)
            continue;
        auto* factory = static_cast<IUnknown*>(out);
        void* again = nullptr;
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        EXPECT_EQ(factory->AddRef(), 2u) << "count 1 after the hand-out";
        EXPECT_TRUE(factory->QueryInterface(IID_IClassFactory, &again) == S_OK && again == out);
        EXPECT_TRUE(factory->QueryInterface(IID_IShellExtInit, &again) == E_NOINTERFACE && again == nullptr);
        EXPECT_EQ(factory->Release() + factory->Release() + factory->Release(), 2u + 1u + 0u);
        EXPECT_EQ(canUnloadNow(), S_OK);
    }
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_QxTintraPropSheetAlt, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE) | factory->LockServer(FALSE), S_OK);
    sim::CountingUnknown outer;
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_TRUE(out == nullptr && outer.refs == 1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    {
        // The DLL's own allocations fail: no factory, no handler.
        qxtest::Recorder<decltype(&HeapAlloc)> alloc("HeapAlloc", qxtest::BuiltDll());
        alloc.Fail(1, nullptr);
        void* handler = out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(getClassObject(CLSID_QxTintraPropSheet, IID_IClassFactory, &out), E_OUTOFMEMORY);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, &handler), E_OUTOFMEMORY);
        EXPECT_TRUE(out == nullptr && handler == nullptr);
    }
    for (const IID* iid : { &IID_IUnknown, &IID_IShellExtInit, &IID_IShellPropSheetExt })
        EXPECT_TRUE(factory->CreateInstance(nullptr, *iid, &out) == S_OK && static_cast<IUnknown*>(out)->Release() == 0u);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "the handlers are gone, the factory is not";
    EXPECT_EQ(factory->Release(), 0u);
    // Two interfaces, one object, one count; every road back leads to the first interface.
    Handler h = Open(nullptr);
    EXPECT_NE(static_cast<void*>(h.sheet), static_cast<void*>(h.init));
    for (const IID* iid : { &IID_IUnknown, &IID_IShellExtInit, &IID_IShellPropSheetExt }) {
        EXPECT_EQ(h.sheet->QueryInterface(*iid, &out), S_OK);
        EXPECT_EQ(out, iid == &IID_IShellPropSheetExt ? static_cast<void*>(h.sheet) : static_cast<void*>(h.init));
        static_cast<IUnknown*>(out)->Release();
    }
    EXPECT_TRUE(h.sheet->QueryInterface(IID_IClassFactory, &out) == E_NOINTERFACE && out == nullptr);
    EXPECT_TRUE(h.sheet->AddRef() == 3u && h.init->Release() == 2u);
    EXPECT_EQ(h.sheet->ReplacePage(0, qxtest::CollectPage, 0) | h.sheet->ReplacePage(1, nullptr, 0), E_FAIL);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    h.Close();
    EXPECT_EQ(canUnloadNow(), S_OK);
    // Initialize holds one data object at a time; the last goes with the object; its data is read by AddPages only.
    DisplayDataObject first("\\\\.\\DISPLAY1"), second("\\\\.\\DISPLAY2");
    h = Open(&first);
    EXPECT_TRUE(h.init->Initialize(nullptr, &first, nullptr) == S_OK && first.refs == 2);
    EXPECT_TRUE(h.init->Initialize(nullptr, &second, nullptr) == S_OK && first.refs * 10 + second.refs == 12);
    EXPECT_TRUE(h.init->Initialize(nullptr, nullptr, nullptr) == S_OK && second.refs == 1);
    EXPECT_EQ(h.init->Initialize(nullptr, &first, nullptr), S_OK);
    h.Close();
    EXPECT_TRUE(first.refs == 1 && first.asked.empty());
}

TEST_F(Hosting, ShellReadsTheDeviceFromItsDataObject)
{
    // Pages are refused so that none outlives its case. Each case starts after a request for DISPLAY1: a request without a
    // usable name is for the primary display (""), never for the device of the request before it.
    const std::string longest = "\\\\.\\DISPLAY" + std::string(127 - 11, 'x'), start = "\\\\.\\DISPLAY1", offered = "\\\\.\\DISPLAY2", primary;
    driver().config.devices.insert(driver().config.devices.end(), { longest, longest + "y" });
    using Answer = DisplayDataObject::Answer;
    // name: what the data object holds; expected: the device of every DC afterwards.
    const struct { bool haveData; Answer answer; std::string name; bool terminated; std::string expected; } cases[] = {
        { true, Answer::OwnedGlobal, offered, true, offered }, { true, Answer::Name, longest, true, longest }, { true, Answer::Name, offered, false, offered },
        { false, Answer::Name, offered, true, primary }, { true, Answer::NoFormat, offered, true, primary }, { true, Answer::Fails, offered, true, primary },
        { true, Answer::Stream, offered, true, primary }, { true, Answer::Name, "", true, primary }, { true, Answer::Name, longest + "y", true, primary } };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Pages pages;
        DisplayDataObject primer(start.c_str()), data;
        Handler h = Open(&primer);
        h.AddPages(pages, false), h.Close(), ClearRecords();
        data.answer = c.answer, data.SetName(c.name);
        if (!c.terminated)
            data.block.pop_back();
        h = Open(c.haveData ? &data : nullptr);
        EXPECT_EQ(h.AddPages(pages, false), S_OK);
        h.Close();
        EXPECT_EQ(std::make_tuple(pages.size(), DeviceOfEveryDc(), data.refs, data.owner.refs), std::make_tuple(size_t(2), c.expected, 1, 1))
            << "the handler let go of the data object and of whatever medium came back";
        if (c.haveData) {
            ASSERT_EQ(data.asked.size(), 1u);
            const FORMATETC& f = data.asked[0];
            EXPECT_EQ(std::make_tuple(f.cfFormat, f.ptd, f.dwAspect, f.lindex, f.tymed),
                std::make_tuple(CLIPFORMAT(RegisterClipboardFormatA("Display Device")), (DVTARGETDEVICE*)nullptr, DWORD(DVASPECT_CONTENT), -1L, DWORD(TYMED_HGLOBAL)));
        }
        EXPECT_TRUE(!data.lastStream || data.lastStream->Release() == 0u);
        data.lastStream = nullptr;
    }
    EXPECT_TRUE(canUnloadNow() == S_OK && OwnMarker() == nullptr);
    // An unsupported adapter gets no page and 4, a success to a shell; nothing but the probes reach the driver, no copy is
    // marked and none warned.
    driver().config.tintraEscape = false, ClearRecords();
    DisplayDataObject data(offered.c_str());
    Pages pages;
    Handler h = Open(&data);
    EXPECT_EQ(h.AddPages(pages), 4);
    EXPECT_TRUE(pages.empty() && OwnMarker() == nullptr && qxtest::MessageBoxRecorder::boxes().empty());
    EXPECT_EQ(Requests(), (std::vector<std::string> { "QUERYESCSUPPORT 0x3000 -> 1", "QUERYESCSUPPORT 0x3200 -> 0" }));
    EXPECT_EQ(DeviceOfEveryDc(), offered);
    h.Close();
}

TEST_F(Hosting, ShellPageKeepsTheModuleAndItsDeviceUntilItGoes)
{
    DisplayDataObject data("\\\\.\\DISPLAY2");
    Pages pages;
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();
    Handler h = Open(&data);
    ASSERT_TRUE(h.AddPages(pages) == S_OK && pages.size() == 1u);
    HWND marker = OwnMarker();  // marked as soon as the page is added
    EXPECT_TRUE(marker && !IsWindowVisible(marker) && canUnloadNow() == S_FALSE);
    h.Close(), ClearRecords();  // the shell lets the handler go before it shows the sheet
    EXPECT_EQ(data.refs, 1);  // Wine's common controls keep no page count, so the page's share of DllCanUnloadNow shows elsewhere
    // Not qxtest::OpenSheet: its pump paints the page, and the first paint in a process keeps a GDI object the ledger would count.
    PROPSHEETHEADERA header = { sizeof header, PSH_MODELESS | PSH_NOCONTEXTHELP };
    header.pszCaption = "Display Properties", header.nPages = 1, header.phpage = pages.data();
    HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    EXPECT_TRUE(PropSheet_GetCurrentPageHwnd(sheet) && !driver().records.empty());
    EXPECT_EQ(DeviceOfEveryDc(), "\\\\.\\DISPLAY2") << "the page talks to the shell's device only";
    DestroyWindow(sheet);
    // Let go, the module also gives back the tab icon the sheet was handed, and the handler's and the factory's records.
    EXPECT_TRUE(canUnloadNow() == S_OK && OwnMarker() == nullptr);
    EXPECT_EQ(qxtest::CurrentCounts(), before);
}

TEST_F(Hosting, ShellChoosesTheTemplateByLanguageAfterReadingTheSettings)
{
    const std::string dir = qxtest::MakeTempDir("shellext");
    qxtest::Recorder<decltype(&GetSystemDirectoryA)> sysDir("GetSystemDirectoryA", qxtest::BuiltDll());
    sysDir.answer = [&](LPSTR out, UINT size) { return lstrcpynA(out, dir.c_str(), size), UINT(dir.size()); };
    struct { int calls = 0; WORD templateId = 0; LPARAM lParam = 0; std::string title; } seen;
    qxtest::Recorder<decltype(&CreatePropertySheetPageA)> create("CreatePropertySheetPageA", qxtest::BuiltDll());
    create.answer = [&](LPCPROPSHEETPAGEA p) { return seen = { seen.calls + 1, LOWORD(reinterpret_cast<ULONG_PTR>(p->pszTemplate)), p->lParam, p->pszTitle }, HPROPSHEETPAGE(nullptr); };
    const std::string crtLocale = setlocale(LC_ALL, nullptr);
    const LCID threadLocale = GetThreadLocale();
    const std::pair<const char*, WORD> cases[] = { { "JAPANESE", IDD_QXTINTRA_PAGE_JPN }, { "English", IDD_QXTINTRA_PAGE }, { "Simplified Chinese", IDD_QXTINTRA_PAGE } };
    auto choose = [&](const std::string& language) {
        const std::string text = "[Language]\r\nLanguage=" + language + "\r\n[" + language + "]\r\nIDS_TAB_COLOR=Tab " + language + "\r\n";
        ASSERT_TRUE(qxtest::WriteFileBytes(dir + "\\QXTINTRA.CFG", text.data(), text.size()));
    };
    for (const auto& [language, id] : cases) {
        choose(language), seen.calls = 0;
        Pages pages;
        Handler h = Open(nullptr);
        EXPECT_TRUE(h.AddPages(pages) == S_OK && pages.empty()) << "S_OK also when the page could not be created";
        EXPECT_EQ(std::make_tuple(seen.calls, seen.templateId, seen.title, seen.lParam),
            std::make_tuple(1, id, "Tab " + std::string(language), reinterpret_cast<LPARAM>(h.init)));
        h.Close();
    }
    // The utility's road keeps the standard template.
    choose("Japanese");
    Pages pages;
    EXPECT_EQ(addPages(nullptr, qxtest::CollectPage, reinterpret_cast<LPARAM>(&pages), nullptr), 0u);
    EXPECT_EQ(std::make_pair(seen.templateId, seen.title), std::make_pair(WORD(IDD_QXTINTRA_PAGE), std::string("Tab Japanese")));
    EXPECT_TRUE(canUnloadNow() == S_OK && unInit(0) == 0u);  // last: it unregisters the picture class
    setlocale(LC_ALL, crtLocale.c_str()), SetThreadLocale(threadLocale), qxtest::RemoveTree(dir);
}

} // namespace
