// The escape gate, the two probes and the byte layout of every request,
// checked against what the simulated driver received.
#include "qxtest.h"

#include <cstring>

#include "driver/escape.h"

namespace {

using qxtest::DriverTest;

std::vector<BYTE> Words(std::initializer_list<DWORD> words)
{
    std::vector<BYTE> bytes(words.size() * 4);
    size_t i = 0;
    for (DWORD w : words)
        memcpy(&bytes[4 * i++], &w, 4);
    return bytes;
}

class EscapeTest : public DriverTest {
protected:
    void Probe()
    {
        ASSERT_TRUE(QX_UTIL_IsSupported());
        ASSERT_TRUE(QX_TINTRA_IsSupported());
        driver().records.clear();
    }
    const sim::EscapeRecord& Only()
    {
        EXPECT_EQ(driver().records.size(), 1u);
        return driver().records.back();
    }
};

TEST_F(EscapeTest, GateRefusesUnknownEscapesAndUnprobedOnes)
{
    DWORD request = 0;
    EXPECT_EQ(CallDriverEscape(0x3100, 4, &request, 0, nullptr), 0);
    EXPECT_EQ(CallDriverEscape(QUERYESCSUPPORT, 4, &request, 0, nullptr), 0);
    // Before the probes every function escape is refused without a DC.
    DWORD caps = 0xABCD, level = 7, chip = 9;
    EXPECT_FALSE(QX_TINTRA_QueryArtisticEffectCaps(&caps));
    EXPECT_FALSE(QX_TINTRA_GetEffectMaxLevel(1, &level));
    EXPECT_FALSE(QX_UTIL_GetChipId(&chip));
    EXPECT_EQ(caps, 0xABCDu);
    EXPECT_EQ(level, 7u);
    EXPECT_EQ(driver().dcCreateCalls, 0);
    EXPECT_TRUE(driver().records.empty());
}

TEST_F(EscapeTest, ProbesSendQueryEscSupportAndSetTheirFlags)
{
    EXPECT_TRUE(QX_UTIL_IsSupported());
    EXPECT_TRUE(QX_TINTRA_IsSupported());
    ASSERT_EQ(driver().records.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const sim::EscapeRecord& r = driver().records[i];
        EXPECT_EQ(r.escape, QUERYESCSUPPORT);
        EXPECT_EQ(r.cbIn, 4);
        EXPECT_EQ(r.input, Words({ i == 0 ? 0x3000u : 0x3200u }));
        EXPECT_EQ(r.cbOut, 0);
        EXPECT_TRUE(r.outNull);
    }
    EXPECT_TRUE(g_bUtilSupported);
    EXPECT_TRUE(g_bTintraSupported);
    EXPECT_EQ(driver().dcCreated, 2);
}

TEST_F(EscapeTest, ProbeAnswerTwoIsSupportZeroOrNegativeIsNot)
{
    driver().config.probeResult = 2;
    EXPECT_TRUE(QX_TINTRA_IsSupported());
    EXPECT_TRUE(g_bTintraSupported);

    driver().config.probeResult = -1;
    EXPECT_FALSE(QX_TINTRA_IsSupported());
    EXPECT_FALSE(g_bTintraSupported);

    driver().config.probeResult = 1;
    driver().config.utilEscape = false;
    EXPECT_FALSE(QX_UTIL_IsSupported());
    EXPECT_FALSE(g_bUtilSupported);
    // A refused probe closes the gate: nothing reaches the driver after it.
    driver().records.clear();
    DWORD chip = 0;
    EXPECT_FALSE(QX_UTIL_GetChipId(&chip));
    EXPECT_TRUE(driver().records.empty());
}

TEST_F(EscapeTest, ProbeWithoutDeviceContextLeavesTheFlag)
{
    g_bTintraSupported = TRUE;
    ASSERT_TRUE(SetDisplayDeviceName("\\\\.\\NOSUCHDEVICE"));
    EXPECT_FALSE(QX_TINTRA_IsSupported());
    EXPECT_TRUE(g_bTintraSupported);
    EXPECT_TRUE(driver().records.empty());
}

TEST_F(EscapeTest, DeviceNameRule)
{
    EXPECT_FALSE(SetDisplayDeviceName(nullptr));
    EXPECT_FALSE(SetDisplayDeviceName(""));
    EXPECT_STREQ(g_szDisplayDevice, "");
    ASSERT_TRUE(QX_UTIL_IsSupported());
    EXPECT_EQ(driver().dcOpened.back(), "");  // CreateDCA("DISPLAY", null, ...)

    ASSERT_TRUE(SetDisplayDeviceName("\\\\.\\DISPLAY2"));
    EXPECT_FALSE(SetDisplayDeviceName(""));  // leaves the name as it was
    EXPECT_STREQ(g_szDisplayDevice, "\\\\.\\DISPLAY2");
    ASSERT_TRUE(QX_UTIL_IsSupported());
    EXPECT_EQ(driver().dcOpened.back(), "\\\\.\\DISPLAY2");
    EXPECT_EQ(driver().records.back().device, "\\\\.\\DISPLAY2");

    std::string longName(300, 'x');
    ASSERT_TRUE(SetDisplayDeviceName(longName.c_str()));
    EXPECT_EQ(strlen(g_szDisplayDevice), 255u);
}

TEST_F(EscapeTest, EffectsRequestsAreByteExact)
{
    Probe();
    driver().config.caps = 0x339;
    driver().config.maxLevel[0x10] = 9;
    driver().config.curEffects = 0x8;
    driver().config.numEfx = 1;
    driver().config.pairs[0] = 0x8;
    driver().config.pairs[1] = 3;

    DWORD caps = 0;
    ASSERT_TRUE(QX_TINTRA_QueryArtisticEffectCaps(&caps));
    EXPECT_EQ(caps, 0x339u);
    EXPECT_EQ(Only().input, Words({ 0 }));
    EXPECT_EQ(Only().cbOut, 4);
    EXPECT_TRUE(QX_TINTRA_QueryArtisticEffectCaps(nullptr));

    driver().records.clear();
    DWORD level = 0;
    ASSERT_TRUE(QX_TINTRA_GetEffectMaxLevel(0x10, &level));
    EXPECT_EQ(level, 9u);
    EXPECT_EQ(Only().escape, 0x3200);
    EXPECT_EQ(Only().input, Words({ 1, 0x10 }));
    EXPECT_EQ(Only().cbOut, 4);

    driver().records.clear();
    DWORD cur = 0, num = 0;
    QX_EFFECT_PAIR pairs[2] = {};
    ASSERT_TRUE(QX_TINTRA_GetCurrentEffects(&cur, &num, pairs));
    EXPECT_EQ(Only().input, Words({ 5 }));
    EXPECT_EQ(Only().cbOut, 24);
    EXPECT_EQ(cur, 0x8u);
    EXPECT_EQ(num, 1u);
    EXPECT_EQ(pairs[0].dwEffect, 0x8u);
    EXPECT_EQ(pairs[0].dwLevel, 3u);

    // Without a pair array the mask and the count still arrive.
    driver().config.curEffects = 0x200;
    cur = num = 0;
    ASSERT_TRUE(QX_TINTRA_GetCurrentEffects(&cur, &num, nullptr));
    EXPECT_EQ(cur, 0x200u);
    EXPECT_EQ(num, 1u);
}

TEST_F(EscapeTest, SetEffectsSendsFortyBytesWithUnusedPairsZero)
{
    Probe();
    QX_EFFECT_PAIR pair = { 0x8, 3 };
    ASSERT_TRUE(QX_TINTRA_SetCurrentEffects(1, &pair));
    const sim::EscapeRecord& r = Only();
    EXPECT_EQ(r.escape, 0x3200);
    EXPECT_EQ(r.cbIn, 40);
    EXPECT_EQ(r.input, Words({ 4, 1, 0x8, 3, 0, 0, 0, 0, 0, 0 }));
    EXPECT_EQ(r.cbOut, 0);
    EXPECT_TRUE(r.outNull);
    EXPECT_EQ(driver().config.curEffects, 0x8u);

    // Zero or negative counts go out as given, with no pairs.
    driver().records.clear();
    ASSERT_TRUE(QX_TINTRA_SetCurrentEffects(0, &pair));
    EXPECT_EQ(Only().input, Words({ 4, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
    driver().records.clear();
    QX_TINTRA_SetCurrentEffects(-1, &pair);
    EXPECT_EQ(Only().input, Words({ 4, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0, 0 }));

    // Four pairs fill the record; a fifth has no room, so the request is refused.
    QX_EFFECT_PAIR four[5] = { { 1, 1 }, { 8, 2 }, { 16, 3 }, { 32, 4 }, { 256, 5 } };
    driver().records.clear();
    ASSERT_TRUE(QX_TINTRA_SetCurrentEffects(4, four));
    EXPECT_EQ(Only().input, Words({ 4, 4, 1, 1, 8, 2, 16, 3, 32, 4 }));
    driver().records.clear();
    EXPECT_FALSE(QX_TINTRA_SetCurrentEffects(5, four));
    EXPECT_TRUE(driver().records.empty());
}

TEST_F(EscapeTest, UtilityRequestsAreByteExact)
{
    Probe();
    driver().config.chipId = 0x1234ABCD;
    driver().config.pciDeviceId = 0x5A11;
    driver().config.pciSubVendorId = 0x1AB2;
    driver().config.pciSubSystemId = 0x0042;
    driver().config.pciRevisionId = 7;
    driver().config.driverKey = "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0001";

    DWORD chip = 0;
    ASSERT_TRUE(QX_UTIL_GetChipId(&chip));
    EXPECT_EQ(chip, 0x1234ABCDu);
    EXPECT_EQ(Only().escape, 0x3000);
    EXPECT_EQ(Only().input, Words({ 0x5F }));
    EXPECT_EQ(Only().cbOut, 16);

    driver().records.clear();
    QX_PCI_INFO pci = {};
    ASSERT_TRUE(QX_UTIL_GetPciInfo(&pci));
    EXPECT_EQ(Only().input, Words({ 0x6A, 16 }));
    EXPECT_EQ(Only().cbOut, 16);
    EXPECT_EQ(pci.wDeviceId, 0x5A11);
    EXPECT_EQ(pci.wSubVendorId, 0x1AB2);
    EXPECT_EQ(pci.wSubSystemId, 0x0042);
    EXPECT_EQ(pci.wRevisionId, 7);
    EXPECT_TRUE(QX_UTIL_GetPciInfo(nullptr));

    driver().records.clear();
    BYTE key[QX_DRIVER_KEY_BYTES];
    memset(key, 0x55, sizeof key);
    ASSERT_TRUE(QX_UTIL_QueryDriverKeyEscape(key));
    EXPECT_EQ(Only().input, Words({ 0x69 }));
    EXPECT_EQ(Only().cbOut, 256);
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(key), L"{4D36E968-E325-11CE-BFC1-08002BE10318}\\0001");
}

TEST_F(EscapeTest, RefusedFunctionsWriteNoOutput)
{
    Probe();
    for (int result : { 0, -1, 2 }) {
        SCOPED_TRACE(result);
        for (DWORD fn : { 0u, 1u, 4u, 5u })
            driver().config.tintraResults[fn] = result;
        for (DWORD fn : { 0x5Fu, 0x69u, 0x6Au })
            driver().config.utilResults[fn] = result;
        driver().config.maxLevel[1] = 5;

        DWORD caps = 11, level = 0, cur = 12, num = 13, chip = 14;
        QX_EFFECT_PAIR pairs[2] = { { 15, 16 }, { 17, 18 } };
        QX_PCI_INFO pci;
        memset(&pci, 0x77, sizeof pci);
        EXPECT_FALSE(QX_TINTRA_QueryArtisticEffectCaps(&caps));
        EXPECT_FALSE(QX_TINTRA_GetEffectMaxLevel(1, &level));
        EXPECT_FALSE(QX_TINTRA_GetCurrentEffects(&cur, &num, pairs));
        QX_EFFECT_PAIR pair = { 1, 1 };
        EXPECT_FALSE(QX_TINTRA_SetCurrentEffects(1, &pair));
        EXPECT_FALSE(QX_UTIL_GetChipId(&chip));
        EXPECT_FALSE(QX_UTIL_GetPciInfo(&pci));
        BYTE key[QX_DRIVER_KEY_BYTES];
        EXPECT_FALSE(QX_UTIL_QueryDriverKeyEscape(key));

        EXPECT_EQ(caps, 11u);
        EXPECT_EQ(level, 0u);  // the page's preset stands, so it hides the slider
        EXPECT_EQ(cur, 12u);
        EXPECT_EQ(num, 13u);
        EXPECT_EQ(pairs[1].dwLevel, 18u);
        EXPECT_EQ(chip, 14u);
        EXPECT_EQ(pci.wDeviceId, 0x7777);
        EXPECT_EQ(key[0], 0);  // zero-filled: read as no answer
        EXPECT_EQ(key[255], 0);
    }
    EXPECT_EQ(driver().dcCreated, driver().dcDeleted);
}

} // namespace
