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

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto fill = [](HDC dc, const RECT& r, COLORREF c) {
        HBRUSH brush = CreateSolidBrush(c);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    };
    RECT client;
    GetClientRect(hwnd, &client);
    switch (msg) {
    case WM_ERASEBKGND:
        return fill(reinterpret_cast<HDC>(wParam), client, kBackground), 1;
    case WM_DRAWITEM:
        g_drawItems.push_back(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return fill(g_drawItems.back().hDC, g_drawItems.back().rcItem, kOwnerInk), TRUE;
    case WM_COMMAND:
        return g_commands.emplace_back(wParam, lParam), 0;
    case WM_CTLCOLORSTATIC:
        ++g_ctlColors;
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        return g_mouse.emplace_back(msg, lParam), 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class PictureControl : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RegisterPictureClass(qxtest::ProgramModule()));
        EXPECT_FALSE(RegisterPictureClass(qxtest::ProgramModule())) << "one registration per module";
        WNDCLASSA wc = { CS_GLOBALCLASS, ParentProc, 0, 0, qxtest::ProgramModule() };  // so a parent can claim the DLL
        wc.lpszClassName = "QxPictureTestParent";
        ASSERT_NE(RegisterClassA(&wc), 0);
        parent_ = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr, wc.hInstance, nullptr);
        dir_ = qxtest::MakeTempDir("picture") + "\\";
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(parent_);
        EXPECT_TRUE(UnregisterPictureClass(qxtest::ProgramModule()));
        UnregisterClassA("QxPictureTestParent", qxtest::ProgramModule());
        qxtest::RemoveTree(dir_);
    }
    void SetUp() override
    {
        g_drawItems.clear(), g_commands.clear(), g_mouse.clear();
        g_ctlColors = 0;
        before_ = qxtest::CurrentCounts();
    }
    void TearDown() override { EXPECT_EQ(qxtest::CurrentCounts(), before_) << "every object, record and decoder block is released"; }

    static HWND Make(DWORD style, int w, int h, int x = 10, int y = 10, int id = kId)
    {
        return CreateWindowExA(0, QX_PICTURE_CLASS, "", WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent_,
            reinterpret_cast<HMENU>(INT_PTR(id)), qxtest::ProgramModule(), nullptr);
    }
    static std::string Write(const char* name, const std::vector<BYTE>& bytes)
    {
        EXPECT_TRUE(qxtest::WriteFileBytes(dir_ + name, bytes.data(), bytes.size()));
        return dir_ + name;
    }
    // A w x h picture: key colour on the border ring and at (w / 2, h / 2), ink elsewhere.
    static std::string Keyed(int w, int h)
    {
        return Write("keyed.bmp", qxtest::Bmp24File(w, h, [w, h](int x, int y) {
            return x == 0 || y == 0 || x == w - 1 || y == h - 1 || (x == w / 2 && y == h / 2) ? kKey : kInk;
        }));
    }
    static std::string Solid(int w, int h, COLORREF c = kInk) { return Write("solid.bmp", qxtest::Bmp24File(w, h, [c](int, int) { return c; })); }
    // An 8-bit picture of the first colours of `table`, with that table.
    static std::string Palette(const char* name, int w, int h, const std::vector<COLORREF>& table)
    {
        std::vector<BYTE> file = qxtest::Bmp24File(w, h, [](int, int) { return 0; });
        const DWORD row = (w + 3) & ~3u, n = DWORD(table.size()), off = 14 + 40 + 4 * n;
        file.resize(off + row * h);
        const BITMAPINFOHEADER i = { 40, w, h, 1, 8, BI_RGB, 0, 0, 0, n };
        const DWORD total = DWORD(file.size());
        memcpy(&file[2], &total, 4);
        memcpy(&file[10], &off, 4);
        memcpy(&file[14], &i, sizeof i);
        for (DWORD k = 0; k < n; ++k)
            file[54 + 4 * k] = GetBValue(table[k]), file[55 + 4 * k] = GetGValue(table[k]), file[56 + 4 * k] = GetRValue(table[k]);
        for (DWORD k = 0; k < row * h; ++k)
            file[off + k] = BYTE(k % n);
        return Write(name, file);
    }
    static LRESULT SetFile(HWND c, const std::string& path) { return SendMessageA(c, BMPM_SETIMAGE, WPARAM(-1), reinterpret_cast<LPARAM>(path.c_str())); }
    static void Repaint() { RedrawWindow(parent_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW); }
    // What the control's window shows, 0x00RRGGBB, top row first.
    struct Shot {
        int w;
        std::vector<DWORD> bits;
        COLORREF at(int x, int y) const { return RGB(bits[y * w + x] >> 16, bits[y * w + x] >> 8 & 0xFF, bits[y * w + x] & 0xFF); }
        RECT Drawn() const  // around what is not background
        {
            RECT r = { w, LONG(bits.size()) / w, -1, -1 };
            for (int i = 0; i < int(bits.size()); ++i)
                if (at(i % w, i / w) != kBackground)
                    r = { std::min<LONG>(r.left, i % w), std::min<LONG>(r.top, i / w), std::max<LONG>(r.right, i % w + 1), std::max<LONG>(r.bottom, i / w + 1) };
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
        BitBlt(mem, 0, 0, r.right, r.bottom, screen, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        GetDIBits(mem, bitmap, 0, r.bottom, s.bits.data(), &bi, DIB_RGB_COLORS);
        DeleteObject(bitmap), DeleteDC(mem), ReleaseDC(control, screen);
        return s;
    }
    static PictureControlState* State(HWND c) { return reinterpret_cast<PictureControlState*>(GetWindowLongPtrA(c, 0)); }
    static LONG Size(HWND c)  // of the picture held, as width * 1000 + height
    {
        SIZE s = { -1, -1 };
        GetBitmapSize(State(c)->bitmap, &s);
        return s.cx * 1000 + s.cy;
    }

    static inline std::string dir_;
    static inline HWND parent_;
    qxtest::ResourceCounts before_ = {};
};

TEST_F(PictureControl, CreationInstancesAndPictures)
{
    HWND c = Make(0, 50, 40);
    const PictureControlState* s = State(c);
    ASSERT_NE(s, nullptr) << "created although no picture has its id";
    EXPECT_EQ(std::make_tuple(s->instance, s->imageId, s->bitmap, s->enabled), std::make_tuple(HINSTANCE(qxtest::ProgramModule()), LONG(kId), HBITMAP(nullptr), TRUE));
    EXPECT_EQ(Str(s->imageRect), "0,0,50,40");
    EXPECT_EQ(std::make_tuple(SendMessageA(c, WM_NCHITTEST, 0, 0), SendMessageA(c, WM_GETDLGCODE, 0, 0), SendMessageA(c, WM_ERASEBKGND, 0, 0)),
        std::make_tuple(LRESULT(HTCLIENT), LRESULT(DLGC_BUTTON), LRESULT(1)));
    DestroyWindow(c);

    // A parent of the DLL gives the control of id 261 the DLL's logo.
    const LONG_PTR own = SetWindowLongPtrA(parent_, GWLP_HINSTANCE, reinterpret_cast<LONG_PTR>(qxtest::BuiltDll()));
    c = Make(BMPS_NATURALSIZE | BMPS_BOTTOM | BMPS_RIGHT, 120, 90, 0, 0, IDC_LOGO);
    SetWindowLongPtrA(parent_, GWLP_HINSTANCE, own);
    EXPECT_EQ(State(c)->instance, qxtest::BuiltDll());
    EXPECT_EQ(Size(c), 80070);
    EXPECT_EQ(Str(State(c)->imageRect), "40,20,120,90");
    DestroyWindow(c);

    c = Make(BMPS_SHRINKTOFIT | BMPS_NATURALSIZE | BMPS_OPAQUE, 200, 200);
    EXPECT_EQ(SendMessageA(c, BMPM_SETINSTANCE, 0, reinterpret_cast<LPARAM>(qxtest::ProgramModule())), 0) << "the held instance: nothing to do";
    EXPECT_EQ(SendMessageA(c, BMPM_SETINSTANCE, 0, reinterpret_cast<LPARAM>(qxtest::BuiltDll())), 0) << "no picture with the control's id";
    EXPECT_EQ(State(c)->instance, qxtest::BuiltDll());
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, IDB_PREVIEW_FRAME, 0), 1);
    const HBITMAP shown = State(c)->bitmap;
    EXPECT_EQ(Size(c), 176168);
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, IDB_PREVIEW_FRAME, 0), 1);
    EXPECT_EQ(State(c)->bitmap, shown) << "the id already shown is not loaded again";
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, IDB_EF_NONE, 0), 1) << "a progressive JPEG";
    EXPECT_EQ(Size(c), 200160);
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, 9999, 0), 0);
    EXPECT_EQ(State(c)->bitmap, nullptr);
    // -1 without a name is refused; the id stays -1 and reloads fail while the name is empty.
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, WPARAM(-1), 0) + SendMessageA(c, WM_SIZE, 0, MAKELPARAM(200, 200)), 0);
    EXPECT_EQ(State(c)->imageId, -1);
    // A file, and the same file again after it changed: reloaded.
    const std::string path = Solid(8, 8, RGB(10, 20, 30));
    EXPECT_EQ(SetFile(c, path), 1);
    Solid(8, 8, RGB(40, 50, 60));
    EXPECT_EQ(SetFile(c, path), 1);
    Repaint();
    EXPECT_EQ(Read(c).at(2, 2), RGB(40, 50, 60));
    EXPECT_EQ(SetFile(c, std::string(MAX_PATH, 'a')), 0) << "a name longer than the buffer changes nothing";
    EXPECT_STREQ(State(c)->fileName, path.c_str());
    EXPECT_NE(State(c)->bitmap, nullptr);
    DestroyWindow(c);
}

TEST_F(PictureControl, LayoutShrinkAndOwnerDrawing)
{
    // Where a 20 x 10 picture lands in a 60 x 40 client area, unscaled.
    const std::pair<DWORD, POINT> layouts[] = { { 0, { 20, 15 } }, { BMPS_NATURALSIZE, { 0, 0 } },
        { BMPS_NATURALSIZE | BMPS_HCENTER | BMPS_VCENTER, { 0, 0 } }, { BMPS_NATURALSIZE | BMPS_RIGHT | BMPS_BOTTOM, { 40, 30 } },
        { BMPS_NATURALSIZE | BMPS_RIGHT | BMPS_HCENTER | BMPS_VCENTER, { 40, 0 } }, { BMPS_SHRINKTOFIT, { 0, 0 } },
        { BMPS_SHRINKTOFIT | BMPS_HCENTER | BMPS_VCENTER, { 20, 15 } }, { BMPS_SHRINKTOFIT | BMPS_HCENTER | BMPS_BOTTOM, { 20, 30 } },
        { BMPS_SHRINKTOFIT | BMPS_BOTTOM | BMPS_VCENTER, { 0, 30 } } };
    const std::string small = Solid(20, 10);
    for (const auto& [style, at] : layouts) {
        HWND c = Make(style | BMPS_OPAQUE, 60, 40);
        ASSERT_EQ(SetFile(c, small), 1);
        Repaint();
        EXPECT_EQ(Str(Read(c).Drawn()), Str({ at.x, at.y, at.x + 20, at.y + 10 })) << style;
        EXPECT_EQ(State(c)->scale, 0) << style;
        DestroyWindow(c);
    }

    // Shrinking takes the smaller factor in per mille (60030 / 61 = 984 for
    // one pixel too wide); the draw rectangle's corner is rounded to the
    // nearest pixel, its size truncated (10 x 0.984 -> 10, 30 x 0.984 -> 29).
    HWND c = Make(BMPS_SHRINKTOFIT | BMPS_OPAQUE | BMPS_DRAWITEM, 60, 40);
    ASSERT_EQ(SetFile(c, Solid(60, 40)), 1);
    EXPECT_EQ(std::make_pair(State(c)->scale, Size(c)), std::make_pair(0L, 60040L)) << "exactly the client size";
    ASSERT_EQ(SetFile(c, Solid(61, 40)), 1);
    EXPECT_EQ(std::make_pair(State(c)->scale, Size(c)), std::make_pair(984L, 60039L));
    const int rect[4] = { 10, 11, 30, 20 };
    SendMessageA(c, BMPM_SETDRAWRECT, 1, reinterpret_cast<LPARAM>(rect));
    Repaint();
    const RECT drawn = Read(c).Drawn();
    EXPECT_EQ(Str(drawn), "0,0,60,39");  // the picture, the parent's ink inside it
    ASSERT_EQ(g_drawItems.size(), 1u);
    EXPECT_EQ(Str(g_drawItems[0].rcItem), "10,11,39,30");
    EXPECT_EQ(g_drawItems[0].itemData, 984u);
    // A resize lays out again from the full picture; so does a style change.
    SetWindowPos(c, nullptr, 0, 0, 122, 80, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(std::make_pair(State(c)->scale, Size(c) / 1000), std::make_pair(0L, 61L));
    SetWindowPos(c, nullptr, 0, 0, 30, 40, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(State(c)->scale, 492);
    SetWindowLongPtrA(c, GWL_STYLE, GetWindowLongPtrA(c, GWL_STYLE) | BMPS_HCENTER);
    EXPECT_EQ(std::make_pair(State(c)->scale, Size(c) / 1000), std::make_pair(492L, 30L));
    DestroyWindow(c);

    // The page's preview style: 200 x 160 in 100 x 100 shrinks by 500 to
    // 100 x 80, centred and at the bottom; the parent draws into the scaled
    // draw rectangle, or, without one, from the picture origin past the corner.
    g_drawItems.clear();
    c = Make(0x1A09 | BMPS_OPAQUE, 100, 100);
    ASSERT_EQ(SetFile(c, Solid(200, 160)), 1);
    const int preview[4] = { 10, 11, 156, 115 };
    EXPECT_EQ(SendMessageA(c, BMPM_SETDRAWRECT, 1, reinterpret_cast<LPARAM>(preview)), 1);
    Repaint();
    ASSERT_EQ(g_drawItems.size(), 1u);
    const DRAWITEMSTRUCT& d = g_drawItems[0];
    EXPECT_EQ(std::make_tuple(d.CtlType, d.CtlID, d.itemAction, d.itemState, d.hwndItem, d.itemData),
        std::make_tuple(UINT(ODT_STATIC), UINT(kId), UINT(ODA_DRAWENTIRE), 0u, c, ULONG_PTR(500)));
    EXPECT_EQ(Str(d.rcItem), "5,25,83,82");
    EXPECT_GE(g_ctlColors, 1);
    Shot shot = Read(c);
    EXPECT_EQ(std::make_tuple(shot.at(5, 25), shot.at(82, 81), shot.at(83, 82), shot.at(4, 24)), std::make_tuple(kOwnerInk, kOwnerInk, kInk, kInk));
    EXPECT_EQ(SendMessageA(c, BMPM_SETDRAWRECT, 0, 0), 1);
    EnableWindow(c, FALSE);
    Repaint();
    ASSERT_EQ(g_drawItems.size(), 2u);
    EXPECT_EQ(std::make_tuple(g_drawItems[1].itemData, g_drawItems[1].itemState, Str(g_drawItems[1].rcItem)), std::make_tuple(ULONG_PTR(0), UINT(ODS_DISABLED), std::string("0,20,101,101")));
    DestroyWindow(c);
    // Owner drawing only: the parent draws over the whole client area; without
    // BMPS_DRAWITEM the parent is never asked.
    for (DWORD style : { DWORD(BMPS_OWNERDRAWONLY), 0ul }) {
        g_drawItems.clear();
        c = Make(style, 40, 30);
        SetFile(c, Solid(10, 10));
        Repaint();
        EXPECT_EQ(g_drawItems.size(), style ? 1u : 0u);
        if (style)
            EXPECT_EQ(Str(g_drawItems[0].rcItem) + Str(Read(c).Drawn()), "0,0,41,310,0,40,30");
        DestroyWindow(c);
    }
}

TEST_F(PictureControl, KeyColourDitherFlipsAndPalettes)
{
    const int w = 13, h = 11, ox = 10, oy = 5;  // centred in 33 x 21
    auto key = [](int x, int y) { return x == 0 || y == 0 || x == w - 1 || y == h - 1 || (x == w / 2 && y == h / 2); };
    // Disabled, the background shows through at the dither's set pixels.
    auto dither = [](int x, int y) { return (y % 4 == 0 && x % 2 == 1) || (y % 4 == 2 && x % 2 == 0); };
    for (DWORD style : { 0ul, DWORD(BMPS_NOMASKCACHE) }) {
        HWND c = Make(style, 33, 21);
        ASSERT_EQ(SetFile(c, Keyed(w, h)), 1);
        for (int pass = 0; pass < 3; ++pass) {  // the second paint uses the cached mask; the third is disabled
            if (pass == 2)
                EnableWindow(c, FALSE);
            Repaint();
            const Shot shot = Read(c);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(shot.at(ox + x, oy + y), key(x, y) || (pass == 2 && dither(x, y)) ? kBackground : kInk) << x << "," << y << " pass " << pass;
            EXPECT_EQ(shot.at(0, 0), kBackground);
        }
        EXPECT_EQ(State(c)->mask != nullptr, !style);
        EXPECT_FALSE(State(c)->enabled);
        EnableWindow(c, TRUE);
        Repaint();
        EXPECT_EQ(Read(c).at(ox + 1, oy + 4), kInk) << "enabled again, no dither";
        DestroyWindow(c);
    }
    // An opaque picture keeps its key colour and ignores disabling.
    HWND c = Make(BMPS_OPAQUE, w, h);
    ASSERT_EQ(SetFile(c, Keyed(w, h)), 1);
    Repaint();
    const Shot enabled = Read(c);
    EXPECT_EQ(std::make_tuple(enabled.at(0, 0), enabled.at(6, 5), enabled.at(1, 4)), std::make_tuple(kKey, kKey, kInk));
    EnableWindow(c, FALSE);
    Repaint();
    EXPECT_EQ(Read(c).bits, enabled.bits);
    EXPECT_EQ(State(c)->mask, nullptr);
    DestroyWindow(c);

    // Flips mirror the picture rectangle and paint nothing outside it.
    auto colour = [](int x, int y) { return RGB(8 * x + 1, 16 * y + 1, 77); };
    c = Make(BMPS_OPAQUE, 24, 16);
    ASSERT_EQ(SetFile(c, Write("ramp.bmp", qxtest::Bmp24File(16, 12, colour))), 1);
    for (WORD flip : { 0, BMP_FLIP_VERTICAL, BMP_FLIP_HORIZONTAL, BMP_FLIP_VERTICAL | BMP_FLIP_HORIZONTAL }) {
        EXPECT_EQ(SendMessageA(c, BMPM_SETFLIP, flip, 0), 1);
        Repaint();
        const Shot shot = Read(c);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(shot.at(4 + x, 2 + y), colour(flip & BMP_FLIP_HORIZONTAL ? 15 - x : x, flip & BMP_FLIP_VERTICAL ? 11 - y : y)) << flip;
        EXPECT_EQ(shot.at(0, 0), kBackground);
    }
    DestroyWindow(c);

    // More than the 16 VGA colours get a palette of their own, VGA entries
    // collapsible, others not; it answers palette messages but its own change.
    std::vector<COLORREF> table(32);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = RGB(i * 7, 100 + i, 3);
    table[0] = RGB(128, 0, 128), table[1] = RGB(192, 192, 192), table[2] = RGB(255, 255, 0), table[3] = RGB(128, 255, 0);
    c = Make(0, 40, 30);
    ASSERT_EQ(SetFile(c, Palette("pal32.bmp", 8, 4, table)), 1);
    PALETTEENTRY e[33] = {};
    ASSERT_EQ(GetPaletteEntries(State(c)->palette, 0, 33, e), 32u);
    for (int i : { 0, 1, 2, 3, 5 })
        EXPECT_EQ(e[i].peFlags, i < 3 ? 0 : PC_NOCOLLAPSE) << i;
    EXPECT_EQ(RGB(e[5].peRed, e[5].peGreen, e[5].peBlue), table[5]);
    qxtest::Recorder<decltype(&UpdateColors)> update("UpdateColors", qxtest::ProgramModule());
    SendMessageA(c, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(c), 0);
    EXPECT_EQ(update.calls, 0) << "its own change is ignored";
    SendMessageA(c, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(parent_), 0);
    EXPECT_EQ(update.calls, 1);
    EXPECT_EQ(SendMessageA(c, WM_QUERYNEWPALETTE, 0, 0), 1);
    table.resize(16);
    ASSERT_EQ(SetFile(c, Palette("pal16.bmp", 8, 4, table)), 1);
    EXPECT_EQ(State(c)->palette, nullptr) << "sixteen colours need no palette";
    SendMessageA(c, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(parent_), 0);
    EXPECT_EQ(update.calls, 1);
    DestroyWindow(c);
}

TEST_F(PictureControl, ClicksAndHoverCursor)
{
    // A click needs press and release inside; a release without a press is none.
    HWND c = Make(0, 40, 30);
    const std::pair<int, int> releases[] = { { -3, 5 }, { 40, 5 }, { 39, 29 } };
    for (const auto& [x, y] : releases) {
        SendMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        EXPECT_EQ(GetCapture(), c);
        SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        EXPECT_EQ(GetCapture(), nullptr);
    }
    SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(39, 29));
    EXPECT_EQ(g_commands, (std::vector<std::pair<WPARAM, LPARAM>> { { MAKEWPARAM(kId, BMPN_CLICKED), reinterpret_cast<LPARAM>(c) } }));
    EXPECT_TRUE(g_mouse.empty());
    DestroyWindow(c);
    // BMPS_PARENTMOUSE hands the button to the parent, without capture or clicks.
    c = Make(BMPS_PARENTMOUSE, 40, 30);
    SendMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 6));
    EXPECT_EQ(GetCapture(), nullptr);
    SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(7, 8));
    EXPECT_EQ(g_commands.size(), 1u);
    EXPECT_EQ(g_mouse, (std::vector<std::pair<WPARAM, LPARAM>> { { WM_LBUTTONDOWN, MAKELPARAM(5, 6) }, { WM_LBUTTONUP, MAKELPARAM(7, 8) } }));
    DestroyWindow(c);

    c = Make(BMPS_NATURALSIZE, 60, 40, 20, 20);
    ASSERT_EQ(SetFile(c, Solid(10, 10)), 1);
    HCURSOR hand = LoadCursorA(nullptr, IDC_HAND);
    SendMessageA(c, BMPM_SETCURSOR, reinterpret_cast<WPARAM>(hand), 0);
    POINT inside = { 5, 5 }, outside = { 30, 30 };
    ClientToScreen(c, &inside), ClientToScreen(c, &outside);
    if (SetCursorPos(inside.x, inside.y)) {
        EXPECT_EQ(SendMessageA(c, WM_SETCURSOR, reinterpret_cast<WPARAM>(c), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), 1);
        EXPECT_EQ(GetCursor(), hand);
        SetCursorPos(outside.x, outside.y);
        SetCursor(nullptr);
        SendMessageA(c, WM_SETCURSOR, reinterpret_cast<WPARAM>(c), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_NE(GetCursor(), hand) << "only over the picture";
    }
    DestroyWindow(c);
}

TEST_F(PictureControl, FailuresReleaseEverythingAndManyControlsLeaveNothing)
{
    // Each object the paint makes fails in turn, with and without a cached
    // mask, on the dither path that makes the most: the paint reports it,
    // leaks nothing, and the next paint recovers.
    const std::string keyed = Keyed(13, 11);
    auto paintFailing = [&](auto import, const char* function) {
        for (DWORD style : { 0ul, DWORD(BMPS_NOMASKCACHE) }) {
            HWND c = Make(style, 33, 21);
            ASSERT_EQ(SetFile(c, keyed), 1);
            EnableWindow(c, FALSE);
            InvalidateRect(c, nullptr, FALSE);
            ASSERT_EQ(SendMessageA(c, WM_PAINT, 0, 0), 0) << "the mask, if any, is cached now";
            const DWORD gdi = qxtest::CurrentCounts().gdi;
            {
                qxtest::Recorder<decltype(import)> fail(function, qxtest::ProgramModule());
                fail.Fail(1, nullptr);
                InvalidateRect(c, nullptr, FALSE);
                EXPECT_EQ(SendMessageA(c, WM_PAINT, 0, 0), 1) << function << " style " << style;
            }
            EXPECT_EQ(qxtest::CurrentCounts().gdi, gdi) << function << " style " << style;
            InvalidateRect(c, nullptr, FALSE);
            EXPECT_EQ(SendMessageA(c, WM_PAINT, 0, 0), 0) << "recovers after " << function;
            DestroyWindow(c);
        }
    };
    paintFailing(&CreateCompatibleBitmap, "CreateCompatibleBitmap");
    paintFailing(&CreateCompatibleDC, "CreateCompatibleDC");
    paintFailing(&CreateBitmap, "CreateBitmap");
    paintFailing(&CopyImage, "CopyImage");
    // A picture that cannot be loaded: nothing held; that cannot be shrunk:
    // kept at full size.
    HWND c = Make(BMPS_SHRINKTOFIT, 40, 30);
    {
        qxtest::Recorder<decltype(&CreateDIBSection)> fail("CreateDIBSection", qxtest::ProgramModule());
        fail.Fail(1, nullptr);
        EXPECT_EQ(SetFile(c, Solid(90, 90)), 0);
        EXPECT_EQ(State(c)->bitmap, nullptr);
    }
    {
        qxtest::Recorder<decltype(&CreateDIBitmap)> fail("CreateDIBitmap", qxtest::ProgramModule());
        fail.Fail(1, nullptr);
        EXPECT_EQ(SendMessageA(c, WM_SIZE, 0, 0), 0);
        EXPECT_EQ(State(c)->bitmap, nullptr);
    }
    {
        qxtest::Recorder<decltype(&CreateCompatibleBitmap)> fail("CreateCompatibleBitmap", qxtest::ProgramModule());
        fail.Fail(1, nullptr);
        EXPECT_EQ(SendMessageA(c, WM_SIZE, 0, 0), 1);
        EXPECT_EQ(std::make_pair(Size(c) / 1000, State(c)->scale), std::make_pair(90L, 0L));
    }
    EXPECT_EQ(SendMessageA(c, WM_SIZE, 0, 0), 1);
    EXPECT_EQ(std::make_pair(Size(c) / 1000, State(c)->scale), std::make_pair(29L, 333L)) << "333 per mille of 90";
    DestroyWindow(c);

    // Palette pictures, masks, shrinks, dithers and flips, then nothing left
    // (checked in TearDown).
    std::vector<COLORREF> table(64);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = RGB(i * 4, 255 - i, 9);
    const std::string pal = Palette("pal64.bmp", 50, 50, table), wide = Keyed(70, 20);
    for (int round = 0; round < 3; ++round) {
        HWND a = Make(0x1A09, 40, 40, 0, 0, 1), b = Make(BMPS_NOMASKCACHE | BMPS_SHRINKTOFIT, 40, 40, 50, 0, 2), d = Make(BMPS_OWNERDRAWONLY, 40, 40, 100, 0, 3);
        SetFile(a, pal), SetFile(b, wide), SetFile(d, wide);
        Repaint();
        EnableWindow(a, FALSE), EnableWindow(b, FALSE);
        SendMessageA(b, BMPM_SETFLIP, 3, 1);
        Repaint();
        DestroyWindow(a), DestroyWindow(b), DestroyWindow(d);
    }
}

} // namespace
