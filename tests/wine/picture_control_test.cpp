// The picture control on real windows: controls of this program's class in a
// parent that paints a known background, pictures written as BMP files
// (exact pixels) or taken from the DLL, read back from the screen.
#include "qxtest.h"

#include <algorithm>

#include "controls/picture_control.h"
#include "controls/transparent_draw.h"
#include "resource.h"

namespace {

constexpr COLORREF kBackground = RGB(0, 160, 0), kKey = RGB(255, 0, 0), kInk = RGB(0, 0, 255), kOwnerInk = RGB(250, 250, 0);
constexpr int kId = 777;

std::string Str(const RECT& r) { return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," + std::to_string(r.bottom); }

// What the parent heard from its controls.
std::vector<DRAWITEMSTRUCT> g_drawItems;
std::vector<std::pair<WPARAM, LPARAM>> g_commands, g_mouse;
int g_ctlColors;

void Fill(HDC dc, const RECT& r, COLORREF c) { HBRUSH brush = CreateSolidBrush(c); FillRect(dc, &r, brush), DeleteObject(brush); }

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    RECT client;
    GetClientRect(hwnd, &client);
    switch (msg) {
    case WM_ERASEBKGND:
        return Fill(reinterpret_cast<HDC>(wParam), client, kBackground), 1;
    case WM_DRAWITEM:
        g_drawItems.push_back(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return Fill(g_drawItems.back().hDC, g_drawItems.back().rcItem, kOwnerInk), TRUE;
    case WM_COMMAND:
        return g_commands.emplace_back(wParam, lParam), 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        return g_mouse.emplace_back(msg, lParam), 0;
    }
    return g_ctlColors += msg == WM_CTLCOLORSTATIC, DefWindowProcA(hwnd, msg, wParam, lParam);
}

class PictureControl : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RegisterPictureClass(qxtest::ProgramModule()));
        EXPECT_FALSE(RegisterPictureClass(qxtest::ProgramModule())) << "one registration per module";
        WNDCLASSA wc = { CS_GLOBALCLASS, ParentProc, 0, 0, qxtest::ProgramModule(), 0, 0, 0, 0, "QxPictureTestParent" };  // so a parent can claim the DLL
        ASSERT_NE(RegisterClassA(&wc), 0);
        parent_ = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr, wc.hInstance, nullptr);
        dir_ = qxtest::MakeTempDir("picture") + "\\";
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(parent_), UnregisterClassA("QxPictureTestParent", qxtest::ProgramModule()), qxtest::RemoveTree(dir_);
        EXPECT_TRUE(UnregisterPictureClass(qxtest::ProgramModule()));
    }
    void SetUp() override { g_drawItems.clear(), g_commands.clear(), g_mouse.clear(), g_ctlColors = 0, before_ = qxtest::CurrentCounts(); }
    void TearDown() override { EXPECT_EQ(qxtest::CurrentCounts(), before_) << "every object, record and decoder block is released"; }

    static HWND Make(DWORD style, int w, int h, int x = 10, int y = 10, int id = kId)
    {
        return CreateWindowExA(0, QX_PICTURE_CLASS, "", WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent_, HMENU(INT_PTR(id)), qxtest::ProgramModule(), nullptr);
    }
    // A control showing the picture file `path`.
    static HWND Make(DWORD style, int w, int h, const std::string& path) { HWND c = Make(style, w, h); EXPECT_EQ(SetFile(c, path), 1) << path; return c; }
    static std::string Write(const char* name, const std::vector<BYTE>& bytes)
    {
        EXPECT_TRUE(qxtest::WriteFileBytes(dir_ + name, bytes.data(), bytes.size()));
        return dir_ + name;
    }
    static bool IsKey(int w, int h, int x, int y) { return x == 0 || y == 0 || x == w - 1 || y == h - 1 || (x == w / 2 && y == h / 2); }
    // A w x h picture: key colour on the border ring and at (w / 2, h / 2), ink elsewhere.
    static std::string Keyed(int w, int h) { return Write("keyed.bmp", qxtest::Bmp24File(w, h, [w, h](int x, int y) { return IsKey(w, h, x, y) ? kKey : kInk; })); }
    static std::string Solid(int w, int h, COLORREF c = kInk) { return Write("solid.bmp", qxtest::Bmp24File(w, h, [c](int, int) { return c; })); }
    static LRESULT SetFile(HWND c, const std::string& path) { return SendMessageA(c, BMPM_SETIMAGE, WPARAM(-1), reinterpret_cast<LPARAM>(path.c_str())); }
    static void Repaint() { RedrawWindow(parent_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW); }
    // What the control's window shows, 0x00RRGGBB, top row first.
    struct Shot {
        int w; std::vector<DWORD> bits;
        COLORREF at(int x, int y) const { return RGB(bits[y * w + x] >> 16, bits[y * w + x] >> 8 & 0xFF, bits[y * w + x] & 0xFF); }
        RECT Drawn() const  // around what is not background
        {
            RECT r = { w, LONG(bits.size()) / w, -1, -1 };
            for (int i = 0; i < int(bits.size()); ++i)
                r = at(i % w, i / w) == kBackground ? r : RECT { std::min<LONG>(r.left, i % w), std::min<LONG>(r.top, i / w), std::max<LONG>(r.right, i % w + 1), std::max<LONG>(r.bottom, i / w + 1) };
            return r;
        }
    };
    static Shot Read(HWND control)
    {
        RECT r;
        GetClientRect(control, &r);
        Shot s = { int(r.right), std::vector<DWORD>(r.right * r.bottom) };
        BITMAPINFO bi = { { sizeof bi.bmiHeader, r.right, -r.bottom, 1, 32 } };
        HDC screen = GetDC(control), mem = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
        HGDIOBJ old = SelectObject(mem, bitmap);
        BitBlt(mem, 0, 0, r.right, r.bottom, screen, 0, 0, SRCCOPY), SelectObject(mem, old);
        GetDIBits(mem, bitmap, 0, r.bottom, s.bits.data(), &bi, DIB_RGB_COLORS);
        return DeleteObject(bitmap), DeleteDC(mem), ReleaseDC(control, screen), s;
    }
    static PictureControlState* State(HWND c) { return reinterpret_cast<PictureControlState*>(GetWindowLongPtrA(c, 0)); }
    static LONG Size(HWND c) { SIZE s = { -1, -1 }; return GetBitmapSize(State(c)->bitmap, &s), s.cx * 1000 + s.cy; }  // width * 1000 + height
    static std::pair<LONG, LONG> ScaleSize(HWND c) { return { State(c)->scale, Size(c) }; }

    static inline std::string dir_;
    static inline HWND parent_;
    qxtest::ResourceCounts before_ = {};
};

TEST_F(PictureControl, CreationInstancesAndPictures)
{
    HWND c = Make(0, 50, 40);
    const PictureControlState* s = State(c);
    ASSERT_NE(s, nullptr) << "created although no picture has its id";
    EXPECT_EQ(std::make_tuple(s->instance, s->imageId, s->bitmap, s->enabled, Str(s->imageRect)),
        std::make_tuple(HINSTANCE(qxtest::ProgramModule()), LONG(kId), HBITMAP(nullptr), TRUE, std::string("0,0,50,40")));
    EXPECT_EQ(std::make_tuple(SendMessageA(c, WM_NCHITTEST, 0, 0), SendMessageA(c, WM_GETDLGCODE, 0, 0), SendMessageA(c, WM_ERASEBKGND, 0, 0)),
        std::make_tuple(LRESULT(HTCLIENT), LRESULT(DLGC_BUTTON), LRESULT(1)));
    DestroyWindow(c);

    // A parent of the DLL gives the control of id 261 the DLL's logo.
    const LONG_PTR own = SetWindowLongPtrA(parent_, GWLP_HINSTANCE, reinterpret_cast<LONG_PTR>(qxtest::BuiltDll()));
    c = Make(BMPS_NATURALSIZE | BMPS_BOTTOM | BMPS_RIGHT, 120, 90, 0, 0, IDC_LOGO), SetWindowLongPtrA(parent_, GWLP_HINSTANCE, own);
    EXPECT_EQ(std::make_tuple(State(c)->instance, Size(c), Str(State(c)->imageRect)), std::make_tuple(qxtest::BuiltDll(), 80070L, std::string("40,20,120,90")));
    DestroyWindow(c);

    c = Make(BMPS_SHRINKTOFIT | BMPS_NATURALSIZE | BMPS_OPAQUE, 200, 200);
    // Changing to the held instance does nothing; to the DLL, it finds no picture of the control's id.
    EXPECT_EQ(SendMessageA(c, BMPM_SETINSTANCE, 0, LPARAM(qxtest::ProgramModule())), 0);
    EXPECT_EQ((SendMessageA(c, BMPM_SETINSTANCE, 0, LPARAM(qxtest::BuiltDll())), State(c)->instance), qxtest::BuiltDll());
    HBITMAP shown = nullptr;  // the id already shown is not loaded again; IDB_EF_NONE is a progressive JPEG
    for (const auto& [id, result, size, same] : { std::tuple { IDB_PREVIEW_FRAME, 1, 176168, false }, { IDB_PREVIEW_FRAME, 1, 176168, true },
             { IDB_EF_NONE, 1, 200160, false }, { 9999, 0, 0, false } }) {
        EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, id, 0), result) << id;
        EXPECT_EQ(std::make_pair(State(c)->bitmap ? Size(c) : 0, State(c)->bitmap == shown), std::make_pair(LONG(size), same)) << id;
        shown = State(c)->bitmap;
    }
    // -1 without a name is refused; the id stays -1 and reloads fail while the name is empty.
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, WPARAM(-1), 0) + SendMessageA(c, WM_SIZE, 0, MAKELPARAM(200, 200)), 0);
    EXPECT_EQ(State(c)->imageId, -1);
    // A file, and the same file again after it changed: reloaded.
    const std::string path = Solid(8, 8, RGB(10, 20, 30));
    ASSERT_EQ(SetFile(c, path), 1);
    Solid(8, 8, RGB(40, 50, 60));
    EXPECT_EQ((SetFile(c, path), Repaint(), Read(c).at(2, 2)), RGB(40, 50, 60));
    EXPECT_EQ(SetFile(c, std::string(MAX_PATH, 'a')), 0) << "a name longer than the buffer changes nothing";
    EXPECT_TRUE(State(c)->fileName == path && State(c)->bitmap);
    DestroyWindow(c);
}

TEST_F(PictureControl, LayoutShrinkAndOwnerDrawing)
{
    // Where a 20 x 10 picture lands in a 60 x 40 client area, unscaled.
    const std::pair<DWORD, POINT> layouts[] = { { 0, { 20, 15 } }, { BMPS_NATURALSIZE, { 0, 0 } }, { BMPS_NATURALSIZE | BMPS_RIGHT | BMPS_BOTTOM, { 40, 30 } },
        { BMPS_NATURALSIZE | BMPS_RIGHT | BMPS_HCENTER | BMPS_VCENTER, { 40, 0 } }, { BMPS_SHRINKTOFIT, { 0, 0 } },
        { BMPS_SHRINKTOFIT | BMPS_HCENTER | BMPS_VCENTER, { 20, 15 } }, { BMPS_SHRINKTOFIT | BMPS_HCENTER | BMPS_BOTTOM, { 20, 30 } },
        { BMPS_SHRINKTOFIT | BMPS_BOTTOM | BMPS_VCENTER, { 0, 30 } } };
    const std::string small = Solid(20, 10);
    for (const auto& [style, at] : layouts) {
        HWND c = Make(style | BMPS_OPAQUE, 60, 40, small);
        Repaint();
        EXPECT_EQ(Str(Read(c).Drawn()) + "/" + std::to_string(State(c)->scale), Str({ at.x, at.y, at.x + 20, at.y + 10 }) + "/0") << style;
        DestroyWindow(c);
    }

    // Shrinking takes the smaller factor in per mille, rounded (60030 / 61 =
    // 984 for one pixel too wide, 30 / 61 -> 492); the draw rectangle's corner
    // is rounded to the nearest pixel, its size truncated.
    HWND c = Make(BMPS_SHRINKTOFIT | BMPS_OPAQUE | BMPS_DRAWITEM, 60, 40);
    EXPECT_EQ((SetFile(c, Solid(60, 40)), ScaleSize(c)), std::make_pair(0L, 60040L)) << "exactly the client size";
    EXPECT_EQ((SetFile(c, Solid(61, 40)), ScaleSize(c)), std::make_pair(984L, 60039L));
    const int rect[4] = { 10, 11, 30, 20 };
    SendMessageA(c, BMPM_SETDRAWRECT, 1, LPARAM(rect)), Repaint();
    EXPECT_EQ(Str(Read(c).Drawn()), "0,0,60,39");  // the picture, the parent's ink inside it
    ASSERT_EQ(g_drawItems.size(), 1u);
    EXPECT_EQ(Str(g_drawItems[0].rcItem) + "/" + std::to_string(g_drawItems[0].itemData), "10,11,39,30/984");
    // A resize lays out again from the full picture; so does a style change.
    SetWindowPos(c, nullptr, 0, 0, 122, 80, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(ScaleSize(c), std::make_pair(0L, 61040L));
    SetWindowPos(c, nullptr, 0, 0, 30, 40, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(ScaleSize(c), std::make_pair(492L, 30019L));
    SetWindowLongPtrA(c, GWL_STYLE, GetWindowLongPtrA(c, GWL_STYLE) | BMPS_HCENTER);
    EXPECT_EQ(ScaleSize(c), std::make_pair(492L, 30019L));
    DestroyWindow(c);

    // The page's preview style: 200 x 160 in 100 x 100 shrinks by 500 to
    // 100 x 80, centred and at the bottom; the parent draws into the scaled
    // draw rectangle, or, without one, from the picture origin past the corner.
    g_drawItems.clear();
    c = Make(0x1A09 | BMPS_OPAQUE, 100, 100);
    const int preview[4] = { 10, 11, 156, 115 };
    ASSERT_EQ(SetFile(c, Solid(200, 160)) + SendMessageA(c, BMPM_SETDRAWRECT, 1, LPARAM(preview)), 2);
    Repaint();
    ASSERT_EQ(g_drawItems.size(), 1u);
    const DRAWITEMSTRUCT& d = g_drawItems[0];
    EXPECT_EQ(std::make_tuple(d.CtlType, d.CtlID, d.itemAction, d.itemState, d.hwndItem, d.itemData, Str(d.rcItem)),
        std::make_tuple(UINT(ODT_STATIC), UINT(kId), UINT(ODA_DRAWENTIRE), 0u, c, ULONG_PTR(500), std::string("5,25,83,82")));
    EXPECT_GE(g_ctlColors, 1);
    Shot shot = Read(c);
    EXPECT_EQ(std::make_tuple(shot.at(5, 25), shot.at(82, 81), shot.at(83, 82), shot.at(4, 24)), std::make_tuple(kOwnerInk, kOwnerInk, kInk, kInk));
    EXPECT_EQ(SendMessageA(c, BMPM_SETDRAWRECT, 0, 0), 1);
    EnableWindow(c, FALSE), Repaint();
    ASSERT_EQ(g_drawItems.size(), 2u);
    EXPECT_EQ(std::make_tuple(g_drawItems[1].itemData, g_drawItems[1].itemState, Str(g_drawItems[1].rcItem)), std::make_tuple(ULONG_PTR(0), UINT(ODS_DISABLED), std::string("0,20,101,101")));
    DestroyWindow(c);
    // Owner drawing only: the parent draws over the whole client area; without
    // BMPS_DRAWITEM the parent is never asked.
    for (DWORD style : { DWORD(BMPS_OWNERDRAWONLY), 0ul }) {
        g_drawItems.clear();
        c = Make(style, 40, 30, Solid(10, 10));
        Repaint();
        EXPECT_EQ(g_drawItems.size(), style ? 1u : 0u);
        if (style)
            EXPECT_EQ(Str(g_drawItems[0].rcItem) + Str(Read(c).Drawn()), "0,0,41,310,0,40,30");
        DestroyWindow(c);
    }
}

TEST_F(PictureControl, KeyColourDitherAndFlips)
{
    const int w = 13, h = 11, ox = 10, oy = 5;  // centred in 33 x 21
    // Disabled, the background shows through at the dither's set pixels.
    auto dither = [](int x, int y) { return (y % 4 == 0 && x % 2 == 1) || (y % 4 == 2 && x % 2 == 0); };
    const POINT samples[] = { { 0, 0 }, { 12, 10 }, { 6, 5 }, { 5, 5 }, { 1, 4 }, { 2, 4 }, { 2, 2 }, { 1, 2 }, { 11, 8 }, { 10, 8 }, { 3, 1 } };
    for (DWORD style : { 0ul, DWORD(BMPS_NOMASKCACHE) }) {
        HWND c = Make(style, 33, 21, Keyed(w, h));
        for (int pass = 0; pass < 4; ++pass) {  // the second paint uses the cached mask; the third is disabled; the fourth enabled again
            EnableWindow(c, pass != 2), Repaint();
            const Shot shot = Read(c);
            for (const POINT& p : samples)
                EXPECT_EQ(shot.at(ox + p.x, oy + p.y), IsKey(w, h, p.x, p.y) || (pass == 2 && dither(p.x, p.y)) ? kBackground : kInk) << p.x << "," << p.y << " pass " << pass;
            EXPECT_EQ(std::make_pair(shot.at(0, 0), State(c)->mask != nullptr), std::make_pair(kBackground, !style));
        }
        DestroyWindow(c);
    }
    // An opaque picture keeps its key colour and ignores disabling.
    HWND c = Make(BMPS_OPAQUE, w, h, Keyed(w, h));
    const Shot enabled = (Repaint(), Read(c));
    EXPECT_EQ(std::make_tuple(enabled.at(0, 0), enabled.at(6, 5), enabled.at(1, 4)), std::make_tuple(kKey, kKey, kInk));
    EnableWindow(c, FALSE), Repaint();
    EXPECT_TRUE(Read(c).bits == enabled.bits && !State(c)->mask && !State(c)->enabled);
    DestroyWindow(c);

    // Flips mirror the picture rectangle and paint nothing outside it.
    auto colour = [](int x, int y) { return RGB(8 * x + 1, 16 * y + 1, 77); };
    c = Make(BMPS_OPAQUE, 24, 16, Write("ramp.bmp", qxtest::Bmp24File(16, 12, colour)));
    for (WORD flip : { 0, BMP_FLIP_VERTICAL, BMP_FLIP_HORIZONTAL, BMP_FLIP_VERTICAL | BMP_FLIP_HORIZONTAL }) {
        EXPECT_EQ(SendMessageA(c, BMPM_SETFLIP, flip, 0), 1);
        const Shot shot = (Repaint(), Read(c));
        for (const auto& [x, y] : { std::pair { 0, 0 }, { 15, 0 }, { 0, 11 }, { 15, 11 }, { 3, 7 } })
            EXPECT_EQ(shot.at(4 + x, 2 + y), colour(flip & BMP_FLIP_HORIZONTAL ? 15 - x : x, flip & BMP_FLIP_VERTICAL ? 11 - y : y)) << flip << ": " << x << "," << y;
        EXPECT_EQ(std::make_tuple(shot.at(3, 2), shot.at(20, 13), shot.at(4, 1)), std::make_tuple(kBackground, kBackground, kBackground));
    }
    DestroyWindow(c);
}

TEST_F(PictureControl, ClicksAndFailures)
{
    // A click needs press and release inside; a release without a press is none.
    // BMPS_PARENTMOUSE hands the button to the parent, without capture or clicks.
    for (DWORD style : { 0ul, DWORD(BMPS_PARENTMOUSE) }) {
        HWND c = Make(style, 40, 30);
        g_commands.clear(), g_mouse.clear();
        for (const auto& [x, y] : { std::pair { -3, 5 }, { 40, 5 }, { 39, 29 } }) {
            SendMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
            EXPECT_EQ(GetCapture(), style ? nullptr : c);
            SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
            EXPECT_EQ(GetCapture(), nullptr);
        }
        SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(39, 29));
        EXPECT_EQ(g_commands, (std::vector<std::pair<WPARAM, LPARAM>>(style ? 0 : 1, { MAKEWPARAM(kId, BMPN_CLICKED), LPARAM(c) })));
        EXPECT_EQ(std::make_pair(g_mouse.size(), g_mouse.empty() ? 0 : g_mouse[5].second), std::make_pair(style ? size_t(7) : 0, style ? MAKELPARAM(39, 29) : 0));
        DestroyWindow(c);
    }
    // A picture that cannot be loaded: nothing held; that cannot be shrunk: kept at full size.
    auto failing = [](auto import, const char* function, auto step) {
        qxtest::Recorder<decltype(import)> fail(function, qxtest::ProgramModule());
        return fail.Fail(1, nullptr), step();
    };
    HWND c = Make(BMPS_SHRINKTOFIT, 40, 30);
    const std::string big = Solid(90, 90);
    EXPECT_EQ(failing(&CreateDIBSection, "CreateDIBSection", [&] { return SetFile(c, big); }) + (State(c)->bitmap != nullptr), 0);
    EXPECT_EQ(failing(&CreateDIBitmap, "CreateDIBitmap", [&] { return SendMessageA(c, WM_SIZE, 0, 0); }) + (State(c)->bitmap != nullptr), 0);
    EXPECT_EQ(failing(&CreateCompatibleBitmap, "CreateCompatibleBitmap", [&] { return SendMessageA(c, WM_SIZE, 0, 0); }), 1);
    EXPECT_EQ(std::make_pair(Size(c) / 1000, State(c)->scale), std::make_pair(90L, 0L));
    EXPECT_EQ(SendMessageA(c, WM_SIZE, 0, 0), 1);
    EXPECT_EQ(std::make_pair(Size(c) / 1000, State(c)->scale), std::make_pair(29L, 333L)) << "333 per mille of 90";
    DestroyWindow(c);
}

} // namespace
