#include "page_fixture.h"

#include <cstring>

#include "chips.h"
#include "config/skin_settings.h"
#include "driver/chip_family.h"
#include "hosting/module.h"
#include "page/effect_model.h"

namespace qxtest {

void PageTest::SetUp()
{
    DriverTest::SetUp();
    ResetPageState();
    ConfigureSupportedDriver(CHIP_FAMILY_PRIMARY);
    // As after a successful support check.
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    g_bUtilSupported = g_bTintraSupported = TRUE;
    for (DWORD effect : { 0x1u, 0x8u, 0x10u, 0x20u, 0x100u, 0x200u })
        driver().config.maxLevel[effect] = 10;
    InForce(QX_TINTRA_EF_NONE, 0);
    ASSERT_TRUE(findResource_.installed() && deviceCaps_.installed());
    findResource_.observe = [this](HRSRC found, HMODULE, LPCSTR name, LPCSTR type) {
        if (found && IS_INTRESOURCE(name) && !IS_INTRESOURCE(type))
            pictures.push_back({ LOWORD(reinterpret_cast<ULONG_PTR>(name)), type });
    };
    deviceCaps_.answer = [this](HDC dc, int index) { return index == BITSPIXEL && bitsPerPixel ? bitsPerPixel : deviceCaps_.Next(dc, index); };
}

void PageTest::TearDown()
{
    Close();
    bitsPerPixel = 0;  // before the metrics are read again
    UpdateDisplayMetrics();
    DriverTest::TearDown();
}

void PageTest::InForce(DWORD effects, DWORD level, DWORD numEfx)
{
    sim::DriverConfig& c = driver().config;
    c.curEffects = effects, c.numEfx = numEfx;
    c.pairs[0] = effects & ~0x400u, c.pairs[1] = level, c.pairs[2] = c.pairs[3] = 0;
}

void PageTest::Open(WORD templateId)
{
    std::vector<HPROPSHEETPAGE> pages;
    AddTintraPage(CollectPage, reinterpret_cast<LPARAM>(&pages), templateId, 0);
    ASSERT_EQ(pages.size(), 1u);
    sheet = OpenSheet(pages);
    page = PropSheet_GetCurrentPageHwnd(sheet);
    ASSERT_TRUE(page && page == g_hPageDlg);
    Pump();
}

void PageTest::Close()
{
    if (sheet)
        DestroyWindow(sheet);
    sheet = page = nullptr;
    Pump();
}

void PageTest::Slide(HWND dialog, int trackbarId, int position)
{
    HWND trackbar = GetDlgItem(dialog, trackbarId);
    SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(trackbar));
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(trackbar));
    Pump();
}

// A mouse click on a tab item: the tab control itself sends TCN_SELCHANGE.
void PageTest::ClickTab(int index)
{
    RECT r;
    ASSERT_TRUE(SendMessageA(Tab(), TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r)));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(Tab(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(Tab(), WM_LBUTTONUP, 0, at);
    Pump();
    ASSERT_EQ(SendMessageA(Tab(), TCM_GETCURSEL, 0, 0), index);
}

std::string PageTest::Text(HWND dialog, int id)
{
    char text[64] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::vector<std::vector<DWORD>> PageTest::Sets()
{
    std::vector<std::vector<DWORD>> sets;
    for (const sim::EscapeRecord& r : driver().RecordsOf(sim::kTintraEscape)) {
        DWORD words[10] = {};
        if (r.function != QX_TINTRA_FN_SET_EFFECTS)
            continue;
        EXPECT_EQ(r.cbIn, 40);
        memcpy(words, r.input.data(), std::min(r.input.size(), sizeof words));
        for (int i = 4; i < 10; ++i)
            EXPECT_EQ(words[i], 0u) << "word " << i << " of a SET_EFFECTS request";
        sets.push_back({ words[1], words[2], words[3] });
    }
    return sets;
}

std::vector<WORD> PageTest::Pictures(const char* type) const
{
    std::vector<WORD> ids;
    for (const auto& [id, t] : pictures)
        if (t == type)
            ids.push_back(id);
    return ids;
}

} // namespace qxtest
