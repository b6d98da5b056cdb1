// The effects page in a real property sheet: its states as one table, the user's
// choices and what Apply and Cancel send, help, resume, the pictures it paints
// (background, tab items, logo link, preview), nothing left behind.
#include "page_fixture.h"

#include <shellapi.h>

#include <algorithm>
#include <set>

#include "config/localization.h"
#include "config/skin_settings.h"
#include "controls/picture_control.h"
#include "driver/chip_family.h"
#include "hosting/module.h"
#include "page/effect_model.h"
#include "page/page_dialog.h"
#include "page/page_paint.h"
#include "version.h"

namespace {

using Words = std::vector<DWORD>;
using Sent = std::vector<Words>;
using Ids = std::set<WORD>;
constexpr char kArtistic[] = "Brushwork(TM) Effects", kDeblock[] = "  Deblocking Filters  ";
constexpr COLORREF kUnder = RGB(9, 90, 9);

// A top-down 32-bit DIB section selected into a memory DC, for reading back.
struct Canvas {
    Canvas(int width, int height, COLORREF fill) : w(width), h(height)
    {
        BITMAPINFO bi = { { sizeof bi.bmiHeader, w, -h, 1, 32 } };
        bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        old = SelectObject(dc = CreateCompatibleDC(nullptr), bitmap);
        std::fill(bits, bits + w * h, RGB(GetBValue(fill), GetGValue(fill), GetRValue(fill)));
    }
    ~Canvas() { SelectObject(dc, old), DeleteObject(bitmap), DeleteDC(dc); }
    COLORREF At(int x, int y) const { return GdiFlush(), RGB(bits[y * w + x] >> 16, bits[y * w + x] >> 8 & 0xFF, bits[y * w + x] & 0xFF); }
    int w, h; HDC dc; HBITMAP bitmap; HGDIOBJ old; DWORD* bits = nullptr;
};

HBITMAP SolidBitmap(int w, int h, COLORREF c) { return CreateBitmap(w, h, 1, 32, std::vector<DWORD>(w * h, GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c)).data()); }
LONG Size(HBITMAP b) { BITMAP bm = {}; return GetObjectA(b, sizeof bm, &bm), bm.bmWidth * 1000 + bm.bmHeight; }  // width * 1000 + height
const PictureControlState* StateOf(HWND control) { return reinterpret_cast<const PictureControlState*>(GetWindowLongPtrA(control, 0)); }

class Page : public qxtest::PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        g_szBackground[0] = g_szBackground8bpp[0] = g_szOEMLogo[0] = g_szOEMLogo8bpp[0] = '\0';
        lstrcpyA(g_szHomePageUrl, QX_DEFAULT_HOME_PAGE_URL), lstrcpyA(g_szLanguage, "English");
        g_bHideLogo = FALSE, gdwUiStyle = QXLOOK_LUSTRE;
        stretchBlt.observe = [this](BOOL, HDC dc, int x, int y, int cx, int cy, HDC, int, int, int, int, DWORD) { stretches.push_back({ x, y, cx, cy, GetStretchBltMode(dc) }); };
        bitBlt.observe = [this](BOOL, HDC, int x, int y, int cx, int cy, HDC, int, int, DWORD) { copies.push_back({ x, y, cx, cy, 0 }); };
        textOut.observe = [this](BOOL, HDC, int x, int y, LPCSTR text, int n) { labels.push_back(std::string(text, n) + "@" + std::to_string(x) + "," + std::to_string(y)); };
        shell.answer = [this](HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, INT show) {
            opened.push_back(file + std::string(owner == page && !verb && !params && !dir && show == SW_SHOWDEFAULT ? "" : " (odd call)"));
            return HINSTANCE(INT_PTR(42));
        };
    }
    void TearDown() override { PageTest::TearDown(), dir_.empty() ? void() : qxtest::RemoveTree(dir_); }
    // The page's own erase into `canvas`; its message result agrees with the procedure's answer.
    LONG_PTR Erase(const Canvas& canvas)
    {
        const INT_PTR handled = (SetWindowLongPtrA(page, DWLP_MSGRESULT, -1), QxTintraPageDlgProc(page, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc), 0));
        EXPECT_EQ(handled, GetWindowLongPtrA(page, DWLP_MSGRESULT));
        return handled;
    }
    Canvas PageCanvas() const { RECT client; return GetClientRect(page, &client), Canvas(client.right, client.bottom, kUnder); }
    LRESULT DisplayChange(int bits) { return bitsPerPixel = bits, QxTintraPageDlgProc(page, WM_DISPLAYCHANGE, bits, MAKELPARAM(1024, 768)); }
    void ClickLogo() { SendDlgItemMessageA(page, IDC_LOGO, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)), SendDlgItemMessageA(page, IDC_LOGO, WM_LBUTTONUP, 0, MAKELPARAM(5, 5)), Pump(); }
    std::string BmpFile(const char* name, int w, int h, COLORREF c)  // a 24-bit BMP file of one colour
    {
        const std::vector<BYTE> bytes = qxtest::Bmp24File(w, h, [c](int, int) { return c; });
        const std::string path = (dir_ = dir_.empty() ? qxtest::MakeTempDir("page") : dir_) + "\\" + name;
        EXPECT_TRUE(qxtest::WriteFileBytes(path, bytes.data(), bytes.size()));
        return path;
    }
    Words MaxLevelQuestions()
    {
        Words effects;
        for (const std::string& r : Requests(sim::kTintraEscape))
            r.rfind("GET_MAX_LEVEL effect=", 0) ? void() : effects.push_back(strtoul(r.c_str() + 21, nullptr, 16));
        return effects;
    }
    // No radio of the tab is checked (but "none" if `none`), none of its sliders enabled.
    static bool AllOff(HWND dialog, int tab, bool none = false)
    {
        return std::all_of(std::begin(qxtest::kEffectRows), std::end(qxtest::kEffectRows), [&](const auto& row) {
            return row.tab != tab || (Checked(dialog, row.radio) == (none && !row.slider) && !(row.slider && Enabled(dialog, row.slider))); });
    }

    struct Blt { int x, y, cx, cy, mode; bool operator==(const Blt&) const = default; };
    std::vector<Blt> stretches, copies; std::vector<std::string> labels, opened;
    qxtest::Recorder<decltype(&StretchBlt)> stretchBlt { "StretchBlt" }; qxtest::Recorder<decltype(&BitBlt)> bitBlt { "BitBlt" };
    qxtest::Recorder<decltype(&TextOutA)> textOut { "TextOutA" }; qxtest::Recorder<decltype(&ShellExecuteA)> shell { "ShellExecuteA" };
    std::string dir_;
};

constexpr DWORD kRefused = ~0u;
struct PageState {
    const char* what;
    // the adapter and the system; maxima other than 10 (kRefused: the driver refuses)
    DWORD effects = 0, level = 0, numEfx = 1, caps = 0x339, family = CHIP_FAMILY_PRIMARY; bool readFails = false;
    std::vector<std::pair<DWORD, DWORD>> maxima = {};
    const char* language = "English"; int bits = 0;
    // what the page shows, asks, paints and sends: the radio checked on the shown
    // tab (0: none) and its slider's maximum; count, effect, level sent by Apply, then by Cancel
    std::vector<std::string> tabs = { kArtistic, kDeblock };
    int tab = 0, radio = IDC_EF_NONE, max = 10;
    Words asked = { 0x1, 0x8, 0x10, 0x20, 0x100, 0x200 }, sent = { 1, 0, 0 };
    Ids jpg = { IDB_EF_NONE }, png = { IDB_PREVIEW_FRAME, IDB_BKGND_LUSTRE, IDB_LOGO_LUSTRE };
    std::set<int> hidden = {}; bool eastAsian = false;  // tab templates: the first slider has a selection range, the long label one line
};

const PageState kStates[] = {
    { .what = "Neon Edges at 3 of 5", .effects = 0x8, .level = 3, .maxima = { { 0x8, 5 } }, .radio = IDC_NEON_EDGES, .max = 5, .sent = { 1, 0x8, 3 }, .jpg = { IDB_EF_NEON_EDGES1, IDB_EF_NONE } },
    { .what = "Emboss with the status flag", .effects = 0x401, .level = 4, .radio = IDC_EMBOSS, .sent = { 1, 1, 4 }, .jpg = { IDB_EF_EMBBIL2, IDB_EF_NONE } },
    { .what = "Edge Smoothing", .effects = 0x100, .level = 4, .tab = 1, .radio = IDC_DBLK_EDGESMOOTHING, .sent = { 1, 0x100, 4 }, .jpg = { IDB_DB_EDGESMOOTH, IDB_DB_NONE, IDB_EF_NONE } },
    { .what = "Complex Picture Smoothing", .effects = 0x200, .level = 7, .tab = 1, .radio = IDC_DBLK_COMPLEXPICSMOOTHING, .sent = { 1, 0x200, 7 }, .jpg = { IDB_DB_CPICT, IDB_DB_NONE, IDB_EF_NONE } },
    { .what = "two effects at once", .effects = 0x101, .level = 4, .tab = 1, .radio = 0, .sent = { 1, 0x101, 4 } },
    { .what = "none", .level = 4, .sent = { 1, 0, 4 } },
    { .what = "a failed read: none, and no pairs to send", .effects = 0x100, .level = 4, .readFails = true, .sent = { 0, 0, 0 } },
    { .what = "no pairs in force", .effects = 0x100, .level = 5, .numEfx = 0, .tab = 1, .radio = IDC_DBLK_EDGESMOOTHING, .sent = { 0, 0, 0 }, .jpg = { IDB_DB_EDGESMOOTH, IDB_DB_NONE, IDB_EF_NONE } },
    { .what = "more pairs than the page holds", .effects = 0x100, .level = 5, .numEfx = 7, .tab = 1, .radio = IDC_DBLK_EDGESMOOTHING, .sent = { 2, 0x100, 5 }, .jpg = { IDB_DB_EDGESMOOTH, IDB_DB_NONE, IDB_EF_NONE } },
    { .what = "Kp adapter with deblocking only", .effects = 0x100, .level = 2, .caps = 0x300, .family = CHIP_FAMILY_KP, .tabs = { kDeblock },
        .radio = IDC_DBLK_EDGESMOOTHING, .asked = { 0x100, 0x200 }, .sent = { 1, 0x100, 2 }, .jpg = { IDB_DB_EDGESMOOTH, IDB_DB_NONE, IDB_EF_NONE } },
    { .what = "missing capabilities and maxima", .effects = 0x20, .level = 3, .caps = 0x109, .maxima = { { 0x8, kRefused }, { 0x1, 0 } },
        .radio = IDC_SELECTED_SHARP, .sent = { 1, 0x20, 3 }, .jpg = { IDB_EF_SHARPEN1, IDB_EF_NONE },
        .hidden = { IDC_EMBOSS_SLIDER, IDC_EMBOSS_LEVEL, IDC_NEON_EDGES_SLIDER, IDC_NEON_EDGES_LEVEL, IDC_SOFT_FOCUS, IDC_SOFT_FOCUS_SLIDER, IDC_SOFT_FOCUS_LEVEL,
            IDC_SELECTED_SHARP, IDC_SHARP_SLIDER, IDC_SHARP_LEVEL, IDC_DBLK_COMPLEXPICSMOOTHING, IDC_DBLK_COMPLEXPICSMOOTHING_SLIDER, IDC_DBLK_COMPLEXPICSMOOTHING_LEVEL } },
    { .what = "Japanese", .effects = 0x1, .level = 1, .language = "japanese", .radio = IDC_EMBOSS, .sent = { 1, 1, 1 }, .jpg = { IDB_EF_EMBBIL1, IDB_EF_NONE }, .eastAsian = true },
    { .what = "Simplified Chinese", .language = "Simplified Chinese", .eastAsian = true },
    // The logo control keeps the picture of its own id until a display change.
    { .what = "256 colours", .bits = 8, .png = { IDB_PREVIEW_FRAME_8BPP, IDB_BKGND_LUSTRE_8BPP, IDB_LOGO_LUSTRE } },
};

TEST_F(Page, StatesShowSendAndPaint)
{
    for (const PageState& s : kStates) {
        SCOPED_TRACE(s.what);
        ResetPageState(), ReleaseReferencePictures(), driver().Reset();
        ConfigureSupportedDriver(g_dwChipFamily = s.family);
        driver().config.caps = s.caps;
        for (DWORD effect : { 0x1u, 0x8u, 0x10u, 0x20u, 0x100u, 0x200u }) driver().config.maxLevel[effect] = 10;
        for (const auto& [effect, max] : s.maxima) max == kRefused ? void(driver().config.maxLevel.erase(effect)) : void(driver().config.maxLevel[effect] = max);
        InForce(s.effects, s.level, s.numEfx);
        s.readFails ? void(driver().config.tintraResults[QX_TINTRA_FN_GET_EFFECTS] = 0) : void();
        lstrcpyA(g_szLanguage, s.language), bitsPerPixel = s.bits;
        UpdateDisplayMetrics(), pictures.clear(), Open();

        // The driver is asked for the capabilities, each maximum and what is in
        // force, in this order; after that only maxima for the preview.
        std::vector<std::string> start = { "QUERY_CAPS -> 1" }, calls = Requests(sim::kTintraEscape);
        char text[64];
        for (DWORD e : s.asked)
            start.push_back((snprintf(text, sizeof text, "GET_MAX_LEVEL effect=0x%lX -> %d", e, int(driver().config.maxLevel.count(e))), text));
        start.push_back(s.readFails ? "GET_EFFECTS -> 0" : "GET_EFFECTS -> 1");
        ASSERT_GE(calls.size(), start.size());
        EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + start.size()), start);
        EXPECT_EQ(calls.size() - start.size(), size_t(std::count_if(calls.begin() + start.size(), calls.end(), [](const std::string& c) { return c.rfind("GET_MAX_LEVEL", 0) == 0; })));

        std::vector<std::string> tabs; char label[64];
        for (int i = 0; i < TabCtrl_GetItemCount(Tab()); ++i) {
            TCITEMA item = { TCIF_TEXT, 0, 0, label, sizeof label };
            tabs.push_back((label[0] = '\0', SendMessageA(Tab(), TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item)), label));
        }
        EXPECT_EQ(std::make_pair(tabs, TabCtrl_GetCurSel(Tab())), std::make_pair(s.tabs, s.tab));
        const bool artisticShown = tabs.size() == 2 ? s.tab == 0 : s.tabs[0] == kArtistic;
        HWND shown = artisticShown ? g_EffectsDlg : g_DeblockDlg, other = artisticShown ? g_DeblockDlg : g_EffectsDlg;
        // The tab dialogs live in the tab control.
        EXPECT_TRUE(g_CurTabDlg == shown && GetParent(shown) == Tab() && IsWindowVisible(shown) && (tabs.size() == 2 ? !IsWindowVisible(other) : !other));
        for (const auto& row : qxtest::kEffectRows) {
            HWND dialog = row.tab == 0 ? g_EffectsDlg : g_DeblockDlg;
            const bool checked = dialog && dialog == shown && row.radio == s.radio;
            for (int id : { row.radio, row.slider, row.level })
                if (id && dialog)
                    EXPECT_EQ(Shown(dialog, id), !s.hidden.count(id)) << id;
            EXPECT_TRUE(!dialog || (Checked(dialog, row.radio) == checked && (!row.slider || dialog != shown || Enabled(dialog, row.slider) == checked))) << row.radio;
            if (row.slider && checked)
                EXPECT_EQ(std::make_tuple(Position(dialog, row.slider), SendDlgItemMessageA(dialog, row.slider, TBM_GETRANGEMAX, 0, 0), Text(dialog, row.level)),
                    std::make_tuple(int(s.level), LRESULT(s.max), std::to_string(s.level)));
        }
        // The labels come from the texts of the language (here the built-in ones) whatever the template.
        auto style = [](HWND dialog, int id) { return GetWindowLongPtrA(GetDlgItem(dialog, id), GWL_STYLE); };
        EXPECT_TRUE(!g_EffectsDlg || Text(g_EffectsDlg, IDC_EMBOSS) + ((style(g_EffectsDlg, IDC_EMBOSS_SLIDER) & TBS_ENABLESELRANGE) ? "|range" : "") == (s.eastAsian ? "Emboss|range" : "Emboss"));
        EXPECT_TRUE(!g_DeblockDlg || Text(g_DeblockDlg, IDC_DBLK_EDGESMOOTHING) + ((style(g_DeblockDlg, IDC_DBLK_COMPLEXPICSMOOTHING) & BS_MULTILINE) ? "|two lines" : "") == (s.eastAsian ? "Edge Smoothing" : "Edge Smoothing|two lines"));
        // Only the Simplified Chinese layout fits the group box to the picture.
        RECT group, picture;
        GetWindowRect(GetDlgItem(page, IDC_ORIGINALGRPBOX), &group), GetWindowRect(GetDlgItem(page, IDC_REFERENCE), &picture);
        EXPECT_EQ(group.right - group.left == picture.right - picture.left + 8, s.language[0] == 'S');
        EXPECT_TRUE(Text(page, IDC_VERSION) == QX_VERSION_STRING && StateOf(GetDlgItem(page, IDC_EFFECT_PREVIEW))->instance == g_hInstance && !ApplyEnabled());
        const std::vector<WORD> jpg = Pictures("JPG"), png = Pictures("PNG");
        EXPECT_EQ(std::make_pair(Ids(jpg.begin(), jpg.end()), Ids(png.begin(), png.end())), std::make_pair(s.jpg, s.png));

        // The other tab shows the same choice: "none" for none, nothing for an effect.
        if (tabs.size() == 2) {
            ClickTab(1 - s.tab);
            EXPECT_TRUE(g_CurTabDlg == other && IsWindowVisible(other) && !IsWindowVisible(shown));
            EXPECT_TRUE(AllOff(other, 1 - s.tab, s.radio == IDC_EF_NONE || s.radio == IDC_DBLK_NONE));
            EXPECT_FALSE(ApplyEnabled()) << "a tab switch changes nothing";
            ClickTab(s.tab);
        }
        // Apply sends what was read, without the flag, at the level of the
        // first pair; Cancel sends back what was applied.
        driver().records.clear();
        PressApply(), PressCancel();
        EXPECT_EQ(Sets(), (Sent { s.sent, s.sent }));
        EXPECT_EQ(PropSheet_GetCurrentPageHwnd(sheet), nullptr) << "the sheet accepted the cancel";
        EXPECT_EQ((Close(), driver().LiveDCs()), 0);
    }
}

TEST_F(Page, ChoicesApplyAndCancelHelpAndResume)
{
    driver().config.maxLevel.erase(QX_TINTRA_EF_UNSHARP_MASK);  // an effect without levels
    InForce(QX_TINTRA_EF_EMBOSS, 2), Open(), driver().records.clear();
    HWND fx = g_EffectsDlg, db = g_DeblockDlg;
    Slide(fx, IDC_EMBOSS_SLIDER, 4);
    EXPECT_TRUE(ApplyEnabled() && Text(fx, IDC_EMBOSS_LEVEL) == "4");
    Slide(fx, IDC_EMBOSS_SLIDER, 2);
    EXPECT_TRUE(!ApplyEnabled() && Text(fx, IDC_EMBOSS_LEVEL) == "2") << "back at the applied level of the applied effect";
    Slide(fx, IDC_EMBOSS_SLIDER, 4), Click(fx, IDC_NEON_EDGES);
    EXPECT_TRUE(ApplyEnabled() && Checked(fx, IDC_NEON_EDGES) && Enabled(fx, IDC_NEON_EDGES_SLIDER) && !Enabled(fx, IDC_EMBOSS_SLIDER));
    // The applied effect again: unchanged, although its slider stands at 4.
    Click(fx, IDC_EMBOSS);
    EXPECT_TRUE(!ApplyEnabled() && !Enabled(fx, IDC_NEON_EDGES_SLIDER) && Enabled(fx, IDC_EMBOSS_SLIDER) && Position(fx, IDC_EMBOSS_SLIDER) == 4);
    // Neon Edges picks up the level its own slider shows, across tab switches.
    Slide(fx, IDC_NEON_EDGES_SLIDER, 0), Click(fx, IDC_NEON_EDGES), Slide(fx, IDC_NEON_EDGES_SLIDER, 9), ClickTab(1);
    EXPECT_TRUE(AllOff(db, 1) && ApplyEnabled()) << "Neon Edges is still the choice";
    ClickTab(0);
    EXPECT_TRUE(Checked(fx, IDC_NEON_EDGES) && Enabled(fx, IDC_NEON_EDGES_SLIDER) && Text(fx, IDC_NEON_EDGES_LEVEL) == "9");
    for (const std::string& r : Requests())  // choosing, sliding and switching tabs only touch the page
        EXPECT_EQ(r.rfind("GET_MAX_LEVEL", 0), 0u) << r;
    EXPECT_FALSE((PressApply(), ApplyEnabled()));
    // "None" is level 0, and a change until applied.
    Click(fx, IDC_EF_NONE);
    EXPECT_TRUE(ApplyEnabled() && Checked(fx, IDC_EF_NONE) && !Enabled(fx, IDC_EMBOSS_SLIDER) && !Enabled(fx, IDC_NEON_EDGES_SLIDER) && !Enabled(fx, IDC_SOFT_FOCUS_SLIDER));
    // A filter chosen on the other tab clears this one.
    PressApply(), ClickTab(1), Click(db, IDC_DBLK_EDGESMOOTHING);
    EXPECT_TRUE(Enabled(db, IDC_DBLK_EDGESMOOTHING_SLIDER));
    EXPECT_TRUE((ClickTab(0), AllOff(fx, 0)));
    // An effect without levels is chosen at level 0; Cancel after Apply sends
    // the applied effect, not the later choice.
    PressApply(), Click(fx, IDC_SELECTED_SHARP), PressApply(), Click(fx, IDC_SOFT_FOCUS), Slide(fx, IDC_SOFT_FOCUS_SLIDER, 7);
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_EQ((PressCancel(), Sets()), (Sent { { 1, 0x8, 9 }, { 1, 0, 0 }, { 1, 0x100, 0 }, { 1, 0x20, 0 }, { 1, 0x20, 0 } }));
    Close();

    // Context help for the control asked about, with the page's table.
    std::vector<std::tuple<HWND, std::string, UINT, ULONG_PTR>> help;
    qxtest::Recorder<decltype(&WinHelpA)> winHelp("WinHelpA");
    winHelp.answer = [&](HWND w, LPCSTR file, UINT command, ULONG_PTR data) { return help.emplace_back(w, file, command, data), TRUE; };
    lstrcpyA(g_szHelpFile, "QXTINENU.HLP"), Open();
    HWND button = GetDlgItem(g_EffectsDlg, IDC_NEON_EDGES), slider = GetDlgItem(g_EffectsDlg, IDC_NEON_EDGES_SLIDER);
    HELPINFO info = { sizeof info, HELPINFO_WINDOW, IDC_NEON_EDGES, button };
    SendMessageA(page, WM_HELP, 0, LPARAM(&info)), SendMessageA(g_EffectsDlg, WM_HELP, 0, LPARAM(&info));
    SendMessageA(page, WM_HELP, 0, 0);  // nothing to ask about
    SendMessageA(g_EffectsDlg, WM_CONTEXTMENU, WPARAM(slider), MAKELPARAM(10, 10)), SendMessageA(page, WM_CONTEXTMENU, WPARAM(Tab()), MAKELPARAM(10, 10));
    const ULONG_PTR table = reinterpret_cast<ULONG_PTR>(g_aHelpIds);
    EXPECT_EQ(help, (decltype(help) { { button, "QXTINENU.HLP", HELP_WM_HELP, table }, { button, "QXTINENU.HLP", HELP_WM_HELP, table },
                        { slider, "QXTINENU.HLP", HELP_CONTEXTMENU, table }, { Tab(), "QXTINENU.HLP", HELP_CONTEXTMENU, table } }));

    // After a resume the page's first erase shows one box and repaints; a tab
    // dialog erasing first repaints itself without a box.
    auto eraseNow = [](HWND w) { RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW | RDW_NOCHILDREN), Pump(); };
    auto& boxes = qxtest::MessageBoxRecorder::boxes();
    boxes.clear(), SendMessageA(page, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), eraseNow(page);
    EXPECT_TRUE(boxes.empty());
    SendMessageA(page, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0), eraseNow(page), eraseNow(page);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(std::tie(boxes[0].owner, boxes[0].text, boxes[0].caption, boxes[0].type),
        std::make_tuple(HWND(nullptr), std::string("Repainting dialog..."), std::string(""), UINT(MB_OK)));
    SendMessageA(g_EffectsDlg, WM_POWERBROADCAST, PBT_APMRESUMECRITICAL, 0), eraseNow(g_EffectsDlg), eraseNow(page);
    EXPECT_TRUE(boxes.size() == 1 && !g_bRepaintAfterResume);
}

TEST_F(Page, TilesAndTabItems)
{
    // Small pictures are tiled into the rectangle, the smaller side deciding.
    const RECT area = { 10, 20, 210, 180 };
    for (const auto& [w, h, n] : { std::tuple { 40, 30, 2 }, { 20, 20, 4 }, { 50, 40, 1 }, { 60, 19, 4 } }) {
        Canvas canvas(240, 200, RGB(1, 2, 3));
        HBITMAP picture = SolidBitmap(w, h, RGB(200, 40, 90));
        SetStretchBltMode(canvas.dc, BLACKONWHITE), stretches.clear(), PaintImage(canvas.dc, &area, picture), DeleteObject(picture);
        std::vector<Blt> expected;
        for (int i = 0; i < n * n; ++i)
            expected.push_back({ 10 + i / n * 200 / n, 20 + i % n * 160 / n, 200 / n, 160 / n, COLORONCOLOR });
        EXPECT_EQ(stretches, expected) << w << "x" << h;
        EXPECT_EQ(GetStretchBltMode(canvas.dc), BLACKONWHITE) << "the caller's mode comes back";
        EXPECT_EQ(std::make_tuple(canvas.At(209, 179), canvas.At(9, 20), canvas.At(10, 180)), std::make_tuple(RGB(200, 40, 90), RGB(1, 2, 3), RGB(1, 2, 3)));
    }
    EXPECT_TRUE((stretches.clear(), PaintImage(Canvas(20, 20, 0).dc, &area, nullptr), stretches.empty()));

    // Tab items: grey bands when selected on many colours, the label over them.
    HWND tab = CreateWindowExA(0, WC_TABCONTROLA, "", WS_POPUP | TCS_OWNERDRAWFIXED, 0, 0, 300, 100, nullptr, nullptr, nullptr, nullptr);
    char label[] = "  Deblocking Filters  ";
    TCITEMA item = { TCIF_TEXT, 0, 0, label };
    ASSERT_EQ(SendMessageA(tab, TCM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)), 0);
    constexpr COLORREF kFace = RGB(235, 235, 235), kWhite = RGB(255, 255, 255);
    const struct { UINT action, state; int bits; COLORREF top; /* at the top row, right of the label */ size_t labels; } cases[] = {
        { ODA_DRAWENTIRE, ODS_SELECTED, 0, kWhite, 2 },  // the label on the face and over the bands
        { ODA_DRAWENTIRE, 0, 0, kFace, 1 },              // unselected: the plain face
        { ODA_SELECT, ODS_FOCUS, 0, kWhite, 1 },         // a selection change alone: no face first
        { ODA_FOCUS, ODS_FOCUS, 0, kUnder, 0 },          // a focus change alone draws nothing
        { ODA_DRAWENTIRE, ODS_SELECTED, 8, kFace, 2 } }; // few colours: the plain face
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Canvas canvas(120, 40, kUnder);
        DRAWITEMSTRUCT dis = { ODT_TAB, 0, 0, c.action, c.state, tab, canvas.dc, { 4, 2, 104, 22 } };
        bitsPerPixel = c.bits, labels.clear(), SetBkMode(canvas.dc, OPAQUE), PaintTabItem(&dis);
        // Eleven bands of two rows, band k grey 255 - 230 k / 22, the last (rows
        // 22 and 23) grey 120; nothing around the item. Without bands one colour.
        const bool bands = c.top == kWhite && c.action == ODA_DRAWENTIRE;
        for (int row : { 2, 3, 4, 5, 20, 21, 22, 23, 24 }) {
            const int g = row < 22 ? 255 - 230 * ((row - 2) / 2) / 22 : 120;
            if (row == 2 || bands || c.top != kWhite)
                EXPECT_EQ(canvas.At(100, row), row == 2 ? c.top : bands ? (row < 24 ? RGB(g, g, g) : kUnder) : row < 22 ? c.top : kUnder) << row;
        }
        EXPECT_EQ(canvas.At(100, 1) | canvas.At(104, 10), kUnder);
        EXPECT_EQ(std::make_pair(labels, GetBkMode(canvas.dc)), std::make_pair(std::vector<std::string>(c.labels, std::string(label) + "@9,5"), OPAQUE)) << "the DC's own mode comes back";
    }
    DestroyWindow(tab);
}

TEST_F(Page, BackgroundsByDepthStyleAndSettingStretchedOnceThenCopied)
{
    const std::string file = BmpFile("bk.bmp", 30, 20, RGB(10, 200, 30));
    // The settings for 8 bits per pixel and for more; the resource loaded (0: none; 1: the file).
    const struct { DWORD style, depth; const char *few, *many; WORD resource; } cases[] = { { QXLOOK_LUSTRE, 16, "", "", IDB_BKGND_LUSTRE }, { QXLOOK_LUSTRE, 8, "", "", IDB_BKGND_LUSTRE_8BPP },
        { QXLOOK_CLASSIC, 24, "", "", IDB_BKGND_CLASSIC }, { QXLOOK_CLASSIC, 4, "", "", IDB_BKGND_CLASSIC_8BPP },
        { QXLOOK_LUSTRE, 16, "", "<NoNe>", 0 }, { QXLOOK_LUSTRE, 8, "", "<none>", IDB_BKGND_LUSTRE_8BPP }, { QXLOOK_LUSTRE, 8, "<none>", "", 0 },
        { QXLOOK_LUSTRE, 32, "", "C:\\no\\such\\picture.png", IDB_BKGND_LUSTRE },  // falls back to the module's
        { QXLOOK_LUSTRE, 32, "", file.c_str(), 1 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        gdwUiStyle = c.style, pictures.clear();
        HBITMAP slot = nullptr, b = LoadBackgroundImage(&slot, c.depth, c.few, c.many);
        EXPECT_EQ(std::make_tuple(slot, Pictures("PNG"), Size(b)), std::make_tuple(b, c.resource > 1 ? std::vector<WORD> { c.resource } : std::vector<WORD> {}, c.resource == 1 ? 30020L : c.resource ? 460429L : 0L));
        pictures.clear();  // a loaded slot is handed back without looking again
        EXPECT_TRUE((!b || LoadBackgroundImage(&slot, c.depth == 8 ? 32 : 8, "", "") == b) && pictures.empty());
        DeleteObject(b);
    }
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 90, 70, nullptr, nullptr, nullptr, nullptr);
    for (BOOL fast : { TRUE, FALSE }) {
        Canvas canvas(90, 70, kUnder);
        HBITMAP slot = nullptr, loaded = SolidBitmap(9, 7, RGB(250, 10, 10)); BOOL stretched = FALSE;
        EXPECT_FALSE(PaintBackground(canvas.dc, window, &slot, &stretched, fast)) << "no picture, no paint";
        slot = loaded, ValidateRect(window, nullptr), stretches.clear(), copies.clear();
        EXPECT_TRUE(PaintBackground(canvas.dc, window, &slot, &stretched, fast) && stretched);
        EXPECT_EQ(GetObjectType(loaded), 0u) << "the loaded picture is deleted";
        EXPECT_EQ(std::make_pair(Size(slot), canvas.At(89, 69)), std::make_pair(90070L, RGB(250, 10, 10)));
        EXPECT_EQ(std::make_pair(stretches, copies), std::make_pair(std::vector<Blt> { { 0, 0, 90, 70, fast ? COLORONCOLOR : HALFTONE } }, std::vector<Blt> { { 0, 0, 90, 70 } }));
        // Later erases copy just what needs it.
        RECT part = { 10, 20, 30, 25 };
        InvalidateRect(window, &part, FALSE), stretches.clear(), copies.clear();
        EXPECT_TRUE(PaintBackground(canvas.dc, window, &slot, &stretched, fast) && stretches.empty() && copies == (std::vector<Blt> { { 10, 20, 20, 5 } }));
        ValidateRect(window, nullptr), DeleteObject(slot);
    }
    DestroyWindow(window);
}

TEST_F(Page, EraseAndDisplayChangesFollowTheSettingsAndTheDepth)
{
    // A background file: painted, reported; "<none>": nothing painted, the
    // erase not done; the background goes with the page.
    const std::string green = BmpFile("green.bmp", 46, 43, RGB(10, 200, 30));
    for (const bool none : { false, true }) {
        lstrcpyA(g_szBackground, none ? "<none>" : green.c_str()), lstrcpyA(g_szBackground8bpp, green.c_str()), Open();
        const Canvas canvas = PageCanvas();
        const LONG_PTR erased = Erase(canvas);
        EXPECT_EQ(std::make_tuple(erased, g_bBackgroundStretched, canvas.At(canvas.w - 1, canvas.h - 1)), std::make_tuple(LONG_PTR(!none), BOOL(!none), none ? kUnder : RGB(10, 200, 30)));
        EXPECT_EQ((Close(), g_hBackgroundBmp), nullptr);
    }
    g_szBackground[0] = g_szBackground8bpp[0] = '\0', bitsPerPixel = 16, Open();
    Canvas canvas = PageCanvas(); Erase(canvas);
    HWND preview = GetDlgItem(page, IDC_EFFECT_PREVIEW), logo = GetDlgItem(page, IDC_LOGO);
    for (const auto& [bits, background, frame, logoId] : { std::tuple<int, WORD, LONG, LONG> { 8, IDB_BKGND_LUSTRE_8BPP, IDB_PREVIEW_FRAME_8BPP, IDB_LOGO_LUSTRE_8BPP },
             { 16, IDB_BKGND_LUSTRE, IDB_PREVIEW_FRAME, IDB_LOGO_LUSTRE } }) {
        EXPECT_TRUE(DisplayChange(bits) == TRUE && gdwColorDepth == DWORD(bits) && !g_hBackgroundBmp && !g_bBackgroundStretched) << "dropped until the next erase";
        EXPECT_EQ(std::make_pair(StateOf(preview)->imageId, StateOf(logo)->imageId), std::make_pair(frame, logoId));
        pictures.clear();
        EXPECT_EQ(Erase(canvas), 1);
        EXPECT_EQ(Pictures("PNG"), std::vector<WORD> { background });
    }
    // An OEM's logo files: the 8-bit one where it was made for.
    lstrcpyA(g_szOEMLogo, BmpFile("logo.bmp", 40, 30, RGB(1, 1, 200)).c_str());
    lstrcpyA(g_szOEMLogo8bpp, BmpFile("logo8.bmp", 40, 30, RGB(0, 0, 128)).c_str());
    EXPECT_EQ((DisplayChange(8), std::make_pair(StateOf(logo)->imageId, std::string(StateOf(logo)->fileName))), std::make_pair(-1L, std::string(g_szOEMLogo8bpp)));
    EXPECT_STREQ((DisplayChange(32), StateOf(logo)->fileName), g_szOEMLogo);
    // Owner drawing answers for the tab and the two pictures only, and draws a picture for a whole-item request only.
    DRAWITEMSTRUCT dis = { 0, 0, 0, ODA_SELECT, 0, preview, canvas.dc };
    EXPECT_TRUE((pictures.clear(), QxTintraPageDlgProc(page, WM_DRAWITEM, IDC_EFFECT_PREVIEW, reinterpret_cast<LPARAM>(&dis))) == TRUE && pictures.empty());
    dis.hwndItem = GetDlgItem(page, IDC_VERSION), dis.itemAction = ODA_DRAWENTIRE;
    EXPECT_EQ(QxTintraPageDlgProc(page, WM_DRAWITEM, IDC_VERSION, reinterpret_cast<LPARAM>(&dis)), FALSE);
}

TEST_F(Page, LogoLinkOpensTheHomePageUnlessHiddenOrWithoutAddress)
{
    lstrcpyA(g_szHomePageUrl, "http://oem.example/home"), lstrcpyA(g_szOEMLogo, BmpFile("oem.bmp", 40, 30, RGB(1, 1, 200)).c_str()), Open();
    HWND logo = GetDlgItem(page, IDC_LOGO);
    EXPECT_TRUE(StateOf(logo)->hoverCursor && StateOf(logo)->instance == g_hInstance && !lstrcmpA(StateOf(logo)->fileName, g_szOEMLogo));
    // One tooltip tool on the logo, with the address.
    char tip[256] = "";
    TOOLINFOA info = { TTTOOLINFOA_V1_SIZE, 0, nullptr, 0, {}, nullptr, tip };
    ASSERT_TRUE(SendMessageA(g_hLogoToolTip, TTM_GETTOOLCOUNT, 0, 0) == 1 && SendMessageA(g_hLogoToolTip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_EQ(std::make_tuple(info.hwnd, info.uId, info.uFlags & TTF_SUBCLASS, std::string(tip)),
        std::make_tuple(logo, UINT_PTR(IDC_LOGO), UINT(TTF_SUBCLASS), std::string("http://oem.example/home")));
    EXPECT_EQ((ClickLogo(), opened), std::vector<std::string> { "http://oem.example/home" });
    EXPECT_EQ(QxTintraPageDlgProc(page, WM_COMMAND, MAKEWPARAM(IDC_VERSION, 0), 0), FALSE) << "another control's command is not the page's";
    HWND tooltip = g_hLogoToolTip;
    EXPECT_FALSE((Close(), IsWindow(tooltip) || g_hLogoToolTip));
    // Without an address the logo is a plain picture; a hidden logo has no tooltip.
    for (BOOL hide : { FALSE, TRUE }) {
        lstrcpyA(g_szHomePageUrl, hide ? "http://x/" : ""), g_bHideLogo = hide, Open();
        logo = GetDlgItem(page, IDC_LOGO);
        EXPECT_EQ(!g_hLogoToolTip && (IsWindowVisible(logo) || IsWindowEnabled(logo)), !hide);
        EXPECT_TRUE(hide || !StateOf(logo)->hoverCursor);
        hide ? void() : ClickLogo();
        Close();
    }
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(Page, PreviewFollowsTheLevelBand)
{
    driver().config.maxLevel[QX_TINTRA_EF_EMBOSS] = 8;  // bands of three levels
    InForce(QX_TINTRA_EF_EMBOSS, 0), Open();
    HWND slider = GetDlgItem(g_EffectsDlg, IDC_EMBOSS_SLIDER);
    for (const auto& [level, picture] : { std::pair<int, WORD> { 2, IDB_EF_EMBBIL1 }, { 3, IDB_EF_EMBBIL2 }, { 5, IDB_EF_EMBBIL2 },
             { 6, IDB_EF_EMBBIL3 }, { 8, IDB_EF_EMBBIL3 }, { 0, IDB_EF_EMBBIL1 } }) {
        pictures.clear(), driver().records.clear(), SendMessageA(slider, TBM_SETPOS, TRUE, level);
        SendMessageA(g_EffectsDlg, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, level), reinterpret_cast<LPARAM>(slider)), Pump();
        EXPECT_EQ(std::make_pair(Pictures("JPG"), MaxLevelQuestions()), std::make_pair(std::vector<WORD> { picture }, Words { QX_TINTRA_EF_EMBOSS })) << "decoded afresh at every step, level " << level;
    }
    EXPECT_EQ((pictures.clear(), Click(g_EffectsDlg, IDC_NEON_EDGES), Pictures("JPG")), std::vector<WORD> { IDB_EF_NEON_EDGES0 });
    ClickTab(1);
    for (const auto& [radio, picture] : { std::pair<int, WORD> { IDC_DBLK_COMPLEXPICSMOOTHING, IDB_DB_CPICT }, { IDC_DBLK_NONE, IDB_DB_NONE } }) {
        pictures.clear(), driver().records.clear(), Click(g_DeblockDlg, radio);
        EXPECT_EQ(std::make_pair(Pictures("JPG"), MaxLevelQuestions()), std::make_pair(std::vector<WORD> { picture }, Words {})) << "the filters' pictures have no bands";
    }
    gdwCurEffect = 0x2;  // a code without a picture decodes nothing
    EXPECT_TRUE((pictures.clear(), UpdateEffectsWindow(page), Pictures("JPG").empty()));
    Close();
}

TEST_F(Page, OpeningUsingAndClosingLeaveNothingBehind)
{
    InForce(QX_TINTRA_EF_EMBOSS, 2);
    // The first page of the process loads what the module keeps (reference
    // pictures) and what every sheet shares (classes, fonts, themes).
    Open(), Close();
    int localBlocks = 0;
    qxtest::Recorder<decltype(&LocalAlloc)> alloc("LocalAlloc", qxtest::ProgramModule());
    qxtest::Recorder<decltype(&LocalFree)> release("LocalFree", qxtest::ProgramModule());
    alloc.observe = [&](HLOCAL block, UINT, SIZE_T) { localBlocks += block != nullptr; };
    release.observe = [&](HLOCAL, HLOCAL block) { localBlocks -= block != nullptr; };
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();
    const int windowsBefore = qxtest::ThreadWindowCount();
    for (int round = 0; round < 2; ++round) {
        Open();
        EXPECT_EQ(Erase(PageCanvas()) + Erase(PageCanvas()), 2);
        Click(g_EffectsDlg, IDC_SOFT_FOCUS), Slide(g_EffectsDlg, IDC_SOFT_FOCUS_SLIDER, 3), ClickTab(1), ClickTab(0);
        RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        DisplayChange(32), ClickLogo(), PressApply(), PressCancel(), Close();
        EXPECT_FALSE(g_hPageDlg || g_EffectsDlg || g_hInstanceWnd) << "the running-copy marker goes with the page";
    }
    EXPECT_EQ(std::make_pair(opened.size(), qxtest::CurrentCounts()), std::make_pair(size_t(2), before));
    EXPECT_EQ(qxtest::ThreadWindowCount(), windowsBefore) << "no window (tooltip included) outlives the sheet";
    EXPECT_EQ(localBlocks, 0) << "the tab block goes with its page";
}

} // namespace
