// The resources of the built QXTINTRA.dll: every control the code uses is in
// each dialog template with the class the code expects, the Japanese and
// Chinese templates carry the same controls as the English ones, controls
// lie inside their dialog; every picture the code names decodes at the size
// it relies on; radio strip, cursor, icon and version block.
#include "qxtest.h"

#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "controls/picture_control.h"
#include "imaging/imaging.h"
#include "resource.h"
#include "version.h"

namespace {

struct Control {
    std::string cls;
    RECT rect;
};
struct Dialog {
    short cx = 0, cy = 0;
    std::map<int, Control> controls;
};

// A DLGTEMPLATE(EX) read with every length checked: false when truncated.
bool ParseDialog(const std::vector<BYTE>& b, Dialog* d)
{
    size_t off = 0;
    bool ok = true;
    auto word = [&]() -> WORD {
        ok = ok && off + 2 <= b.size();
        const WORD v = ok ? static_cast<WORD>(b[off] | b[off + 1] << 8) : 0;
        off += 2;
        return v;
    };
    auto dword = [&] { return word() | static_cast<DWORD>(word()) << 16; };
    auto text = [&] {  // a string, or an ordinal as "#n"
        WORD c = word();
        if (c == 0xFFFF)
            return "#" + std::to_string(word());
        std::string s;
        for (; ok && c; c = word())
            s += static_cast<char>(c < 0x80 ? c : '?');
        return s;
    };
    const bool extended = word() == 1 && word() == 0xFFFF;
    off = extended ? 12 : 0;
    const DWORD style = dword();
    off = extended ? 16 : 8;
    const WORD count = word();
    word(), word();
    d->cx = static_cast<short>(word());
    d->cy = static_cast<short>(word());
    text(), text(), text();  // menu, class, caption
    if (style & DS_SETFONT) {
        off += extended ? 6 : 2;
        text();
    }
    for (WORD i = 0; i < count && ok; ++i) {
        off = (off + 3) & ~size_t(3);
        off += extended ? 12 : 8;  // help id, styles
        RECT r;
        r.left = static_cast<short>(word()), r.top = static_cast<short>(word());
        r.right = r.left + static_cast<short>(word()), r.bottom = r.top + static_cast<short>(word());
        const int id = extended ? static_cast<int>(dword()) : word();
        std::string cls = text();
        cls = cls == "#128" ? "Button" : cls == "#130" ? "Static" : cls;
        text();
        off += word();
        d->controls[id] = { cls, r };
    }
    return ok;
}

TEST(Resources, DialogTemplatesHoldWhatTheCodeUses)
{
    const std::map<int, std::string> page = { { IDC_VERSION, "Static" }, { IDC_EFFECT_PREVIEW, QX_PICTURE_CLASS },
        { IDC_LOGO, QX_PICTURE_CLASS }, { IDC_TAB, "SysTabControl32" }, { IDC_ORIGINALGRPBOX, "Button" },
        { IDC_REFERENCE, QX_PICTURE_CLASS } };
    std::map<int, std::string> artistic = { { IDC_EF_NONE, "Button" } }, deblock = { { IDC_DBLK_NONE, "Button" } };
    for (auto [radio, slider, level] : { std::tuple { IDC_EMBOSS, IDC_EMBOSS_SLIDER, IDC_EMBOSS_LEVEL },
             { IDC_NEON_EDGES, IDC_NEON_EDGES_SLIDER, IDC_NEON_EDGES_LEVEL }, { IDC_SOFT_FOCUS, IDC_SOFT_FOCUS_SLIDER, IDC_SOFT_FOCUS_LEVEL },
             { IDC_SELECTED_SHARP, IDC_SHARP_SLIDER, IDC_SHARP_LEVEL },
             { IDC_DBLK_EDGESMOOTHING, IDC_DBLK_EDGESMOOTHING_SLIDER, IDC_DBLK_EDGESMOOTHING_LEVEL },
             { IDC_DBLK_COMPLEXPICSMOOTHING, IDC_DBLK_COMPLEXPICSMOOTHING_SLIDER, IDC_DBLK_COMPLEXPICSMOOTHING_LEVEL } }) {
        auto& tab = radio >= IDC_DBLK_NONE && radio <= IDC_DBLK_COMPLEXPICSMOOTHING ? deblock : artistic;
        tab[radio] = "Button", tab[slider] = "msctls_trackbar32", tab[level] = "Static";
    }
    const struct {
        std::vector<int> templates;  // English first
        const std::map<int, std::string>* controls;
    } families[] = { { { IDD_QXTINTRA_PAGE, IDD_QXTINTRA_PAGE_JPN }, &page },
        { { IDD_EFFECTS, IDD_EFFECTS_JPN, IDD_EFFECTS_CHS }, &artistic }, { { IDD_DEBLOCK, IDD_DEBLOCK_JPN, IDD_DEBLOCK_CHS }, &deblock } };
    for (const auto& f : families) {
        Dialog english;
        for (int id : f.templates) {
            SCOPED_TRACE(id);
            const std::vector<BYTE> bytes = qxtest::DllResource(id, RT_DIALOG);
            Dialog d;
            ASSERT_TRUE(ParseDialog(bytes, &d));
            // The parser notices truncation, or these checks prove nothing.
            for (size_t cut : { size_t(4), size_t(30), bytes.size() / 2 }) {
                Dialog scratch;
                EXPECT_FALSE(ParseDialog(std::vector<BYTE>(bytes.begin(), bytes.begin() + cut), &scratch)) << cut;
            }
            for (const auto& [control, cls] : *f.controls) {
                ASSERT_TRUE(d.controls.count(control)) << control;
                EXPECT_EQ(lstrcmpiA(d.controls[control].cls.c_str(), cls.c_str()), 0) << control << " " << d.controls[control].cls;
            }
            for (const auto& [control, c] : d.controls)
                EXPECT_TRUE(c.rect.left >= 0 && c.rect.top >= 0 && c.rect.right <= d.cx && c.rect.bottom <= d.cy && c.rect.left < c.rect.right && c.rect.top < c.rect.bottom)
                    << control << " lies inside its dialog";
            if (id == f.templates[0])
                english = d;
            ASSERT_EQ(d.controls.size(), english.controls.size());
            for (const auto& [control, c] : english.controls)
                EXPECT_EQ(d.controls[control].cls, c.cls) << control << " as in the English template";
        }
    }
}

TEST(Resources, EveryPictureDecodesAtItsSize)
{
    const struct {
        int id;
        const char* type;
        int w, h;
    } pictures[] = { { IDB_EF_NONE, QX_RT_JPG, 200, 160 }, { IDB_EF_EMBBIL1, QX_RT_JPG, 200, 160 }, { IDB_EF_EMBBIL2, QX_RT_JPG, 200, 160 },
        { IDB_EF_EMBBIL3, QX_RT_JPG, 200, 160 }, { IDB_EF_SOFTFOCUS1, QX_RT_JPG, 200, 160 }, { IDB_EF_SOFTFOCUS2, QX_RT_JPG, 200, 160 },
        { IDB_EF_SHARPEN1, QX_RT_JPG, 200, 160 }, { IDB_EF_SHARPEN2, QX_RT_JPG, 200, 160 }, { IDB_EF_NEON_EDGES0, QX_RT_JPG, 200, 160 },
        { IDB_EF_NEON_EDGES1, QX_RT_JPG, 200, 160 }, { IDB_EF_NEON_EDGES2, QX_RT_JPG, 200, 160 }, { IDB_DB_NONE, QX_RT_JPG, 470, 320 },
        { IDB_DB_EDGESMOOTH, QX_RT_JPG, 470, 320 }, { IDB_DB_CPICT, QX_RT_JPG, 470, 320 }, { IDB_BKGND_CLASSIC, QX_RT_PNG, 460, 429 },
        { IDB_BKGND_CLASSIC_8BPP, QX_RT_PNG, 460, 429 }, { IDB_BKGND_LUSTRE, QX_RT_PNG, 460, 429 }, { IDB_BKGND_LUSTRE_8BPP, QX_RT_PNG, 460, 429 },
        { IDB_PREVIEW_FRAME, QX_RT_PNG, 176, 168 }, { IDB_PREVIEW_FRAME_8BPP, QX_RT_PNG, 176, 168 }, { IDB_LOGO_LUSTRE, QX_RT_PNG, 80, 70 },
        { IDB_LOGO_CLASSIC, QX_RT_PNG, 80, 69 }, { IDB_LOGO_LUSTRE_8BPP, QX_RT_PNG, 80, 70 }, { IDB_LOGO_CLASSIC_8BPP, QX_RT_PNG, 80, 69 } };
    for (const auto& p : pictures) {
        WORD type = 0;
        ASSERT_NE(Img_FindResource(qxtest::BuiltDll(), MAKEINTRESOURCEA(p.id), &type), nullptr) << p.id;
        EXPECT_EQ(type, strcmp(p.type, "PNG") ? IMG_TYPE_JPEG : IMG_TYPE_PNG) << p.id;
        HBITMAP b = Img_LoadBitmap(qxtest::BuiltDll(), MAKEINTRESOURCEA(p.id));
        BITMAP bm = {};
        GetObjectA(b, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth * 1000 + bm.bmHeight, p.w * 1000 + p.h) << p.id;
        DeleteObject(b);
    }
    // Both filters show the same picture, which differs from the unfiltered one.
    EXPECT_EQ(qxtest::DllResource(IDB_DB_EDGESMOOTH, QX_RT_JPG), qxtest::DllResource(IDB_DB_CPICT, QX_RT_JPG));
    EXPECT_NE(qxtest::DllResource(IDB_DB_EDGESMOOTH, QX_RT_JPG), qxtest::DllResource(IDB_DB_NONE, QX_RT_JPG));
}

TEST(Resources, RadioStripCursorIconAndVersion)
{
    // Four cells keyed at their corners: checked differs from unchecked,
    // pushed from released, in the middle.
    HBITMAP strip = LoadBitmapA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDB_RADIO_STRIP));
    BITMAPINFO bi = { { sizeof bi.bmiHeader, 4 * QX_RADIO_CELL, -QX_RADIO_CELL, 1, 32 } };
    std::vector<DWORD> px(4 * QX_RADIO_CELL * QX_RADIO_CELL);
    HDC screen = GetDC(nullptr);
    ASSERT_EQ(GetDIBits(screen, strip, 0, QX_RADIO_CELL, px.data(), &bi, DIB_RGB_COLORS), QX_RADIO_CELL);
    ReleaseDC(nullptr, screen);
    DeleteObject(strip);
    auto at = [&](int x, int y) { const DWORD v = px[y * 4 * QX_RADIO_CELL + x]; return RGB(v >> 16, v >> 8 & 0xFF, v & 0xFF); };
    constexpr int last = QX_RADIO_CELL - 1, mid = 6;
    for (int cell = 0; cell < 4; ++cell) {
        const int x0 = cell * QX_RADIO_CELL;
        for (int corner = 0; corner < 4; ++corner)
            EXPECT_EQ(at(x0 + (corner & 1) * last, (corner >> 1) * last), COLORREF(QX_RADIO_KEY_COLOR)) << cell;
        EXPECT_NE(at(x0 + mid, mid), COLORREF(QX_RADIO_KEY_COLOR)) << "the button itself";
    }
    EXPECT_NE(at(mid, mid), at(QX_RADIO_CELL + mid, mid));
    EXPECT_NE(at(mid, mid), at(2 * QX_RADIO_CELL + mid, mid));
    EXPECT_NE(at(QX_RADIO_CELL + mid, mid), at(3 * QX_RADIO_CELL + mid, mid));

    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(LoadCursorA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDR_HAND_CURSOR)), &info));
    EXPECT_TRUE(!info.fIcon && info.xHotspot < 32 && info.yHotspot < 32);
    DeleteObject(info.hbmMask), DeleteObject(info.hbmColor);
    for (int size : { 16, 32 }) {
        HICON icon = static_cast<HICON>(LoadImageA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDI_TAB_ICON), IMAGE_ICON, size, size, 0));
        ASSERT_TRUE(GetIconInfo(icon, &info)) << size;
        BITMAP bm = {};
        GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        DeleteObject(info.hbmMask), DeleteObject(info.hbmColor), DestroyIcon(icon);
    }
    // The icon directory lists a true-colour and a 16-colour image of each size.
    const std::vector<BYTE> dir = qxtest::DllResource(IDI_TAB_ICON, RT_GROUP_ICON);
    ASSERT_GE(dir.size(), 6u);
    std::set<int> images;
    for (size_t i = 0, count = dir[4] | dir[5] << 8; i < count && 6 + 14 * i + 14 <= dir.size(); ++i)
        images.insert(dir[6 + 14 * i] * 100 + (dir[12 + 14 * i] | dir[13 + 14 * i] << 8));
    for (int image : { 1604, 1632, 3204, 3232 })
        EXPECT_TRUE(images.count(image)) << image;

    char path[MAX_PATH];
    GetModuleFileNameA(qxtest::BuiltDll(), path, sizeof path);
    std::vector<BYTE> block(GetFileVersionInfoSizeA(path, nullptr));
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(block.size()), block.data()));
    char* text = nullptr;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", reinterpret_cast<void**>(&text), &len));
    EXPECT_STREQ(text, QX_VERSION_STRING);
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(QX_VERSION_MINOR, QX_VERSION_MAJOR)));
}

} // namespace
