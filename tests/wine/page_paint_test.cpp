// What the page paints itself: tiled pictures, tab items, the skinned
// background, the logo link and the preview that follows the level band.
// GDI and shell calls of the module's code are watched through this
// program's import table.
#include "page_fixture.h"

#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "config/skin_settings.h"
#include "config/system_services.h"
#include "controls/picture_control.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "page/effect_model.h"
#include "page/page_dialog.h"
#include "page/page_paint.h"
#include "resource.h"

namespace {

// ---- watched calls ------------------------------------------------------------------

struct Blt {
    int x, y, cx, cy;
    int mode;  // stretch mode of the target at the call
};
std::vector<Blt> g_stretches;
std::vector<Blt> g_copies;
decltype(&StretchBlt) g_realStretchBlt;
decltype(&BitBlt) g_realBitBlt;

BOOL WINAPI WatchStretchBlt(HDC d, int x, int y, int cx, int cy, HDC s, int sx, int sy, int scx, int scy, DWORD rop)
{
    g_stretches.push_back({ x, y, cx, cy, GetStretchBltMode(d) });
    return g_realStretchBlt(d, x, y, cx, cy, s, sx, sy, scx, scy, rop);
}

BOOL WINAPI WatchBitBlt(HDC d, int x, int y, int cx, int cy, HDC s, int sx, int sy, DWORD rop)
{
    g_copies.push_back({ x, y, cx, cy, 0 });
    return g_realBitBlt(d, x, y, cx, cy, s, sx, sy, rop);
}

// Resources found, by id, with the custom type's name ("PNG", "JPG") or "#n".
struct Found {
    WORD id;
    std::string type;
};
std::vector<Found> g_found;
decltype(&FindResourceA) g_realFindResource;

HRSRC WINAPI WatchFindResource(HMODULE module, LPCSTR name, LPCSTR type)
{
    HRSRC r = g_realFindResource(module, name, type);
    if (r && IS_INTRESOURCE(name))
        g_found.push_back({ LOWORD(reinterpret_cast<ULONG_PTR>(name)),
            IS_INTRESOURCE(type) ? "#" + std::to_string(LOWORD(reinterpret_cast<ULONG_PTR>(type))) : type });
    return r;
}

struct ShellCall {
    HWND owner;
    bool verb;
    std::string file;
    bool params, dir;
    int show;
};
std::vector<ShellCall> g_shellCalls;

HINSTANCE WINAPI RecordShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, INT show)
{
    g_shellCalls.push_back({ owner, verb != nullptr, file ? file : "", params != nullptr, dir != nullptr, show });
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

struct Text {
    int x, y;
    std::string text;
};
std::vector<Text> g_texts;
decltype(&TextOutA) g_realTextOut;

BOOL WINAPI WatchTextOut(HDC dc, int x, int y, LPCSTR text, int n)
{
    g_texts.push_back({ x, y, std::string(text, static_cast<size_t>(n)) });
    return g_realTextOut(dc, x, y, text, n);
}

// A display of few colours: every BITSPIXEL question answers this.
int g_fakeBitsPixel;
decltype(&GetDeviceCaps) g_realGetDeviceCaps;

int WINAPI FakeGetDeviceCaps(HDC dc, int index)
{
    if (index == BITSPIXEL && g_fakeBitsPixel)
        return g_fakeBitsPixel;
    return g_realGetDeviceCaps(dc, index);
}

// Every call above, watched for the whole of one test: the watches pass the
// calls on, so a test that does not look at them is not disturbed.
class Watches {
public:
    Watches()
    {
        g_found.clear();
        g_stretches.clear();
        g_copies.clear();
        g_shellCalls.clear();
        g_texts.clear();
        g_fakeBitsPixel = 0;
        Add("gdi32.dll", "StretchBlt", &WatchStretchBlt, &g_realStretchBlt);
        Add("gdi32.dll", "BitBlt", &WatchBitBlt, &g_realBitBlt);
        Add("gdi32.dll", "TextOutA", &WatchTextOut, &g_realTextOut);
        Add("gdi32.dll", "GetDeviceCaps", &FakeGetDeviceCaps, &g_realGetDeviceCaps);
        Add("kernel32.dll", "FindResourceA", &WatchFindResource, &g_realFindResource);
        Add<decltype(&ShellExecuteA)>("shell32.dll", "ShellExecuteA", &RecordShellExecute, nullptr);
    }
    bool installed() const
    {
        return std::all_of(patches_.begin(), patches_.end(), [](const auto& p) { return p->installed(); });
    }

private:
    template <typename Fn>
    void Add(const char* dll, const char* function, Fn replacement, Fn* real)
    {
        patches_.push_back(std::make_unique<sim::ImportPatch>(qxtest::ProgramModule(), dll, function,
            reinterpret_cast<void*>(replacement)));
        if (real)
            *real = reinterpret_cast<Fn>(patches_.back()->original());
    }
    std::vector<std::unique_ptr<sim::ImportPatch>> patches_;
};

// A watched blit's rectangle as text, so a mismatch shows both sides.
std::string Str(const Blt& b)
{
    return std::to_string(b.x) + "," + std::to_string(b.y) + "," + std::to_string(b.cx) + "," + std::to_string(b.cy);
}

// ---- pictures and DCs -------------------------------------------------------------

// A top-down 32-bit DIB section selected into a memory DC, for reading back.
class Canvas {
public:
    Canvas(int w, int h, COLORREF fill) : w_(w), h_(h)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        for (int i = 0; i < w * h; ++i)
            bits_[i] = RGB(GetBValue(fill), GetGValue(fill), GetRValue(fill));
    }
    ~Canvas()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        DWORD p = bits_[y * w_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    int width() const { return w_; }
    int height() const { return h_; }

private:
    int w_, h_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    DWORD* bits_ = nullptr;
};

// A device bitmap of one colour, as the module's loaders hand them over.
HBITMAP SolidBitmap(int w, int h, COLORREF c)
{
    const std::vector<DWORD> pixels(w * h, (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
    return CreateBitmap(w, h, 1, 32, pixels.data());
}

// A 24-bit BMP file of one colour.
std::vector<BYTE> SolidBmpFile(int w, int h, COLORREF c)
{
    return qxtest::Bmp24File(w, h, [c](int, int) { return c; });
}

SIZE BitmapSize(HBITMAP b)
{
    BITMAP bm = {};
    GetObjectA(b, sizeof bm, &bm);
    return { bm.bmWidth, bm.bmHeight };
}

const PictureControlState* StateOf(HWND control)
{
    return reinterpret_cast<const PictureControlState*>(GetWindowLongPtrA(control, 0));
}

constexpr COLORREF kUnder = RGB(9, 90, 9);

// ---- the page in a sheet ------------------------------------------------------------

class PagePaint : public qxtest::PageTest {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        ASSERT_TRUE(watches_.installed());
        g_szBackground[0] = g_szBackground8bpp[0] = g_szOEMLogo[0] = g_szOEMLogo8bpp[0] = '\0';
        lstrcpyA(g_szHomePageUrl, QX_DEFAULT_HOME_PAGE_URL);
        g_bHideLogo = FALSE;
        gdwUiStyle = QXLOOK_LUSTRE;
    }

    void TearDown() override
    {
        Close();
        g_fakeBitsPixel = 0;  // before the metrics are read again
        UpdateDisplayMetrics();
        if (!dir_.empty())
            qxtest::RemoveTree(dir_);
        PageTest::TearDown();
    }

    // The page's own erase into `canvas` (without the default erase that
    // the system adds when the page declines); returns the dialog's message
    // result, which must agree with the procedure's.
    // A canvas of the page's client size.
    Canvas PageCanvas() const
    {
        RECT client;
        GetClientRect(page, &client);
        return Canvas(client.right, client.bottom, kUnder);
    }
    // The display now has `bits` per pixel, as the page hears it.
    LRESULT DisplayChange(int bits)
    {
        g_fakeBitsPixel = bits;
        return QxTintraPageDlgProc(page, WM_DISPLAYCHANGE, bits, MAKELPARAM(1024, 768));
    }
    void ClickLogo() const
    {
        HWND logo = GetDlgItem(page, IDC_LOGO);
        SendMessageA(logo, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        SendMessageA(logo, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        Pump();
    }

    LONG_PTR Erase(const Canvas& canvas)
    {
        SetWindowLongPtrA(page, DWLP_MSGRESULT, -1);
        const INT_PTR handled =
            QxTintraPageDlgProc(page, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc()), 0);
        const LONG_PTR result = GetWindowLongPtrA(page, DWLP_MSGRESULT);
        EXPECT_EQ(handled, result);
        return result;
    }

    std::string WriteFile(const char* name, const std::vector<BYTE>& bytes)
    {
        if (dir_.empty())
            dir_ = qxtest::MakeTempDir("paint");
        std::string path = dir_ + "\\" + name;
        EXPECT_TRUE(qxtest::WriteFileBytes(path, bytes.data(), bytes.size()));
        return path;
    }

    std::vector<WORD> FoundIds(const char* type) const
    {
        std::vector<WORD> ids;
        for (const Found& f : g_found)
            if (f.type == type)
                ids.push_back(f.id);
        return ids;
    }

    std::vector<DWORD> MaxLevelQuestions() const
    {
        std::vector<DWORD> effects;
        for (const sim::EscapeRecord& r : sim::Driver::Instance().RecordsOf(sim::kTintraEscape)) {
            std::string d = sim::Driver::Describe(r);
            if (d.rfind("GET_MAX_LEVEL effect=", 0) == 0)
                effects.push_back(strtoul(d.c_str() + 21, nullptr, 16));
        }
        return effects;
    }

    Watches watches_;
    std::string dir_;
};

// ---- pictures into a rectangle ------------------------------------------------------

TEST_F(PagePaint, SmallPicturesAreTiledIntoTheRectangle)
{
    struct Case {
        int w, h, n;
    } cases[] = {
        { 40, 30, 2 },  // a fifth by a sixth of 200 x 160: 2 by 2
        { 20, 20, 4 },  // less than an eighth across: 4 by 4
        { 50, 40, 1 },  // a quarter each way: stretched once
        { 60, 19, 4 },  // too flat: the smaller side decides
    };
    const RECT area = { 10, 20, 210, 180 };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        Canvas canvas(240, 200, RGB(1, 2, 3));
        HBITMAP picture = SolidBitmap(c.w, c.h, RGB(200, 40, 90));
        SetStretchBltMode(canvas.dc(), BLACKONWHITE);
        g_stretches.clear();
        PaintImage(canvas.dc(), &area, picture);
        DeleteObject(picture);

        const int tileW = 200 / c.n, tileH = 160 / c.n;
        ASSERT_EQ(g_stretches.size(), static_cast<size_t>(c.n * c.n));
        size_t k = 0;
        for (int i = 0; i < c.n; ++i)
            for (int j = 0; j < c.n; ++j, ++k) {
                EXPECT_EQ(Str(g_stretches[k]), Str({ 10 + i * tileW, 20 + j * tileH, tileW, tileH, 0 }));
                EXPECT_EQ(g_stretches[k].mode, COLORONCOLOR);
            }
        EXPECT_EQ(GetStretchBltMode(canvas.dc()), BLACKONWHITE) << "the caller's mode comes back";
        EXPECT_EQ(canvas.At(209, 179), RGB(200, 40, 90));
        EXPECT_EQ(canvas.At(9, 20), RGB(1, 2, 3)) << "nothing outside the rectangle";
        EXPECT_EQ(canvas.At(10, 180), RGB(1, 2, 3));
    }

    // No picture, nothing drawn.
    Canvas canvas(20, 20, RGB(1, 2, 3));
    g_stretches.clear();
    PaintImage(canvas.dc(), &area, nullptr);
    EXPECT_TRUE(g_stretches.empty());
}

// ---- tab items ------------------------------------------------------------------------

class TabItemPaint : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = { sizeof icc, ICC_TAB_CLASSES };
        InitCommonControlsEx(&icc);
        tab = CreateWindowExA(0, WC_TABCONTROLA, "", WS_POPUP | TCS_OWNERDRAWFIXED, 0, 0, 300, 100, nullptr,
            nullptr, nullptr, nullptr);
        ASSERT_NE(tab, nullptr);
        char label[] = "  Deblocking Filters  ";
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = label;
        ASSERT_EQ(SendMessageA(tab, TCM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)), 0);
        ASSERT_TRUE(watches_.installed());
    }
    void TearDown() override { DestroyWindow(tab); }

    // An item 20 pixels high at top 2, as the tab control asks for it.
    void Paint(const Canvas& canvas, UINT action, UINT state)
    {
        DRAWITEMSTRUCT dis = {};
        dis.CtlType = ODT_TAB;
        dis.itemID = 0;
        dis.itemAction = action;
        dis.itemState = state;
        dis.hwndItem = tab;
        dis.hDC = canvas.dc();
        SetRect(&dis.rcItem, 4, 2, 104, 22);
        PaintTabItem(&dis);
    }

    HWND tab = nullptr;
    Watches watches_;
};

// Right of the label, where only the face and the bands are.
constexpr int kProbeX = 100;

TEST_F(TabItemPaint, SelectedItemGetsGreyBandsDownToItsBottomCoordinate)
{
    Canvas canvas(120, 40, kUnder);
    SetBkMode(canvas.dc(), OPAQUE);
    Paint(canvas, ODA_DRAWENTIRE, ODS_SELECTED);

    // Eleven bands of two rows (y = 0 to 20), the grey of band k being
    // 255 - 230 k / 22; the last one, at 22 to 24, is grey 120.
    for (int k = 0; k < 10; ++k) {
        const int c = 255 - 230 * k / 22;
        for (int row : { 2 + 2 * k, 3 + 2 * k })
            EXPECT_EQ(canvas.At(kProbeX, row), RGB(c, c, c)) << "band " << k << " row " << row;
    }
    EXPECT_EQ(canvas.At(kProbeX, 22), RGB(120, 120, 120));
    EXPECT_EQ(canvas.At(kProbeX, 23), RGB(120, 120, 120));
    EXPECT_EQ(canvas.At(kProbeX, 24), kUnder) << "nothing below the last band";
    EXPECT_EQ(canvas.At(kProbeX, 1), kUnder) << "nothing above the item";
    EXPECT_EQ(canvas.At(104, 10), kUnder) << "nor right of it";

    // The label, once on the face and once over the bands, transparently.
    ASSERT_EQ(g_texts.size(), 2u);
    for (const auto& t : g_texts) {
        EXPECT_EQ(t.text, "  Deblocking Filters  ");
        EXPECT_EQ(t.x, 9);
        EXPECT_EQ(t.y, 5);
    }
    EXPECT_EQ(GetBkMode(canvas.dc()), OPAQUE) << "the DC's own mode comes back";
}

TEST_F(TabItemPaint, UnselectedItemsAndFewColoursGetNoBands)
{
    constexpr COLORREF kFace = RGB(235, 235, 235), kWhite = RGB(255, 255, 255);
    const struct {
        const char* what;
        UINT action, state;
        int bitsPixel;
        COLORREF top;  // at the item's top row
        size_t labels;
    } cases[] = {
        { "unselected: the plain face", ODA_DRAWENTIRE, 0, 0, kFace, 1 },
        { "a selection change alone: bands and label, no face fill first", ODA_SELECT, ODS_FOCUS, 0, kWhite, 1 },
        { "a focus change alone draws nothing", ODA_FOCUS, ODS_FOCUS, 0, kUnder, 0 },
        { "below 16 bits per pixel the selected item keeps its plain face, the label is drawn again", ODA_DRAWENTIRE,
            ODS_SELECTED, 8, kFace, 2 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_fakeBitsPixel = c.bitsPixel;
        g_texts.clear();
        Canvas canvas(120, 40, kUnder);
        Paint(canvas, c.action, c.state);
        EXPECT_EQ(canvas.At(kProbeX, 2), c.top);
        if (c.top != kWhite) {  // no bands: one colour down to the item's bottom, nothing below
            for (int row = 3; row < 22; ++row)
                EXPECT_EQ(canvas.At(kProbeX, row), c.top) << row;
            EXPECT_EQ(canvas.At(kProbeX, 22), kUnder);
        }
        EXPECT_EQ(g_texts.size(), c.labels);
    }
}

TEST_F(PagePaint, TabLabelsComeFromTheTabItems)
{
    Open();
    g_texts.clear();
    HWND tab = GetDlgItem(page, IDC_TAB);
    RedrawWindow(tab, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    std::vector<std::string> labels;
    for (const auto& t : g_texts)
        labels.push_back(t.text);
    EXPECT_NE(std::find(labels.begin(), labels.end(), "Brushwork(TM) Effects"), labels.end());
    EXPECT_NE(std::find(labels.begin(), labels.end(), "  Deblocking Filters  "), labels.end());

    // Owner drawing answers for the tab and the two pictures only.
    DRAWITEMSTRUCT dis = {};
    dis.itemAction = ODA_SELECT;
    dis.hwndItem = GetDlgItem(page, IDC_EFFECT_PREVIEW);
    dis.hDC = GetDC(page);
    g_found.clear();
    EXPECT_EQ(QxTintraPageDlgProc(page, WM_DRAWITEM, IDC_EFFECT_PREVIEW, reinterpret_cast<LPARAM>(&dis)), TRUE);
    EXPECT_TRUE(g_found.empty()) << "no picture for anything but a whole-item request";
    dis.hwndItem = GetDlgItem(page, IDC_VERSION);
    dis.itemAction = ODA_DRAWENTIRE;
    EXPECT_EQ(QxTintraPageDlgProc(page, WM_DRAWITEM, IDC_VERSION, reinterpret_cast<LPARAM>(&dis)), FALSE);
    ReleaseDC(page, dis.hDC);
}

// ---- background -------------------------------------------------------------------------

TEST_F(PagePaint, BackgroundChoiceByDepthStyleAndFileSetting)
{
    struct Case {
        DWORD style, depth;
        WORD resource;
    } cases[] = {
        { QXLOOK_LUSTRE, 32, IDB_BKGND_LUSTRE },
        { QXLOOK_LUSTRE, 16, IDB_BKGND_LUSTRE },
        { QXLOOK_LUSTRE, 8, IDB_BKGND_LUSTRE_8BPP },
        { QXLOOK_CLASSIC, 24, IDB_BKGND_CLASSIC },
        { QXLOOK_CLASSIC, 4, IDB_BKGND_CLASSIC_8BPP },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resource);
        gdwUiStyle = c.style;
        g_found.clear();
        HBITMAP slot = nullptr;
        HBITMAP b = LoadBackgroundImage(&slot, c.depth, "", "");
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(slot, b);
        EXPECT_EQ(FoundIds("PNG"), std::vector<WORD>{ c.resource });
        EXPECT_EQ(BitmapSize(b).cx, 460);
        EXPECT_EQ(BitmapSize(b).cy, 429);
        // A loaded slot is handed back without looking again.
        g_found.clear();
        EXPECT_EQ(LoadBackgroundImage(&slot, c.depth == 8 ? 32 : 8, "", ""), b);
        EXPECT_TRUE(g_found.empty());
        DeleteObject(b);
    }
    gdwUiStyle = QXLOOK_LUSTRE;

    // "<none>" in any case means no background; each depth has its own
    // setting; a file that cannot be loaded falls back to the module's.
    const std::string file = WriteFile("bk.bmp", SolidBmpFile(30, 20, RGB(10, 200, 30)));
    const struct {
        DWORD depth;
        const char *few, *many;  // the settings for 8 bits per pixel and for more
        WORD resource;           // 0: none; 1: the file
    } settings[] = {
        { 16, "", "<NoNe>", 0 },
        { 8, "", "<none>", IDB_BKGND_LUSTRE_8BPP },
        { 8, "<none>", "", 0 },
        { 32, "", "C:\\no\\such\\picture.png", IDB_BKGND_LUSTRE },
        { 32, "", file.c_str(), 1 },
    };
    for (const auto& c : settings) {
        SCOPED_TRACE(std::string(c.few) + "|" + c.many);
        HBITMAP slot = nullptr;
        g_found.clear();
        HBITMAP b = LoadBackgroundImage(&slot, c.depth, c.few, c.many);
        EXPECT_EQ(slot, b);
        EXPECT_EQ(b != nullptr, c.resource != 0);
        if (c.resource > 1)
            EXPECT_EQ(FoundIds("PNG"), std::vector<WORD>{ c.resource });
        if (c.resource == 1) {
            EXPECT_TRUE(g_found.empty()) << "the file wins over the resource";
            EXPECT_EQ(BitmapSize(b).cx, 30);
        }
        if (b)
            DeleteObject(b);
    }
}

TEST_F(PagePaint, BackgroundIsStretchedOnceThenCopiedByUpdateRectangle)
{
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 90, 70, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);

    for (BOOL fast : { TRUE, FALSE }) {
        SCOPED_TRACE(fast);
        Canvas canvas(90, 70, kUnder);
        HBITMAP slot = nullptr, loaded = SolidBitmap(9, 7, RGB(250, 10, 10));
        BOOL stretched = FALSE;
        EXPECT_FALSE(PaintBackground(canvas.dc(), window, &slot, &stretched, fast)) << "no picture, no paint";
        slot = loaded;
        ValidateRect(window, nullptr);
        g_stretches.clear();
        g_copies.clear();
        EXPECT_TRUE(PaintBackground(canvas.dc(), window, &slot, &stretched, fast));
        EXPECT_TRUE(stretched);
        ASSERT_NE(slot, loaded);
        EXPECT_EQ(GetObjectType(loaded), 0u) << "the loaded picture is deleted";
        EXPECT_EQ(BitmapSize(slot).cx, 90);
        EXPECT_EQ(BitmapSize(slot).cy, 70);
        ASSERT_EQ(g_stretches.size(), 1u);
        EXPECT_EQ(g_stretches[0].cx, 90);
        EXPECT_EQ(g_stretches[0].mode, fast ? COLORONCOLOR : HALFTONE);
        ASSERT_EQ(g_copies.size(), 1u);
        EXPECT_EQ(g_copies[0].cx, 90);
        EXPECT_EQ(g_copies[0].cy, 70);
        EXPECT_EQ(canvas.At(89, 69), RGB(250, 10, 10));

        // Later erases copy just what needs it.
        RECT part = { 10, 20, 30, 25 };
        InvalidateRect(window, &part, FALSE);
        g_stretches.clear();
        g_copies.clear();
        EXPECT_TRUE(PaintBackground(canvas.dc(), window, &slot, &stretched, fast));
        EXPECT_TRUE(g_stretches.empty());
        ASSERT_EQ(g_copies.size(), 1u);
        EXPECT_EQ(Str(g_copies[0]), "10,20,20,5");
        ValidateRect(window, nullptr);
        DeleteObject(slot);
    }
    DestroyWindow(window);
}

TEST_F(PagePaint, PageEraseReportsWhetherABackgroundWasPainted)
{
    std::string file = WriteFile("green.bmp", SolidBmpFile(46, 43, RGB(10, 200, 30)));
    lstrcpyA(g_szBackground, file.c_str());
    Open();
    {
        Canvas canvas = PageCanvas();
        const int w = canvas.width(), h = canvas.height();
        EXPECT_EQ(Erase(canvas), 1);
        EXPECT_TRUE(g_bBackgroundStretched);
        EXPECT_EQ(canvas.At(w - 1, h - 1), RGB(10, 200, 30));
        EXPECT_EQ(canvas.At(w / 2, h / 2), RGB(10, 200, 30));
    }
    Close();
    EXPECT_EQ(g_hBackgroundBmp, nullptr) << "the page's background goes with it";
    EXPECT_FALSE(g_bBackgroundStretched);

    // "<none>": nothing painted and the erase counted as not done.
    lstrcpyA(g_szBackground, "<none>");
    lstrcpyA(g_szBackground8bpp, file.c_str());
    Open();
    Canvas canvas = PageCanvas();
    EXPECT_EQ(Erase(canvas), 0);
    EXPECT_EQ(canvas.At(canvas.width() / 2, canvas.height() / 2), kUnder);
    EXPECT_EQ(g_hBackgroundBmp, nullptr);
}

TEST_F(PagePaint, DisplayChangeToFewColoursSwitchesBackgroundFrameAndLogo)
{
    g_fakeBitsPixel = 16;
    Open();
    Canvas canvas = PageCanvas();
    Erase(canvas);
    ASSERT_TRUE(g_bBackgroundStretched);
    HWND preview = GetDlgItem(page, IDC_EFFECT_PREVIEW);
    HWND logo = GetDlgItem(page, IDC_LOGO);
    EXPECT_EQ(StateOf(preview)->imageId, IDB_PREVIEW_FRAME);

    EXPECT_EQ(DisplayChange(8), TRUE);
    EXPECT_EQ(gdwColorDepth, 8u);
    EXPECT_EQ(g_hBackgroundBmp, nullptr) << "dropped until the next erase";
    EXPECT_FALSE(g_bBackgroundStretched);
    EXPECT_EQ(StateOf(preview)->imageId, IDB_PREVIEW_FRAME_8BPP);
    EXPECT_EQ(StateOf(logo)->imageId, IDB_LOGO_LUSTRE_8BPP);
    g_found.clear();
    EXPECT_EQ(Erase(canvas), 1);
    EXPECT_EQ(FoundIds("PNG"), std::vector<WORD>{ IDB_BKGND_LUSTRE_8BPP });
    EXPECT_TRUE(g_bBackgroundStretched);

    // Back to many colours: the full pictures again.
    DisplayChange(16);
    EXPECT_EQ(StateOf(preview)->imageId, IDB_PREVIEW_FRAME);
    EXPECT_EQ(StateOf(logo)->imageId, IDB_LOGO_LUSTRE);
    g_found.clear();
    Erase(canvas);
    EXPECT_EQ(FoundIds("PNG"), std::vector<WORD>{ IDB_BKGND_LUSTRE });

    // An OEM's logo files: the 8-bit one where it was made for.
    lstrcpyA(g_szOEMLogo, WriteFile("logo.bmp", SolidBmpFile(40, 30, RGB(1, 1, 200))).c_str());
    lstrcpyA(g_szOEMLogo8bpp, WriteFile("logo8.bmp", SolidBmpFile(40, 30, RGB(0, 0, 128))).c_str());
    DisplayChange(8);
    EXPECT_EQ(StateOf(logo)->imageId, -1);
    EXPECT_STREQ(StateOf(logo)->fileName, g_szOEMLogo8bpp);
    DisplayChange(32);
    EXPECT_STREQ(StateOf(logo)->fileName, g_szOEMLogo);
}

// ---- logo ------------------------------------------------------------------------------

// Counts the display changes that reach the logo control.
int g_logoDisplayChanges;
WNDPROC g_logoProc;
LRESULT CALLBACK CountLogoMessages(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DISPLAYCHANGE)
        ++g_logoDisplayChanges;
    return CallWindowProcA(g_logoProc, hwnd, msg, wParam, lParam);
}

TEST_F(PagePaint, LogoLinkHasCursorTooltipAndOpensTheHomePage)
{
    lstrcpyA(g_szHomePageUrl, "http://oem.example/home");
    std::string file = WriteFile("oem.bmp", SolidBmpFile(40, 30, RGB(1, 1, 200)));
    lstrcpyA(g_szOEMLogo, file.c_str());
    Open();
    HWND logo = GetDlgItem(page, IDC_LOGO);
    ASSERT_NE(logo, nullptr);
    const PictureControlState* state = StateOf(logo);
    EXPECT_NE(state->hoverCursor, nullptr);
    EXPECT_EQ(state->instance, g_hInstance);
    EXPECT_EQ(state->imageId, -1);
    EXPECT_STREQ(state->fileName, file.c_str());

    ASSERT_NE(g_hLogoToolTip, nullptr);
    char cls[64] = "";
    GetClassNameA(g_hLogoToolTip, cls, sizeof cls);
    EXPECT_STREQ(cls, TOOLTIPS_CLASSA);
    const LONG_PTR style = GetWindowLongPtrA(g_hLogoToolTip, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP), WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP);
    EXPECT_TRUE(GetWindowLongPtrA(g_hLogoToolTip, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(SendMessageA(g_hLogoToolTip, TTM_GETTOOLCOUNT, 0, 0), 1);
    char tip[256] = "";
    TOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.lpszText = tip;
    ASSERT_TRUE(SendMessageA(g_hLogoToolTip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_EQ(info.hwnd, logo);
    EXPECT_EQ(info.uId, static_cast<UINT_PTR>(IDC_LOGO));
    EXPECT_EQ(info.uFlags & TTF_SUBCLASS, static_cast<UINT>(TTF_SUBCLASS));
    EXPECT_STREQ(tip, "http://oem.example/home");

    // A click on the logo: the picture control reports it, the page opens
    // the address.
    ClickLogo();
    ASSERT_EQ(g_shellCalls.size(), 1u);
    EXPECT_EQ(g_shellCalls[0].owner, page);
    EXPECT_FALSE(g_shellCalls[0].verb);
    EXPECT_EQ(g_shellCalls[0].file, "http://oem.example/home");
    EXPECT_FALSE(g_shellCalls[0].params || g_shellCalls[0].dir);
    EXPECT_EQ(g_shellCalls[0].show, SW_SHOWDEFAULT);
    // Any other control's command is not the page's.
    EXPECT_EQ(QxTintraPageDlgProc(page, WM_COMMAND, MAKEWPARAM(IDC_VERSION, 0), 0), FALSE);
    EXPECT_EQ(g_shellCalls.size(), 1u);

    HWND tooltip = g_hLogoToolTip;
    Close();
    EXPECT_FALSE(IsWindow(tooltip));
    EXPECT_EQ(g_hLogoToolTip, nullptr);

    // Without an address the logo is a plain picture.
    g_szHomePageUrl[0] = '\0';
    Open();
    logo = GetDlgItem(page, IDC_LOGO);
    EXPECT_EQ(StateOf(logo)->hoverCursor, nullptr);
    EXPECT_EQ(g_hLogoToolTip, nullptr);
    ClickLogo();
    EXPECT_EQ(g_shellCalls.size(), 1u);
}

TEST_F(PagePaint, HiddenLogoHasNoTooltipAndHearsNoDisplayChange)
{
    // Display changes that reach the logo of a page opened with or without
    // a hidden logo.
    auto displayChangesHeard = [this](BOOL hide) {
        g_bHideLogo = hide;
        Open();
        HWND logo = GetDlgItem(page, IDC_LOGO);
        EXPECT_EQ(IsWindowVisible(logo), !hide);
        EXPECT_EQ(IsWindowEnabled(logo), !hide);
        EXPECT_EQ(g_hLogoToolTip == nullptr, hide != FALSE);
        g_logoProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(logo, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountLogoMessages)));
        g_logoDisplayChanges = 0;
        QxTintraPageDlgProc(page, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
        Pump();
        Close();
        return g_logoDisplayChanges;
    };
    EXPECT_EQ(displayChangesHeard(TRUE), 0);
    EXPECT_EQ(displayChangesHeard(FALSE), 1);
}

// ---- the preview and the reference picture -----------------------------------------

TEST_F(PagePaint, PreviewFollowsTheLevelBandAndAsksTheMaximumEachTime)
{
    driver().config.maxLevel[QX_TINTRA_EF_EMBOSS] = 8;  // bands of three levels
    InForce(QX_TINTRA_EF_EMBOSS, 0);
    Open();
    HWND slider = GetDlgItem(g_EffectsDlg, IDC_EMBOSS_SLIDER);
    const struct {
        int level;
        WORD picture;
    } steps[] = { { 2, IDB_EF_EMBBIL1 }, { 3, IDB_EF_EMBBIL2 }, { 5, IDB_EF_EMBBIL2 }, { 6, IDB_EF_EMBBIL3 },
        { 8, IDB_EF_EMBBIL3 }, { 0, IDB_EF_EMBBIL1 } };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.level);
        g_found.clear();
        driver().records.clear();
        SendMessageA(slider, TBM_SETPOS, TRUE, s.level);
        SendMessageA(g_EffectsDlg, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, s.level), reinterpret_cast<LPARAM>(slider));
        Pump();
        EXPECT_EQ(FoundIds("JPG"), std::vector<WORD>{ s.picture }) << "decoded afresh at every step";
        EXPECT_EQ(MaxLevelQuestions(), std::vector<DWORD>{ QX_TINTRA_EF_EMBOSS });
    }

    // Neon Edges, then the deblocking tab's filters and its "none".
    g_found.clear();
    SendMessageA(GetDlgItem(g_EffectsDlg, IDC_NEON_EDGES), BM_CLICK, 0, 0);
    Pump();
    EXPECT_EQ(FoundIds("JPG"), std::vector<WORD>{ IDB_EF_NEON_EDGES0 });

    RECT r;
    HWND tab = GetDlgItem(page, IDC_TAB);
    SendMessageA(tab, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(tab, WM_LBUTTONUP, 0, at);
    Pump();
    g_found.clear();
    driver().records.clear();
    SendMessageA(GetDlgItem(g_DeblockDlg, IDC_DBLK_COMPLEXPICSMOOTHING), BM_CLICK, 0, 0);
    Pump();
    std::vector<WORD> jpg = FoundIds("JPG");
    ASSERT_FALSE(jpg.empty());
    EXPECT_EQ(jpg.front(), IDB_DB_CPICT);
    EXPECT_TRUE(MaxLevelQuestions().empty()) << "the filters' pictures have no bands";
    g_found.clear();
    SendMessageA(GetDlgItem(g_DeblockDlg, IDC_DBLK_NONE), BM_CLICK, 0, 0);
    Pump();
    jpg = FoundIds("JPG");
    ASSERT_FALSE(jpg.empty());
    EXPECT_EQ(jpg.front(), IDB_DB_NONE);

    // A code without a picture decodes nothing.
    gdwCurEffect = 0x2;
    g_found.clear();
    UpdateEffectsWindow(page);
    EXPECT_TRUE(FoundIds("JPG").empty());
}

TEST_F(PagePaint, ReferencePicturesAreDecodedOncePerModule)
{
    ReleaseReferencePictures();
    InForce(QX_TINTRA_EF_DBLK_EDGESMOOTHING, 4);
    Open();
    ASSERT_NE(g_hRefPicDeblock, nullptr);
    EXPECT_EQ(g_hRefPicEffects, nullptr) << "the artistic one is not needed yet";
    HBITMAP deblock = g_hRefPicDeblock;
    Close();
    g_found.clear();
    Open();
    UpdateReferenceWindow(page);
    EXPECT_EQ(g_hRefPicDeblock, deblock);
    for (const Found& f : g_found)
        EXPECT_NE(f.id, IDB_DB_NONE) << "kept across pages";

    // With "none", the tab shown decides.
    gdwCurEffect = QX_TINTRA_EF_NONE;
    g_CurTabDlg = g_EffectsDlg;
    UpdateReferenceWindow(page);
    EXPECT_NE(g_hRefPicEffects, nullptr);
    EXPECT_EQ(BitmapSize(g_hRefPicEffects).cx, 200);
    EXPECT_EQ(BitmapSize(g_hRefPicDeblock).cx, 470);
}

// ---- lifetime ---------------------------------------------------------------------------

TEST_F(PagePaint, PaintingAcrossManyOpeningsLeaksNothing)
{
    InForce(QX_TINTRA_EF_UNSHARP_MASK, 3);
    // The first page loads what the module keeps (the reference pictures)
    // and what every sheet of the process shares.
    Open();
    Close();
    const qxtest::ResourceCounts before = qxtest::CurrentCounts();
    const int windowsBefore = qxtest::ThreadWindowCount();
    for (int round = 0; round < 3; ++round) {
        Open();
        ASSERT_NE(g_hLogoToolTip, nullptr);
        {
            Canvas canvas = PageCanvas();
            EXPECT_EQ(Erase(canvas), 1);
            EXPECT_EQ(Erase(canvas), 1);
        }
        RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        SendMessageA(GetDlgItem(g_EffectsDlg, IDC_EMBOSS), BM_CLICK, 0, 0);
        HWND tab = GetDlgItem(page, IDC_TAB);
        SendMessageA(tab, TCM_SETCURSEL, 1, 0);
        RedrawWindow(tab, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        QxTintraPageDlgProc(page, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
        Pump();
        ClickLogo();
        Close();
    }
    EXPECT_EQ(g_shellCalls.size(), 3u);
    const qxtest::ResourceCounts after = qxtest::CurrentCounts();
    EXPECT_EQ(after.gdi, before.gdi);
    EXPECT_EQ(after.user, before.user);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.heap, before.heap);
    EXPECT_EQ(qxtest::ThreadWindowCount(), windowsBefore) << "the tooltip goes with its page";
}

} // namespace
