// The resources of the built QXTINTRA.dll: every control the code uses is in
// each dialog template (Japanese and Chinese alike) with the class the code
// expects, inside its dialog; every picture the code names decodes at the
// size it relies on; radio strip, cursor, icon and version block.
#include "page_fixture.h"

#include <map>
#include <set>

#include "controls/picture_control.h"
#include "imaging/imaging.h"
#include "resource.h"
#include "version.h"

namespace {

struct Control { std::string cls; RECT rect; };
struct Dialog { short cx = 0, cy = 0; std::map<int, Control> controls; };

// A DLGTEMPLATE(EX) read with every length checked: false when truncated.
bool ParseDialog(const std::vector<BYTE>& b, Dialog* d)
{
    size_t off = 0;
    bool ok = true;
    auto word = [&]() -> WORD {
        ok = ok && off + 2 <= b.size(), off += 2;
        return ok ? static_cast<WORD>(b[off - 2] | b[off - 1] << 8) : 0;
    };
    auto dword = [&] { return word() | static_cast<DWORD>(word()) << 16; };
    auto text = [&] {  // a string, or an ordinal as "#n"
        WORD c = word();
        std::string s = c == 0xFFFF ? "#" + std::to_string(word()) : "";
        for (; ok && c && c != 0xFFFF; c = word())
            s += static_cast<char>(c < 0x80 ? c : '?');
        return s;
    };
    const bool extended = word() == 1 && word() == 0xFFFF;
    off = extended ? 12 : 0;
    const DWORD style = dword();
    off = extended ? 16 : 8;
    const WORD count = word();
    word(), word(), d->cx = static_cast<short>(word()), d->cy = static_cast<short>(word());
    text(), text(), text();  // menu, class, caption
    if (style & DS_SETFONT)
        off += extended ? 6 : 2, text();
    for (WORD i = 0; i < count && ok; ++i) {
        off = (off + 3) & ~size_t(3);
        off += extended ? 12 : 8;  // help id, styles
        RECT r = { static_cast<short>(word()), static_cast<short>(word()) };
        r.right = r.left + static_cast<short>(word()), r.bottom = r.top + static_cast<short>(word());
        const int id = extended ? static_cast<int>(dword()) : word();
        const std::string cls = text();
        text(), off += word();  // title, creation data
        d->controls[id] = { cls == "#128" ? "Button" : cls == "#130" ? "Static" : cls, r };
    }
    return ok;
}

TEST(Resources, DialogTemplatesHoldWhatTheCodeUses)
{
    const std::map<int, std::string> page = { { IDC_VERSION, "Static" }, { IDC_EFFECT_PREVIEW, QX_PICTURE_CLASS }, { IDC_LOGO, QX_PICTURE_CLASS },
        { IDC_TAB, "SysTabControl32" }, { IDC_ORIGINALGRPBOX, "Button" }, { IDC_REFERENCE, QX_PICTURE_CLASS } };
    std::map<int, std::string> tabs[2];
    for (const auto& row : qxtest::kEffectRows)
        for (const auto& [id, cls] : { std::pair { row.radio, "Button" }, { row.slider, "msctls_trackbar32" }, { row.level, "Static" } })
            id ? void(tabs[row.tab][id] = cls) : void();
    const struct { std::vector<int> templates; const std::map<int, std::string>* controls; } families[] = {  // English first
        { { IDD_QXTINTRA_PAGE, IDD_QXTINTRA_PAGE_JPN }, &page }, { { IDD_EFFECTS, IDD_EFFECTS_JPN, IDD_EFFECTS_CHS }, &tabs[0] },
        { { IDD_DEBLOCK, IDD_DEBLOCK_JPN, IDD_DEBLOCK_CHS }, &tabs[1] } };
    for (const auto& f : families) {
        Dialog english;
        for (int id : f.templates) {
            SCOPED_TRACE(id);
            const std::vector<BYTE> bytes = qxtest::DllResource(id, RT_DIALOG);
            Dialog d, scratch;  // the parser notices truncation, or these checks prove nothing
            ASSERT_TRUE(ParseDialog(bytes, &d) && !ParseDialog(std::vector<BYTE>(bytes.begin(), bytes.begin() + bytes.size() / 2), &scratch));
            for (const auto& [control, cls] : *f.controls) {
                ASSERT_TRUE(d.controls.count(control)) << control;
                EXPECT_EQ(lstrcmpiA(d.controls[control].cls.c_str(), cls.c_str()), 0) << control << " " << d.controls[control].cls;
            }
            for (const auto& [control, c] : d.controls)  // each lies inside its dialog
                EXPECT_TRUE(c.rect.left >= 0 && c.rect.top >= 0 && c.rect.right <= d.cx && c.rect.bottom <= d.cy && c.rect.left < c.rect.right && c.rect.top < c.rect.bottom) << control;
            english = id == f.templates[0] ? d : english;
            ASSERT_EQ(d.controls.size(), english.controls.size());
            for (const auto& [control, c] : english.controls)
                EXPECT_EQ(d.controls[control].cls, c.cls) << control << " as in the English template";
        }
    }
}

TEST(Resources, EveryPictureDecodesAtItsSize)
{
    const struct { std::vector<int> ids; WORD type; LONG size; /* width * 1000 + height */ } groups[] = { { { IDB_EF_NONE, IDB_EF_EMBBIL1, IDB_EF_EMBBIL2, IDB_EF_EMBBIL3, IDB_EF_SOFTFOCUS1, IDB_EF_SOFTFOCUS2, IDB_EF_SHARPEN1,
                          IDB_EF_SHARPEN2, IDB_EF_NEON_EDGES0, IDB_EF_NEON_EDGES1, IDB_EF_NEON_EDGES2 }, IMG_TYPE_JPEG, 200160 },
        { { IDB_DB_NONE, IDB_DB_EDGESMOOTH, IDB_DB_CPICT }, IMG_TYPE_JPEG, 470320 },
        { { IDB_BKGND_CLASSIC, IDB_BKGND_CLASSIC_8BPP, IDB_BKGND_LUSTRE, IDB_BKGND_LUSTRE_8BPP }, IMG_TYPE_PNG, 460429 },
        { { IDB_PREVIEW_FRAME, IDB_PREVIEW_FRAME_8BPP }, IMG_TYPE_PNG, 176168 }, { { IDB_LOGO_LUSTRE, IDB_LOGO_LUSTRE_8BPP }, IMG_TYPE_PNG, 80070 },
        { { IDB_LOGO_CLASSIC, IDB_LOGO_CLASSIC_8BPP }, IMG_TYPE_PNG, 80069 } };
    for (const auto& g : groups)
        for (int id : g.ids) {
            WORD type = 0;
            ASSERT_NE(Img_FindResource(qxtest::BuiltDll(), MAKEINTRESOURCEA(id), &type), nullptr) << id;
            HBITMAP b = Img_LoadBitmap(qxtest::BuiltDll(), MAKEINTRESOURCEA(id));
            BITMAP bm = {};
            GetObjectA(b, sizeof bm, &bm), DeleteObject(b);
            EXPECT_EQ(std::make_pair(type, bm.bmWidth * 1000 + bm.bmHeight), std::make_pair(g.type, g.size)) << id;
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
    ReleaseDC(nullptr, screen), DeleteObject(strip);
    auto at = [&](int x, int y) { const DWORD v = px[y * 4 * QX_RADIO_CELL + x]; return RGB(v >> 16, v >> 8 & 0xFF, v & 0xFF); };
    constexpr int last = QX_RADIO_CELL - 1, mid = 6;
    auto cell = [&](int k) { return at(k * QX_RADIO_CELL + mid, mid); };
    for (int k = 0; k < 16; ++k)  // four corners of four cells, and the button itself in each
        EXPECT_TRUE(at(k / 4 * QX_RADIO_CELL + (k & 1) * last, (k >> 1 & 1) * last) == QX_RADIO_KEY_COLOR && cell(k / 4) != QX_RADIO_KEY_COLOR) << k;
    EXPECT_TRUE(cell(0) != cell(1) && cell(0) != cell(2) && cell(1) != cell(3));

    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(LoadCursorA(qxtest::BuiltDll(), MAKEINTRESOURCEA(IDR_HAND_CURSOR)), &info) && !info.fIcon && info.xHotspot < 32 && info.yHotspot < 32);
    DeleteObject(info.hbmMask), DeleteObject(info.hbmColor);
    // The icon directory lists a true-colour and a 16-colour image of 16 and 32 pixels.
    const std::vector<BYTE> dir = qxtest::DllResource(IDI_TAB_ICON, RT_GROUP_ICON);
    std::set<int> images;
    for (size_t i = 0, count = dir.size() >= 6 ? dir[4] | dir[5] << 8 : 0; i < count && 6 + 14 * i + 14 <= dir.size(); ++i)
        images.insert(dir[6 + 14 * i] * 100 + (dir[12 + 14 * i] | dir[13 + 14 * i] << 8));
    EXPECT_EQ(images, (std::set<int> { 1604, 1632, 3204, 3232 }));
    char path[MAX_PATH];
    std::vector<BYTE> block((GetModuleFileNameA(qxtest::BuiltDll(), path, sizeof path), GetFileVersionInfoSizeA(path, nullptr)));
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(block.size()), block.data()));
    char* text = nullptr;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", reinterpret_cast<void**>(&text), &len)
        && VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(std::make_pair(std::string(text), fixed->dwFileVersionMS), std::make_pair(std::string(QX_VERSION_STRING), static_cast<DWORD>(MAKELONG(QX_VERSION_MINOR, QX_VERSION_MAJOR))));
}

} // namespace
