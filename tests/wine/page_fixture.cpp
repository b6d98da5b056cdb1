#include "page_fixture.h"

#include <commctrl.h>
#include <prsht.h>

#include "chips.h"
#include "driver/chip_family.h"
#include "driver/escape.h"
#include "hosting/module.h"
#include "page/effect_model.h"

namespace qxtest {

void PageTest::SetUp()
{
    DriverTest::SetUp();
    ResetPageState();
    ASSERT_TRUE(sim::UseChipOfFamily(driver().config, CHIP_FAMILY_PRIMARY));
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    // As after a successful support check.
    g_bUtilSupported = g_bTintraSupported = TRUE;
    for (DWORD effect : { 0x1u, 0x8u, 0x10u, 0x20u, 0x100u, 0x200u })
        driver().config.maxLevel[effect] = 10;
    InForce(QX_TINTRA_EF_NONE, 0);
}

void PageTest::TearDown()
{
    Close();
    DriverTest::TearDown();
}

void PageTest::InForce(DWORD effects, DWORD level, DWORD numEfx)
{
    sim::DriverConfig& c = driver().config;
    c.curEffects = effects;
    c.numEfx = numEfx;
    c.pairs[0] = effects & ~0x400u;
    c.pairs[1] = level;
    c.pairs[2] = c.pairs[3] = 0;
}

void PageTest::Open(WORD templateId)
{
    std::vector<HPROPSHEETPAGE> pages;
    AddTintraPage(CollectPage, reinterpret_cast<LPARAM>(&pages), templateId, 0);
    ASSERT_EQ(pages.size(), 1u);
    sheet = OpenSheet(pages);
    ASSERT_NE(sheet, nullptr);
    page = PropSheet_GetCurrentPageHwnd(sheet);
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(page, g_hPageDlg);
    Pump();
}

void PageTest::Close()
{
    if (sheet)
        DestroyWindow(sheet);
    sheet = page = nullptr;
    Pump();
}

void PageTest::Pump()
{
    for (int round = 0; round < 3; ++round)
        PumpMessages();
}

} // namespace qxtest
