// Relayout of a dialog for another font and translated control texts, with
// the real fonts of this Wine: expectations come from the fonts' own metrics.
#include "page_fixture.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "config/localization.h"
#include "config/relayout.h"
#include "controls/picture_control.h"
#include "page/effect_model.h"

namespace {

struct Item { int id; std::wstring cls; DWORD style, exStyle; short x, y, cx, cy; std::wstring text; };

// A hidden dialog ("MS Shell Dlg" 8) from a template made in memory.
HWND MakeDialog(short cx, short cy, DWORD exStyle, const std::vector<Item>& items)
{
    std::vector<WORD> w;
    auto dword = [&w](DWORD v) { w.insert(w.end(), { LOWORD(v), HIWORD(v) }); };
    auto text = [&w](const std::wstring& s) { w.insert(w.end(), s.c_str(), s.c_str() + s.size() + 1); };
    dword(WS_POPUP | DS_SETFONT);
    dword(exStyle);
    w.insert(w.end(), { WORD(items.size()), 0, 0, WORD(cx), WORD(cy), 0, 0, 0, 8 });
    text(L"MS Shell Dlg");
    for (const Item& i : items) {
        w.resize((w.size() + 1) & ~size_t(1));
        dword(i.style | WS_CHILD | WS_VISIBLE);
        dword(i.exStyle);
        w.insert(w.end(), { WORD(i.x), WORD(i.y), WORD(i.cx), WORD(i.cy), WORD(i.id) });
        text(i.cls);
        text(i.text);
        w.push_back(0);
    }
    return CreateDialogIndirectParamA(qxtest::ProgramModule(), reinterpret_cast<LPCDLGTEMPLATEA>(w.data()), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
}

// Extent of a text in a font (the window's own when none is given); the
// font's tmHeight in `height`.
SIZE Extent(HWND hwnd, const std::string& text, HFONT font = nullptr, LONG* height = nullptr)
{
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, font ? font : reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)));
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    SIZE s = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &s);
    SelectObject(dc, old), ReleaseDC(hwnd, dc);
    if (height)
        *height = tm.tmHeight;
    return s;
}
RECT RectIn(HWND hwnd, HWND dlg)
{
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}
std::string TextOf(HWND hwnd)
{
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

class RelayoutTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RegisterPictureClass(qxtest::ProgramModule());
        WNDCLASSA wc = { 0, DefWindowProcA, 0, 0, qxtest::ProgramModule() };
        wc.lpszClassName = "QxUtlRndBtn";
        RegisterClassA(&wc);
    }
};

// How each control's rectangle follows the font. A combo box fits its own
// height and its list to a new font by itself.
enum Rule { Scaled, IconSize, TextLine, PictureHeight, RoundWidth, ComboList };

TEST_F(RelayoutTest, ControlsMoveAndSizeByTheFontsMetrics)
{
    const std::pair<Item, Rule> controls[] = {
        { { 10, L"Static", SS_LEFT, 0, 8, 8, 60, 3, L"Label" }, TextLine },
        { { 11, L"Static", SS_RIGHT, 0, 8, 14, 60, 20, L"Tall label" }, TextLine },
        { { 12, L"Static", SS_ICON, 0, 80, 8, 20, 20, L"" }, IconSize },
        { { 13, L"Static", SS_BLACKRECT, 0, 8, 38, 40, 2, L"" }, Scaled },
        { { 14, L"QxUtlBmp", 0, 0, 120, 8, 60, 40, L"" }, PictureHeight },
        { { 15, L"QxUtlRndBtn", 0, 0, 120, 52, 30, 12, L"" }, RoundWidth },
        { { 16, L"Button", BS_AUTORADIOBUTTON, 0, 8, 50, 50, 10, L"Radio" }, Scaled },
        { { 17, L"ComboBox", CBS_DROPDOWNLIST, 0, 60, 66, 50, 60, L"" }, ComboList },
        { { 18, L"msctls_trackbar32", 0, 0, 8, 90, 100, 12, L"" }, Scaled },
    };
    std::vector<Item> items;
    for (const auto& c : controls)
        items.push_back(c.first);
    const short cx = 186, cy = 110;
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    // The template's own font first. With this machine's fonts -12 to -15
    // measure the alphabet 14 to 18 high: -8, -13 and -15 cover the unit's steps.
    for (int height : { 0, -8, -13, -14, -15, -26 }) {
        SCOPED_TRACE(height);
        HWND dlg = MakeDialog(cx, cy, 0, items);
        ASSERT_NE(dlg, nullptr);
        auto own = reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0));
        HFONT font = height ? CreateFontA(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "MS Shell Dlg") : own;
        LONG hOld, hNew;
        const SIZE from = Extent(dlg, alphabet, own, &hOld), to = Extent(dlg, alphabet, font, &hNew);
        const LONG extra = to.cy > 16 ? 200 : to.cy >= 15 ? 5 : 0;
        const LONG unitOld = ((from.cx / 26 + 1) / 2) * 100 + extra, unitNew = ((to.cx / 26 + 1) / 2) * 100 + extra;
        RECT client;
        GetClientRect(dlg, &client);
        const LONG xFrom = unitOld * cx / 100, xTo = client.right * 400 / unitNew * unitNew / 100;
        const LONG yFrom = hOld * cy, yTo = client.bottom * 8 / hNew * hNew;
        auto sx = [&](LONG v) { return (v * xTo * 10 + 8) / xFrom / 10; };
        auto sy = [&](LONG v) { return (v * yTo * 10 + 8) / yFrom / 10; };

        std::vector<RECT> before;
        for (const auto& control : controls)
            before.push_back(RectIn(GetDlgItem(dlg, control.first.id), dlg));
        const auto counts = qxtest::CurrentCounts();
        EXPECT_EQ(RelayoutDialogForFont(dlg, font, cx, cy), own);
        EXPECT_EQ(qxtest::CurrentCounts(), counts);

        for (size_t k = 0; k < std::size(controls); ++k) {
            const auto& [item, rule] = controls[k];
            SCOPED_TRACE(item.id);
            const RECT& b = before[k];
            RECT e = { sx(b.left), sy(b.top), sx(b.right), sy(b.bottom) }, a = RectIn(GetDlgItem(dlg, item.id), dlg);
            if (rule == IconSize || rule == RoundWidth)
                e.right = e.left + (b.right - b.left);
            if (rule == IconSize || rule == PictureHeight)
                e.bottom = e.top + (b.bottom - b.top);
            if (rule == TextLine && e.bottom - e.top < hNew)
                e.bottom = e.top + hNew;
            if (rule == ComboList)
                a.bottom = e.bottom;
            EXPECT_EQ(std::tuple(a.left, a.top, a.right, a.bottom), std::tuple(e.left, e.top, e.right, e.bottom));
            if (rule == TextLine)
                EXPECT_EQ(reinterpret_cast<HFONT>(SendDlgItemMessageA(dlg, item.id, WM_GETFONT, 0, 0)), font);
        }
        DestroyWindow(dlg);
        if (font != own)
            DeleteObject(font);
    }
}

// ---- translated texts: "&" marks are measured as shown, "&&" as two, "&x" as "x" ----
enum WidthRule { Unchanged, RadioBox, CheckBox, KeepSlack, PushButton };

TEST_F(RelayoutTest, TranslatedTextResizesItsControl)
{
    const std::string dir = qxtest::MakeTempDir("relayout"), cfg = dir + "\\texts.cfg";
    const std::string texts = "[T]\r\nShort=Kurz\r\nLong=A much longer label than before\r\nAmp=A&&B\r\nAccel=&Cd\r\n";
    ASSERT_TRUE(qxtest::WriteFileBytes(cfg, texts.data(), texts.size()));
    SetConfigSection("T", cfg.c_str());

    constexpr DWORD radio = BS_AUTORADIOBUTTON, push = BS_PUSHBUTTON, rtl = WS_EX_LAYOUTRTL, label = SS_LEFTNOWORDWRAP;
    const char *const longer = "A much longer label than before", *const wide = "Much wider than its control";
    // shown: the text shown; oldMeasured, newMeasured: the texts measured, without "&" marks;
    // right: the control keeps its right edge rather than its left one.
    const struct {
        DWORD style, exStyle, dialogExStyle; short cx; const char *old, *key, *def; int mode;
        const char *shown, *oldMeasured, *newMeasured; WidthRule rule; bool right;
    } cases[] = {
        { radio, 0, 0, 120, "A rather long English label", "Short", "", 1, "Kurz", "", "Kurz", RadioBox, false },
        { radio, 0, 0, 40, "Tiny", "Long", "", 1, longer, "", longer, RadioBox, false },
        { BS_AUTOCHECKBOX, 0, 0, 60, "Box", "Long", "", 1, longer, "", longer, CheckBox, false },
        { push, 0, 0, 90, "Cancel all", "Short", "", 1, "Kurz", "Cancel all", "Kurz", PushButton, false },
        { push, 0, 0, 30, "OK", "Long", "", 1, longer, "OK", longer, PushButton, false },
        { push, 0, 0, 20, "Tight fit", "Long", "", 1, longer, "Tight fit", longer, PushButton, false },
        { label, 0, 0, 80, "&Old", "Short", "", 1, "Kurz", "Old", "Kurz", KeepSlack, false },
        { label, 0, 0, 20, wide, "Long", "", 1, longer, wide, longer, KeepSlack, false },
        { radio, 0, 0, 40, "Tiny", "Long", "", 0, longer, "", "", Unchanged, false },
        { radio, 0, 0, 80, "Template", "Absent", nullptr, 1, "Template", "", "Template", RadioBox, false },
        { radio, 0, 0, 80, "Template", "Absent", "Dflt", 1, "Dflt", "", "Dflt", RadioBox, false },
        { radio, 0, 0, 80, "x", "Amp", "", 1, "A&&B", "", "A&&B", RadioBox, false },
        { radio, 0, 0, 80, "x", "Accel", "", 1, "&Cd", "", "Cd", RadioBox, false },
        { radio, 0, 0, 40, "Tiny", "Long", "", 3, longer, "", longer, RadioBox, true },
        // Mirrored: the two resizing modes trade places (screen edges).
        { radio, rtl, 0, 40, "Tiny", "Long", "", 1, longer, "", longer, RadioBox, true },
        { radio, 0, rtl, 40, "Tiny", "Long", "", 3, longer, "", longer, RadioBox, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " mode " + std::to_string(c.mode) + " " + c.old);
        const std::string old = c.old;
        HWND dlg = MakeDialog(250, 60, c.dialogExStyle, { { 20, c.style == label ? L"Static" : L"Button", c.style,
            c.exStyle, 60, 10, c.cx, 14, std::wstring(old.begin(), old.end()) } });
        ASSERT_NE(dlg, nullptr);
        HWND control = GetDlgItem(dlg, 20);
        RECT b, a;
        GetWindowRect(control, &b);
        const LONG w = b.right - b.left;
        const auto counts = qxtest::CurrentCounts();
        SetControlTextFromCfg(dlg, 20, c.def, c.key, c.mode);
        EXPECT_EQ(qxtest::CurrentCounts(), counts);
        EXPECT_EQ(TextOf(control), c.shown);
        const LONG newText = Extent(control, c.newMeasured).cx, slack = std::max(0L, w - Extent(control, c.oldMeasured).cx);
        const LONG expected = c.rule == RadioBox ? newText + 20
            : c.rule == CheckBox                 ? newText + 28
            : c.rule == KeepSlack                ? newText + slack
            : c.rule == PushButton               ? std::max(w, newText + std::clamp(slack, 16L, 30L))
                                                 : w;
        GetWindowRect(control, &a);
        EXPECT_EQ(std::tuple(a.right - a.left, a.top, a.bottom), std::tuple(expected, b.top, b.bottom));
        EXPECT_EQ(c.right ? a.right : a.left, c.right ? b.right : b.left);
        DestroyWindow(dlg);
    }
    SetConfigSection("", "");
    qxtest::RemoveTree(dir);
}

// ---- the page in German ---------------------------------------------------------
class TranslatedPage : public qxtest::PageTest {
protected:
    void TearDown() override { PageTest::TearDown(), lstrcpyA(g_szLanguage, "English"), SetConfigSection("", ""); }
};

TEST_F(TranslatedPage, EveryGermanLabelShowsAndFits)
{
    // The sample file where it lies (Wine's drive Z: is the root).
    const std::string file = "Z:" QX_SOURCE_DIR "/resources/config/QXTINTRA.CFG";
    SetConfigSection("German", file.c_str());
    auto german = [&file](const char* key) {
        char text[512] = "";
        GetPrivateProfileStringA("German", key, "", text, sizeof text, file.c_str());
        return std::string(text);
    };
    auto fontOf = [](HWND hwnd) { return SendMessageA(hwnd, WM_GETFONT, 0, 0); };

    // An English page keeps its own texts whatever section is read.
    for (const bool translated : { false, true }) {
        SCOPED_TRACE(translated);
        lstrcpyA(g_szLanguage, translated ? "German" : "English");
        Open();
        // Relaid out, the page's controls take the sheet's font, and the tab
        // dialogs' controls the font the tab control had (the page's own).
        HWND group = GetDlgItem(page, IDC_ORIGINALGRPBOX);
        EXPECT_EQ(fontOf(group) == fontOf(sheet), translated);
        EXPECT_EQ(fontOf(GetDlgItem(g_EffectsDlg, IDC_EMBOSS)) == fontOf(page), translated);
        EXPECT_EQ(TextOf(group), translated ? german("IDC_ORIGINALGRPBOX") : "Original image");
        RECT r, slider;
        GetWindowRect(group, &r);
        EXPECT_LE(Extent(group, TextOf(group)).cx, r.right - r.left);
        for (int tab : { QX_TAB_ARTISTIC, QX_TAB_DEBLOCK }) {
            const TabInfo* info = GetTabInfo(tab);
            for (int k = 0; k < info->rowCount; ++k) {
                const EffectRow& row = info->rows[k];
                SCOPED_TRACE(row.textKey);
                HWND child = tab == QX_TAB_ARTISTIC ? g_EffectsDlg : g_DeblockDlg;
                HWND radio = GetDlgItem(child, row.radioId);
                EXPECT_EQ(TextOf(radio) == german(row.textKey), translated);
                GetWindowRect(radio, &r);
                EXPECT_LE(Extent(radio, TextOf(radio)).cx, r.right - r.left);
                if (!row.trackbarId)
                    continue;
                GetWindowRect(GetDlgItem(child, row.trackbarId), &slider);
                EXPECT_LE(r.right, slider.left) << "the label runs under its slider";
            }
        }
        Close();
    }
}

} // namespace
