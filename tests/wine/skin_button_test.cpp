// Skinned buttons on real windows: standard "Button" controls skinned in a
// container that paints a known ground, their pixels read back from the
// screen, their notifications caught by the container, and the module's GDI
// calls watched through the import recorder.
#include "page_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

LRESULT CALLBACK GroundProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_ERASEBKGND) {
        RECT r;
        GetClientRect(hwnd, &r);
        SetBkColor(reinterpret_cast<HDC>(wParam), kGround);
        return ExtTextOutA(reinterpret_cast<HDC>(wParam), 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    }
    if (msg == WM_COMMAND)
        g_notices.push_back({ HIWORD(wParam), !g_pumping });
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

COLORREF Pixel(HWND w, int x, int y)
{
    HDC dc = GetDC(w);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(w, dc);
    return c;
}

std::vector<COLORREF> Snapshot(HWND w)
{
    RECT r;
    GetClientRect(w, &r);
    std::vector<COLORREF> v;
    for (int y = 0; y < r.bottom; ++y)
        for (int x = 0; x < r.right; ++x)
            v.push_back(Pixel(w, x, y));
    return v;
}

bool Near(COLORREF a, COLORREF b, int tolerance)
{
    return abs(GetRValue(a) - GetRValue(b)) <= tolerance && abs(GetGValue(a) - GetGValue(b)) <= tolerance
        && abs(GetBValue(a) - GetBValue(b)) <= tolerance;
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

// The page's "Original image" frame.
SkinButtonDesc PageFrame()
{
    SkinButtonDesc d = {};
    d.flags = 0x1010D;
    d.frameStyle = 1;
    d.frameWidth = 4;
    d.cornerMax = 20;
    d.lightColor = RGB(248, 252, 255);
    d.shadowColor = RGB(136, 144, 152);
    d.gradientSteps = 16;
    return d;
}

class SkinButton : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = GroundProc;
        wc.hInstance = qxtest::ProgramModule();
        wc.lpszClassName = "QxSkinGround";
        RegisterClassA(&wc);
        top_ = CreateWindowExA(0, "QxSkinGround", "", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240, nullptr, nullptr,
            wc.hInstance, nullptr);
        // The strip as the page shares it, and an untouched copy to compare with.
        strip_ = LoadBitmapA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDB_RADIO_STRIP));
        pristine_ = LoadBitmapA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDB_RADIO_STRIP));
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(top_);
        DeleteObject(strip_);
        DeleteObject(pristine_);
    }
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
        d.flags = SKIN_BITMAP;
        d.bitmap = strip_;
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
    // The strip's own pixel, its key colour shown as the ground.
    static COLORREF StripPixel(int cell, int x, int y)
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, pristine_);
        const COLORREF c = GetPixel(dc, cell * kCell + x, y);
        SelectObject(dc, old);
        DeleteDC(dc);
        return c == kStripKey ? kGround : c;
    }

    static inline HWND top_;
    static inline HBITMAP strip_, pristine_;
    static inline POINT cursorAt_;
    HWND box_ = nullptr;
    qxtest::ResourceCounts before_ = {};
    Recorder<decltype(&GetCursorPos)> cursor_{ "GetCursorPos", qxtest::ProgramModule() };
};

// ---- the strip ------------------------------------------------------------------

TEST_F(SkinButton, StripCellOfEachStateWithKeyCornersShowingTheGround)
{
    const struct { const char* what; DWORD style, check; bool enabled, pushed; int cell; } cases[] = {
        { "unchecked radio", BS_AUTORADIOBUTTON, 0, true, false, 0 },
        { "checked radio", BS_AUTORADIOBUTTON, 1, true, false, 1 },
        { "pushed radio", BS_AUTORADIOBUTTON, 0, true, true, 2 },
        { "pushed checked radio", BS_AUTORADIOBUTTON, 1, true, true, 3 },
        { "disabled radio: no cell 4 in a strip of four", BS_AUTORADIOBUTTON, 0, false, false, 0 },
        { "disabled checked radio", BS_AUTORADIOBUTTON, 1, false, false, 1 },
        { "an indeterminate box counts as checked", BS_AUTO3STATE, 2, true, false, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HWND b = MakeStripped(c.style);
        SendMessageA(b, BM_SETCHECK, c.check, 0);
        EnableWindow(b, c.enabled);
        if (c.pushed)
            Mouse(b, WM_LBUTTONDOWN, 60, 9);
        Paint();
        const int x0 = IsRadioKind(c.style) ? 1 : 0, y0 = (18 - kCell) / 2;
        int wrong = 0;
        for (int y = 0; y < kCell; ++y)
            for (int x = 0; x < kCell; ++x)
                wrong += Pixel(b, x0 + x, y0 + y) != StripPixel(c.cell, x, y);
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(Pixel(b, x0, y0), kGround) << "key corner";
        Mouse(b, WM_RBUTTONUP, 60, 9);
        DestroyWindow(b);
    }
}

// ---- mouse, keyboard, check changes ------------------------------------------

TEST_F(SkinButton, MouseAndKeysOnAnAutoCheckBox)
{
    struct Step { UINT msg; WPARAM key; int x, y; };  // a key, or a mouse position in the button (120 x 18)
    const struct { const char* what; std::vector<Step> steps; bool focused; int posted, sent; DWORD check; } cases[] = {
        { "press and release inside", { { WM_LBUTTONDOWN, 0, 5, 5 }, { WM_LBUTTONUP, 0, 5, 5 } }, true, 1, 0, 1 },
        { "dragged out, released outside",
            { { WM_LBUTTONDOWN, 0, 5, 5 }, { WM_MOUSEMOVE, 0, 200, 5 }, { WM_LBUTTONUP, 0, 200, 5 } }, true, 0, 0, 0 },
        { "dragged out and back in",
            { { WM_LBUTTONDOWN, 0, 5, 5 }, { WM_MOUSEMOVE, 0, 200, 5 }, { WM_MOUSEMOVE, 0, 6, 6 },
                { WM_LBUTTONUP, 0, 6, 6 } },
            true, 1, 0, 1 },
        { "a right-button release ends the press",
            { { WM_LBUTTONDOWN, 0, 5, 5 }, { WM_RBUTTONUP, 0, 5, 5 }, { WM_LBUTTONUP, 0, 5, 5 } }, true, 0, 0, 0 },
        { "a double click presses like a click", { { WM_LBUTTONDBLCLK, 0, 5, 5 }, { WM_LBUTTONUP, 0, 5, 5 } }, true,
            1, 0, 1 },
        { "space toggles once", { { WM_KEYDOWN, VK_SPACE }, { WM_KEYUP, VK_SPACE } }, true, 1, 0, 1 },
        { "a repeated space down is one press",
            { { WM_KEYDOWN, VK_SPACE }, { WM_KEYDOWN, VK_SPACE }, { WM_KEYUP, VK_SPACE } }, true, 1, 0, 1 },
        { "enter is sent, the check stays", { { WM_KEYDOWN, VK_RETURN }, { WM_KEYUP, VK_RETURN } }, true, 0, 1, 0 },
        { "plus checks", { { WM_KEYDOWN, VK_ADD } }, true, 1, 0, 1 },
        { "plus then minus", { { WM_KEYDOWN, VK_OEM_PLUS }, { WM_KEYDOWN, VK_SUBTRACT } }, true, 2, 0, 0 },
        { "keys without the focus do nothing", { { WM_KEYDOWN, VK_SPACE }, { WM_KEYUP, VK_SPACE } }, false, 0, 0, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HWND b = MakeStripped(BS_AUTOCHECKBOX);
        SetFocus(c.focused ? b : box_);
        g_notices.clear();
        for (const Step& s : c.steps)
            if (s.key)
                SendMessageA(b, s.msg, s.key, 1);
            else
                Mouse(b, s.msg, s.x, s.y);
        EXPECT_EQ(Clicks(false), c.posted);
        EXPECT_EQ(Clicks(true), c.sent);
        EXPECT_EQ(SendMessageA(b, BM_GETCHECK, 0, 0), static_cast<LRESULT>(c.check));
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_EQ(GetButtonSkin(b)->trackFlags & (TRACK_ACTIVE | TRACK_HELD | TRACK_PUSHED), 0u);
        DestroyWindow(b);
    }
    // BM_CLICK with the pointer elsewhere: the dialog manager's arrow keys.
    HWND b = MakeStripped(BS_AUTORADIOBUTTON);
    g_notices.clear();
    cursorAt_ = { 600, 600 };
    SendMessageA(b, BM_CLICK, 0, 0);
    EXPECT_EQ(Clicks(false), 1);
    EXPECT_EQ(SendMessageA(b, BM_GETCHECK, 0, 0), 1);
}

TEST_F(SkinButton, CheckTwoAndDialogCodesByKind)
{
    const struct { DWORD style; LRESULT afterTwo, dialogCode; } cases[] = {  // afterTwo: BM_GETCHECK after BM_SETCHECK(2)
        { BS_CHECKBOX, 1, DLGC_BUTTON },
        { BS_AUTOCHECKBOX, 1, DLGC_BUTTON },
        { BS_RADIOBUTTON, 1, DLGC_BUTTON | DLGC_RADIOBUTTON },
        { BS_AUTORADIOBUTTON, 1, DLGC_BUTTON | DLGC_RADIOBUTTON },
        { BS_3STATE, 2, DLGC_BUTTON },
        { BS_AUTO3STATE, 2, DLGC_BUTTON },
        { BS_PUSHBUTTON, 0, DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON },
        { BS_DEFPUSHBUTTON, 0, DLGC_BUTTON | DLGC_DEFPUSHBUTTON },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        HWND b = Make(c.style, {});
        EXPECT_EQ(SendMessageA(b, BM_SETCHECK, BST_INDETERMINATE, 0), 0);
        EXPECT_EQ(SendMessageA(b, BM_GETCHECK, 0, 0), c.afterTwo);
        EXPECT_EQ(SendMessageA(b, WM_GETDLGCODE, 0, 0), c.dialogCode);
        EXPECT_EQ(SendMessageA(b, WM_NCHITTEST, 0, 0), HTCLIENT);
        DestroyWindow(b);
    }
    EXPECT_EQ(SendMessageA(Make(BS_GROUPBOX, {}), WM_NCHITTEST, 0, 0), HTTRANSPARENT) << "clicks fall through a frame";
}

TEST_F(SkinButton, CheckedAutoRadioClearsItsGroupOnly)
{
    // R: auto radio starting a group, r: auto radio, c: auto check box,
    // S: static starting a group, s: static. Every button starts checked.
    const struct { const char* layout; int clicked; const char* after; } cases[] = {  // after: '-' for statics
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
            if (*p == 's' || *p == 'S') {
                w.push_back(CreateWindowExA(0, "Static", "", WS_CHILD | group, 0, 0, 5, 5, box_, nullptr, nullptr, nullptr));
                continue;
            }
            w.push_back(MakeStripped(group | (*p == 'c' ? BS_AUTOCHECKBOX : BS_AUTORADIOBUTTON)));
            GetButtonSkin(w.back())->check = 1;
        }
        GetButtonSkin(w[c.clicked])->check = 0;
        SendMessageA(w[c.clicked], BM_SETCHECK, BST_CHECKED, 0);
        std::string after;
        for (HWND x : w)
            after += GetButtonSkin(x) ? static_cast<char>('0' + GetButtonSkin(x)->check) : '-';
        EXPECT_EQ(after, c.after);
        for (HWND x : w)
            DestroyWindow(x);
    }
}

// ---- text, description, removal -------------------------------------------------

TEST_F(SkinButton, TextIsHeldInTheRecord)
{
    HWND b = MakeStripped(BS_AUTORADIOBUTTON);
    char text[300];
    EXPECT_EQ(SendMessageA(b, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Neon Edges")), 1);
    EXPECT_EQ(GetWindowTextA(b, text, sizeof text), 10);
    EXPECT_STREQ(text, "Neon Edges");
    WCHAR own[100];
    InternalGetWindowText(b, own, 100);
    EXPECT_EQ(std::wstring(own), L"Label") << "the standard control keeps its own text";
    EXPECT_EQ(SendMessageA(b, WM_GETTEXT, 5, reinterpret_cast<LPARAM>(text)), 4);
    EXPECT_STREQ(text, "Neon");
    SendMessageA(b, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::string(400, 'x').c_str()));
    EXPECT_EQ(SendMessageA(b, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)), 255);
}

TEST_F(SkinButton, UpdateTakesOnlyTheFieldsItsMaskNames)
{
    SkinButtonDesc d = {};
    d.flags = SKIN_COLORS | SKIN_TEXTCOLOR | SKIN_FRAMEWIDTH | SKIN_FRAMESTYLE;
    d.lightColor = RGB(1, 2, 3);
    d.textColor = RGB(7, 8, 9);
    d.frameWidth = 6;
    d.frameStyle = 2;
    d.gradientSteps = 99;  // its flag is not given
    HWND b = Make(BS_PUSHBUTTON, d);
    SkinButtonState* s = GetButtonSkin(b);
    EXPECT_EQ(s->gradientSteps, 8);
    EXPECT_EQ(s->frameWidth, 6);
    SkinButtonState expected;
    memcpy(&expected, s, sizeof expected);

    SkinButtonDesc text = {};
    text.flags = text.mask = SKIN_TEXTCOLOR;
    text.textColor = RGB(200, 0, 0);
    text.frameWidth = 1;
    EXPECT_TRUE(UpdateButtonSkin(b, &text));
    expected.textColor = RGB(200, 0, 0);
    EXPECT_EQ(memcmp(&expected, s, sizeof expected), 0) << "nothing but the text colour";

    SkinButtonDesc off = {};
    off.mask = SKIN_COLORS;  // named in the mask, not in the flags: the flag goes, the colours stay
    EXPECT_TRUE(UpdateButtonSkin(b, &off));
    EXPECT_EQ(s->skinFlags, d.flags & ~SKIN_COLORS);
    EXPECT_EQ(s->lightColor, RGB(1, 2, 3));
    EXPECT_TRUE(UpdateButtonSkin(b, nullptr));
    EXPECT_FALSE(UpdateButtonSkin(box_, &off)) << "not skinned";
    EXPECT_FALSE(ApplyButtonSkin(box_, &off)) << "not a button";
}

WNDPROC g_testProc;
bool g_restored, g_propGone;
LRESULT CALLBACK TestButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY) {
        g_restored = GetWindowLongPtrA(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&TestButtonProc);
        g_propGone = GetPropA(hwnd, QX_SKIN_PROP) == nullptr;
    }
    return CallWindowProcA(g_testProc, hwnd, msg, wParam, lParam);
}

TEST_F(SkinButton, DestroyPutsTheProcedureBackAndRemovesTheProperty)
{
    HWND b = CreateWindowExA(0, "Button", "x", WS_CHILD | BS_AUTORADIOBUTTON, 0, 0, 50, 18, box_, nullptr, nullptr,
        nullptr);
    g_testProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(b, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TestButtonProc)));
    SkinButtonDesc d = {};
    ASSERT_TRUE(ApplyButtonSkin(b, &d));
    EXPECT_NE(GetWindowLongPtrA(b, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&TestButtonProc));
    g_restored = g_propGone = false;
    DestroyWindow(b);
    EXPECT_TRUE(g_restored);
    EXPECT_TRUE(g_propGone);
}

// ---- painting ---------------------------------------------------------------------

TEST_F(SkinButton, GroupBoxFrameAndCaptionBand)
{
    HWND g = Make(BS_GROUPBOX, PageFrame(), 10, 200, 120, "Original image");
    Paint();
    // Bands step in tenths, so a ramp's last band may miss its end by a little.
    const struct { const char* what; int x, y; COLORREF expected; int tolerance; } cases[] = {
        { "inside: the ground", 100, 80, kGround, 0 },
        { "top: light at 150 %", 100, 1, RGB(255, 255, 255), 0 },
        { "left, first band: shadow at 85 %", 1, 5, RGB(115, 122, 129), 0 },
        { "left, last band: light at 80 %", 1, 115, RGB(198, 201, 204), 2 },
        { "right, first band: shadow at 80 %", 198, 5, RGB(108, 115, 121), 0 },
        { "right, last band: half of that", 198, 115, RGB(54, 57, 60), 2 },
        { "bottom: black", 100, 118, RGB(0, 0, 0), 0 },
        { "caption band starts in the shadow", 5, 8, RGB(136, 144, 152), 0 },
        { "and ends in the face", 195, 8, GetSysColor(COLOR_BTNFACE), 2 },
    };
    for (const auto& c : cases)
        EXPECT_TRUE(Near(Pixel(g, c.x, c.y), c.expected, c.tolerance)) << c.what << ": " << std::hex << Pixel(g, c.x, c.y);
    const LONG band = GetButtonSkin(g)->captionHeight;
    int ink = 0;  // the caption's letters, inside the band and not crossed by a frame line
    for (int y = 4; y < band - 2; ++y)
        for (int x = 8; x < 120; ++x)
            ink += Pixel(g, x, y) == GetSysColor(COLOR_BTNTEXT);
    EXPECT_GT(ink, 30);
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
    EXPECT_EQ(masks.calls, 0) << "no look made again on a plain repaint";
    EXPECT_EQ(pictures.calls, 0) << "no picture decoded";

    auto onlyA = [&] { return !painted.empty() && std::count(painted.begin(), painted.end(), a) == long(painted.size()); };
    painted.clear();
    Mouse(a, WM_LBUTTONDOWN, 5, 5);
    UpdateWindow(box_);
    EXPECT_TRUE(onlyA()) << "only the pressed button is painted";
    Mouse(a, WM_MOUSEMOVE, 200, 5);  // out: back to the normal look, which is cached
    painted.clear();
    masks.calls = 0;
    UpdateWindow(box_);
    EXPECT_TRUE(onlyA());
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
    SkinButtonDesc d = PageFrame();
    d.flags |= SKIN_FACECOLOR;
    d.faceColor = RGB(200, 100, 40);
    HWND g = Make(BS_GROUPBOX, d, 10, 150, 80);
    Paint();
    ASSERT_EQ(entries.size(), 34u);
    const struct { size_t entry; COLORREF colour; } ramps[] = {
        { 0, RGB(122, 129, 136) },   // the darker of light and shadow at 90 %
        { 15, RGB(255, 255, 255) },  // the lighter at 115 %, clamped
        { 16, RGB(200, 100, 40) },   // face
        { 17, RGB(250, 125, 50) },   // face at 125 %
        { 18, RGB(0, 0, 0) },
        { 33, RGB(255, 255, 255) },
    };
    for (const auto& r : ramps)
        EXPECT_EQ(entries[r.entry], r.colour) << r.entry;

    DestroyWindow(g);
    palettes.calls = 0;
    MakeStripped(BS_AUTORADIOBUTTON, 100);
    Paint();
    EXPECT_EQ(palettes.calls, 0) << "a bitmap skin makes no palette of its own";
}

TEST_F(SkinButton, FiveHundredStateChangesLeaveNothingBehind)
{
    HWND r = MakeStripped(BS_AUTORADIOBUTTON, 10);
    SkinButtonDesc d = {};
    d.flags = SKIN_FRAMESTYLE | SKIN_HOVER;
    d.frameStyle = 2;
    d.hoverEffect = TRUE;
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

TEST(SkinColors, ScaleAndBlend)
{
    const struct { COLORREF got, expected; } cases[] = {
        { ScaleColor(RGB(255, 255, 255), 150, 100), 0x02FFFFFF },
        { ScaleColor(RGB(128, 128, 128), 150, 100), 0x02C0C0C0 },
        { ScaleColor(RGB(10, 21, 200), 50, 100), 0x02000000 | RGB(5, 10, 100) },
        { ScaleColor(0x02808080, 1, 2), 0x02404040 },  // the marker of the input is not a channel
        { BlendColors(RGB(0, 0, 0), RGB(255, 255, 255), 1, 1), 0x027F7F7F },
        { BlendColors(RGB(100, 0, 0), RGB(0, 0, 200), 3, 1), 0x02000000 | RGB(75, 0, 50) },
        { BlendColors(RGB(9, 9, 9), RGB(200, 200, 200), 1, 0), 0x02090909 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.expected);
}

// ---- on the page ----------------------------------------------------------------

class SkinPage : public qxtest::PageTest {};

TEST_F(SkinPage, RadioButtonsShareTheStripAndTheFrameTakesThePageColours)
{
    Open();
    for (HWND tab : { g_EffectsDlg, g_DeblockDlg })
        for (int id = IDC_EF_NONE; id <= IDC_DBLK_COMPLEXPICSMOOTHING; ++id)
            if (HWND r = GetDlgItem(tab, id)) {
                ASSERT_NE(GetButtonSkin(r), nullptr) << id;
                EXPECT_EQ(GetButtonSkin(r)->bitmap, g_hRadioCheckBmp) << id;
                EXPECT_EQ(GetButtonSkin(r)->skinFlags, SKIN_BITMAP);
            }
    const SkinButtonState* g = GetButtonSkin(GetDlgItem(page, IDC_ORIGINALGRPBOX));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->skinFlags, 0x1010Du);
    EXPECT_EQ(g->cornerPercent, -1) << "its flag is not given";
    EXPECT_EQ(g->lightColor, RGB(248, 252, 255));

    // A click reaches the page; the button checked before clears.
    HWND emboss = GetDlgItem(g_EffectsDlg, IDC_EMBOSS);
    SetFocus(emboss);
    Click(g_EffectsDlg, IDC_EMBOSS);
    EXPECT_EQ(gdwCurEffect, static_cast<DWORD>(QX_TINTRA_EF_EMBOSS));
    EXPECT_FALSE(Checked(g_EffectsDlg, IDC_EF_NONE));

    // The focus rectangle stays on the focused button however often it is
    // redrawn (each redraw is composed over the tab body, not over itself),
    // and goes with the focus.
    RedrawWindow(g_EffectsDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const std::vector<COLORREF> focused = Snapshot(emboss);
    for (int i = 0; i < 3; ++i) {
        SendMessageA(emboss, WM_QUERYNEWPALETTE, 0, 0);
        EXPECT_EQ(Snapshot(emboss), focused) << i;
    }
    SetFocus(Tab());
    UpdateWindow(g_EffectsDlg);
    EXPECT_NE(Snapshot(emboss), focused);
}

TEST_F(SkinPage, FiftyOpeningsLeaveNothingBehind)
{
    Open();
    Close();
    const qxtest::ResourceCounts start = qxtest::CurrentCounts();
    for (int i = 0; i < 50; ++i) {
        Open();
        Close();
    }
    EXPECT_EQ(qxtest::CurrentCounts(), start);
    EXPECT_EQ(g_hRadioCheckBmp, nullptr) << "the strip goes with the page";
}

} // namespace
