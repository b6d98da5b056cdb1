// The support check against simulated drivers, and the shape of the chip
// family table it relies on.
#include "qxtest.h"

#include <algorithm>
#include <map>
#include <set>

#include "chips.h"
#include "driver/chip_family.h"
#include "driver/escape.h"
#include "driver/support.h"

namespace {

using qxtest::DriverTest;

class SupportTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        g_dwChipFamily = 0;
    }
    void UseFamily(DWORD family) { ASSERT_TRUE(sim::UseChipOfFamily(driver().config, family)); }
    // What the driver was asked, in order.
    std::vector<std::string> Requests() const
    {
        std::vector<std::string> list;
        for (const sim::EscapeRecord& r : sim::Driver::Instance().records)
            list.push_back(sim::Driver::Describe(r));
        return list;
    }
    // A fresh start-up against the same driver.
    void Restart()
    {
        qxtest::ResetModuleState();
        driver().records.clear();
    }
};

TEST_F(SupportTest, ServedFamiliesAreIdentifiedByThePciRequest)
{
    for (DWORD family : { CHIP_FAMILY_PRIMARY, CHIP_FAMILY_KP }) {
        SCOPED_TRACE(family);
        Restart();
        UseFamily(family);
        // The chip-id answer names no chip: only the PCI identity counts.
        driver().config.chipId = 0x0BAD;
        g_dwChipFamily = 0;
        EXPECT_TRUE(CheckSupport());
        EXPECT_EQ(g_dwChipFamily, family);
        EXPECT_EQ(Requests(),
            (std::vector<std::string> { "QUERYESCSUPPORT 0x3000 -> 1", "QUERYESCSUPPORT 0x3200 -> 1", "GET_PCI_INFO -> 1" }));
        const sim::EscapeRecord& pci = driver().records.back();
        EXPECT_EQ(pci.cbIn, 8);
        EXPECT_EQ(pci.cbOut, 16);
    }
}

TEST_F(SupportTest, EitherMissingEscapeRefusesBeforeAskingForTheChip)
{
    UseFamily(CHIP_FAMILY_PRIMARY);
    driver().config.utilEscape = false;
    g_dwChipFamily = 7;
    EXPECT_FALSE(CheckSupport());
    EXPECT_EQ(Requests(), (std::vector<std::string> { "QUERYESCSUPPORT 0x3000 -> 0" }));
    EXPECT_EQ(g_dwChipFamily, 7u) << "the family of an earlier start-up stands";

    Restart();
    driver().config.utilEscape = true;
    driver().config.tintraEscape = false;
    g_dwChipFamily = CHIP_FAMILY_KP;
    EXPECT_FALSE(CheckSupport());
    EXPECT_EQ(Requests(), (std::vector<std::string> { "QUERYESCSUPPORT 0x3000 -> 1", "QUERYESCSUPPORT 0x3200 -> 0" }));
    EXPECT_EQ(g_dwChipFamily, CHIP_FAMILY_KP);
    EXPECT_FALSE(g_bTintraSupported);

    // A probe answer other than 1 but positive still means implemented;
    // zero or negative does not.
    Restart();
    driver().config.tintraEscape = true;
    driver().config.probeResult = 2;
    EXPECT_TRUE(CheckSupport());
    Restart();
    driver().config.probeResult = -1;
    EXPECT_FALSE(CheckSupport());
    EXPECT_EQ(driver().records.size(), 1u);
}

TEST_F(SupportTest, FailedPciRequestFallsBackToTheFullChipWord)
{
    UseFamily(CHIP_FAMILY_PRIMARY);
    // A PCI identity naming an unknown chip must not be read when the
    // request failed, whatever the failure value.
    driver().config.pciDeviceId = 0x0BAD;
    for (int failure : { 0, 2, -1 }) {
        SCOPED_TRACE(failure);
        Restart();
        driver().config.utilResults[QX_UTIL_FN_GET_PCI_INFO] = failure;
        driver().config.chipId = 0x5120;
        g_dwChipFamily = 0;
        EXPECT_TRUE(CheckSupport());
        EXPECT_EQ(g_dwChipFamily, CHIP_FAMILY_PRIMARY);
        ASSERT_EQ(driver().records.size(), 4u);
        EXPECT_EQ(Requests()[2], "GET_PCI_INFO -> " + std::to_string(failure));
        EXPECT_EQ(Requests()[3], "GET_CHIP_ID -> 1");
        EXPECT_EQ(driver().records[3].cbOut, 16);
    }

    // The chip word is taken whole: high bits make it no chip of the table.
    Restart();
    driver().config.chipId = 0x00015120;
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    EXPECT_FALSE(CheckSupport());
    EXPECT_EQ(g_dwChipFamily, 0u);
}

TEST_F(SupportTest, NoChipIdentityLeavesTheFamilyAlone)
{
    UseFamily(CHIP_FAMILY_KP);
    driver().config.utilResults[QX_UTIL_FN_GET_PCI_INFO] = 0;
    driver().config.utilResults[QX_UTIL_FN_GET_CHIP_ID] = 2;
    g_dwChipFamily = 9;
    EXPECT_FALSE(CheckSupport());
    EXPECT_EQ(g_dwChipFamily, 9u);
    EXPECT_EQ(Requests().back(), "GET_CHIP_ID -> 2");
}

TEST_F(SupportTest, OtherFamiliesAndUnknownChipsAreRecordedAndRefused)
{
    for (DWORD family : { 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 20u }) {
        SCOPED_TRACE(family);
        Restart();
        UseFamily(family);
        EXPECT_FALSE(CheckSupport());
        EXPECT_EQ(g_dwChipFamily, family);
    }
    Restart();
    UseFamily(0);
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    EXPECT_FALSE(CheckSupport());
    EXPECT_EQ(g_dwChipFamily, 0u);
}

TEST_F(SupportTest, ChipTableHasTheFamiliesOfTheMaker)
{
    std::map<DWORD, std::vector<DWORD>> runs;  // family -> lengths of its runs
    std::set<DWORD> ids;
    for (size_t i = 0; i < g_nChipFamilies; ++i) {
        const ChipFamilyRange& row = g_aChipFamilies[i];
        ASSERT_LE(row.first, row.last);
        runs[row.family].push_back(row.last - row.first + 1u);
        for (DWORD id = row.first; id <= row.last; ++id) {
            EXPECT_TRUE(ids.insert(id).second) << "identifier 0x" << std::hex << id << " in two rows";
            EXPECT_EQ(LookupChipFamily(id), row.family);
        }
    }
    // Every identifier of no row, the neighbours of each run included, is
    // no chip of the maker.
    int strays = 0;
    for (DWORD id = 0; id <= 0xFFFF; ++id)
        if (!ids.count(id) && LookupChipFamily(id) != 0)
            ++strays;
    EXPECT_EQ(strays, 0);
    std::set<DWORD> families;
    for (const auto& [family, lengths] : runs)
        families.insert(family);
    EXPECT_EQ(families, (std::set<DWORD> { 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 21 }));
    std::vector<DWORD> primary = runs[CHIP_FAMILY_PRIMARY];
    std::sort(primary.begin(), primary.end());
    EXPECT_EQ(primary, (std::vector<DWORD> { 1, 1, 3, 6 }));
    EXPECT_EQ(runs[CHIP_FAMILY_KP], (std::vector<DWORD>(7, 1)));

    // Only the 16-bit identifier names a chip.
    DWORD served = g_aChipFamilies[0].first;
    EXPECT_EQ(LookupChipFamily(0x10000u | served), 0u);
    EXPECT_EQ(LookupChipFamily(0xFFFFFFFFu), 0u);
    EXPECT_EQ(LookupChipFamily(0x0BAD), 0u);
}

} // namespace
