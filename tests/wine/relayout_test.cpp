// Relayout of a dialog for another font and translated control texts, with
// the real fonts of this Wine: expectations come from the fonts' own metrics.
#include "page_fixture.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "config/localization.h"
#include "config/relayout.h"
#include "controls/picture_control.h"
#include "page/effect_model.h"

namespace {

// ---- a dialog template in memory ----------------------------------------------------
struct Item {
    int id;
    const wchar_t* cls;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    const wchar_t* text;
};

class Template {
public:
    Template(short cx, short cy, DWORD exStyle = 0) : cx_(cx), cy_(cy), exStyle_(exStyle) {}
    Template& operator<<(const Item& item) { items_.push_back(item); return *this; }
    HWND Create() const
    {
        std::vector<WORD> w;
        auto dword = [&w](DWORD v) { w.push_back(LOWORD(v)); w.push_back(HIWORD(v)); };
        auto text = [&w](const wchar_t* s) { do w.push_back(*s); while (*s++); };
        dword(WS_POPUP | DS_SETFONT);  // hidden: quicker under Wine
        dword(exStyle_);
        w.insert(w.end(), { static_cast<WORD>(items_.size()), 0, 0, WORD(cx_), WORD(cy_), 0, 0, 0, 8 });
        text(L"MS Shell Dlg");
        for (const Item& i : items_) {
            if (w.size() % 2)
                w.push_back(0);
            dword(i.style | WS_CHILD | WS_VISIBLE);
            dword(i.exStyle);
            w.insert(w.end(), { WORD(i.x), WORD(i.y), WORD(i.cx), WORD(i.cy), WORD(i.id) });
            text(i.cls);
            text(i.text);
            w.push_back(0);
        }
        return CreateDialogIndirectParamA(qxtest::ProgramModule(), reinterpret_cast<LPCDLGTEMPLATEA>(w.data()),
            nullptr, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    }

private:
    short cx_, cy_;
    DWORD exStyle_;
    std::vector<Item> items_;
};

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

struct Metrics {
    LONG height;
    SIZE alphabet;
};

Metrics Measure(HWND hwnd, HFONT font)
{
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    Metrics m = { tm.tmHeight, {} };
    GetTextExtentPoint32A(dc, kAlphabet, 52, &m.alphabet);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return m;
}

LONG TextWidth(HWND control, const std::string& text)
{
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    SIZE s = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &s);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return s.cx;
}

RECT RectIn(HWND hwnd, HWND dlg)
{
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

LONG DroppedBottom(HWND combo, HWND dlg)
{
    RECT r = {};
    SendMessageA(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&r));
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r.bottom;
}

// A combo box fits itself to a new font and its list to its size on its own:
// what counts is the first size it is asked for after its new font.
WNDPROC g_comboProc;
bool g_comboHasFont;
LONG g_comboAskedHeight;
LRESULT CALLBACK RecordComboSize(HWND h, UINT m, WPARAM w, LPARAM l)
{
    const auto* pos = reinterpret_cast<const WINDOWPOS*>(l);
    if (m == WM_WINDOWPOSCHANGING && g_comboHasFont && g_comboAskedHeight < 0 && !(pos->flags & SWP_NOSIZE))
        g_comboAskedHeight = pos->cy;
    LRESULT result = CallWindowProcA(g_comboProc, h, m, w, l);
    g_comboHasFont = g_comboHasFont || m == WM_SETFONT;
    return result;
}

std::string TextOf(HWND hwnd)
{
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

class RelayoutTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RegisterPictureClass(qxtest::ProgramModule());
        WNDCLASSA wc = {};
        wc.lpfnWndProc = PlainProc;
        wc.hInstance = qxtest::ProgramModule();
        wc.lpszClassName = "QxUtlRndBtn";
        RegisterClassA(&wc);
    }
};

// How each control's rectangle follows the font.
enum Rule { Scaled, IconSize, TextLine, PictureHeight, RoundWidth, ComboList };

TEST_F(RelayoutTest, ControlsMoveAndSizeByTheFontsMetrics)
{
    const struct {
        Item item;
        Rule rule;
    } controls[] = {
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
    const short cx = 186, cy = 110;
    // Own font first: the layout must then stay where it is.
    // With this machine's fonts -12 to -15 measure the alphabet 14 to 18 high.
    for (int height : { 0, -8, -12, -13, -14, -15, -20, -26 }) {
        SCOPED_TRACE(height);
        Template t(cx, cy);
        for (const auto& c : controls)
            t << c.item;
        HWND dlg = t.Create();
        ASSERT_NE(dlg, nullptr);
        auto own = reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0));
        HFONT font = height ? CreateFontA(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                                  "MS Shell Dlg")
                            : own;
        const Metrics from = Measure(dlg, own), to = Measure(dlg, font);
        const LONG extra = to.alphabet.cy > 16 ? 200 : to.alphabet.cy >= 15 ? 5 : 0;
        const LONG unitOld = ((from.alphabet.cx / 26 + 1) / 2) * 100 + extra;
        const LONG unitNew = ((to.alphabet.cx / 26 + 1) / 2) * 100 + extra;
        RECT client;
        GetClientRect(dlg, &client);
        const LONG xFrom = unitOld * cx / 100, xTo = client.right * 400 / unitNew * unitNew / 100;
        const LONG yFrom = from.height * cy, yTo = client.bottom * 8 / to.height * to.height;
        auto sx = [&](LONG v) { return (v * xTo * 10 + 8) / xFrom / 10; };
        auto sy = [&](LONG v) { return (v * yTo * 10 + 8) / yFrom / 10; };

        std::vector<RECT> before;
        std::vector<bool> keepsFont;  // icons, pictures, trackbars keep none
        for (const auto& c : controls) {
            keepsFont.push_back(SendDlgItemMessageA(dlg, c.item.id, WM_GETFONT, 0, 0) != 0);
            RECT r = RectIn(GetDlgItem(dlg, c.item.id), dlg);
            if (c.rule == ComboList) {
                r.bottom = DroppedBottom(GetDlgItem(dlg, c.item.id), dlg);
                g_comboHasFont = false;
                g_comboAskedHeight = -1;
                g_comboProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(GetDlgItem(dlg, c.item.id), GWLP_WNDPROC,
                    reinterpret_cast<LONG_PTR>(&RecordComboSize)));
            }
            before.push_back(r);
        }
        const auto counts = qxtest::CurrentCounts();
        EXPECT_EQ(RelayoutDialogForFont(dlg, font, cx, cy), own);
        EXPECT_EQ(qxtest::CurrentCounts().gdi, counts.gdi);

        for (size_t k = 0; k < std::size(controls); ++k) {
            const auto& c = controls[k];
            SCOPED_TRACE(c.item.id);
            HWND child = GetDlgItem(dlg, c.item.id);
            const RECT& b = before[k];
            RECT e = { sx(b.left), sy(b.top), sx(b.right), sy(b.bottom) };
            if (c.rule == IconSize || c.rule == RoundWidth)
                e.right = e.left + (b.right - b.left);
            if (c.rule == IconSize || c.rule == PictureHeight)
                e.bottom = e.top + (b.bottom - b.top);
            if (c.rule == TextLine && e.bottom - e.top < to.height)
                e.bottom = e.top + to.height;
            RECT a = RectIn(child, dlg);
            if (c.rule == ComboList)
                a.bottom = a.top + g_comboAskedHeight;
            EXPECT_EQ(a.left, e.left);
            EXPECT_EQ(a.top, e.top);
            EXPECT_EQ(a.right, e.right);
            EXPECT_EQ(a.bottom, e.bottom);
            // With the template's own font nothing moves, except a label
            // lower than one line, which grows to one.
            if (font == own && !(c.rule == TextLine && b.bottom - b.top < to.height)) {
                EXPECT_LE(std::abs(a.left - b.left) + std::abs(a.right - b.right), 1);
                EXPECT_LE(std::abs(a.top - b.top) + std::abs(a.bottom - b.bottom), 1);
            }
            if (keepsFont[k])
                EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), font);
        }
        DestroyWindow(dlg);
        if (font != own)
            DeleteObject(font);
    }
}


// ---- translated texts ------------------------------------------------------------------
enum WidthRule { Unchanged, RadioBox, CheckBox, KeepSlack, PushButton };
enum Anchor { Left, Right };

TEST_F(RelayoutTest, TranslatedTextResizesItsControl)
{
    const std::string dir = qxtest::MakeTempDir("relayout");
    const std::string cfg = dir + "\\texts.cfg";
    const std::string texts = "[Test]\r\nShort=Kurz\r\nLong=A much longer label than before\r\nAmp=A&&B\r\nAccel=&Cd\r\n";
    ASSERT_TRUE(qxtest::WriteFileBytes(cfg, texts.data(), texts.size()));
    SetConfigSection("Test", cfg.c_str());

    constexpr DWORD radio = BS_AUTORADIOBUTTON, mirrored = WS_EX_LAYOUTRTL;
    const struct {
        const wchar_t* cls;
        DWORD style, exStyle, dialogExStyle;
        short cx;
        const wchar_t* old;
        const char *key, *def;
        int mode;
        const char *shown, *oldMeasured, *newMeasured;
        WidthRule rule;
        Anchor anchor;
    } cases[] = {
        { L"Button", radio, 0, 0, 120, L"A rather long English label", "Short", "", 1, "Kurz",
            "", "Kurz", RadioBox, Left },
        { L"Button", radio, 0, 0, 40, L"Tiny", "Long", "", 1, "A much longer label than before", "",
            "A much longer label than before", RadioBox, Left },
        { L"Button", BS_AUTOCHECKBOX, 0, 0, 60, L"Box", "Long", "", 1, "A much longer label than before", "",
            "A much longer label than before", CheckBox, Left },
        { L"Button", BS_PUSHBUTTON, 0, 0, 90, L"Cancel everything", "Short", "", 1, "Kurz", "Cancel everything",
            "Kurz", PushButton, Left },
        { L"Button", BS_PUSHBUTTON, 0, 0, 30, L"OK", "Long", "", 1, "A much longer label than before", "OK",
            "A much longer label than before", PushButton, Left },
        { L"Button", BS_PUSHBUTTON, 0, 0, 20, L"Tight fit", "Long", "", 1, "A much longer label than before",
            "Tight fit", "A much longer label than before", PushButton, Left },
        { L"Static", SS_LEFT, 0, 0, 80, L"&Old", "Short", "", 1, "Kurz", "Old", "Kurz", KeepSlack, Left },
        { L"Static", SS_LEFT, 0, 0, 20, L"Much wider than its control", "Long", "", 1,
            "A much longer label than before", "Much wider than its control", "A much longer label than before",
            KeepSlack, Left },
        { L"Button", radio, 0, 0, 40, L"Tiny", "Long", "", 0, "A much longer label than before", "", "",
            Unchanged, Left },
        { L"Button", radio, 0, 0, 80, L"Template text", "Absent", nullptr, 0, "Template text", "", "", Unchanged,
            Left },
        { L"Button", radio, 0, 0, 80, L"Template text", "Absent", nullptr, 1, "Template text", "",
            "Template text", RadioBox, Left },
        { L"Button", radio, 0, 0, 80, L"Template text", "Absent", "Dflt", 1, "Dflt", "", "Dflt", RadioBox, Left },
        { L"Button", radio, 0, 0, 80, L"x", "Amp", "", 1, "A&&B", "", "A&&B", RadioBox, Left },
        { L"Button", radio, 0, 0, 80, L"x", "Accel", "", 1, "&Cd", "", "Cd", RadioBox, Left },
        { L"Button", radio, 0, 0, 40, L"Tiny", "Long", "", 3, "A much longer label than before", "",
            "A much longer label than before", RadioBox, Right },
        { L"Button", radio, mirrored, 0, 40, L"Tiny", "Long", "", 1, "A much longer label than before", "",
            "A much longer label than before", RadioBox, Right },
        { L"Button", radio, mirrored, 0, 40, L"Tiny", "Long", "", 3, "A much longer label than before", "",
            "A much longer label than before", RadioBox, Left },
        { L"Button", radio, 0, mirrored, 40, L"Tiny", "Long", "", 3, "A much longer label than before", "",
            "A much longer label than before", RadioBox, Right },
        { L"Button", radio, 0, mirrored, 40, L"Tiny", "Long", "", 1, "A much longer label than before", "",
            "A much longer label than before", RadioBox, Left },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " mode " + std::to_string(c.mode) + " " + c.shown);
        HWND dlg = (Template(250, 60, c.dialogExStyle) << Item{ 20, c.cls, c.style, c.exStyle, 60, 10, c.cx, 14, c.old })
                       .Create();
        ASSERT_NE(dlg, nullptr);
        HWND control = GetDlgItem(dlg, 20);
        RECT b;
        GetWindowRect(control, &b);
        const LONG w = b.right - b.left;
        const auto counts = qxtest::CurrentCounts();
        SetControlTextFromCfg(dlg, 20, c.def, c.key, c.mode);
        EXPECT_EQ(qxtest::CurrentCounts().gdi, counts.gdi);
        EXPECT_EQ(qxtest::CurrentCounts().user, counts.user);

        EXPECT_EQ(TextOf(control), c.shown);
        const LONG oldText = TextWidth(control, c.oldMeasured), newText = TextWidth(control, c.newMeasured);
        const LONG slack = std::max(0L, w - oldText);
        LONG expected = w;
        if (c.rule == RadioBox || c.rule == CheckBox)
            expected = newText + (c.rule == RadioBox ? 20 : 28);
        if (c.rule == KeepSlack)
            expected = newText + slack;
        if (c.rule == PushButton)
            expected = std::max(w, newText + std::clamp(slack, 16L, 30L));
        RECT a;
        GetWindowRect(control, &a);
        EXPECT_EQ(a.right - a.left, expected);
        EXPECT_EQ(a.bottom - a.top, b.bottom - b.top);
        EXPECT_EQ(a.top, b.top);
        if (c.anchor == Left)
            EXPECT_EQ(a.left, b.left);
        else
            EXPECT_EQ(a.right, b.right);
        DestroyWindow(dlg);
    }
    SetConfigSection("", "");
    qxtest::RemoveTree(dir);
}

TEST(StripAccelerators, SingleMarksGoDoubledOnesStay)
{
    const std::pair<const char*, const char*> cases[] = {
        { "&File", "File" }, { "Save &As", "Save As" }, { "A&&B", "A&&B" }, { "&&&x", "&&x" },
        { "end&", "end" }, { "", "" }, { "plain", "plain" },
    };
    for (const auto& [text, expected] : cases) {
        char out[32];
        memset(out, 'z', sizeof out);
        StripAccelerators(out, text);
        EXPECT_STREQ(out, expected) << text;
    }
}

// ---- the page in German ---------------------------------------------------------
class TranslatedPage : public qxtest::PageTest {
protected:
    void TearDown() override
    {
        PageTest::TearDown();
        lstrcpyA(g_szLanguage, "English");
        SetConfigSection("", "");
    }
    static std::string FromFile(const std::string& file, const char* key)
    {
        char text[512] = "";
        GetPrivateProfileStringA("German", key, "", text, sizeof text, file.c_str());
        return text;
    }
};

TEST_F(TranslatedPage, EveryGermanLabelShowsAndFits)
{
    std::ifstream in(QX_SOURCE_DIR "/resources/config/QXTINTRA.CFG", std::ios::binary);
    std::stringstream sample;
    sample << in.rdbuf();
    const std::string dir = qxtest::MakeTempDir("german");
    const std::string file = dir + "\\QXTINTRA.CFG";
    ASSERT_TRUE(qxtest::WriteFileBytes(file, sample.str().data(), sample.str().size()));
    SetConfigSection("German", file.c_str());

    // English pages keep their own texts whatever section is read.
    for (const char* language : { "English", "German" }) {
        SCOPED_TRACE(language);
        const bool german = lstrcmpA(language, "German") == 0;
        lstrcpyA(g_szLanguage, language);
        Open();
        // Relaid out, the page's controls take the sheet's font, and the tab
        // dialogs' controls the font the tab control had (the page's own).
        auto fontOf = [](HWND hwnd) { return SendMessageA(hwnd, WM_GETFONT, 0, 0); };
        const LRESULT sheetFont = fontOf(sheet), pageFont = fontOf(page);
        HWND group = GetDlgItem(page, IDC_ORIGINALGRPBOX);
        EXPECT_EQ(fontOf(group) == sheetFont, german);
        EXPECT_EQ(fontOf(GetDlgItem(g_EffectsDlg, IDC_EMBOSS)) == pageFont, german);
        EXPECT_EQ(TextOf(group), german ? FromFile(file, "IDC_ORIGINALGRPBOX") : "Original image");
        RECT r;
        GetWindowRect(group, &r);
        EXPECT_LE(TextWidth(group, TextOf(group)), r.right - r.left);
        for (int tab : { QX_TAB_ARTISTIC, QX_TAB_DEBLOCK }) {
            HWND child = tab == QX_TAB_ARTISTIC ? g_EffectsDlg : g_DeblockDlg;
            const TabInfo* info = GetTabInfo(tab);
            for (int k = 0; k < info->rowCount; ++k) {
                const EffectRow& row = info->rows[k];
                SCOPED_TRACE(row.textKey);
                HWND radio = GetDlgItem(child, row.radioId);
                const std::string text = TextOf(radio);
                EXPECT_EQ(text == FromFile(file, row.textKey), german);
                GetWindowRect(radio, &r);
                EXPECT_LE(TextWidth(radio, text), r.right - r.left);
                if (!row.trackbarId)
                    continue;
                RECT slider;
                GetWindowRect(GetDlgItem(child, row.trackbarId), &slider);
                EXPECT_LE(r.right, slider.left) << "the label runs under its slider";
            }
        }
        Close();
    }
    qxtest::RemoveTree(dir);
}

} // namespace
