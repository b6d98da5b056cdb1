// The picture control on real windows: controls of this program's class in a
// test parent that paints a known background, pictures written as BMP files
// (exact pixels) or taken from the module's resources, and read back from the
// control's window after a real paint.
#include "qxtest.h"

#include "controls/picture_control.h"
#include "controls/transparent_draw.h"
#include "hosting/module.h"
#include "resource.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr COLORREF kBackground = RGB(0, 160, 0);
constexpr COLORREF kKey = RGB(255, 0, 0);
constexpr COLORREF kInk = RGB(0, 0, 255);
constexpr COLORREF kOwnerInk = RGB(250, 250, 0);
constexpr int kControlId = 777;

std::vector<BYTE> PaletteBmpFile(int w, int h, const std::vector<COLORREF>& table)
{
    const DWORD row = (w + 3) & ~3u;
    const DWORD colours = static_cast<DWORD>(table.size());
    BITMAPFILEHEADER f = {};
    BITMAPINFOHEADER i = {};
    f.bfType = 0x4D42;
    f.bfOffBits = sizeof f + sizeof i + 4 * colours;
    f.bfSize = f.bfOffBits + row * h;
    i.biSize = sizeof i;
    i.biWidth = w;
    i.biHeight = h;
    i.biPlanes = 1;
    i.biBitCount = 8;
    i.biClrUsed = colours;
    std::vector<BYTE> file(f.bfSize);
    memcpy(file.data(), &f, sizeof f);
    memcpy(file.data() + sizeof f, &i, sizeof i);
    for (DWORD k = 0; k < colours; ++k) {
        RGBQUAD q = { GetBValue(table[k]), GetGValue(table[k]), GetRValue(table[k]), 0 };
        memcpy(file.data() + sizeof f + sizeof i + 4 * k, &q, 4);
    }
    for (DWORD k = 0; k < row * h; ++k)
        file[f.bfOffBits + k] = static_cast<BYTE>(k % colours);
    return file;
}

// What the control's window shows, pixel by pixel.
struct Capture {
    int w = 0, h = 0;
    std::vector<DWORD> bits;  // top-down 0x00RRGGBB
    COLORREF at(int x, int y) const
    {
        const DWORD v = bits[y * w + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    // Bounding box of the pixels that are not the background.
    RECT Drawn() const
    {
        RECT r = { w, h, -1, -1 };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (at(x, y) != kBackground)
                    r = { std::min<LONG>(r.left, x), std::min<LONG>(r.top, y), std::max<LONG>(r.right, x + 1),
                        std::max<LONG>(r.bottom, y + 1) };
        return r;
    }
};

// A rectangle as text, so a mismatch shows both sides.
std::string Str(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
        std::to_string(r.bottom);
}

// Messages the parent received from its controls.
struct ParentLog {
    std::vector<DRAWITEMSTRUCT> drawItems;
    std::vector<std::pair<WPARAM, LPARAM>> commands;
    std::vector<std::pair<UINT, LPARAM>> mouse;
    int ctlColors = 0;
    bool fillDrawItem = false;
};
ParentLog g_log;

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(hwnd, &r);
        HBRUSH brush = CreateSolidBrush(kBackground);
        FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
        DeleteObject(brush);
        return 1;
    }
    case WM_DRAWITEM: {
        const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        g_log.drawItems.push_back(*dis);
        if (g_log.fillDrawItem) {
            HBRUSH brush = CreateSolidBrush(kOwnerInk);
            FillRect(dis->hDC, &dis->rcItem, brush);
            DeleteObject(brush);
        }
        return TRUE;
    }
    case WM_COMMAND:
        g_log.commands.emplace_back(wParam, lParam);
        return 0;
    case WM_CTLCOLORSTATIC:
        ++g_log.ctlColors;
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        g_log.mouse.emplace_back(msg, lParam);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class PictureControl : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new std::string(qxtest::MakeTempDir("picture"));
        ASSERT_TRUE(RegisterPictureClass(qxtest::ProgramModule()));
        WNDCLASSA wc = {};
        wc.style = CS_GLOBALCLASS;  // so a parent can claim the module's instance
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = qxtest::ProgramModule();
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = "QxPictureTestParent";
        ASSERT_NE(RegisterClassA(&wc), 0);
        // One parent for the suite: making and destroying top-level windows
        // is slow under Wine.
        parent_ = CreateWindowExA(0, "QxPictureTestParent", "", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr,
            nullptr, qxtest::ProgramModule(), nullptr);
        ASSERT_NE(parent_, nullptr);
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(parent_);
        EXPECT_TRUE(UnregisterPictureClass(qxtest::ProgramModule()));
        UnregisterClassA("QxPictureTestParent", qxtest::ProgramModule());
        qxtest::RemoveTree(*dir_);
        delete dir_;
    }

    void SetUp() override
    {
        g_log = ParentLog();
        before_ = qxtest::CurrentCounts();
    }
    void TearDown() override
    {
        const qxtest::ResourceCounts after = qxtest::CurrentCounts();
        EXPECT_EQ(after.gdi, before_.gdi) << "every GDI object of the controls is released";
        EXPECT_EQ(after.user, before_.user);
        EXPECT_EQ(after.heap, before_.heap) << "records and decoder blocks are freed";
    }

    static HWND MakeControl(DWORD style, int w, int h, int x = 10, int y = 10, int id = kControlId)
    {
        return CreateWindowExA(0, QX_PICTURE_CLASS, "", WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), qxtest::ProgramModule(),
            nullptr);
    }

    static std::string WriteBmp(const char* name, const std::vector<BYTE>& bytes)
    {
        std::string path = *dir_ + "\\" + name;
        EXPECT_TRUE(qxtest::WriteFileBytes(path, bytes.data(), bytes.size()));
        return path;
    }

    // A w x h picture file: key colour on the border ring and at the inner
    // point (w / 2, h / 2), ink elsewhere.
    static std::string KeyedPicture(int w, int h)
    {
        return WriteBmp("keyed.bmp", qxtest::Bmp24File(w, h, [w, h](int x, int y) {
            const bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            return border || (x == w / 2 && y == h / 2) ? kKey : kInk;
        }));
    }
    static std::string SolidPicture(int w, int h, COLORREF c = kInk)
    {
        return WriteBmp("solid.bmp", qxtest::Bmp24File(w, h, [c](int, int) { return c; }));
    }

    static LRESULT SetFile(HWND control, const std::string& path)
    {
        return SendMessageA(control, BMPM_SETIMAGE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(path.c_str()));
    }

    void Repaint()
    {
        RedrawWindow(parent_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }

    static Capture Read(HWND control)
    {
        Capture c;
        RECT r;
        GetClientRect(control, &r);
        c.w = r.right;
        c.h = r.bottom;
        c.bits.resize(c.w * c.h);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = c.w;
        bi.bmiHeader.biHeight = -c.h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HDC screen = GetDC(control);
        HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC mem = CreateCompatibleDC(screen);
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, c.w, c.h, screen, 0, 0, SRCCOPY);
        GdiFlush();
        memcpy(c.bits.data(), bits, c.bits.size() * 4);
        SelectObject(mem, old);
        DeleteDC(mem);
        DeleteObject(dib);
        ReleaseDC(control, screen);
        return c;
    }

    static PictureControlState* State(HWND control)
    {
        return reinterpret_cast<PictureControlState*>(GetWindowLongPtrA(control, 0));
    }
    static SIZE PictureSize(HWND control)
    {
        SIZE s = { -1, -1 };
        GetBitmapSize(State(control)->bitmap, &s);
        return s;
    }

    static std::string* dir_;
    static HWND parent_;
    qxtest::ResourceCounts before_ = {};
};
std::string* PictureControl::dir_;
HWND PictureControl::parent_;

// ---- class, creation and the picture messages -----------------------------

TEST_F(PictureControl, ClassFieldsAndCreationState)
{
    WNDCLASSA wc = {};
    ASSERT_TRUE(GetClassInfoA(qxtest::ProgramModule(), QX_PICTURE_CLASS, &wc));
    EXPECT_EQ(wc.style, 0u);
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, static_cast<int>(sizeof(LONG_PTR)));
    EXPECT_EQ(wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1));
    EXPECT_FALSE(RegisterPictureClass(qxtest::ProgramModule())) << "one registration per module";

    HWND c = MakeControl(0, 50, 40);
    ASSERT_NE(c, nullptr) << "created although no picture has its id";
    PictureControlState* s = State(c);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->instance, qxtest::ProgramModule()) << "the parent's instance";
    EXPECT_EQ(s->imageId, kControlId);
    EXPECT_EQ(s->bitmap, nullptr);
    EXPECT_TRUE(s->enabled);
    EXPECT_EQ(Str(s->imageRect), Str({ 0, 0, 50, 40 }));
    EXPECT_EQ(SendMessageA(c, WM_NCHITTEST, 0, 0), HTCLIENT);
    EXPECT_EQ(SendMessageA(c, WM_GETDLGCODE, 0, 0), DLGC_BUTTON);
    EXPECT_EQ(SendMessageA(c, WM_ERASEBKGND, 0, 0), 1);
    DestroyWindow(c);
}

TEST_F(PictureControl, ParentInstanceGivesTheLogoOfItsControlId)
{
    // The module's logo (resource 261) comes with a control of that id whose
    // parent belongs to the module.
    const LONG_PTR own = SetWindowLongPtrA(parent_, GWLP_HINSTANCE, reinterpret_cast<LONG_PTR>(qxtest::BuiltDll()));
    HWND logo = MakeControl(BMPS_NATURALSIZE | BMPS_BOTTOM | BMPS_RIGHT, 120, 90, 0, 0, IDC_LOGO);
    SetWindowLongPtrA(parent_, GWLP_HINSTANCE, own);
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(State(logo)->instance, qxtest::BuiltDll());
    EXPECT_EQ(PictureSize(logo).cx, 80);
    EXPECT_EQ(PictureSize(logo).cy, 70);
    EXPECT_EQ(Str(State(logo)->imageRect), Str({ 40, 20, 120, 90 }));
    DestroyWindow(logo);
}

TEST_F(PictureControl, SetInstanceAndSetImage)
{
    HWND c = MakeControl(BMPS_SHRINKTOFIT | BMPS_NATURALSIZE | BMPS_OPAQUE, 200, 200);
    EXPECT_EQ(SendMessageA(c, BMPM_SETINSTANCE, 0, reinterpret_cast<LPARAM>(qxtest::ProgramModule())), 0)
        << "the held instance: nothing to do";
    EXPECT_EQ(SendMessageA(c, BMPM_SETINSTANCE, 0, reinterpret_cast<LPARAM>(qxtest::BuiltDll())), 0)
        << "the module has no picture with the control's id";
    EXPECT_EQ(State(c)->instance, qxtest::BuiltDll());

    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, IDB_PREVIEW_FRAME, 0), 1);
    HBITMAP shown = State(c)->bitmap;
    EXPECT_EQ(PictureSize(c).cx, 176);
    EXPECT_EQ(PictureSize(c).cy, 168);
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, IDB_PREVIEW_FRAME, 0), 1);
    EXPECT_EQ(State(c)->bitmap, shown) << "the id already shown is not loaded again";

    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, IDB_EF_NONE, 0), 1) << "a progressive JPEG";
    EXPECT_EQ(PictureSize(c).cx, 200);
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, 9999, 0), 0);
    EXPECT_EQ(State(c)->bitmap, nullptr);

    // -1 without a name: refused, the id stays -1 and reloads fail while the
    // file name is empty.
    EXPECT_EQ(SendMessageA(c, BMPM_SETIMAGE, static_cast<WPARAM>(-1), 0), 0);
    EXPECT_EQ(State(c)->imageId, -1);
    EXPECT_EQ(SendMessageA(c, WM_SIZE, 0, MAKELPARAM(200, 200)), 0);

    // A file, and the same file again after it changed: reloaded.
    std::string path = SolidPicture(8, 8, RGB(10, 20, 30));
    EXPECT_EQ(SetFile(c, path), 1);
    SolidPicture(8, 8, RGB(40, 50, 60));
    EXPECT_EQ(SetFile(c, path), 1);
    Repaint();
    EXPECT_EQ(Read(c).at(2, 2), RGB(40, 50, 60));

    // A name longer than the buffer is refused and changes nothing.
    std::string longName(MAX_PATH, 'a');
    EXPECT_EQ(SetFile(c, longName), 0);
    EXPECT_STREQ(State(c)->fileName, path.c_str());
    EXPECT_NE(State(c)->bitmap, nullptr);
    DestroyWindow(c);
}

// ---- layout ----------------------------------------------------------------

TEST_F(PictureControl, LayoutPlacesPictureByStyle)
{
    // Where a 20 x 10 picture lands in a 60 x 40 client area.
    const struct {
        DWORD style;
        int x, y;
    } cases[] = {
        { 0, 20, 15 },  // no layout: centred in the client area by the paint
        { BMPS_NATURALSIZE, 0, 0 },
        { BMPS_NATURALSIZE | BMPS_HCENTER | BMPS_VCENTER, 0, 0 },  // centred on itself
        { BMPS_NATURALSIZE | BMPS_RIGHT | BMPS_BOTTOM, 40, 30 },
        { BMPS_NATURALSIZE | BMPS_RIGHT | BMPS_HCENTER | BMPS_VCENTER, 40, 0 },
        { BMPS_SHRINKTOFIT, 0, 0 },
        { BMPS_SHRINKTOFIT | BMPS_HCENTER | BMPS_VCENTER, 20, 15 },
        { BMPS_SHRINKTOFIT | BMPS_HCENTER | BMPS_BOTTOM, 20, 30 },
        { BMPS_SHRINKTOFIT | BMPS_BOTTOM | BMPS_VCENTER, 0, 30 },
    };
    const std::string picture = SolidPicture(20, 10);
    for (const auto& k : cases) {
        SCOPED_TRACE(k.style);
        HWND c = MakeControl(k.style | BMPS_OPAQUE, 60, 40);
        ASSERT_EQ(SetFile(c, picture), 1);
        Repaint();
        EXPECT_EQ(Str(Read(c).Drawn()), Str({ k.x, k.y, k.x + 20, k.y + 10 }));
        EXPECT_EQ(State(c)->scale, 0) << "a picture that fits is not scaled";
        DestroyWindow(c);
    }
}

TEST_F(PictureControl, ShrinkToFitUsesTheSmallerFactor)
{
    HWND c = MakeControl(BMPS_SHRINKTOFIT | BMPS_OPAQUE | BMPS_DRAWITEM, 60, 40);
    ASSERT_EQ(SetFile(c, SolidPicture(60, 40)), 1);
    EXPECT_EQ(State(c)->scale, 0) << "exactly the client size";
    EXPECT_EQ(PictureSize(c).cx, 60);

    // One pixel wider: 60030 / 61 = 984 per mille against 1000.
    ASSERT_EQ(SetFile(c, SolidPicture(61, 40)), 1);
    EXPECT_EQ(State(c)->scale, 984);
    EXPECT_EQ(PictureSize(c).cx, 60);
    EXPECT_EQ(PictureSize(c).cy, 39);
    Repaint();
    RECT drawn = Read(c).Drawn();
    EXPECT_EQ(drawn.right - drawn.left, 60);
    EXPECT_EQ(drawn.bottom - drawn.top, 39);

    // The draw rectangle's corner is rounded to the nearest pixel, its size
    // truncated: 10 x 0.984 = 9.84 -> 10, 30 x 0.984 = 29.52 -> 29.
    const int rect[4] = { 10, 11, 30, 20 };
    SendMessageA(c, BMPM_SETDRAWRECT, 1, reinterpret_cast<LPARAM>(rect));
    g_log.drawItems.clear();
    Repaint();
    ASSERT_EQ(g_log.drawItems.size(), 1u);
    EXPECT_EQ(Str(g_log.drawItems[0].rcItem), Str({ 10, 11, 39, 30 }));
    EXPECT_EQ(g_log.drawItems[0].itemData, 984u);

    // A resize lays out again from the full picture.
    SetWindowPos(c, nullptr, 0, 0, 122, 80, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(State(c)->scale, 0);
    EXPECT_EQ(PictureSize(c).cx, 61);
    // So does a style change, which reloads the picture at full size.
    SetWindowPos(c, nullptr, 0, 0, 30, 40, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(State(c)->scale, 492);
    SetWindowLongPtrA(c, GWL_STYLE, GetWindowLongPtrA(c, GWL_STYLE) | BMPS_HCENTER);
    EXPECT_EQ(State(c)->scale, 492);
    EXPECT_EQ(PictureSize(c).cx, 30);
    DestroyWindow(c);
}

// ---- owner drawing -----------------------------------------------------------

TEST_F(PictureControl, DrawItemRectangleFollowsTheShrinkOrCoversTheClientArea)
{
    // The page's preview style: 200 x 160 in 100 x 100 shrinks by 500 per
    // mille to 100 x 80, centred and at the bottom.
    HWND c = MakeControl(0x1A09 | BMPS_OPAQUE, 100, 100);
    ASSERT_EQ(SetFile(c, SolidPicture(200, 160)), 1);
    const int rect[4] = { 10, 11, 156, 115 };
    EXPECT_EQ(SendMessageA(c, BMPM_SETDRAWRECT, 1, reinterpret_cast<LPARAM>(rect)), 1);
    g_log.fillDrawItem = true;
    Repaint();
    ASSERT_EQ(g_log.drawItems.size(), 1u);
    const DRAWITEMSTRUCT& d = g_log.drawItems[0];
    EXPECT_EQ(d.CtlType, static_cast<UINT>(ODT_STATIC));
    EXPECT_EQ(d.CtlID, static_cast<UINT>(kControlId));
    EXPECT_EQ(d.itemAction, static_cast<UINT>(ODA_DRAWENTIRE));
    EXPECT_EQ(d.itemState, 0u);
    EXPECT_EQ(d.hwndItem, c);
    EXPECT_EQ(d.itemData, 500u);
    EXPECT_EQ(Str(d.rcItem), Str({ 5, 25, 83, 82 }));
    EXPECT_GE(g_log.ctlColors, 1);
    Capture shot = Read(c);
    EXPECT_EQ(shot.at(5, 25), kOwnerInk) << "the parent's drawing reaches the screen";
    EXPECT_EQ(shot.at(82, 81), kOwnerInk);
    EXPECT_EQ(shot.at(83, 82), kInk);
    EXPECT_EQ(shot.at(4, 24), kInk);

    // Without a draw rectangle: from the picture origin past the client
    // area's corner, no scale; disabled is reported.
    EXPECT_EQ(SendMessageA(c, BMPM_SETDRAWRECT, 0, 0), 1);
    EnableWindow(c, FALSE);
    g_log.drawItems.clear();
    Repaint();
    ASSERT_EQ(g_log.drawItems.size(), 1u);
    EXPECT_EQ(g_log.drawItems[0].itemData, 0u);
    EXPECT_EQ(g_log.drawItems[0].itemState, static_cast<UINT>(ODS_DISABLED));
    EXPECT_EQ(Str(g_log.drawItems[0].rcItem), Str({ 0, 20, 101, 101 }));
    DestroyWindow(c);

    // Owner drawing only: the parent draws over the whole client area.
    c = MakeControl(BMPS_OWNERDRAWONLY, 40, 30);
    ASSERT_EQ(SetFile(c, SolidPicture(10, 10)), 1);
    g_log.drawItems.clear();
    Repaint();
    ASSERT_EQ(g_log.drawItems.size(), 1u);
    EXPECT_EQ(Str(g_log.drawItems[0].rcItem), Str({ 0, 0, 41, 31 }));
    shot = Read(c);
    EXPECT_EQ(shot.at(0, 0), kOwnerInk);
    EXPECT_EQ(shot.at(39, 29), kOwnerInk);
    DestroyWindow(c);

    // Without BMPS_DRAWITEM the parent is never asked.
    g_log.drawItems.clear();
    c = MakeControl(0, 40, 30);
    SetFile(c, SolidPicture(10, 10));
    Repaint();
    EXPECT_TRUE(g_log.drawItems.empty());
    DestroyWindow(c);
}

// ---- transparency, disabled dither, flips -------------------------------------

// Background shows through at the dither's set pixels, picture-relative.
bool DitherShows(int x, int y) { return (y % 4 == 0 && x % 2 == 1) || (y % 4 == 2 && x % 2 == 0); }

TEST_F(PictureControl, KeyColourAndDitherUnlessOpaque)
{
    for (DWORD style : { 0ul, static_cast<DWORD>(BMPS_NOMASKCACHE) }) {
        SCOPED_TRACE(style);
        const int w = 13, h = 11, ox = 10, oy = 5;  // centred in 33 x 21
        HWND c = MakeControl(style, 33, 21);
        ASSERT_EQ(SetFile(c, KeyedPicture(w, h)), 1);
        for (int pass = 0; pass < 2; ++pass) {  // the second paint uses the cached mask
            Repaint();
            Capture shot = Read(c);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const bool key = x == 0 || y == 0 || x == w - 1 || y == h - 1 || (x == w / 2 && y == h / 2);
                    ASSERT_EQ(shot.at(ox + x, oy + y), key ? kBackground : kInk) << x << "," << y << " pass " << pass;
                }
            EXPECT_EQ(shot.at(0, 0), kBackground);
        }
        EXPECT_EQ(State(c)->mask != nullptr, !(style & BMPS_NOMASKCACHE));

        EnableWindow(c, FALSE);
        EXPECT_FALSE(State(c)->enabled);
        Repaint();
        Capture shot = Read(c);
        for (int y = 1; y < h - 1; ++y)
            for (int x = 1; x < w - 1; ++x) {
                if (x == w / 2 && y == h / 2)
                    continue;
                ASSERT_EQ(shot.at(ox + x, oy + y), DitherShows(x, y) ? kBackground : kInk) << x << "," << y;
            }

        EnableWindow(c, TRUE);
        Repaint();
        EXPECT_EQ(Read(c).at(ox + 1, oy + 4), kInk) << "enabled again, no dither";
        DestroyWindow(c);
    }

    // An opaque picture keeps its key colour and ignores disabling.
    HWND c = MakeControl(BMPS_OPAQUE, 13, 11);
    ASSERT_EQ(SetFile(c, KeyedPicture(13, 11)), 1);
    Repaint();
    Capture enabled = Read(c);
    EXPECT_EQ(enabled.at(0, 0), kKey);
    EXPECT_EQ(enabled.at(6, 5), kKey);
    EXPECT_EQ(enabled.at(1, 4), kInk);
    EnableWindow(c, FALSE);
    Repaint();
    EXPECT_EQ(Read(c).bits, enabled.bits);
    EXPECT_EQ(State(c)->mask, nullptr);
    DestroyWindow(c);
}

TEST_F(PictureControl, FlipsMirrorThePictureRectangle)
{
    const int w = 16, h = 12, ox = 4, oy = 2;  // centred in 24 x 16
    auto colour = [](int x, int y) { return RGB(8 * x + 1, 16 * y + 1, 77); };
    HWND c = MakeControl(BMPS_OPAQUE, 24, 16);
    ASSERT_EQ(SetFile(c, WriteBmp("ramp.bmp", qxtest::Bmp24File(w, h, colour))), 1);
    for (WORD flip : { 0, BMP_FLIP_VERTICAL, BMP_FLIP_HORIZONTAL, BMP_FLIP_VERTICAL | BMP_FLIP_HORIZONTAL }) {
        EXPECT_EQ(SendMessageA(c, BMPM_SETFLIP, flip, 0), 1);
        Repaint();
        Capture shot = Read(c);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int sx = flip & BMP_FLIP_HORIZONTAL ? w - 1 - x : x;
                const int sy = flip & BMP_FLIP_VERTICAL ? h - 1 - y : y;
                ASSERT_EQ(shot.at(ox + x, oy + y), colour(sx, sy)) << "flip " << flip << " at " << x << "," << y;
            }
        EXPECT_EQ(shot.at(0, 0), kBackground) << "nothing outside the picture is painted";
    }
    DestroyWindow(c);
}

// ---- mouse -------------------------------------------------------------------

TEST_F(PictureControl, ClickNeedsPressAndReleaseInside)
{
    HWND c = MakeControl(0, 40, 30);
    SendMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(GetCapture(), c);
    SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(-3, 5));  // dragged off to the left
    EXPECT_TRUE(g_log.commands.empty());
    EXPECT_EQ(GetCapture(), nullptr);
    SendMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(40, 5));  // just past the right edge
    EXPECT_TRUE(g_log.commands.empty());

    SendMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(39, 29));
    SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(39, 29));  // no press: no click
    ASSERT_EQ(g_log.commands.size(), 1u);
    EXPECT_EQ(g_log.commands[0].first, MAKEWPARAM(kControlId, BMPN_CLICKED));
    EXPECT_EQ(g_log.commands[0].second, reinterpret_cast<LPARAM>(c));
    EXPECT_TRUE(g_log.mouse.empty());
    DestroyWindow(c);

    c = MakeControl(BMPS_PARENTMOUSE, 40, 30);
    SendMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 6));
    EXPECT_EQ(GetCapture(), nullptr);
    SendMessageA(c, WM_LBUTTONUP, 0, MAKELPARAM(7, 8));
    EXPECT_EQ(g_log.commands.size(), 1u);
    ASSERT_EQ(g_log.mouse.size(), 2u);
    EXPECT_EQ(g_log.mouse[0].first, static_cast<UINT>(WM_LBUTTONDOWN));
    EXPECT_EQ(g_log.mouse[0].second, MAKELPARAM(5, 6));
    EXPECT_EQ(g_log.mouse[1].first, static_cast<UINT>(WM_LBUTTONUP));
    DestroyWindow(c);
}

TEST_F(PictureControl, HoverCursorOnlyOverThePicture)
{
    HWND c = MakeControl(BMPS_NATURALSIZE, 60, 40, 20, 20);
    ASSERT_EQ(SetFile(c, SolidPicture(10, 10)), 1);
    HCURSOR hand = LoadCursorA(nullptr, IDC_HAND);
    SendMessageA(c, BMPM_SETCURSOR, reinterpret_cast<WPARAM>(hand), 0);
    POINT inside = { 5, 5 }, outside = { 30, 30 };
    ClientToScreen(c, &inside);
    ClientToScreen(c, &outside);
    if (!SetCursorPos(inside.x, inside.y))
        GTEST_SKIP() << "no pointer to move";
    EXPECT_EQ(SendMessageA(c, WM_SETCURSOR, reinterpret_cast<WPARAM>(c), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), 1);
    EXPECT_EQ(GetCursor(), hand);
    SetCursorPos(outside.x, outside.y);
    SetCursor(nullptr);
    SendMessageA(c, WM_SETCURSOR, reinterpret_cast<WPARAM>(c), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(GetCursor(), hand);
    DestroyWindow(c);
}

// ---- palettes ------------------------------------------------------------------

int g_updateColors;
int WINAPI CountUpdateColors(HDC) { return ++g_updateColors; }

TEST_F(PictureControl, PaletteOfManyColoursAndItsChangeNotice)
{
    std::vector<COLORREF> table(32);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = RGB(i * 7, 100 + i, 3);
    table[0] = RGB(128, 0, 128);    // VGA
    table[1] = RGB(192, 192, 192);  // VGA
    table[2] = RGB(255, 255, 0);    // VGA
    table[3] = RGB(128, 255, 0);    // mixed levels: not VGA
    HWND c = MakeControl(0, 40, 30);
    ASSERT_EQ(SetFile(c, WriteBmp("pal32.bmp", PaletteBmpFile(8, 4, table))), 1);
    HPALETTE pal = State(c)->palette;
    ASSERT_NE(pal, nullptr);
    PALETTEENTRY e[33] = {};
    ASSERT_EQ(GetPaletteEntries(pal, 0, 33, e), 32u);
    for (int i : { 0, 1, 2, 3, 5 })
        EXPECT_EQ(e[i].peFlags, i < 3 ? 0 : PC_NOCOLLAPSE) << i;
    EXPECT_EQ(RGB(e[5].peRed, e[5].peGreen, e[5].peBlue), table[5]);

    sim::ImportPatch patch(qxtest::ProgramModule(), "gdi32.dll", "UpdateColors",
        reinterpret_cast<void*>(&CountUpdateColors));
    ASSERT_TRUE(patch.installed());
    g_updateColors = 0;
    SendMessageA(c, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(c), 0);
    EXPECT_EQ(g_updateColors, 0) << "its own change is ignored";
    SendMessageA(c, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(parent_), 0);
    EXPECT_EQ(g_updateColors, 1);
    EXPECT_EQ(SendMessageA(c, WM_QUERYNEWPALETTE, 0, 0), 1);

    // Sixteen colours need no palette of their own.
    table.resize(16);
    ASSERT_EQ(SetFile(c, WriteBmp("pal16.bmp", PaletteBmpFile(8, 4, table))), 1);
    EXPECT_EQ(State(c)->palette, nullptr);
    SendMessageA(c, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(parent_), 0);
    EXPECT_EQ(g_updateColors, 1);
    DestroyWindow(c);
}

// ---- resources under failure ---------------------------------------------------

struct FailingImport {
    const char* dll;
    const char* function;
    void* replacement;
};

// A stand-in of the import's own signature that always fails.
template <typename R, typename... Args> R WINAPI Fail(Args...) { return nullptr; }
template <typename Fn> void* FailingLike(Fn) { return reinterpret_cast<void*>(static_cast<Fn>(&Fail)); }

TEST_F(PictureControl, PaintFailuresReleaseEverything)
{
    const FailingImport failures[] = {
        { "gdi32.dll", "CreateCompatibleBitmap", FailingLike(&CreateCompatibleBitmap) },
        { "gdi32.dll", "CreateCompatibleDC", FailingLike(&CreateCompatibleDC) },
        { "gdi32.dll", "CreateBitmap", FailingLike(&CreateBitmap) },
        { "user32.dll", "CopyImage", FailingLike(&CopyImage) },
    };
    const std::string keyed = KeyedPicture(13, 11);
    for (const FailingImport& f : failures) {
        for (DWORD style : { 0ul, static_cast<DWORD>(BMPS_NOMASKCACHE) }) {
            HWND c = MakeControl(style, 33, 21);
            ASSERT_EQ(SetFile(c, keyed), 1);
            EnableWindow(c, FALSE);  // the dither path makes the most objects
            InvalidateRect(c, nullptr, FALSE);
            ASSERT_EQ(SendMessageA(c, WM_PAINT, 0, 0), 0) << "the mask, if any, is cached now";
            const qxtest::ResourceCounts before = qxtest::CurrentCounts();
            {
                sim::ImportPatch patch(qxtest::ProgramModule(), f.dll, f.function, f.replacement);
                ASSERT_TRUE(patch.installed()) << f.function;
                InvalidateRect(c, nullptr, FALSE);
                EXPECT_EQ(SendMessageA(c, WM_PAINT, 0, 0), 1) << f.function << " style " << style;
            }
            EXPECT_EQ(qxtest::CurrentCounts().gdi, before.gdi) << f.function << " style " << style;
            InvalidateRect(c, nullptr, FALSE);
            EXPECT_EQ(SendMessageA(c, WM_PAINT, 0, 0), 0) << "recovers after " << f.function;
            DestroyWindow(c);
        }
    }
}

TEST_F(PictureControl, LoadAndShrinkFailuresLeaveNothingBehind)
{
    const std::string big = SolidPicture(90, 90);
    HWND c = MakeControl(BMPS_SHRINKTOFIT, 40, 30);
    {
        sim::ImportPatch patch(
            qxtest::ProgramModule(), "gdi32.dll", "CreateDIBSection", FailingLike(&CreateDIBSection));
        ASSERT_TRUE(patch.installed());
        EXPECT_EQ(SetFile(c, big), 0);
        EXPECT_EQ(State(c)->bitmap, nullptr);
    }
    {
        sim::ImportPatch patch(qxtest::ProgramModule(), "gdi32.dll", "CreateDIBitmap", FailingLike(&CreateDIBitmap));
        ASSERT_TRUE(patch.installed());
        EXPECT_EQ(SendMessageA(c, WM_SIZE, 0, 0), 0);
        EXPECT_EQ(State(c)->bitmap, nullptr);
    }
    {
        // The shrink cannot be made: the picture is kept at full size.
        sim::ImportPatch patch(
            qxtest::ProgramModule(), "gdi32.dll", "CreateCompatibleBitmap", FailingLike(&CreateCompatibleBitmap));
        EXPECT_EQ(SendMessageA(c, WM_SIZE, 0, 0), 1);
        EXPECT_EQ(PictureSize(c).cx, 90);
        EXPECT_EQ(State(c)->scale, 0);
    }
    EXPECT_EQ(SendMessageA(c, WM_SIZE, 0, 0), 1);
    EXPECT_EQ(PictureSize(c).cx, 29) << "333 per mille of 90";
    EXPECT_EQ(State(c)->scale, 333);
    DestroyWindow(c);
}

TEST_F(PictureControl, ManyControlsCreatedPaintedAndDestroyed)
{
    // Palette pictures, masks, shrinks and dithers, then nothing left over
    // (checked in TearDown against the counts before the parent existed).
    std::vector<COLORREF> table(64);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = RGB(i * 4, 255 - i, 9);
    const std::string pal = WriteBmp("pal64.bmp", PaletteBmpFile(50, 50, table));
    const std::string keyed = KeyedPicture(70, 20);
    for (int round = 0; round < 3; ++round) {
        HWND a = MakeControl(0x1A09, 40, 40, 0, 0, 1);
        HWND b = MakeControl(BMPS_NOMASKCACHE | BMPS_SHRINKTOFIT, 40, 40, 50, 0, 2);
        HWND d = MakeControl(BMPS_OWNERDRAWONLY, 40, 40, 100, 0, 3);
        SetFile(a, pal);
        SetFile(b, keyed);
        SetFile(d, keyed);
        Repaint();
        EnableWindow(a, FALSE);
        EnableWindow(b, FALSE);
        SendMessageA(b, BMPM_SETFLIP, 3, 1);
        Repaint();
        UpdateWindow(parent_);
        DestroyWindow(a);
        DestroyWindow(b);
        DestroyWindow(d);
    }
}

} // namespace
