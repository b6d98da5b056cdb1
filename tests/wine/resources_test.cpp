// The resources the built QXTINTRA.dll carries, read back from the module
// itself: dialog templates parsed control by control, pictures checked by
// their headers (size, JPEG coding and sampling, PNG pixel format), the
// radio-button strip, cursor, icon and version block.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "qxtest.h"
#include "resource.h"
#include "version.h"

namespace {

// ---- reading resources ----------------------------------------------------------

struct Bytes {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

Bytes ResourceBytes(int id, LPCSTR type)
{
    HMODULE dll = qxtest::BuiltDll();
    if (!dll)
        return {};
    HRSRC res = FindResourceA(dll, MAKEINTRESOURCEA(id), type);
    if (!res)
        return {};
    HGLOBAL mem = LoadResource(dll, res);
    return {static_cast<const BYTE*>(LockResource(mem)), SizeofResource(dll, res)};
}

// Bounds-checked little-endian reader; a read past the end sets ok = false.
struct Reader {
    Bytes b;
    size_t off = 0;
    bool ok = true;

    WORD Word()
    {
        if (off + 2 > b.size) {
            ok = false;
            return 0;
        }
        WORD v = static_cast<WORD>(b.data[off] | (b.data[off + 1] << 8));
        off += 2;
        return v;
    }
    DWORD Dword()
    {
        DWORD lo = Word();
        return lo | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    void Align4() { off = (off + 3) & ~static_cast<size_t>(3); }
    // A string or an ordinal: ordinals come back as "#n".
    std::string SzOrOrd()
    {
        WORD first = Word();
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::string s;
        for (WORD c = first; ok && c != 0; c = Word())
            s += c < 0x80 ? static_cast<char>(c) : '?';
        return s;
    }
};

// A control as a template holds it, and as a test expects it.
struct Control {
    int id;
    std::string cls;
    std::string text;
    DWORD style;
    short x, y, cx, cy;
    DWORD exStyle = 0;
};

struct Dialog {
    bool extended = false;
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string caption, face;
    WORD pointSize = 0;
    std::vector<Control> controls;
};

// The predefined classes a template names by ordinal.
std::string ClassName(const std::string& s)
{
    return s == "#128" ? "Button" : s == "#130" ? "Static" : s == "#129" ? "Edit" : s;
}

bool ParseDialog(Bytes b, Dialog* d)
{
    Reader r{b};
    WORD w0 = r.Word();
    WORD w1 = r.Word();
    d->extended = w0 == 1 && w1 == 0xFFFF;
    WORD count;
    if (d->extended) {
        r.Dword();  // help id
        d->exStyle = r.Dword();
        d->style = r.Dword();
    } else {
        r.off = 0;
        d->style = r.Dword();
        d->exStyle = r.Dword();
    }
    count = r.Word();
    d->x = r.Short();
    d->y = r.Short();
    d->cx = r.Short();
    d->cy = r.Short();
    r.SzOrOrd();  // menu
    r.SzOrOrd();  // class
    d->caption = r.SzOrOrd();
    if (d->style & DS_SETFONT) {
        d->pointSize = r.Word();
        if (d->extended) {
            r.Word();  // weight
            r.Word();  // italic, charset
        }
        d->face = r.SzOrOrd();
    }
    for (WORD i = 0; i < count && r.ok; ++i) {
        r.Align4();
        Control c{};
        if (d->extended) {
            r.Dword();  // help id
            c.exStyle = r.Dword();
            c.style = r.Dword();
        } else {
            c.style = r.Dword();
            c.exStyle = r.Dword();
        }
        c.x = r.Short();
        c.y = r.Short();
        c.cx = r.Short();
        c.cy = r.Short();
        c.id = d->extended ? static_cast<int>(r.Dword()) : r.Word();
        c.cls = ClassName(r.SzOrOrd());
        c.text = r.SzOrOrd();
        WORD extra = r.Word();
        r.off += extra;
        d->controls.push_back(c);
    }
    return r.ok && r.off <= b.size;
}

// A control whose rectangle is given as {x, y, cx, cy}.
Control At(int id, const char* cls, const char* text, DWORD style, const short (&r)[4])
{
    return {id, cls, text, style, r[0], r[1], r[2], r[3]};
}

void ExpectDialog(int templateId, bool extended, DWORD style, short cx, short cy, const char* caption,
                  const std::vector<Control>& want)
{
    SCOPED_TRACE("template " + std::to_string(templateId));
    Dialog d;
    Bytes b = ResourceBytes(templateId, MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    ASSERT_NE(b.data, nullptr);
    ASSERT_TRUE(ParseDialog(b, &d));
    EXPECT_EQ(d.extended, extended);
    EXPECT_EQ(d.style, style);
    EXPECT_EQ(d.cx, cx);
    EXPECT_EQ(d.cy, cy);
    EXPECT_EQ(d.caption, caption);
    EXPECT_EQ(d.face, "MS Shell Dlg");
    EXPECT_EQ(d.pointSize, 8);
    ASSERT_EQ(d.controls.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        const Control& c = d.controls[i];
        const Control& e = want[i];
        SCOPED_TRACE("control " + std::to_string(e.id));
        // Window classes are matched without regard to case, and the resource
        // compiler stores custom class names in capitals.
        EXPECT_EQ(lstrcmpiA(c.cls.c_str(), e.cls.c_str()), 0) << c.cls;
        EXPECT_EQ(std::tie(c.id, c.text, c.exStyle, c.x, c.y, c.cx, c.cy),
                  std::tie(e.id, e.text, e.exStyle, e.x, e.y, e.cx, e.cy));
        EXPECT_EQ(c.style, e.style) << std::hex << c.style;
    }
}

constexpr DWORD kPageStyle = 0x48C00040;
constexpr DWORD kTabStyle = 0x40000040;

TEST(ResourcesDialog, PageTemplates)
{
    std::vector<Control> page = {
        {305, "Static", "V0.00.01-0114", 0x50020002, 172, 2, 72, 8},
        {306, "QxUtlBmp", "", 0x50001A09, 4, 4, 128, 106},
        {261, "QxUtlBmp", "", 0x5000020A, 193, 164, 57, 52},
        {338, "SysTabControl32", "Tab1", 0x50016040, 4, 112, 182, 105, 0x21},
        {353, "Button", "Original image", 0x50000007, 141, 15, 98, 82},
        {352, "QxUtlBmp", "", 0x50001A09, 144, 26, 90, 67},
    };
    ExpectDialog(IDD_QXTINTRA_PAGE, true, kPageStyle, 252, 221, "QxTintra", page);
    // The Japanese page differs in the tab control (narrower) and the
    // original-image group with its picture.
    page[3] = {338, "SysTabControl32", "Tab1", 0x50016040, 4, 114, 171, 103, 0x21};
    page[4] = {353, "Button", "Original image", 0x50000007, 141, 16, 94, 84};
    page[5] = {352, "QxUtlBmp", "", 0x50001A09, 144, 28, 88, 68};
    ExpectDialog(IDD_QXTINTRA_PAGE_JPN, true, kPageStyle, 252, 221, "QxTintra", page);
}

TEST(ResourcesDialog, ArtisticTabTemplates)
{
    const char* const labels[] = {"None", "Emboss", "Neon Edges", "Soft Focus", "Sharpen"};
    struct Layout {
        int id;
        short cx, cy;
        bool labelled;
        DWORD firstSlider;
        short radio[5][4], slider[4][4], level[4][4];
    } layouts[] = {
        {IDD_EFFECTS, 181, 85, true, 0x50010401,
         {{10, 3, 53, 11}, {10, 19, 87, 11}, {10, 35, 87, 11}, {10, 51, 96, 11}, {10, 67, 96, 11}},
         {{110, 18, 40, 11}, {110, 34, 40, 11}, {110, 50, 40, 11}, {110, 66, 40, 11}},
         {{152, 18, 10, 8}, {152, 34, 10, 8}, {152, 50, 10, 8}, {152, 66, 10, 8}}},
        {IDD_EFFECTS_JPN, 196, 92, false, 0x50010421,
         {{10, 7, 60, 11}, {10, 22, 66, 11}, {10, 39, 67, 11}, {10, 56, 68, 11}, {10, 72, 68, 11}},
         {{85, 23, 77, 13}, {85, 40, 77, 13}, {85, 57, 77, 13}, {85, 74, 77, 13}},
         {{166, 23, 11, 9}, {166, 40, 11, 9}, {166, 57, 11, 9}, {166, 73, 11, 10}}},
        {IDD_EFFECTS_CHS, 187, 94, true, 0x50010421,
         {{10, 5, 60, 11}, {10, 21, 64, 11}, {10, 37, 59, 11}, {10, 53, 60, 11}, {10, 69, 57, 11}},
         {{85, 21, 59, 12}, {85, 37, 59, 12}, {85, 54, 59, 12}, {85, 69, 59, 12}},
         {{149, 23, 11, 9}, {149, 39, 11, 9}, {149, 55, 11, 9}, {149, 70, 11, 10}}},
    };
    for (const Layout& l : layouts) {
        std::vector<Control> want;
        auto text = [&](int k) { return l.labelled ? labels[k] : ""; };
        want.push_back(At(IDC_EF_NONE, "Button", text(0), 0x50030009, l.radio[0]));
        for (int k = 0; k < 4; ++k) {
            want.push_back(At(IDC_EMBOSS + k, "Button", text(k + 1), 0x50010009, l.radio[k + 1]));
            want.push_back(At(IDC_EMBOSS_SLIDER + k, "msctls_trackbar32", "Slider1",
                              k == 0 ? l.firstSlider : 0x50010421, l.slider[k]));
        }
        for (int k = 0; k < 4; ++k)
            want.push_back(At(IDC_EMBOSS_LEVEL + k, "Static", "0", 0x50000001, l.level[k]));
        ExpectDialog(l.id, false, kTabStyle, l.cx, l.cy, "", want);
    }
}

TEST(ResourcesDialog, DeblockingTabTemplates)
{
    // The two radio buttons, each with its slider, then the two level texts.
    auto expect = [](int id, short cx, short cy, bool labelled, DWORD complexStyle, const short (&r)[7][4]) {
        ExpectDialog(id, false, kTabStyle, cx, cy, "",
                     {
                         At(345, "Button", labelled ? "None" : "", 0x50030009, r[0]),
                         At(346, "Button", labelled ? "Edge Smoothing" : "", 0x50010009, r[1]),
                         At(355, "msctls_trackbar32", "Slider1", 0x50010421, r[2]),
                         At(347, "Button", labelled ? "Complex Picture Smoothing" : "", complexStyle, r[3]),
                         At(356, "msctls_trackbar32", "Slider1", 0x50010421, r[4]),
                         At(357, "Static", "0", 0x50000001, r[5]),
                         At(358, "Static", "0", 0x50000001, r[6]),
                     });
    };
    // The English template's is the only two-line label: multiline, top, left.
    expect(IDD_DEBLOCK, 181, 85, true, 0x50012509,
           {{6, 16, 80, 12}, {6, 35, 111, 11}, {118, 36, 40, 11}, {6, 54, 107, 21}, {117, 57, 40, 11},
            {157, 36, 10, 8}, {157, 57, 10, 8}});
    expect(IDD_DEBLOCK_JPN, 186, 90, false, 0x50010009,
           {{8, 15, 80, 12}, {8, 35, 81, 12}, {110, 36, 55, 13}, {8, 55, 93, 12}, {110, 56, 55, 13},
            {167, 37, 10, 8}, {167, 56, 10, 8}});
    expect(IDD_DEBLOCK_CHS, 186, 76, true, 0x50010009,
           {{8, 13, 64, 12}, {8, 33, 77, 12}, {100, 33, 48, 15}, {8, 53, 84, 12}, {100, 53, 48, 15},
            {152, 34, 10, 8}, {152, 53, 10, 8}});
}

TEST(ResourcesDialog, MalformedTemplatesAreRejectedByTheParser)
{
    // The parser above must notice truncation, or the checks prove nothing.
    Bytes full = ResourceBytes(IDD_QXTINTRA_PAGE, MAKEINTRESOURCEA(5));
    ASSERT_NE(full.data, nullptr);
    for (DWORD cut : {DWORD{4}, DWORD{30}, full.size / 2}) {
        Dialog d;
        EXPECT_FALSE(ParseDialog(Bytes{full.data, cut}, &d)) << cut;
    }
}

// ---- pictures -------------------------------------------------------------------

struct JpegInfo {
    bool found = false;
    BYTE sof = 0;  // 0xC0 baseline, 0xC2 progressive
    int width = 0, height = 0, components = 0;
    BYTE sampling[4] = {};
};

JpegInfo ReadJpeg(Bytes b)
{
    JpegInfo info;
    if (b.size < 4 || b.data[0] != 0xFF || b.data[1] != 0xD8)
        return info;
    size_t off = 2;
    while (off + 4 <= b.size && b.data[off] == 0xFF) {
        BYTE marker = b.data[off + 1];
        size_t len = (b.data[off + 2] << 8) | b.data[off + 3];
        if (marker == 0xDA || off + 2 + len > b.size)
            break;
        bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof && len >= 8) {
            const BYTE* p = b.data + off + 4;
            info.found = true;
            info.sof = marker;
            info.height = (p[1] << 8) | p[2];
            info.width = (p[3] << 8) | p[4];
            info.components = p[5];
            for (size_t c = 0; c < info.components && c < 4 && 6 + 3 * c + 3 <= len - 2; ++c)
                info.sampling[c] = p[6 + 3 * c + 1];
        }
        off += 2 + len;
    }
    return info;
}

TEST(ResourcesPicture, JpegPreviewsHaveTheirSizeCodingAndSampling)
{
    struct Case {
        int id;
        bool progressive;
        int width, height;
    } cases[] = {
        {IDB_EF_NONE, true, 200, 160},        {IDB_EF_EMBBIL1, false, 200, 160},
        {IDB_EF_EMBBIL2, false, 200, 160},    {IDB_EF_EMBBIL3, false, 200, 160},
        {IDB_EF_SOFTFOCUS1, false, 200, 160}, {IDB_EF_SOFTFOCUS2, false, 200, 160},
        {IDB_EF_SHARPEN1, false, 200, 160},   {IDB_EF_SHARPEN2, false, 200, 160},
        {IDB_EF_NEON_EDGES0, true, 200, 160}, {IDB_EF_NEON_EDGES1, true, 200, 160},
        {IDB_EF_NEON_EDGES2, true, 200, 160}, {IDB_DB_NONE, false, 470, 320},
        {IDB_DB_EDGESMOOTH, false, 470, 320}, {IDB_DB_CPICT, false, 470, 320},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("JPG " + std::to_string(c.id));
        JpegInfo info = ReadJpeg(ResourceBytes(c.id, QX_RT_JPG));
        ASSERT_TRUE(info.found);
        EXPECT_EQ(info.sof, c.progressive ? 0xC2 : 0xC0);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        ASSERT_EQ(info.components, 3);
        // 2x2 luminance for the small pictures, 1x1 for the large ones; the
        // colour components are never subsampled beyond that.
        EXPECT_EQ(info.sampling[0], c.width == 200 ? 0x22 : 0x11);
        EXPECT_EQ(info.sampling[1], 0x11);
        EXPECT_EQ(info.sampling[2], 0x11);
    }
}

TEST(ResourcesPicture, BothFiltersShowTheSamePicture)
{
    Bytes edge = ResourceBytes(IDB_DB_EDGESMOOTH, QX_RT_JPG);
    Bytes complex = ResourceBytes(IDB_DB_CPICT, QX_RT_JPG);
    Bytes none = ResourceBytes(IDB_DB_NONE, QX_RT_JPG);
    ASSERT_TRUE(edge.data && complex.data && none.data);
    ASSERT_EQ(edge.size, complex.size);
    EXPECT_EQ(memcmp(edge.data, complex.data, edge.size), 0);
    EXPECT_FALSE(none.size == edge.size && memcmp(none.data, edge.data, edge.size) == 0)
        << "the filtered picture differs from the unfiltered one";
}

TEST(ResourcesPicture, PngSkinPicturesHaveTheirPixelFormat)
{
    struct Case {
        int id;
        int width, height, depth;
    } cases[] = {
        {IDB_BKGND_CLASSIC, 460, 429, 8},    {IDB_BKGND_CLASSIC_8BPP, 460, 429, 8},
        {IDB_BKGND_LUSTRE, 460, 429, 8},     {IDB_BKGND_LUSTRE_8BPP, 460, 429, 8},
        {IDB_PREVIEW_FRAME, 176, 168, 8},    {IDB_PREVIEW_FRAME_8BPP, 176, 168, 4},
        {IDB_LOGO_LUSTRE, 80, 70, 8},        {IDB_LOGO_CLASSIC, 80, 69, 8},
        {IDB_LOGO_LUSTRE_8BPP, 80, 70, 8},   {IDB_LOGO_CLASSIC_8BPP, 80, 69, 8},
    };
    static const BYTE kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const Case& c : cases) {
        SCOPED_TRACE("PNG " + std::to_string(c.id));
        Bytes b = ResourceBytes(c.id, QX_RT_PNG);
        ASSERT_GE(b.size, 33u);
        ASSERT_EQ(memcmp(b.data, kSignature, 8), 0);
        ASSERT_EQ(memcmp(b.data + 12, "IHDR", 4), 0);
        const BYTE* h = b.data + 16;
        auto be32 = [](const BYTE* p) { return (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; };
        EXPECT_EQ(be32(h), c.width);
        EXPECT_EQ(be32(h + 4), c.height);
        EXPECT_EQ(h[8], c.depth);
        EXPECT_EQ(h[9], 3) << "palette colour";
        EXPECT_EQ(h[12], 0) << "not interlaced";
        // The palette follows and fits the depth.
        ASSERT_GE(b.size, 33u + 8u);
        ASSERT_EQ(memcmp(b.data + 37, "PLTE", 4), 0);
        DWORD entries = static_cast<DWORD>(be32(b.data + 33)) / 3;
        EXPECT_GE(entries, 2u);
        EXPECT_LE(entries, 1u << c.depth);
    }
}

// ---- bitmap, cursor, icon, version --------------------------------------------------

TEST(ResourcesOther, RadioStripIsFourKeyedCells)
{
    Bytes b = ResourceBytes(IDB_RADIO_STRIP, MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    ASSERT_GE(b.size, sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER bih;
    memcpy(&bih, b.data, sizeof bih);
    EXPECT_EQ(bih.biWidth, 4 * QX_RADIO_CELL);
    EXPECT_EQ(bih.biHeight, QX_RADIO_CELL);
    ASSERT_EQ(bih.biBitCount, 4);
    ASSERT_EQ(bih.biCompression, static_cast<DWORD>(BI_RGB));
    DWORD colours = bih.biClrUsed ? bih.biClrUsed : 16;
    const DWORD stride = ((bih.biWidth * 4 + 31) / 32) * 4;
    ASSERT_GE(b.size, bih.biSize + 4 * colours + stride * bih.biHeight);
    const BYTE* table = b.data + bih.biSize;
    const BYTE* bits = table + 4 * colours;
    auto pixel = [&](int x, int y) -> COLORREF {
        const BYTE* row = bits + stride * (bih.biHeight - 1 - y);
        BYTE v = row[x / 2];
        BYTE index = (x % 2) ? (v & 0x0F) : (v >> 4);
        const BYTE* q = table + 4 * index;
        return RGB(q[2], q[1], q[0]);
    };
    const int last = QX_RADIO_CELL - 1;
    for (int cell = 0; cell < 4; ++cell) {
        const int x0 = cell * QX_RADIO_CELL;
        SCOPED_TRACE("cell " + std::to_string(cell));
        for (int corner = 0; corner < 4; ++corner)
            EXPECT_EQ(pixel(x0 + (corner & 1) * last, (corner >> 1) * last), static_cast<COLORREF>(QX_RADIO_KEY_COLOR));
        EXPECT_NE(pixel(x0 + 6, 6), static_cast<COLORREF>(QX_RADIO_KEY_COLOR)) << "the button itself";
    }
    // Checked cells differ from unchecked ones in the middle; pushed ones
    // differ from released ones.
    EXPECT_NE(pixel(6, 6), pixel(QX_RADIO_CELL + 6, 6));
    EXPECT_NE(pixel(6, 6), pixel(2 * QX_RADIO_CELL + 6, 6));
    EXPECT_NE(pixel(QX_RADIO_CELL + 6, 6), pixel(3 * QX_RADIO_CELL + 6, 6));

    HBITMAP loaded = LoadBitmapA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDB_RADIO_STRIP));
    ASSERT_NE(loaded, nullptr);
    BITMAP bm{};
    GetObjectA(loaded, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 52);
    EXPECT_EQ(bm.bmHeight, 13);
    DeleteObject(loaded);
}

// GetIconInfo hands out copies of the bitmaps.
void DeleteIconBitmaps(const ICONINFO& info)
{
    for (HBITMAP bitmap : {info.hbmMask, info.hbmColor})
        if (bitmap)
            DeleteObject(bitmap);
}

TEST(ResourcesOther, HandCursorLoads)
{
    HCURSOR cursor = LoadCursorA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDR_HAND_CURSOR));
    ASSERT_NE(cursor, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_LT(info.xHotspot, 32u);
    EXPECT_LT(info.yHotspot, 32u);
    DeleteIconBitmaps(info);
}

TEST(ResourcesOther, TabIconHasBothSizes)
{
    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(
            LoadImageA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDI_TAB_ICON), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        EXPECT_TRUE(info.fIcon);
        BITMAP bm{};
        GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        DeleteIconBitmaps(info);
        DestroyIcon(icon);
    }
    // The group directory lists a true-colour and a 16-colour image of each.
    Bytes dir = ResourceBytes(IDI_TAB_ICON, MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    ASSERT_GE(dir.size, 6u);
    int count = dir.data[4] | (dir.data[5] << 8);
    ASSERT_GE(dir.size, 6u + 14u * count);
    bool seen[2][2] = {};
    for (int i = 0; i < count; ++i) {
        const BYTE* e = dir.data + 6 + 14 * i;
        int bits = e[6] | (e[7] << 8);
        int side = e[0] == 16 ? 0 : e[0] == 32 ? 1 : -1;
        if (side >= 0 && (bits == 32 || bits == 4))
            seen[side][bits == 32] = true;
    }
    EXPECT_TRUE(seen[0][0] && seen[0][1] && seen[1][0] && seen[1][1]);
}

TEST(ResourcesOther, VersionBlockNamesTheFileVersion)
{
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(qxtest::BuiltDll(), path, sizeof path), 0u);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
    char* text = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion",
                               reinterpret_cast<void**>(&text), &len));
    EXPECT_STREQ(text, QX_VERSION_STRING);
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(QX_VERSION_MINOR, QX_VERSION_MAJOR)));
}

}  // namespace
