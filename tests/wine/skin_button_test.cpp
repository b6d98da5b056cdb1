// Skinned buttons on real windows: standard "Button" controls skinned in a
// container that paints a known ground, their pixels read back from the
// screen, their notifications caught by the container, and the module's GDI
// calls watched through the import recorder.
#include "page_fixture.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "controls/skin_button.h"
#include "controls/skin_paint.h"
#include "page/effect_model.h"
#include "page/page_dialog.h"
#include "page/page_paint.h"

namespace {

using qxtest::Recorder;

constexpr COLORREF kGround = RGB(0, 160, 0);
constexpr COLORREF kStripKey = RGB(128, 0, 128);
constexpr int kCell = 13;  // the strip's cells are square, as high as the strip

struct Notice { UINT code; bool sent; };
std::vector<Notice> g_notices;
bool g_pumping;  // what arrives while the queue is pumped was posted

// The container: its class brush is the known ground.
LRESULT CALLBACK GroundProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COMMAND)
        g_notices.push_back({ HIWORD(wParam), !g_pumping });
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Pixels as the screen shows them. The windows read are kept topmost: the
// suites that run beside this one share its desktop, and a window of theirs
// over ours would be read instead.
std::vector<COLORREF> Snapshot(HWND w, RECT r = {})
{
    if (IsRectEmpty(&r))
        GetClientRect(w, &r);
    std::vector<COLORREF> v;
    HDC dc = GetDC(w);
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            v.push_back(GetPixel(dc, x, y));
    ReleaseDC(w, dc);
    return v;
}

// BN_CLICKED notifications that were posted (or sent) since the last clear.
int Clicks(bool sent)
{
    g_pumping = true;
    qxtest::PumpMessages();
    g_pumping = false;
    return static_cast<int>(std::count_if(g_notices.begin(), g_notices.end(),
        [sent](const Notice& n) { return n.code == BN_CLICKED && n.sent == sent; }));
}

class SkinButton : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSA wc = { 0, GroundProc, 0, 0, qxtest::ProgramModule() };
        wc.hbrBackground = CreateSolidBrush(kGround), wc.lpszClassName = "QxSkinGround";
        RegisterClassA(&wc);
        top_ = CreateWindowExA(WS_EX_TOPMOST, "QxSkinGround", "", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240, nullptr,
            nullptr, wc.hInstance, nullptr);
        // The strip as the page shares it, and an untouched copy to compare with.
        strip_ = LoadBitmapA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDB_RADIO_STRIP));
        pristine_ = LoadBitmapA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDB_RADIO_STRIP));
    }
    static void TearDownTestSuite() { DestroyWindow(top_), DeleteObject(strip_), DeleteObject(pristine_); }
    void SetUp() override
    {
        g_notices.clear();
        cursor_.answer = [](POINT* p) { return *p = cursorAt_, TRUE; };
        before_ = qxtest::CurrentCounts();
        box_ = CreateWindowExA(0, "QxSkinGround", "", WS_CHILD | WS_VISIBLE, 0, 0, 320, 240, top_, nullptr,
            qxtest::ProgramModule(), nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(box_);
        EXPECT_EQ(qxtest::CurrentCounts(), before_) << "records and looks go with their windows";
    }

    HWND Make(DWORD style, SkinButtonDesc d, int y = 10, int w = 120, int h = 18, const char* text = "Label")
    {
        HWND b = CreateWindowExA(0, "Button", text, WS_CHILD | WS_VISIBLE | style, 10, y, w, h, box_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(100 + y)), qxtest::ProgramModule(), nullptr);
        EXPECT_TRUE(ApplyButtonSkin(b, &d));
        return b;
    }
    HWND MakeStripped(DWORD style, int y = 10)
    {
        SkinButtonDesc d = {};
        d.flags = SKIN_BITMAP, d.bitmap = strip_;
        return Make(style, d, y);
    }
    void Paint() { RedrawWindow(box_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW); }
    // A message with a client position; a press also finds the pointer there.
    static void Mouse(HWND b, UINT msg, int x, int y)
    {
        cursorAt_ = { x, y };
        ClientToScreen(b, &cursorAt_);
        SendMessageA(b, msg, 0, MAKELPARAM(x, y));
    }
    // The strip's own cell, its key colour shown as the ground.
    static std::vector<COLORREF> StripCell(int cell)
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, pristine_);
        std::vector<COLORREF> v;
        for (int y = 0; y < kCell; ++y)
            for (int x = 0; x < kCell; ++x)
                v.push_back(GetPixel(dc, cell * kCell + x, y) == kStripKey ? kGround : GetPixel(dc, cell * kCell + x, y));
        SelectObject(dc, old);
        DeleteDC(dc);
        return v;
    }

    static inline HWND top_;
    static inline HBITMAP strip_, pristine_;
    static inline POINT cursorAt_;
    HWND box_ = nullptr;
    qxtest::ResourceCounts before_ = {};
    Recorder<decltype(&GetCursorPos)> cursor_{ "GetCursorPos", qxtest::ProgramModule() };
};

// A disabled radio has no cell 4 in a strip of four; an indeterminate box
// counts as checked; only three-state boxes keep a check of 2.
TEST_F(SkinButton, StripCellOfEachStateWithKeyCornersShowingTheGround)
{
    const struct { DWORD style, check; bool enabled, pushed; int cell; LRESULT kept; } cases[] = {
        { BS_AUTORADIOBUTTON, 0, true, false, 0, 0 }, { BS_AUTORADIOBUTTON, 1, true, false, 1, 1 },
        { BS_AUTORADIOBUTTON, 0, true, true, 2, 0 }, { BS_AUTORADIOBUTTON, 1, true, true, 3, 1 },
        { BS_AUTORADIOBUTTON, 0, false, false, 0, 0 }, { BS_AUTORADIOBUTTON, 1, false, false, 1, 1 },
        { BS_AUTO3STATE, 2, true, false, 1, 2 }, { BS_3STATE, 2, true, false, 1, 2 }, { BS_AUTOCHECKBOX, 2, true, false, 1, 1 },
        { BS_CHECKBOX, 2, true, false, 1, 1 }, { BS_RADIOBUTTON, 2, true, false, 1, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        HWND b = MakeStripped(c.style);
        SendMessageA(b, BM_SETCHECK, c.check, 0);
        EXPECT_EQ(SendMessageA(b, BM_GETCHECK, 0, 0), c.kept);
        EnableWindow(b, c.enabled);
        if (c.pushed)
            Mouse(b, WM_LBUTTONDOWN, 60, 9);
        Paint();
        const LONG x0 = IsRadioKind(c.style) ? 1 : 0, y0 = (18 - kCell) / 2;
        const std::vector<COLORREF> shown = Snapshot(b, { x0, y0, x0 + kCell, y0 + kCell });
        EXPECT_EQ(shown, StripCell(c.cell));
        EXPECT_EQ(shown[0], kGround) << "key corner";
        Mouse(b, WM_RBUTTONUP, 60, 9);
        DestroyWindow(b);
    }
}

TEST_F(SkinButton, MouseAndKeysOnAnAutoCheckBox)
{
    // Mouse steps at x (the button is 120 x 18): D/U left down/up, d double click, R right up, M move.
    // Keys: S/s space down/up, E/e enter down/up, + and keypad -. C: BM_CLICK.
    const struct { const char* steps; int x[4]; bool focused; int posted, sent; DWORD check; } cases[] = {
        { "DU", { 5, 5 }, true, 1, 0, 1 }, { "dU", { 5, 5 }, true, 1, 0, 1 }, { "+-", {}, true, 2, 0, 0 },
        { "DMU", { 5, 200, 200 }, true, 0, 0, 0 }, { "DMMU", { 5, 200, 6, 6 }, true, 1, 0, 1 },  // dragged out; and back
        { "DRU", { 5, 5, 5 }, true, 0, 0, 0 },             // a right-button release ends the press
        { "SSs", {}, true, 1, 0, 1 }, { "Ee", {}, true, 0, 1, 0 },  // a repeated space down is one press; enter is sent
        { "Ss", {}, false, 0, 0, 0 },                      // keys without the focus do nothing
        { "C", {}, true, 1, 0, 1 },                        // BM_CLICK, the pointer elsewhere: the dialog's arrow keys
    };
    static const char kMouse[] = "DUdRM";
    static const UINT kMouseMsg[] = { WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_MOUSEMOVE };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        HWND b = MakeStripped(BS_AUTOCHECKBOX);
        SetFocus(c.focused ? b : box_);
        g_notices.clear();
        for (int i = 0; c.steps[i]; ++i) {
            const char k = c.steps[i];
            if (const char* at = strchr(kMouse, k))
                Mouse(b, kMouseMsg[at - kMouse], c.x[i], 5);
            else if (k == 'C')
                cursorAt_ = { 600, 600 }, SendMessageA(b, BM_CLICK, 0, 0);
            else
                SendMessageA(b, islower(k) ? WM_KEYUP : WM_KEYDOWN,
                    k == '+' ? VK_OEM_PLUS : k == '-' ? VK_SUBTRACT : toupper(k) == 'S' ? VK_SPACE : VK_RETURN, 1);
        }
        EXPECT_EQ(Clicks(false), c.posted);
        EXPECT_EQ(Clicks(true), c.sent);
        EXPECT_EQ(SendMessageA(b, BM_GETCHECK, 0, 0), static_cast<LRESULT>(c.check));
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_EQ(GetButtonSkin(b)->trackFlags & (TRACK_ACTIVE | TRACK_HELD | TRACK_PUSHED), 0u);
        DestroyWindow(b);
    }
}

TEST_F(SkinButton, CheckedAutoRadioClearsItsGroupOnly)
{
    // R/r: auto radio starting a group or not, c: auto check box, S/s: static starting a group or not.
    // Every button but the clicked one starts checked; after: '-' for statics.
    const struct { const char* layout; int clicked; const char* after; } cases[] = {
        { "RsrcrRr", 4, "0-01111" },  // across a static and a check box, not into the next group
        { "RsrcrRr", 6, "1-11101" },
        { "rrSrr", 0, "10-00" },      // a head without a start belongs to the list's last group
        { "rrSrr", 3, "00-10" },      // and that group wraps round to the head
        { "rrcr", 1, "0110" },        // no group at all: the whole list
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + " click " + std::to_string(c.clicked));
        std::vector<HWND> w;
        for (const char* p = c.layout; *p; ++p) {
            const DWORD group = (*p == 'R' || *p == 'S') ? WS_GROUP : 0;
            w.push_back(toupper(*p) == 'S'
                    ? CreateWindowExA(0, "Static", "", WS_CHILD | group, 0, 0, 5, 5, box_, nullptr, nullptr, nullptr)
                    : MakeStripped(group | (*p == 'c' ? BS_AUTOCHECKBOX : BS_AUTORADIOBUTTON)));
            if (SkinButtonState* s = GetButtonSkin(w.back()))
                s->check = p - c.layout != c.clicked;
        }
        SendMessageA(w[c.clicked], BM_SETCHECK, BST_CHECKED, 0);
        std::string after;
        for (HWND x : w)
            after += GetButtonSkin(x) ? static_cast<char>('0' + GetButtonSkin(x)->check) : '-';
        EXPECT_EQ(after, c.after);
        for (HWND x : w)
            DestroyWindow(x);
    }
}

WNDPROC g_testProc;
bool g_restored;
LRESULT CALLBACK TestButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY)
        g_restored = GetWindowLongPtrA(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&TestButtonProc)
            && !GetPropA(hwnd, QX_SKIN_PROP);
    return CallWindowProcA(g_testProc, hwnd, msg, wParam, lParam);
}

// The text is the record's (the standard control keeps "Label"); an update
// takes only the fields its mask names; removal puts the procedure back.
TEST_F(SkinButton, TextUpdateAndRemoval)
{
    SkinButtonDesc d = {};
    d.flags = SKIN_COLORS | SKIN_TEXTCOLOR | SKIN_FRAMEWIDTH | SKIN_FRAMESTYLE;
    d.lightColor = RGB(1, 2, 3), d.frameWidth = 6, d.gradientSteps = 99;  // the steps' flag is not given
    HWND b = Make(BS_PUSHBUTTON, d);
    char text[300];
    SendMessageA(b, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Neon Edges"));
    EXPECT_EQ(SendMessageA(b, WM_GETTEXT, 5, reinterpret_cast<LPARAM>(text)), 4);
    EXPECT_STREQ(text, "Neon");
    SendMessageA(b, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::string(400, 'x').c_str()));
    EXPECT_EQ(SendMessageA(b, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)), 255);

    SkinButtonState* s = GetButtonSkin(b);
    EXPECT_EQ(s->gradientSteps, 8);
    SkinButtonState expected;
    memcpy(&expected, s, sizeof expected);
    SkinButtonDesc update = {};  // a field flagged but not in the mask stays
    update.flags = SKIN_TEXTCOLOR | SKIN_FRAMEWIDTH, update.mask = SKIN_TEXTCOLOR;
    update.textColor = RGB(200, 0, 0), update.frameWidth = 1;
    EXPECT_TRUE(UpdateButtonSkin(b, &update));
    expected.textColor = RGB(200, 0, 0);
    EXPECT_EQ(memcmp(&expected, s, sizeof expected), 0) << "nothing but the text colour";
    update = {};
    update.mask = SKIN_COLORS;  // named in the mask, not in the flags: the flag goes, the colours stay
    EXPECT_TRUE(UpdateButtonSkin(b, &update));
    EXPECT_EQ(s->skinFlags, d.flags & ~SKIN_COLORS);
    EXPECT_EQ(s->lightColor, RGB(1, 2, 3));
    EXPECT_FALSE(UpdateButtonSkin(box_, &update) || ApplyButtonSkin(box_, &update)) << "not skinned, not a button";

    HWND r = CreateWindowExA(0, "Button", "x", WS_CHILD | BS_AUTORADIOBUTTON, 0, 0, 50, 18, box_, nullptr, nullptr, nullptr);
    g_testProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(r, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TestButtonProc)));
    ASSERT_TRUE(ApplyButtonSkin(r, &update));
    g_restored = false;
    DestroyWindow(r);
    EXPECT_TRUE(g_restored);
}

TEST_F(SkinButton, GroupBoxFrameAndCaptionBand)
{
    SkinButtonDesc d = {};  // the page's "Original image" frame
    d.flags = 0x1010D, d.frameStyle = 1, d.frameWidth = 4, d.cornerMax = 20, d.gradientSteps = 16;
    d.lightColor = RGB(248, 252, 255), d.shadowColor = RGB(136, 144, 152);
    HWND g = Make(BS_GROUPBOX, d, 10, 200, 120, "Original image");
    Paint();
    // Inside; top: light at 150 %; left, first band: shadow at 85 %, last: light at 80 %; right, last band:
    // shadow at 40 %; bottom: black; the caption band runs from the shadow to the face. Bands step in
    // tenths, so a ramp's last band may miss its end by a little.
    const struct { int x, y; COLORREF expected; int tolerance; } cases[] = {
        { 100, 80, kGround, 0 }, { 100, 1, RGB(255, 255, 255), 0 }, { 1, 5, RGB(115, 122, 129), 0 },
        { 1, 115, RGB(198, 201, 204), 2 }, { 198, 115, RGB(54, 57, 60), 2 }, { 100, 118, RGB(0, 0, 0), 0 },
        { 5, 8, RGB(136, 144, 152), 0 }, { 195, 8, GetSysColor(COLOR_BTNFACE), 2 },
    };
    for (const auto& c : cases)
        for (int k = 0; k < 24; k += 8)
            EXPECT_NEAR((Snapshot(g, { c.x, c.y, c.x + 1, c.y + 1 })[0] >> k) & 255, (c.expected >> k) & 255, c.tolerance)
                << c.x << "," << c.y;
    // The caption's letters, inside the band and not crossed by a frame line.
    const std::vector<COLORREF> band = Snapshot(g, { 8, 4, 120, GetButtonSkin(g)->captionHeight - 2 });
    EXPECT_GT(std::count(band.begin(), band.end(), GetSysColor(COLOR_BTNTEXT)), 30);
    EXPECT_EQ(SendMessageA(g, WM_NCHITTEST, 0, 0), HTTRANSPARENT) << "clicks fall through a frame";
}

TEST_F(SkinButton, PlainRepaintUsesTheCachedLookAndAStateChangePaintsOneButton)
{
    HWND a = MakeStripped(BS_AUTORADIOBUTTON, 10);
    MakeStripped(BS_AUTORADIOBUTTON, 40);  // its neighbour, never painted again below
    Paint();
    Recorder<decltype(&CreateBitmap)> masks("CreateBitmap");
    Recorder<decltype(&FindResourceA)> pictures("FindResourceA");
    Recorder<decltype(&BeginPaint)> paints("BeginPaint");
    std::vector<HWND> painted;
    paints.observe = [&](HDC, HWND w, PAINTSTRUCT*) { painted.push_back(w); };
    Paint();
    EXPECT_EQ(masks.calls + pictures.calls, 0) << "no look made again and no picture decoded on a plain repaint";
    for (UINT step : { WM_LBUTTONDOWN, WM_MOUSEMOVE }) {  // pressed (a new look), then out: the cached normal look
        painted.clear();
        masks.calls = 0;
        Mouse(a, step, step == WM_MOUSEMOVE ? 200 : 5, 5);
        UpdateWindow(box_);
        EXPECT_TRUE(!painted.empty() && std::count(painted.begin(), painted.end(), a) == long(painted.size()));
    }
    EXPECT_EQ(masks.calls, 0);
    Mouse(a, WM_LBUTTONUP, 200, 5);
}

TEST_F(SkinButton, FewColoursGetThePaletteOfTheSkinRamps)
{
    Recorder<decltype(&GetDeviceCaps)> caps("GetDeviceCaps");
    caps.answer = [&](HDC dc, int index) { return index == BITSPIXEL ? 8 : caps.Next(dc, index); };
    Recorder<decltype(&CreatePalette)> palettes("CreatePalette");
    std::vector<COLORREF> entries;
    palettes.observe = [&](HPALETTE, const LOGPALETTE* p) {
        entries.clear();
        for (int i = 0; i < p->palNumEntries; ++i)
            entries.push_back(RGB(p->palPalEntry[i].peRed, p->palPalEntry[i].peGreen, p->palPalEntry[i].peBlue));
    };
    SkinButtonDesc d = {};  // the page's frame in another face colour
    d.flags = 0x1010D | SKIN_FACECOLOR, d.frameStyle = 1, d.frameWidth = 4, d.cornerMax = 20, d.gradientSteps = 16;
    d.lightColor = RGB(248, 252, 255), d.shadowColor = RGB(136, 144, 152), d.faceColor = RGB(200, 100, 40);
    HWND g = Make(BS_GROUPBOX, d, 10, 150, 80);
    Paint();
    ASSERT_EQ(entries.size(), 34u);
    // The darker of light and shadow at 90 %; the lighter at 115 %, clamped; the face, at 125 %; black to white.
    const struct { size_t entry; COLORREF colour; } ramps[] = { { 0, RGB(122, 129, 136) }, { 15, RGB(255, 255, 255) },
        { 16, RGB(200, 100, 40) }, { 17, RGB(250, 125, 50) }, { 18, RGB(0, 0, 0) }, { 33, RGB(255, 255, 255) } };
    for (const auto& r : ramps)
        EXPECT_EQ(entries[r.entry], r.colour) << r.entry;
    DestroyWindow(g);
    palettes.calls = 0;
    MakeStripped(BS_AUTORADIOBUTTON, 100);
    Paint();
    EXPECT_EQ(palettes.calls, 0) << "a bitmap skin makes no palette of its own";
}

TEST(SkinColors, ScaleAndBlend)
{
    const struct { COLORREF got, expected; } cases[] = {
        { ScaleColor(RGB(255, 255, 255), 150, 100), 0x02FFFFFF }, { ScaleColor(RGB(128, 128, 128), 150, 100), 0x02C0C0C0 },
        { ScaleColor(RGB(10, 21, 200), 50, 100), 0x02000000 | RGB(5, 10, 100) },
        { ScaleColor(0x02808080, 1, 2), 0x02404040 },  // the marker of the input is not a channel
        { BlendColors(RGB(0, 0, 0), RGB(255, 255, 255), 1, 1), 0x027F7F7F },
        { BlendColors(RGB(100, 0, 0), RGB(0, 0, 200), 3, 1), 0x02000000 | RGB(75, 0, 50) },
        { BlendColors(RGB(9, 9, 9), RGB(200, 200, 200), 1, 0), 0x02090909 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST_F(SkinButton, FiveHundredStateChangesLeaveNothingBehind)
{
    HWND r = MakeStripped(BS_AUTORADIOBUTTON, 10);
    SkinButtonDesc d = {};
    d.flags = SKIN_FRAMESTYLE | SKIN_HOVER, d.frameStyle = 2, d.hoverEffect = TRUE;
    HWND p = Make(BS_DEFPUSHBUTTON, d, 40, 100, 24);
    HWND g = Make(BS_GROUPBOX, {}, 80, 200, 100);
    qxtest::ResourceCounts start = {};
    for (int i = 0; i < 508; ++i) {
        if (i == 8)  // every look has been made once
            start = qxtest::CurrentCounts();
        SendMessageA(r, BM_SETCHECK, i & 1, 0);
        Mouse(p, i & 2 ? WM_LBUTTONDOWN : WM_MOUSEMOVE, 5, 5);
        Mouse(p, WM_LBUTTONUP, 5, 5);
        EnableWindow(g, i & 4 ? FALSE : TRUE);
        SendMessageA(g, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(i & 1 ? "a" : "bb"));
        UpdateWindow(box_);
    }
    EXPECT_EQ(qxtest::CurrentCounts(), start);
    qxtest::PumpMessages();
}

// ---- on the page ----------------------------------------------------------------

class SkinPage : public qxtest::PageTest {};

TEST_F(SkinPage, RadioButtonsShareTheStripAndTheFrameTakesThePageColours)
{
    Open();
    for (HWND tab : { g_EffectsDlg, g_DeblockDlg })
        for (int id = IDC_EF_NONE; id <= IDC_DBLK_COMPLEXPICSMOOTHING; ++id)
            if (HWND r = GetDlgItem(tab, id))
                EXPECT_TRUE(GetButtonSkin(r) && GetButtonSkin(r)->bitmap == g_hRadioCheckBmp) << id;

    // A click reaches the page; the button checked before clears.
    HWND emboss = GetDlgItem(g_EffectsDlg, IDC_EMBOSS);
    Click(g_EffectsDlg, IDC_EMBOSS);
    EXPECT_EQ(gdwCurEffect, static_cast<DWORD>(QX_TINTRA_EF_EMBOSS));
    EXPECT_FALSE(Checked(g_EffectsDlg, IDC_EF_NONE));

    // The focus rectangle stays on the focused button however often it is redrawn (each redraw is
    // composed over the tab body, not over itself), and goes with the focus. The state it shows is
    // set and checked first, not left to the activation and keyboard cues the shared desktop has.
    SetWindowPos(sheet, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetActiveWindow(sheet);
    SetFocus(emboss);
    SendMessageA(emboss, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    Pump();
    ASSERT_EQ(GetFocus(), emboss);
    ASSERT_TRUE(GetButtonSkin(emboss)->focused && GetButtonSkin(emboss)->showFocus);
    RedrawWindow(g_EffectsDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const std::vector<COLORREF> focused = Snapshot(emboss);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ((SendMessageA(emboss, WM_QUERYNEWPALETTE, 0, 0), Snapshot(emboss)), focused) << i;
    SetFocus(Tab());
    Pump();
    ASSERT_FALSE(GetButtonSkin(emboss)->focused);
    RedrawWindow(emboss, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_NE(Snapshot(emboss), focused);
}

TEST_F(SkinPage, FiftyOpeningsLeaveNothingBehind)
{
    Open(), Close();
    const qxtest::ResourceCounts start = qxtest::CurrentCounts();
    for (int i = 0; i < 50; ++i)
        Open(), Close();
    EXPECT_EQ(qxtest::CurrentCounts(), start);
    EXPECT_EQ(g_hRadioCheckBmp, nullptr) << "the strip goes with the page";
}

} // namespace
