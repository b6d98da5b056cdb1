// The shell's road through the built DLL, played the way the display control
// panel plays it: DllGetClassObject, the class factory, the handler with a
// data object of the test's own, AddPages with a callback, DllCanUnloadNow.
// The simulated driver sits under the DLL.
#include "qxtest.h"

#include "display_data_object.h"

#include <commctrl.h>
#include <locale.h>
#include <prsht.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chips.h"
#include "driver/escape.h"
#include "hosting/shell_extension.h"
#include "resource.h"

namespace {

typedef HRESULT(WINAPI* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(WINAPI* CanUnloadNowFn)();

using sim::CountingUnknown;
using sim::DisplayDataObject;

using Pages = std::vector<HPROPSHEETPAGE>;

// A host that collects the pages offered but takes none.
BOOL CALLBACK RefusePage(HPROPSHEETPAGE page, LPARAM pages)
{
    qxtest::CollectPage(page, pages);
    return FALSE;
}

// The marker window of a running copy that the DLL made in this process
// (parallel test processes may hold their own).
HWND OwnMarker()
{
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "QxTintraInst", nullptr)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId()
            && reinterpret_cast<HMODULE>(GetWindowLongPtrA(w, GWLP_HINSTANCE)) == qxtest::BuiltDll())
            return w;
    }
    return nullptr;
}

// Whether the common controls count a page in its owner's count
// (PSP_USEREFPARENT). Wine's do not, so the share of the module's count that
// a live page holds can only be seen where they do.
bool SheetCountsPages()
{
    UINT count = 0;
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USEREFPARENT;
    page.hInstance = qxtest::BuiltDll();
    page.pszTemplate = MAKEINTRESOURCEA(IDD_QXTINTRA_PAGE);
    page.pfnDlgProc = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; };
    page.pcRefParent = &count;
    HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
    if (!handle)
        return false;
    const bool counted = count == 1;
    DestroyPropertySheetPage(handle);
    return counted;
}

class ShellExtTest : public qxtest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        HMODULE dll = qxtest::BuiltDll();
        getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
        canUnloadNow = reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
        ASSERT_TRUE(getClassObject && canUnloadNow);
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, 15));
        ASSERT_EQ(canUnloadNow(), S_OK) << "an earlier test left an object or a page alive";
    }

    IClassFactory* Factory(REFCLSID clsid = CLSID_QxTintraPropSheet)
    {
        void* out = nullptr;
        EXPECT_EQ(getClassObject(clsid, IID_IClassFactory, &out), S_OK);
        return static_cast<IClassFactory*>(out);
    }

    // A handler as the shell makes one: factory, CreateInstance, factory released.
    IShellExtInit* NewHandler()
    {
        IClassFactory* factory = Factory();
        if (!factory)
            return nullptr;
        void* out = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, &out), S_OK);
        factory->Release();
        return static_cast<IShellExtInit*>(out);
    }

    static IShellPropSheetExt* SheetOf(IShellExtInit* init)
    {
        void* out = nullptr;
        EXPECT_EQ(init->QueryInterface(IID_IShellPropSheetExt, &out), S_OK);
        return static_cast<IShellPropSheetExt*>(out);
    }

    // A handler initialized with `data`, seen through both its interfaces;
    // Close lets go of both and checks the object is gone.
    struct Handler {
        IShellExtInit* init = nullptr;
        IShellPropSheetExt* sheet = nullptr;
        HRESULT AddPages(Pages& pages, bool accept = true)
        {
            return sheet->AddPages(accept ? qxtest::CollectPage : RefusePage, reinterpret_cast<LPARAM>(&pages));
        }
        void Close()
        {
            sheet->Release();
            EXPECT_EQ(init->Release(), 0u);
        }
    };
    Handler Open(IDataObject* data)
    {
        Handler h;
        if ((h.init = NewHandler()) != nullptr) {
            EXPECT_EQ(h.init->Initialize(nullptr, data, nullptr), S_OK);
            h.sheet = SheetOf(h.init);
        }
        return h;
    }
    // AddPages, refused, by a handler that lives only for it.
    HRESULT RefuseAll(IDataObject* data, Pages& pages)
    {
        Handler h = Open(data);
        if (!h.sheet)
            return E_UNEXPECTED;
        HRESULT hr = h.AddPages(pages, false);
        h.Close();
        return hr;
    }

    // The device every DC of the module was opened on; "?" when they differ
    // or none was opened.
    std::string DeviceOfEveryDc()
    {
        const std::vector<std::string>& opened = driver().dcOpened;
        const bool one = !opened.empty() && std::count(opened.begin(), opened.end(), opened[0]) == static_cast<long>(opened.size());
        return one ? opened[0] : "?";
    }

    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;
};

// ---- class factory ----------------------------------------------------------

TEST_F(ShellExtTest, ClassIdentifiersAndInterfaces)
{
    const CLSID unknownClass = { 0x12345678, 0x1111, 0x2222, { 1, 2, 3, 4, 5, 6, 7, 8 } };
    struct Case {
        const char* what;
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        { "first class, IClassFactory", &CLSID_QxTintraPropSheet, &IID_IClassFactory, S_OK },
        { "second class, IClassFactory", &CLSID_QxTintraPropSheetAlt, &IID_IClassFactory, S_OK },
        { "first class, IUnknown", &CLSID_QxTintraPropSheet, &IID_IUnknown, S_OK },
        { "first class, IShellExtInit", &CLSID_QxTintraPropSheet, &IID_IShellExtInit, E_NOINTERFACE },
        { "second class, IShellPropSheetExt", &CLSID_QxTintraPropSheetAlt, &IID_IShellPropSheetExt, E_NOINTERFACE },
        { "unknown class", &unknownClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE },
        { "an interface id as class", &IID_IClassFactory, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(getClassObject(*c.clsid, *c.iid, &out), c.expected);
        if (c.expected != S_OK) {
            EXPECT_EQ(out, nullptr);
            // A factory nobody took is not kept alive.
            EXPECT_EQ(canUnloadNow(), S_OK);
            continue;
        }
        ASSERT_NE(out, nullptr);
        IUnknown* factory = static_cast<IUnknown*>(out);
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        // Count 1 after the hand-out.
        EXPECT_EQ(factory->AddRef(), 2u);
        EXPECT_EQ(factory->Release(), 1u);
        void* again = nullptr;
        EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, &again), S_OK);
        EXPECT_EQ(again, out);
        EXPECT_EQ(factory->Release(), 1u);
        again = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(factory->QueryInterface(IID_IShellExtInit, &again), E_NOINTERFACE);
        EXPECT_EQ(again, nullptr);
        EXPECT_EQ(factory->Release(), 0u);
        EXPECT_EQ(canUnloadNow(), S_OK);
    }
}

// Allocation failures in the DLL: its direct HeapAlloc calls answer null.
LPVOID WINAPI FailingHeapAlloc(HANDLE, DWORD, SIZE_T) { return nullptr; }

TEST_F(ShellExtTest, FactoryMakesHandlersAndRefusesAggregationAndLackOfMemory)
{
    IClassFactory* factory = Factory(CLSID_QxTintraPropSheetAlt);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);

    CountingUnknown outer;
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(outer.refs, 1);

    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    {
        sim::ImportPatch patch(qxtest::BuiltDll(), "kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(&FailingHeapAlloc));
        ASSERT_TRUE(patch.installed());
        out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(getClassObject(CLSID_QxTintraPropSheet, IID_IClassFactory, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
        out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
    }

    for (const IID* iid : { &IID_IUnknown, &IID_IShellExtInit, &IID_IShellPropSheetExt }) {
        out = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, *iid, &out), S_OK);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 0u);
    }
    // The handlers, the refused one included, are gone; the factory is not.
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// ---- the handler's object --------------------------------------------------

TEST_F(ShellExtTest, TwoInterfacesOneObjectOneCount)
{
    IShellExtInit* init = NewHandler();
    ASSERT_NE(init, nullptr);
    IShellPropSheetExt* sheet = SheetOf(init);
    ASSERT_NE(sheet, nullptr);
    EXPECT_NE(static_cast<void*>(sheet), static_cast<void*>(init));

    // Every road back leads to the first interface, the object's IUnknown.
    for (const IID* iid : { &IID_IUnknown, &IID_IShellExtInit }) {
        void* out = nullptr;
        EXPECT_EQ(sheet->QueryInterface(*iid, &out), S_OK);
        EXPECT_EQ(out, static_cast<void*>(init));
        static_cast<IUnknown*>(out)->Release();
    }
    void* out = nullptr;
    EXPECT_EQ(sheet->QueryInterface(IID_IShellPropSheetExt, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(sheet));
    sheet->Release();
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(sheet->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    // init (1) + sheet (1): one count for both interfaces.
    EXPECT_EQ(sheet->AddRef(), 3u);
    EXPECT_EQ(init->Release(), 2u);
    EXPECT_EQ(sheet->ReplacePage(0, qxtest::CollectPage, 0), E_FAIL);
    EXPECT_EQ(sheet->ReplacePage(1, nullptr, 0), E_FAIL);

    EXPECT_EQ(sheet->Release(), 1u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(init->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ShellExtTest, InitializeHoldsOneDataObjectAtATime)
{
    DisplayDataObject first("\\\\.\\DISPLAY1"), second("\\\\.\\DISPLAY2");
    IShellExtInit* init = NewHandler();
    ASSERT_NE(init, nullptr);

    EXPECT_EQ(init->Initialize(nullptr, &first, nullptr), S_OK);
    EXPECT_EQ(first.refs, 2);
    EXPECT_EQ(init->Initialize(nullptr, &first, nullptr), S_OK);  // the same one again
    EXPECT_EQ(first.refs, 2);
    EXPECT_EQ(init->Initialize(nullptr, &second, nullptr), S_OK);
    EXPECT_EQ(first.refs, 1);
    EXPECT_EQ(second.refs, 2);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(second.refs, 1);

    // The one held last goes with the object.
    EXPECT_EQ(init->Initialize(nullptr, &first, nullptr), S_OK);
    EXPECT_EQ(init->Release(), 0u);
    EXPECT_EQ(first.refs, 1);
    EXPECT_TRUE(first.asked.empty()) << "the data is read by AddPages, not by Initialize";
}

// ---- AddPages ---------------------------------------------------------------

// Pages are refused in these cases so that none outlives the case (and a
// refused page is destroyed with its handler). Each case starts after a
// request for DISPLAY1: a request without a usable name is for the primary
// display (""), never for the device of the request before it.
TEST_F(ShellExtTest, DeviceNameFromTheDataObject)
{
    const std::string longest = "\\\\.\\DISPLAY" + std::string(127 - 11, 'x');
    const std::string tooLong = longest + "y";
    driver().config.devices.push_back(longest);
    driver().config.devices.push_back(tooLong);
    const std::string start = "\\\\.\\DISPLAY1";
    const std::string offered = "\\\\.\\DISPLAY2";
    const std::string primary = "";

    using Answer = DisplayDataObject::Answer;
    struct Case {
        const char* what;
        bool haveData;
        Answer answer;
        std::string name;      // what the data object holds
        bool terminated;
        std::string expected;  // device of every DC afterwards
    } cases[] = {
        { "secondary device", true, Answer::Name, offered, true, offered },
        { "medium with an owner", true, Answer::OwnedGlobal, offered, true, offered },
        { "127 characters", true, Answer::Name, longest, true, longest },
        { "unterminated block", true, Answer::Name, offered, false, offered },
        { "no data object", false, Answer::Name, offered, true, primary },
        { "no such format", true, Answer::NoFormat, offered, true, primary },
        { "GetData fails", true, Answer::Fails, offered, true, primary },
        { "another medium", true, Answer::Stream, offered, true, primary },
        { "empty name", true, Answer::Name, "", true, primary },
        { "128 characters", true, Answer::Name, tooLong, true, primary },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pages pages;
        DisplayDataObject primer(start.c_str());
        ASSERT_EQ(RefuseAll(&primer, pages), S_OK);
        driver().records.clear();
        driver().dcOpened.clear();

        DisplayDataObject data;
        data.answer = c.answer;
        data.SetName(c.name);
        if (!c.terminated)
            data.block.pop_back();
        pages.clear();
        EXPECT_EQ(RefuseAll(c.haveData ? &data : nullptr, pages), S_OK);
        EXPECT_EQ(pages.size(), 1u);
        EXPECT_EQ(DeviceOfEveryDc(), c.expected);
        EXPECT_EQ(driver().LiveDCs(), 0);
        EXPECT_EQ(data.refs, 1) << "the handler let go of the data object";

        if (c.haveData) {
            ASSERT_EQ(data.asked.size(), 1u);
            const FORMATETC& f = data.asked[0];
            EXPECT_EQ(f.cfFormat, static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Display Device")));
            EXPECT_EQ(f.ptd, nullptr);
            EXPECT_EQ(f.dwAspect, static_cast<DWORD>(DVASPECT_CONTENT));
            EXPECT_EQ(f.lindex, -1);
            EXPECT_EQ(f.tymed, static_cast<DWORD>(TYMED_HGLOBAL));
        }
        // Whatever medium came back went back.
        EXPECT_EQ(data.owner.refs, 1);
        if (data.lastStream) {
            EXPECT_EQ(data.lastStream->Release(), 0u);
            data.lastStream = nullptr;
        }
    }
    // Nothing holds the module: the refused pages are gone with the handlers.
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(OwnMarker(), nullptr);
}

// Why the support check refuses is its own business; the shell road only has
// to stop after it.
TEST_F(ShellExtTest, UnsupportedAdapterGetsNoPageAndFour)
{
    driver().config.tintraEscape = false;
    DisplayDataObject data("\\\\.\\DISPLAY2");
    Pages pages;
    Handler h = Open(&data);
    ASSERT_NE(h.sheet, nullptr);
    HRESULT hr = h.AddPages(pages);
    EXPECT_EQ(hr, 4);
    EXPECT_TRUE(SUCCEEDED(hr)) << "a shell reads the refusal as success";
    EXPECT_TRUE(pages.empty());
    EXPECT_EQ(OwnMarker(), nullptr) << "no running copy is marked";
    EXPECT_TRUE(qxtest::MessageBoxRecorder::boxes().empty()) << "no single-copy warning either";
    ASSERT_FALSE(driver().records.empty());
    for (const sim::EscapeRecord& r : driver().records) {
        EXPECT_EQ(r.device, "\\\\.\\DISPLAY2");
        EXPECT_EQ(r.escape, QUERYESCSUPPORT) << "nothing but the probes after a refusal";
    }
    h.Close();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ShellExtTest, PageKeepsTheModuleAndItsDeviceUntilItGoes)
{
    const bool counted = SheetCountsPages();
    if (!counted)
        printf("note: these common controls keep no page count; the page's share of DllCanUnloadNow is not seen\n");
    DisplayDataObject data("\\\\.\\DISPLAY2");
    Pages pages;
    qxtest::ResourceCounts before = qxtest::CurrentCounts();

    Handler h = Open(&data);
    ASSERT_NE(h.sheet, nullptr);
    EXPECT_EQ(h.AddPages(pages), S_OK);
    ASSERT_EQ(pages.size(), 1u);
    // The running copy is marked as soon as the page is added.
    HWND marker = OwnMarker();
    EXPECT_NE(marker, nullptr);
    if (marker)
        EXPECT_FALSE(IsWindowVisible(marker));

    // The shell lets the handler go before it shows the sheet; the page alone
    // keeps the module loaded, through the count the common controls keep.
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    h.Close();
    EXPECT_EQ(data.refs, 1);
    if (counted)
        EXPECT_EQ(canUnloadNow(), S_FALSE);

    driver().records.clear();
    driver().dcOpened.clear();
    // Not qxtest::OpenSheet: its message pump paints the page, and the first
    // paint in a process keeps a GDI object the ledger below would count.
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_NOCONTEXTHELP;
    header.pszCaption = "Display Properties";
    header.nPages = 1;
    header.phpage = pages.data();
    HWND hwnd = reinterpret_cast<HWND>(PropertySheetA(&header));
    ASSERT_NE(hwnd, nullptr);
    EXPECT_NE(PropSheet_GetCurrentPageHwnd(hwnd), nullptr);
    // The page talked to the driver, on the shell's device only.
    EXPECT_FALSE(driver().records.empty());
    EXPECT_EQ(DeviceOfEveryDc(), "\\\\.\\DISPLAY2");
    if (counted)
        EXPECT_EQ(canUnloadNow(), S_FALSE);

    DestroyWindow(hwnd);
    // Let go, the module also gives back the tab icon the sheet was handed.
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(OwnMarker(), nullptr);
    qxtest::ResourceCounts after = qxtest::CurrentCounts();
    EXPECT_EQ(after.user, before.user);
    EXPECT_EQ(after.gdi, before.gdi);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.heap, before.heap) << "the handler's and the factory's records are freed";
}

TEST_F(ShellExtTest, WarnsOnceWhenAnotherCopyRuns)
{
    // Another copy's marker: a window of that class and title in this process,
    // from a class of the test program's own.
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = qxtest::ProgramModule();
    wc.lpszClassName = "QxTintraInst";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND other = CreateWindowExA(0, "QxTintraInst", "QxTintra", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
        qxtest::ProgramModule(), nullptr);
    ASSERT_NE(other, nullptr);

    DisplayDataObject data("\\\\.\\DISPLAY1");
    Pages pages;
    Handler h = Open(&data);
    ASSERT_NE(h.sheet, nullptr);
    EXPECT_EQ(h.AddPages(pages, false), S_OK);
    ASSERT_EQ(qxtest::MessageBoxRecorder::boxes().size(), 1u);
    const auto& box = qxtest::MessageBoxRecorder::boxes()[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.caption, "QxTintra");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.text,
        "A copy of this utility is already running. Running 2 copies at the same time may cause unpredictable "
        "results.\nPlease close one of the copies.");
    // The warning stops nothing: the page was offered and this copy is marked.
    EXPECT_EQ(pages.size(), 1u);
    EXPECT_NE(OwnMarker(), nullptr);

    // A second request of the same copy does not warn again.
    EXPECT_EQ(h.AddPages(pages, false), S_OK);
    EXPECT_EQ(qxtest::MessageBoxRecorder::boxes().size(), 1u);
    EXPECT_EQ(pages.size(), 2u);

    h.Close();
    EXPECT_EQ(OwnMarker(), nullptr);
    DestroyWindow(other);
    UnregisterClassA("QxTintraInst", qxtest::ProgramModule());
}

// ---- the template by language -----------------------------------------------

struct PageSeen {
    int calls = 0;
    WORD templateId = 0;
    LPARAM lParam = 0;
    std::string title;
};
PageSeen g_pageSeen;

HPROPSHEETPAGE WINAPI SeePage(LPCPROPSHEETPAGEA page)
{
    ++g_pageSeen.calls;
    g_pageSeen.templateId = LOWORD(reinterpret_cast<ULONG_PTR>(page->pszTemplate));
    g_pageSeen.lParam = page->lParam;
    g_pageSeen.title = page->pszTitle ? page->pszTitle : "";
    return nullptr;
}

std::string g_systemDir;
UINT WINAPI FakeGetSystemDirectoryA(LPSTR buffer, UINT size)
{
    if (g_systemDir.size() + 1 > size)
        return static_cast<UINT>(g_systemDir.size() + 1);
    memcpy(buffer, g_systemDir.c_str(), g_systemDir.size() + 1);
    return static_cast<UINT>(g_systemDir.size());
}

class ShellExtLanguageTest : public ShellExtTest {
protected:
    void SetUp() override
    {
        ShellExtTest::SetUp();
        ASSERT_TRUE(sysDir_.installed());
        ASSERT_TRUE(create_.installed());
        dir_ = qxtest::MakeTempDir("shellext");
        g_systemDir = dir_;
        g_pageSeen = PageSeen();
        savedCrtLocale_ = setlocale(LC_ALL, nullptr);
        savedThreadLocale_ = GetThreadLocale();
    }
    void TearDown() override
    {
        setlocale(LC_ALL, savedCrtLocale_.c_str());
        SetThreadLocale(savedThreadLocale_);
        qxtest::RemoveTree(dir_);
        ShellExtTest::TearDown();
    }
    // A configuration file in the (redirected) system directory that chooses
    // `language` and names the tab for it.
    void WriteConfig(const std::string& language, const std::string& tab)
    {
        const std::string text = "[Language]\r\nLanguage=" + language + "\r\n[" + language + "]\r\nIDS_TAB_COLOR=" + tab + "\r\n";
        ASSERT_TRUE(qxtest::WriteFileBytes(dir_ + "\\QXTINTRA.CFG", text.data(), text.size()));
    }
    // The module's page creation is watched, and answers null.
    sim::ImportPatch sysDir_ { qxtest::BuiltDll(), "kernel32.dll", "GetSystemDirectoryA",
        reinterpret_cast<void*>(&FakeGetSystemDirectoryA) };
    sim::ImportPatch create_ { qxtest::BuiltDll(), "comctl32.dll", "CreatePropertySheetPageA",
        reinterpret_cast<void*>(&SeePage) };
    std::string dir_;
    std::string savedCrtLocale_;
    LCID savedThreadLocale_ = 0;
};

TEST_F(ShellExtLanguageTest, JapaneseGetsItsOwnTemplate)
{
    struct Case {
        const char* language;
        WORD expected;
    } cases[] = {
        { "Japanese", IDD_QXTINTRA_PAGE_JPN },
        { "JAPANESE", IDD_QXTINTRA_PAGE_JPN },
        { "English", IDD_QXTINTRA_PAGE },
        { "German", IDD_QXTINTRA_PAGE },
        { "Simplified Chinese", IDD_QXTINTRA_PAGE },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        WriteConfig(c.language, std::string("Tab in ") + c.language);
        g_pageSeen = PageSeen();
        Pages pages;
        Handler h = Open(nullptr);
        ASSERT_NE(h.sheet, nullptr);
        EXPECT_EQ(h.AddPages(pages), S_OK) << "also when the page could not be created";
        EXPECT_EQ(g_pageSeen.calls, 1);
        EXPECT_EQ(g_pageSeen.templateId, c.expected);
        // The settings were read before the page was made.
        EXPECT_EQ(g_pageSeen.title, std::string("Tab in ") + c.language);
        EXPECT_EQ(g_pageSeen.lParam, reinterpret_cast<LPARAM>(h.init)) << "the page gets the object";
        EXPECT_TRUE(pages.empty());
        h.Close();
    }
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ShellExtLanguageTest, UtilityRoadKeepsTheStandardTemplate)
{
    WriteConfig("Japanese", "JP");
    typedef DWORD(WINAPI * AddPagesFn)(LPCSTR, LPFNADDPROPSHEETPAGE, LPARAM, void*);
    auto addPages = reinterpret_cast<AddPagesFn>(
        reinterpret_cast<void*>(GetProcAddress(qxtest::BuiltDll(), "QxUtilityAddPages")));
    ASSERT_NE(addPages, nullptr);
    Pages pages;
    EXPECT_EQ(addPages(nullptr, qxtest::CollectPage, reinterpret_cast<LPARAM>(&pages), nullptr), 0u);
    EXPECT_EQ(g_pageSeen.calls, 1);
    EXPECT_EQ(g_pageSeen.title, "JP");
    EXPECT_EQ(g_pageSeen.templateId, IDD_QXTINTRA_PAGE);
}

} // namespace
