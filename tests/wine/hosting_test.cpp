// The host utility's road through the exported functions of the built DLL,
// with the simulated driver under it.
// ctest: run serial (the single-copy marker of another test process would
// show the warning here)
#include "qxtest.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstring>

#include "chips.h"
#include "driver/escape.h"
#include "hosting/module.h"

namespace {

typedef DWORD(WINAPI* InitFn)(DWORD, LPCSTR, LPSTR, void*);
typedef DWORD(WINAPI* AddPagesFn)(LPCSTR, LPFNADDPROPSHEETPAGE, LPARAM, void*);
typedef DWORD(WINAPI* UnInitFn)(DWORD);

class HostingTest : public qxtest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        HMODULE dll = qxtest::BuiltDll();
        init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(dll, "QxUtilityInit")));
        addPages = reinterpret_cast<AddPagesFn>(reinterpret_cast<void*>(GetProcAddress(dll, "QxUtilityAddPages")));
        unInit = reinterpret_cast<UnInitFn>(reinterpret_cast<void*>(GetProcAddress(dll, "QxUtilityUnInit")));
        ASSERT_TRUE(init && addPages && unInit);
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, 15));
        memset(info, 0xCC, sizeof info);
        info[0] = 100;
    }
    InitFn init = nullptr;
    AddPagesFn addPages = nullptr;
    UnInitFn unInit = nullptr;
    DWORD info[26];  // 96 bytes of record and two guard words
};

TEST_F(HostingTest, BadArgumentsReturnSevenAndTouchNothing)
{
    char name[128];
    memset(name, 'z', sizeof name);
    EXPECT_EQ(init(0, nullptr, name, nullptr), 7u);
    for (DWORD stamp : { 99u, 101u, 0u }) {
        info[0] = stamp;
        EXPECT_EQ(init(0, nullptr, name, info), 7u);
        EXPECT_EQ(init(1, nullptr, name, info), 7u);
        for (int i = 1; i < 26; ++i)
            EXPECT_EQ(info[i], 0xCCCCCCCCu) << "word " << i;
    }
    EXPECT_EQ(name[0], 'z');
    EXPECT_TRUE(driver().records.empty());
    EXPECT_EQ(driver().dcCreateCalls, 0);
}

TEST_F(HostingTest, RecordGetsItsThreeWordsAndNothingElse)
{
    char name[128] = "";
    EXPECT_EQ(init(0, nullptr, name, info), 0u);
    EXPECT_STREQ(name, "QxTintra");
    EXPECT_EQ(info[21], 1024u);
    EXPECT_EQ(info[22], 0x2000000u);
    EXPECT_EQ(info[23], 2u);
    for (int i = 1; i < 21; ++i)
        EXPECT_EQ(info[i], 0xCCCCCCCCu) << "word " << i;
    EXPECT_EQ(info[24], 0xCCCCCCCCu);
    EXPECT_EQ(info[25], 0xCCCCCCCCu);

    // Also when the driver then turns out to be unsupported.
    memset(info + 1, 0xCC, sizeof info - 4);
    driver().config.tintraEscape = false;
    EXPECT_EQ(init(0, nullptr, name, info), 4u);
    EXPECT_EQ(info[21], 1024u);
    EXPECT_EQ(info[22], 0x2000000u);
    EXPECT_EQ(info[23], 2u);
}

TEST_F(HostingTest, ModeOneNeedsNoRecord)
{
    char name[128] = "";
    EXPECT_EQ(init(1, nullptr, name, nullptr), 0u);
    EXPECT_STREQ(name, "QxTintra");
}

TEST_F(HostingTest, ProbesComeFirstOnTheNamedDevice)
{
    char name[128];
    EXPECT_EQ(init(0, "\\\\.\\DISPLAY2", name, info), 0u);
    ASSERT_GE(driver().records.size(), 2u);
    EXPECT_EQ(driver().records[0].escape, QUERYESCSUPPORT);
    EXPECT_EQ(driver().records[0].function, 0x3000u);
    EXPECT_EQ(driver().records[1].escape, QUERYESCSUPPORT);
    EXPECT_EQ(driver().records[1].function, 0x3200u);
    for (const sim::EscapeRecord& r : driver().records)
        EXPECT_EQ(r.device, "\\\\.\\DISPLAY2");
    EXPECT_EQ(driver().dcCreated, driver().dcDeleted);
}

TEST_F(HostingTest, UnsupportedDriversAndChipsGetNoPage)
{
    struct Case {
        const char* what;
        bool util, tintra;
        DWORD family;
    } cases[] = {
        { "no utility escape", false, true, 15 },
        { "no effects escape", true, false, 15 },
        { "chip of family 14", true, true, 14 },
        { "chip in no family", true, true, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        driver().Reset();
        driver().config.utilEscape = c.util;
        driver().config.tintraEscape = c.tintra;
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, c.family));
        char name[128];
        EXPECT_EQ(init(0, nullptr, name, info), 4u);

        std::vector<HPROPSHEETPAGE> pages;
        EXPECT_EQ(addPages(nullptr, qxtest::CollectPage, reinterpret_cast<LPARAM>(&pages), info), 0u);
        EXPECT_TRUE(pages.empty());
        // Nothing but the support check talked to the driver.
        for (const sim::EscapeRecord& r : driver().records)
            EXPECT_NE(r.function, 0x69u) << "no driver-key request after a refusal";
    }
}

TEST_F(HostingTest, PageIsAddedAndARefusedPageIsDestroyed)
{
    struct Host {
        std::vector<HPROPSHEETPAGE> pages;
        BOOL answer;
    } host = { {}, TRUE };
    auto callback = [](HPROPSHEETPAGE page, LPARAM param) -> BOOL {
        Host* h = reinterpret_cast<Host*>(param);
        h->pages.push_back(page);
        return h->answer;
    };
    qxtest::ResourceCounts before = qxtest::CurrentCounts();

    EXPECT_EQ(addPages(nullptr, callback, reinterpret_cast<LPARAM>(&host), info), 0u);
    ASSERT_EQ(host.pages.size(), 1u);
    EXPECT_TRUE(DestroyPropertySheetPage(host.pages[0]));

    host.answer = FALSE;
    EXPECT_EQ(addPages(nullptr, callback, reinterpret_cast<LPARAM>(&host), info), 0u);
    EXPECT_EQ(host.pages.size(), 2u);

    qxtest::ResourceCounts after = qxtest::CurrentCounts();
    EXPECT_EQ(after.user, before.user);
    EXPECT_EQ(after.gdi, before.gdi);
}

TEST_F(HostingTest, SheetShowsThePageAndTearsDownCleanly)
{
    std::vector<HPROPSHEETPAGE> pages;
    ASSERT_EQ(addPages(nullptr, qxtest::CollectPage, reinterpret_cast<LPARAM>(&pages), info), 0u);
    ASSERT_EQ(pages.size(), 1u);
    HWND hwnd = qxtest::OpenSheet(pages);
    ASSERT_NE(hwnd, nullptr);
    HWND page = PropSheet_GetCurrentPageHwnd(hwnd);
    ASSERT_NE(page, nullptr);

    // Showing the page marks the running copy.
    HWND marker = FindWindowA("QxTintraInst", "QxTintra");
    EXPECT_NE(marker, nullptr);
    EXPECT_FALSE(IsWindowVisible(marker));

    DestroyWindow(hwnd);
    EXPECT_EQ(FindWindowA("QxTintraInst", "QxTintra"), nullptr) << "the marker goes with the page";
    unInit(0);
}

// What the module asks of the common controls when it creates its page.
PROPSHEETPAGEA g_lastPage;
std::string g_lastTitle;
HPROPSHEETPAGE WINAPI RecordPage(LPCPROPSHEETPAGEA page)
{
    g_lastPage = *page;
    g_lastTitle = page->pszTitle;
    return nullptr;  // and refuse it: nothing reaches the host
}

TEST_F(HostingTest, PageRecordAsTheSheetNeedsIt)
{
    sim::ImportPatch patch(qxtest::ProgramModule(), "comctl32.dll", "CreatePropertySheetPageA",
        reinterpret_cast<void*>(&RecordPage));
    ASSERT_TRUE(patch.installed());
    int calls = 0;
    auto callback = [](HPROPSHEETPAGE, LPARAM param) -> BOOL {
        ++*reinterpret_cast<int*>(param);
        return TRUE;
    };
    AddTintraPage(callback, reinterpret_cast<LPARAM>(&calls), 229, 0x1234);
    EXPECT_EQ(calls, 0) << "a page that could not be created is not offered";
    EXPECT_EQ(g_lastPage.dwSize, static_cast<DWORD>(PROPSHEETPAGEA_V2_SIZE));
    EXPECT_EQ(g_lastPage.dwFlags, 0x4Au);
    EXPECT_EQ(g_lastPage.hInstance, g_hInstance);
    EXPECT_EQ(g_lastPage.pszTemplate, MAKEINTRESOURCEA(229));
    EXPECT_NE(g_lastPage.hIcon, nullptr);
    EXPECT_EQ(g_lastTitle, "QxTintra");
    EXPECT_NE(g_lastPage.pfnDlgProc, nullptr);
    EXPECT_EQ(g_lastPage.lParam, 0x1234);
    // The sheet counts the page in the module's reference count.
    EXPECT_EQ(g_lastPage.pcRefParent, reinterpret_cast<UINT*>(&g_cDllRef));
}

class InstanceWindowTest : public qxtest::DriverTest {};

TEST_F(InstanceWindowTest, WarnsOnceWhenAnotherCopyRuns)
{
    qxtest::MessageBoxRecorder boxes;
    // No other copy: no warning, and the marker appears.
    CreateInstanceWindow();
    ASSERT_NE(g_hInstanceWnd, nullptr);
    EXPECT_TRUE(qxtest::MessageBoxRecorder::boxes().empty());
    char cls[64];
    GetClassNameA(g_hInstanceWnd, cls, sizeof cls);
    EXPECT_STREQ(cls, "QxTintraInst");
    EXPECT_EQ(GetWindowLongA(g_hInstanceWnd, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    CreateInstanceWindow();  // already marked: nothing happens
    EXPECT_TRUE(qxtest::MessageBoxRecorder::boxes().empty());

    // Another copy's marker exists: the warning, once, then our own marker.
    HWND other = g_hInstanceWnd;
    g_hInstanceWnd = nullptr;
    CreateInstanceWindow();
    ASSERT_EQ(qxtest::MessageBoxRecorder::boxes().size(), 1u);
    const auto& box = qxtest::MessageBoxRecorder::boxes()[0];
    EXPECT_EQ(box.caption, "QxTintra");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.text,
        "A copy of this utility is already running. Running 2 copies at the same time may cause unpredictable "
        "results.\nPlease close one of the copies.");
    EXPECT_NE(g_hInstanceWnd, nullptr);
    EXPECT_NE(g_hInstanceWnd, other);

    DestroyInstanceWindow();
    EXPECT_EQ(g_hInstanceWnd, nullptr);
    DestroyInstanceWindow();  // nothing left: does nothing
    DestroyWindow(other);
}

} // namespace
