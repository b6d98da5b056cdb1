// The display driver side: the escape gate and the byte layout of every
// request, the support check, and the driver's registry key (the driver's
// own answer, the PCI enumeration search, the key path per class of Windows).
#include "qxtest.h"

#include <cstring>
#include <functional>

#include "chips.h"
#include "config/system_services.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "driver/support.h"

namespace {

using Strings = std::vector<std::string>;

std::vector<BYTE> Words(std::initializer_list<DWORD> words)
{
    std::vector<BYTE> bytes(words.size() * 4);
    memcpy(bytes.data(), words.begin(), bytes.size());
    return bytes;
}

class DriverEscapes : public qxtest::DriverTest {
protected:
    void Restart()
    {
        qxtest::ResetModuleState();
        driver().records.clear();
    }
    void UseFamily(DWORD family) { ASSERT_TRUE(sim::UseChipOfFamily(driver().config, family)); }
};

TEST_F(DriverEscapes, GateAndProbes)
{
    DWORD request = 0, caps = 0xABCD, level = 7, chip = 9;
    EXPECT_EQ(CallDriverEscape(0x3100, 4, &request, 0, nullptr), 0);
    EXPECT_EQ(CallDriverEscape(QUERYESCSUPPORT, 4, &request, 0, nullptr), 0);
    // Before the probes every function escape is refused without a DC.
    EXPECT_FALSE(QX_TINTRA_QueryArtisticEffectCaps(&caps) || QX_TINTRA_GetEffectMaxLevel(1, &level) || QX_UTIL_GetChipId(&chip));
    EXPECT_EQ(caps + level, 0xABCDu + 7);
    EXPECT_EQ(driver().dcCreateCalls, 0);

    EXPECT_TRUE(QX_UTIL_IsSupported() && QX_TINTRA_IsSupported() && g_bUtilSupported && g_bTintraSupported);
    ASSERT_EQ(driver().records.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const sim::EscapeRecord& r = driver().records[i];
        EXPECT_EQ(std::tie(r.escape, r.cbIn, r.cbOut, r.outNull), std::make_tuple(QUERYESCSUPPORT, 4, 0, true));
        EXPECT_EQ(r.input, Words({ i == 0 ? 0x3000u : 0x3200u }));
    }
    // Any positive answer means implemented; zero or negative does not, and
    // closes the gate.
    for (int answer : { 2, -1 }) {
        driver().config.probeResult = answer;
        EXPECT_EQ(QX_TINTRA_IsSupported(), answer > 0);
        EXPECT_EQ(g_bTintraSupported, answer > 0);
    }
    driver().config.utilEscape = false;
    driver().config.probeResult = 1;
    EXPECT_FALSE(QX_UTIL_IsSupported() || g_bUtilSupported);
    driver().records.clear();
    EXPECT_FALSE(QX_UTIL_GetChipId(&chip));
    EXPECT_TRUE(driver().records.empty());
    // A probe without a device context leaves the flag.
    g_bTintraSupported = TRUE;
    ASSERT_TRUE(SetDisplayDeviceName("\\\\.\\NOSUCHDEVICE"));
    EXPECT_FALSE(QX_TINTRA_IsSupported());
    EXPECT_TRUE(g_bTintraSupported);
    EXPECT_TRUE(driver().records.empty());
}

TEST_F(DriverEscapes, DeviceNameRule)
{
    EXPECT_FALSE(SetDisplayDeviceName(nullptr) || SetDisplayDeviceName(""));
    ASSERT_TRUE(QX_UTIL_IsSupported());
    EXPECT_EQ(driver().dcOpened.back(), "");  // CreateDCA("DISPLAY", null, ...)
    ASSERT_TRUE(SetDisplayDeviceName("\\\\.\\DISPLAY2"));
    EXPECT_FALSE(SetDisplayDeviceName(""));  // leaves the name as it was
    ASSERT_TRUE(QX_UTIL_IsSupported());
    EXPECT_EQ(driver().dcOpened.back(), "\\\\.\\DISPLAY2");
    EXPECT_EQ(driver().records.back().device, "\\\\.\\DISPLAY2");
    ASSERT_TRUE(SetDisplayDeviceName(std::string(300, 'x').c_str()));
    EXPECT_EQ(strlen(g_szDisplayDevice), 255u);
}

TEST_F(DriverEscapes, EveryRequestIsByteExact)
{
    ASSERT_TRUE(QX_UTIL_IsSupported() && QX_TINTRA_IsSupported());
    sim::DriverConfig& c = driver().config;
    c.caps = 0x339;
    c.maxLevel[0x10] = 9;
    c.curEffects = c.pairs[0] = 0x8;
    c.pairs[1] = 3;
    c.chipId = 0x1234ABCD;
    c.pciDeviceId = 0x5A11, c.pciSubVendorId = 0x1AB2, c.pciSubSystemId = 0x42, c.pciRevisionId = 7;
    c.driverKey = "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0001";
    DWORD caps = 0, level = 0, cur = 0, num = 0, chip = 0;
    QX_EFFECT_PAIR pairs[2] = {}, pair = { 0x8, 3 };
    QX_EFFECT_PAIR five[5] = { { 1, 1 }, { 8, 2 }, { 16, 3 }, { 32, 4 }, { 256, 5 } };
    QX_PCI_INFO pci = {};
    BYTE key[QX_DRIVER_KEY_BYTES];
    const struct {
        std::function<BOOL()> call;
        int escape;
        std::vector<BYTE> input;
        int cbOut;
        BOOL ok = TRUE;  // what the simulated driver makes of it
    } requests[] = {
        { [&] { return QX_TINTRA_QueryArtisticEffectCaps(&caps); }, 0x3200, Words({ 0 }), 4 },
        { [&] { return QX_TINTRA_QueryArtisticEffectCaps(nullptr); }, 0x3200, Words({ 0 }), 4 },
        { [&] { return QX_TINTRA_GetEffectMaxLevel(0x10, &level); }, 0x3200, Words({ 1, 0x10 }), 4 },
        { [&] { return QX_TINTRA_GetCurrentEffects(&cur, &num, pairs); }, 0x3200, Words({ 5 }), 24 },
        { [&] { return QX_TINTRA_SetCurrentEffects(1, &pair); }, 0x3200, Words({ 4, 1, 8, 3, 0, 0, 0, 0, 0, 0 }), 0 },
        // Zero or negative counts go out as given, with no pairs; four fill the record.
        { [&] { return QX_TINTRA_SetCurrentEffects(0, &pair); }, 0x3200, Words({ 4, 0, 0, 0, 0, 0, 0, 0, 0, 0 }), 0 },
        { [&] { return QX_TINTRA_SetCurrentEffects(-1, &pair); }, 0x3200, Words({ 4, ~0u, 0, 0, 0, 0, 0, 0, 0, 0 }), 0, FALSE },
        { [&] { return QX_TINTRA_SetCurrentEffects(4, five); }, 0x3200, Words({ 4, 4, 1, 1, 8, 2, 16, 3, 32, 4 }), 0 },
        { [&] { return QX_UTIL_GetChipId(&chip); }, 0x3000, Words({ 0x5F }), 16 },
        { [&] { return QX_UTIL_GetPciInfo(&pci); }, 0x3000, Words({ 0x6A, 16 }), 16 },
        { [&] { return QX_UTIL_GetPciInfo(nullptr); }, 0x3000, Words({ 0x6A, 16 }), 16 },
        { [&] { return QX_UTIL_QueryDriverKeyEscape(key); }, 0x3000, Words({ 0x69 }), 256 },
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(&r - requests);
        driver().records.clear();
        EXPECT_EQ(r.call(), r.ok);
        ASSERT_EQ(driver().records.size(), 1u);
        const sim::EscapeRecord& got = driver().records[0];
        EXPECT_EQ(std::tie(got.escape, got.input, got.cbOut), std::tie(r.escape, r.input, r.cbOut));
        EXPECT_EQ(got.cbIn, static_cast<int>(r.input.size()));
        EXPECT_EQ(got.outNull, r.cbOut == 0);
    }
    EXPECT_EQ(std::make_tuple(caps, level, cur, num, pairs[0].dwEffect, pairs[0].dwLevel, chip),
        std::make_tuple(0x339u, 9u, 0x8u, 1u, 0x8u, 3u, 0x1234ABCDu));
    EXPECT_EQ(std::make_tuple(pci.wDeviceId, pci.wSubVendorId, pci.wSubSystemId, pci.wRevisionId),
        std::make_tuple(0x5A11, 0x1AB2, 0x42, 7));
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(key), L"{4D36E968-E325-11CE-BFC1-08002BE10318}\\0001");
    // Without a pair array the mask and the count still arrive; a fifth pair
    // has no room, so that request is refused.
    c.curEffects = 0x200;
    EXPECT_TRUE(QX_TINTRA_GetCurrentEffects(&cur, &num, nullptr));
    EXPECT_EQ(cur, 0x200u);
    driver().records.clear();
    EXPECT_FALSE(QX_TINTRA_SetCurrentEffects(5, five));
    EXPECT_TRUE(driver().records.empty());

    // Refused functions write no output, whatever the refusal.
    for (int result : { 0, -1, 2 }) {
        SCOPED_TRACE(result);
        for (DWORD fn : { 0u, 1u, 4u, 5u })
            c.tintraResults[fn] = result;
        for (DWORD fn : { 0x5Fu, 0x69u, 0x6Au })
            c.utilResults[fn] = result;
        caps = 11, level = 0, cur = 12, num = 13, chip = 14;
        pairs[1] = { 15, 18 };
        memset(&pci, 0x77, sizeof pci);
        EXPECT_FALSE(QX_TINTRA_QueryArtisticEffectCaps(&caps) || QX_TINTRA_GetEffectMaxLevel(0x10, &level)
            || QX_TINTRA_GetCurrentEffects(&cur, &num, pairs) || QX_TINTRA_SetCurrentEffects(1, &pair)
            || QX_UTIL_GetChipId(&chip) || QX_UTIL_GetPciInfo(&pci) || QX_UTIL_QueryDriverKeyEscape(key));
        // level stays 0: the page's preset stands, so it hides the slider.
        EXPECT_EQ(std::make_tuple(caps, level, cur, num, pairs[1].dwLevel, chip, pci.wDeviceId),
            std::make_tuple(11u, 0u, 12u, 13u, 18u, 14u, 0x7777));
        EXPECT_EQ(key[0] | key[255], 0) << "zero-filled: read as no answer";
    }
}

TEST_F(DriverEscapes, SupportCheck)
{
    const Strings probes = { "QUERYESCSUPPORT 0x3000 -> 1", "QUERYESCSUPPORT 0x3200 -> 1" };
    // The served families are known by the PCI identity; the chip-id answer
    // (naming no chip) is not asked.
    for (DWORD family : { CHIP_FAMILY_PRIMARY, CHIP_FAMILY_KP }) {
        Restart();
        UseFamily(family);
        driver().config.chipId = 0x0BAD;
        EXPECT_TRUE(CheckSupport());
        EXPECT_EQ(g_dwChipFamily, family);
        EXPECT_EQ(Requests(), (Strings { probes[0], probes[1], "GET_PCI_INFO -> 1" }));
        EXPECT_EQ(driver().records.back().cbIn + driver().records.back().cbOut, 8 + 16);
    }
    // Either escape missing: refused before the chip is asked; the family of
    // an earlier start-up stands.
    for (bool util : { false, true }) {
        Restart();
        driver().config.utilEscape = util;
        driver().config.tintraEscape = !util;
        g_dwChipFamily = 7;
        EXPECT_FALSE(CheckSupport());
        EXPECT_EQ(Requests().back(), util ? "QUERYESCSUPPORT 0x3200 -> 0" : "QUERYESCSUPPORT 0x3000 -> 0");
        EXPECT_EQ(driver().records.size(), util ? 2u : 1u);
        EXPECT_EQ(g_dwChipFamily, 7u);
    }
    // A failed PCI request (whatever it answered) falls back to the chip word,
    // taken whole.
    driver().config.utilEscape = driver().config.tintraEscape = true;
    driver().config.pciDeviceId = 0x0BAD;
    for (int failure : { 0, 2, -1 }) {
        Restart();
        driver().config.utilResults[QX_UTIL_FN_GET_PCI_INFO] = failure;
        driver().config.chipId = 0x5120;
        EXPECT_TRUE(CheckSupport());
        EXPECT_EQ(g_dwChipFamily, CHIP_FAMILY_PRIMARY);
        EXPECT_EQ(Requests(), (Strings { probes[0], probes[1], "GET_PCI_INFO -> " + std::to_string(failure), "GET_CHIP_ID -> 1" }));
        EXPECT_EQ(driver().records.back().cbOut, 16);
    }
    Restart();
    driver().config.chipId = 0x00015120;
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    EXPECT_FALSE(CheckSupport());
    EXPECT_EQ(g_dwChipFamily, 0u);
    // No identity at all leaves the family alone.
    Restart();
    driver().config.utilResults[QX_UTIL_FN_GET_CHIP_ID] = 2;
    g_dwChipFamily = 9;
    EXPECT_FALSE(CheckSupport());
    EXPECT_EQ(g_dwChipFamily, 9u);
    // Chips of the maker's other families are recorded and refused; an
    // unknown chip is family 0.
    driver().config.utilResults.clear();
    for (DWORD family : { 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 20u, 0u }) {
        Restart();
        UseFamily(family);
        g_dwChipFamily = CHIP_FAMILY_PRIMARY;
        EXPECT_FALSE(CheckSupport()) << family;
        EXPECT_EQ(g_dwChipFamily, family);
    }
}

TEST(ChipFamilies, LookupAgreesWithTheRowsAndTakesSixteenBits)
{
    // Every identifier, the neighbours of each run included, is in the
    // family of the one row that holds it, or in none.
    for (DWORD id = 0; id <= 0xFFFF; ++id) {
        DWORD family = 0;
        int rows = 0;
        for (size_t i = 0; i < g_nChipFamilies; ++i)
            if (id >= g_aChipFamilies[i].first && id <= g_aChipFamilies[i].last)
                family = g_aChipFamilies[i].family, ++rows;
        ASSERT_LE(rows, 1) << id;
        ASSERT_EQ(LookupChipFamily(id), family) << id;
    }
    EXPECT_EQ(LookupChipFamily(0x10000u | g_aChipFamilies[0].first), 0u);
    EXPECT_EQ(LookupChipFamily(0xFFFFFFFFu), 0u);
}

// ---- the driver's registry key ----------------------------------------------------

constexpr char kPci[] = "Enum\\PCI";

// Adds instance `instance` of device key `device` below HKLM\Enum\PCI with
// a "Driver" value of that type and bytes (none when `bytes` is null).
// Parts are made one by one: a device key name may be 255 characters.
void AddDevice(const std::string& device, const char* instance, const char* bytes, DWORD type = REG_SZ, int size = -1)
{
    HKEY pci = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPci, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &pci, nullptr), 0);
    const std::string value = bytes ? std::string(bytes, size < 0 ? strlen(bytes) + 1 : size) : "";
    qxtest::SetReg(pci, device + "\\" + instance, bytes ? "Driver" : "DeviceDesc", type, value);
    RegCloseKey(pci);
}

// The search for vendor 0x5158: the name found, or "<none>" after checking
// the buffer was left untouched.
std::string Find(DWORD device, DWORD revision = 1, DWORD subVendor = 0x5158, DWORD subSystem = 0x100)
{
    char out[256];
    memset(out, 0xCC, sizeof out);
    if (FindPciDriverKey(QX_PCI_VENDOR_ID, device, revision, subVendor, subSystem, out))
        return out;
    for (BYTE b : out)
        if (b != 0xCC)
            return "<buffer written>";
    return "<none>";
}

class DriverKey : public DriverEscapes {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kPci);
        UseFamily(CHIP_FAMILY_PRIMARY);
        ASSERT_TRUE(QX_UTIL_IsSupported());
        driver().records.clear();
        g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    }
    void TearDown() override
    {
        qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kPci);
        szQxByChipKey[0] = '\0';
        DriverTest::TearDown();
    }
    // The name QX_UTIL_GetDriverKeyName found (UTF-16 when `wide`), or "<none>".
    std::string Name(bool wide = false)
    {
        BYTE out[QX_DRIVER_KEY_BYTES];
        memset(out, 0xCC, sizeof out);
        if (!QX_UTIL_GetDriverKeyName(out))
            return out[0] | out[1] ? "<garbage>" : "<none>";
        if (!wide || !(out[0] | out[1]))
            return out[0] || !out[1] ? reinterpret_cast<const char*>(out) : "<half empty>";
        std::string s;
        for (const WCHAR* w = reinterpret_cast<const WCHAR*>(out); *w; ++w)
            s += static_cast<char>(*w);
        return s;
    }
    // InitRegKeyVars, which succeeds, and the key it leaves.
    std::string Key()
    {
        EXPECT_TRUE(InitRegKeyVars());
        return szQxByChipKey;
    }
    static std::string Service(const std::string& name) { return "HKLM\\System\\CurrentControlSet\\Services\\" + name + "\\Device0"; }
    static std::string Class(const std::string& name, const char* family = "")
    {
        return "HKLM\\System\\CurrentControlSet\\Services\\Class\\" + name + "\\Utils\\" + family + "QxTintra";
    }
    // The PCI identity UseChipOfFamily gives the simulated adapter.
    static constexpr char kOwnDevice[] = "VEN_5158&DEV_5100&SUBSYS_01005158&REV_01";
};

TEST_F(DriverKey, PciSearchMatchesDeviceRevisionAndSubsystem)
{
    AddDevice("VEN_5158&DEV_5100", "0000", "DISPLAY\\0003");
    AddDevice("VEN_5158&DEV_5101&SUBSYS_01005158&REV_02", "0000", "DISPLAY\\0004");
    AddDevice("VEN_5158&DEV_5102&REV_021", "0000", "DISPLAY\\0005");
    AddDevice("ven_5158&dev_51ab&subsys_01005158&rev_07", "0000", "DISPLAY\\0006");
    AddDevice("VEN_5158&DEV_5110&SUBSYS_00015158&REV_01", "0000", "DISPLAY\\0001");
    AddDevice("VEN_5158&DEV_5110&SUBSYS_01005158&REV_01", "0000", "DISPLAY\\0002");
    AddDevice("VEN_5158&DEV_5111&REV_01", "0000", "DISPLAY\\0007");
    AddDevice("VEN_5158&DEV_5120", "0000", "DISPLAY\\0010");  // both match; the shorter name comes first
    AddDevice("VEN_5158&DEV_5120&SUBSYS_01005158&REV_01", "0000", "DISPLAY\\0011");
    AddDevice("VEN_5158&DEV_5128", "0000", nullptr);  // the first instance has no "Driver": no other is asked
    AddDevice("VEN_5158&DEV_5128", "0001", "DISPLAY\\0012");
    qxtest::SetReg(HKEY_LOCAL_MACHINE, std::string(kPci) + "\\VEN_5158&DEV_5200", nullptr, 0, "");  // no instance
    const std::string longest = "VEN_5158&DEV_5400&SUBSYS_01005158";
    AddDevice(longest + std::string(255 - longest.size(), 'x'), "0000", "DISPLAY\\0042");
    const std::string text = "DISPLAY\\0001";
    AddDevice("VEN_5158&DEV_5300", "0000", text.c_str(), REG_BINARY);  // a Driver value must be a string
    AddDevice("VEN_5158&DEV_5301", "0000", text.c_str(), REG_EXPAND_SZ);
    AddDevice("VEN_5158&DEV_5302", "0000", "\1\0\0\0", REG_DWORD, 4);
    AddDevice("VEN_5158&DEV_5303", "0000", std::string(255, 'k').c_str());  // with its terminator, 256 bytes fit
    AddDevice("VEN_5158&DEV_5304", "0000", std::string(300, 'k').c_str());
    AddDevice("VEN_5158&DEV_5305", "0000", std::string(256, 'u').c_str(), REG_SZ, 256);  // no room for the terminator
    AddDevice("VEN_5158&DEV_5306", "0000", "DISPLAY\\0009", REG_SZ, 12);  // short and unterminated: as it is

    const struct {
        DWORD device, revision, subVendor, subSystem;
        std::string expected;
    } queries[] = {
        // No "&REV_": any revision. Identifiers count by their low 16 bits.
        { 0x5100, 0x00, 0x5158, 0x0100, "DISPLAY\\0003" }, { 0x5100, 0x3C, 0x1234, 0x5678, "DISPLAY\\0003" },
        { 0xABC5100, 0, 0x5158, 0x100, "DISPLAY\\0003" }, { 0x5101, 2, 0x5158, 0x100, "DISPLAY\\0004" },
        { 0x5101, 1, 0x5158, 0x100, "<none>" },
        // After "&REV_" the two digits exactly.
        { 0x5102, 0x02, 0x5158, 0x100, "<none>" }, { 0x5102, 0x21, 0x5158, 0x100, "<none>" },
        // The device part matches in any case; the markers are looked for in
        // upper case only, so a lower-case name matches any revision and subsystem.
        { 0x51AB, 0x99, 0x1111, 0x2222, "DISPLAY\\0006" }, { 0x5103, 2, 0x5158, 0x100, "<none>" },
        // The subsystem pattern is the subsystem identifier, then its vendor.
        { 0x5110, 1, 0x5158, 0x0100, "DISPLAY\\0002" }, { 0x5110, 1, 0x5158, 0x0001, "DISPLAY\\0001" },
        { 0x5110, 1, 0x0100, 0x5158, "<none>" }, { 0x5110, 1, 0x5158, 0x0200, "<none>" },
        { 0x5111, 1, 0xAAAA, 0xBBBB, "DISPLAY\\0007" }, { 0x5120, 1, 0x5158, 0x100, "DISPLAY\\0010" },
        { 0x5128, 1, 0x5158, 0x100, "<none>" }, { 0x5200, 1, 0x5158, 0x100, "<none>" },
        { 0x5400, 1, 0x5158, 0x100, "DISPLAY\\0042" },
        { 0x5300, 0, 0, 0, "<none>" }, { 0x5301, 0, 0, 0, "<none>" }, { 0x5302, 0, 0, 0, "<none>" },
        { 0x5303, 0, 0, 0, std::string(255, 'k') }, { 0x5304, 0, 0, 0, "<none>" }, { 0x5305, 0, 0, 0, "<none>" },
        { 0x5306, 0, 0, 0, "DISPLAY\\0009" },
    };
    for (const auto& q : queries)
        EXPECT_EQ(Find(q.device, q.revision, q.subVendor, q.subSystem), q.expected)
            << std::hex << q.device << " rev " << q.revision << " subsys " << q.subSystem << q.subVendor;
}

TEST_F(DriverKey, DriverAnswerFirstThenTheRegistry)
{
    driver().config.driverKey = "qxdisp";
    EXPECT_EQ(Name(true), "qxdisp");
    EXPECT_EQ(Requests(), Strings { "GET_DRIVER_KEY -> 1" });
    EXPECT_EQ(driver().records[0].cbIn + driver().records[0].cbOut, 4 + QX_DRIVER_KEY_BYTES);

    // A silent driver, or an empty answer: the registry search stands in.
    AddDevice(kOwnDevice, "0000", "DISPLAY\\0004");
    driver().records.clear();
    driver().config.utilResults[QX_UTIL_FN_GET_DRIVER_KEY] = 0;
    EXPECT_EQ(Name(), "DISPLAY\\0004");
    EXPECT_EQ(Requests(), (Strings { "GET_DRIVER_KEY -> 0", "GET_PCI_INFO -> 1" }));
    driver().config.utilResults.clear();
    driver().config.driverKey = "";
    EXPECT_EQ(Name(), "DISPLAY\\0004");

    // Nothing found: the name comes back empty, an answer all the same;
    // neither request succeeding, or no utility escape, is no answer.
    driver().config.pciDeviceId = 0x0BAD;
    EXPECT_EQ(Name(), "");
    driver().config.utilResults[QX_UTIL_FN_GET_DRIVER_KEY] = -1;
    driver().config.utilResults[QX_UTIL_FN_GET_PCI_INFO] = 2;
    EXPECT_EQ(Name(), "<none>");
    driver().records.clear();
    g_bUtilSupported = FALSE;
    EXPECT_EQ(Name(), "<none>");
    EXPECT_TRUE(driver().records.empty()) << "a driver without the utility escape is not asked at all";
}

TEST_F(DriverKey, KeyPathByClassOfWindows)
{
    qxtest::PlayWindows windows;
    ASSERT_TRUE(windows.recorder.installed());
    // The NT class reads a UTF-16 service name; 127 units and the
    // terminator fill the reply.
    driver().config.driverKey = "abc";
    const struct {
        DWORD major, minor;
        WORD servicePack;
        DWORD os;
    } nt[] = { { 4, 0, 0, QX_OS_NT4 }, { 5, 0, 0, QX_OS_WIN2000 }, { 5, 1, 2, QX_OS_WINXP_SP } };
    for (const auto& v : nt) {
        windows.major = v.major, windows.minor = v.minor, windows.servicePack = v.servicePack;
        EXPECT_EQ(Key(), Service("abc"));
        EXPECT_EQ(g_dwOsVersion, v.os);
    }
    driver().config.driverKey = std::string(127, 'w');
    EXPECT_EQ(Key(), Service(std::string(127, 'w')));
    driver().config.driverKey = "";  // and nothing in the registry: the earlier key stays
    EXPECT_EQ(Key(), Service(std::string(127, 'w')));
    // Only the basic structure: no service pack is seen.
    windows.extendedFails = true;
    driver().config.driverKey = "qxdisp";
    EXPECT_EQ(Key(), Service("qxdisp"));
    EXPECT_EQ(g_dwOsVersion, QX_OS_WINXP);
    // No version at all: class 0, the display class key from an ANSI name.
    windows.basicFails = true;
    driver().config.driverKeyUnicode = false;
    EXPECT_EQ(Key(), Class("qxdisp"));
    EXPECT_EQ(g_dwOsVersion, QX_OS_UNKNOWN);

    windows.basicFails = windows.extendedFails = false;
    windows.platform = VER_PLATFORM_WIN32_WINDOWS, windows.major = 4, windows.minor = 10, windows.build = 0x040A07CE;
    driver().config.driverKey = "0001";
    EXPECT_EQ(Key(), Class("0001"));
    EXPECT_EQ(g_dwOsVersion, QX_OS_WIN98);
    g_dwChipFamily = CHIP_FAMILY_KP;
    EXPECT_EQ(Key(), Class("0001", "Kp\\"));
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    // A silent driver: the name the registry search found.
    AddDevice(kOwnDevice, "0000", "DISPLAY\\0002");
    driver().config.utilResults[QX_UTIL_FN_GET_DRIVER_KEY] = 0;
    EXPECT_EQ(Key(), Class("DISPLAY\\0002"));
    driver().config.utilResults.clear();
    // 127 characters are taken; 128 are refused, not cut, and so is an
    // empty name: the earlier key stays.
    driver().config.driverKey = std::string(127, 'n');
    EXPECT_EQ(Key(), Class(std::string(127, 'n')));
    qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kPci);
    for (const std::string& name : { std::string(128, 'n'), std::string(255, 'n'), std::string() }) {
        lstrcpyA(szQxByChipKey, "earlier");
        driver().config.driverKey = name;
        EXPECT_EQ(Key(), "earlier") << name.size();
    }
    // An unrecognised system (NT 6) counts as an older one: a UTF-16 answer
    // read as ANSI ends after its first letter.
    windows.platform = VER_PLATFORM_WIN32_NT, windows.major = 6, windows.minor = 0;
    driver().config.driverKeyUnicode = true;
    driver().config.driverKey = "abc";
    EXPECT_EQ(Key(), Class("a"));
    EXPECT_EQ(g_dwOsVersion, QX_OS_UNKNOWN);

    // 256 bytes and no terminator, read either way: the earlier key stays.
    qxtest::Recorder<decltype(&ExtEscape)> full("ExtEscape", qxtest::ProgramModule());
    full.answer = [&](HDC dc, int escape, int cbIn, LPCSTR in, int cbOut, LPSTR out) {
        if (escape != QX_UTIL_ESCAPE || *reinterpret_cast<const DWORD*>(in) != QX_UTIL_FN_GET_DRIVER_KEY)
            return full.Next(dc, escape, cbIn, in, cbOut, out);
        memset(out, 'A', QX_DRIVER_KEY_BYTES);
        return 1;
    };
    ASSERT_TRUE(full.installed());
    for (DWORD major : { 6u, 5u }) {
        windows.major = major;
        lstrcpyA(szQxByChipKey, "earlier");
        EXPECT_EQ(Key(), "earlier") << major;
    }
}

} // namespace
