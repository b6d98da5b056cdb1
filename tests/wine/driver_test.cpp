// The display driver side: the escape gate and the byte layout of every
// request, the support check, and the driver's registry key (the driver's own
// answer, the PCI enumeration search, the key path per class of Windows).
#include "qxtest.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>

#include "chips.h"
#include "config/system_services.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "driver/support.h"

namespace {

using Strings = std::vector<std::string>;

std::vector<BYTE> Words(std::initializer_list<DWORD> w) { return std::vector<BYTE>(reinterpret_cast<const BYTE*>(w.begin()), reinterpret_cast<const BYTE*>(w.end())); }

class DriverEscapes : public qxtest::DriverTest {};

TEST_F(DriverEscapes, GateProbesAndDeviceName)
{
    DWORD request = 0, caps = 0xABCD, level = 7, chip = 9;
    EXPECT_EQ(CallDriverEscape(0x3100, 4, &request, 0, nullptr) + CallDriverEscape(QUERYESCSUPPORT, 4, &request, 0, nullptr), 0);
    // Before the probes every function escape is refused without a DC.
    EXPECT_FALSE(QX_TINTRA_QueryArtisticEffectCaps(&caps) || QX_TINTRA_GetEffectMaxLevel(1, &level) || QX_UTIL_GetChipId(&chip));
    EXPECT_EQ(std::make_tuple(caps, level, driver().dcCreateCalls), std::make_tuple(0xABCDu, 7u, 0));
    EXPECT_TRUE(QX_UTIL_IsSupported() && QX_TINTRA_IsSupported() && g_bUtilSupported && g_bTintraSupported);
    const sim::EscapeRecord& probe = driver().records.at(1);
    EXPECT_EQ(std::make_tuple(driver().records.size(), probe.escape, probe.cbIn, probe.outNull, probe.input), std::make_tuple(size_t(2), QUERYESCSUPPORT, 4, true, Words({ 0x3200 })));
    // Any positive answer means implemented; zero or negative does not, and closes the gate.
    for (int answer : { 2, -1 }) {
        driver().config.probeResult = answer;
        EXPECT_EQ(QX_TINTRA_IsSupported() * 10 + g_bTintraSupported, answer > 0 ? 11 : 0);
    }
    driver().config.utilEscape = false, driver().config.probeResult = 1;
    EXPECT_FALSE(QX_UTIL_IsSupported() || g_bUtilSupported);
    driver().records.clear();
    EXPECT_FALSE(QX_UTIL_GetChipId(&chip) || !driver().records.empty());
    // A probe without a device context leaves the flag.
    g_bTintraSupported = TRUE;
    ASSERT_TRUE(SetDisplayDeviceName("\\\\.\\NOSUCHDEVICE"));
    EXPECT_TRUE(!QX_TINTRA_IsSupported() && g_bTintraSupported && driver().records.empty());
    // The device: null or empty names are refused and leave the name as it was; names are cut to 255.
    driver().config.utilEscape = true;
    EXPECT_TRUE(SetDisplayDeviceName("\\\\.\\DISPLAY2") && !SetDisplayDeviceName(nullptr) && !SetDisplayDeviceName("") && QX_UTIL_IsSupported());
    EXPECT_EQ(driver().dcOpened.back() + driver().records.back().device, "\\\\.\\DISPLAY2\\\\.\\DISPLAY2");
    EXPECT_TRUE(SetDisplayDeviceName(std::string(300, 'x').c_str()) && strlen(g_szDisplayDevice) == 255);
}

TEST_F(DriverEscapes, EveryRequestIsByteExact)
{
    ASSERT_TRUE(QX_UTIL_IsSupported() && QX_TINTRA_IsSupported());
    sim::DriverConfig& c = driver().config;
    c.caps = 0x339, c.maxLevel[0x10] = 9, c.curEffects = c.pairs[0] = 0x8, c.pairs[1] = 3, c.chipId = 0x1234ABCD;
    c.pciDeviceId = 0x5A11, c.pciSubVendorId = 0x1AB2, c.pciSubSystemId = 0x42, c.pciRevisionId = 7;
    c.driverKey = "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0001";
    DWORD caps = 0, level = 0, cur = 0, num = 0, chip = 0;
    QX_EFFECT_PAIR pairs[2] = {}, pair = { 0x8, 3 }, five[5] = { { 1, 1 }, { 8, 2 }, { 16, 3 }, { 32, 4 }, { 256, 5 } };
    QX_PCI_INFO pci = {};
    BYTE key[QX_DRIVER_KEY_BYTES];
    const struct { std::function<BOOL()> call; int escape; std::vector<BYTE> input; int cbOut; BOOL ok = TRUE; /* the simulated driver's verdict */ } requests[] = {
        { [&] { return QX_TINTRA_QueryArtisticEffectCaps(&caps); }, 0x3200, Words({ 0 }), 4 },
        { [&] { return QX_TINTRA_GetEffectMaxLevel(0x10, &level); }, 0x3200, Words({ 1, 0x10 }), 4 },
        { [&] { return QX_TINTRA_GetCurrentEffects(&cur, &num, pairs); }, 0x3200, Words({ 5 }), 24 },
        { [&] { return QX_TINTRA_SetCurrentEffects(1, &pair); }, 0x3200, Words({ 4, 1, 8, 3, 0, 0, 0, 0, 0, 0 }), 0 },
        // Negative counts go out as given, with no pairs; four fill the record.
        { [&] { return QX_TINTRA_SetCurrentEffects(-1, &pair); }, 0x3200, Words({ 4, ~0u, 0, 0, 0, 0, 0, 0, 0, 0 }), 0, FALSE },
        { [&] { return QX_TINTRA_SetCurrentEffects(4, five); }, 0x3200, Words({ 4, 4, 1, 1, 8, 2, 16, 3, 32, 4 }), 0 },
        { [&] { return QX_UTIL_GetChipId(&chip); }, 0x3000, Words({ 0x5F }), 16 },
        { [&] { return QX_UTIL_GetPciInfo(&pci); }, 0x3000, Words({ 0x6A, 16 }), 16 },
        { [&] { return QX_UTIL_QueryDriverKeyEscape(key); }, 0x3000, Words({ 0x69 }), 256 },
    };
    for (const auto& r : requests) {
        driver().records.clear();
        EXPECT_EQ(r.call(), r.ok) << &r - requests;
        const sim::EscapeRecord& got = driver().records.at(0);
        EXPECT_EQ(std::make_tuple(got.escape, got.input, got.cbIn, got.cbOut, got.outNull), std::make_tuple(r.escape, r.input, int(r.input.size()), r.cbOut, r.cbOut == 0)) << &r - requests;
    }
    EXPECT_EQ(std::make_tuple(caps, level, cur, num, pairs[0].dwEffect, pairs[0].dwLevel, chip), std::make_tuple(0x339u, 9u, 0x8u, 1u, 0x8u, 3u, 0x1234ABCDu));
    EXPECT_EQ(std::make_tuple(pci.wDeviceId, pci.wSubVendorId, pci.wSubSystemId, pci.wRevisionId), std::make_tuple(0x5A11, 0x1AB2, 0x42, 7));
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(key), L"{4D36E968-E325-11CE-BFC1-08002BE10318}\\0001");
    // Without a pair array the mask and the count still arrive; a fifth pair has no room, so is refused before it is sent.
    c.curEffects = 0x200, driver().records.clear();
    EXPECT_TRUE(QX_TINTRA_GetCurrentEffects(&cur, &num, nullptr) && cur == 0x200 && !QX_TINTRA_SetCurrentEffects(5, five) && driver().records.size() == 1);
    // Refused functions write no output, whatever the refusal.
    for (int result : { 0, -1, 2 }) {
        c.tintraResults = { { 0, result }, { 1, result }, { 4, result }, { 5, result } }, c.utilResults = { { 0x5F, result }, { 0x69, result }, { 0x6A, result } };
        caps = 11, level = 0, cur = 12, num = 13, chip = 14, pairs[1] = { 15, 18 }, memset(&pci, 0x77, sizeof pci);
        EXPECT_FALSE(QX_TINTRA_QueryArtisticEffectCaps(&caps) || QX_TINTRA_GetEffectMaxLevel(0x10, &level) || QX_TINTRA_GetCurrentEffects(&cur, &num, pairs)
            || QX_TINTRA_SetCurrentEffects(1, &pair) || QX_UTIL_GetChipId(&chip) || QX_UTIL_GetPciInfo(&pci) || QX_UTIL_QueryDriverKeyEscape(key));
        // level stays 0: the page's preset stands, so it hides the slider; the key is zero-filled, read as no answer.
        EXPECT_EQ(std::make_tuple(caps, level, cur, num, pairs[1].dwLevel, chip, pci.wDeviceId, key[0] | key[255]), std::make_tuple(11u, 0u, 12u, 13u, 18u, 14u, 0x7777, 0)) << result;
    }
}

TEST_F(DriverEscapes, SupportCheck)
{
    const std::string probes = "QUERYESCSUPPORT 0x3000 -> 1, QUERYESCSUPPORT 0x3200 -> 1, ";
    // family: of the adapter's chip (0: in no family); probe, pci, chip: answers; pciDevice, chipId: other than the family's chip.
    const struct { DWORD family; bool util = true, tintra = true; int probe = 1, pci = 1, chip = 1; DWORD pciDevice = 0, chipId = 0; BOOL supported;
        DWORD familyAfter; /* starting from 7 */ std::string requests = ""; } cases[] = {
        // The served families are known by the PCI identity; the chip id (of no chip) is not asked.
        { .family = CHIP_FAMILY_PRIMARY, .chipId = 0x0BAD, .supported = TRUE, .familyAfter = 15, .requests = probes + "GET_PCI_INFO -> 1" },
        { .family = CHIP_FAMILY_KP, .chipId = 0x0BAD, .supported = TRUE, .familyAfter = 21 }, { .family = CHIP_FAMILY_PRIMARY, .probe = 2, .supported = TRUE, .familyAfter = 15 },
        // Either escape missing: refused before the chip is asked; the earlier family stands.
        { .family = CHIP_FAMILY_PRIMARY, .util = false, .supported = FALSE, .familyAfter = 7, .requests = "QUERYESCSUPPORT 0x3000 -> 0" },
        { .family = CHIP_FAMILY_PRIMARY, .tintra = false, .supported = FALSE, .familyAfter = 7, .requests = "QUERYESCSUPPORT 0x3000 -> 1, QUERYESCSUPPORT 0x3200 -> 0" },
        { .family = CHIP_FAMILY_PRIMARY, .probe = -1, .supported = FALSE, .familyAfter = 7, .requests = "QUERYESCSUPPORT 0x3000 -> -1" },
        // A failed PCI request, whatever it answered, falls back to the chip word, taken whole.
        { .family = CHIP_FAMILY_PRIMARY, .pci = 0, .pciDevice = 0x0BAD, .chipId = 0x5120, .supported = TRUE, .familyAfter = 15, .requests = probes + "GET_PCI_INFO -> 0, GET_CHIP_ID -> 1" },
        { .family = CHIP_FAMILY_PRIMARY, .pci = 2, .pciDevice = 0x0BAD, .chipId = 0x5120, .supported = TRUE, .familyAfter = 15, .requests = probes + "GET_PCI_INFO -> 2, GET_CHIP_ID -> 1" },
        { .family = CHIP_FAMILY_PRIMARY, .pci = 0, .chipId = 0x15120, .supported = FALSE, .familyAfter = 0 },
        // No identity at all leaves the family alone.
        { .family = CHIP_FAMILY_KP, .pci = 0, .chip = 2, .supported = FALSE, .familyAfter = 7, .requests = probes + "GET_PCI_INFO -> 0, GET_CHIP_ID -> 2" },
        // Chips of the maker's other families are recorded and refused; an unknown chip is family 0.
        { .family = 6, .supported = FALSE, .familyAfter = 6 }, { .family = 14, .supported = FALSE, .familyAfter = 14 },
        { .family = 20, .supported = FALSE, .familyAfter = 20 }, { .family = 0, .supported = FALSE, .familyAfter = 0 } };
    auto joined = [](const Strings& list) { return std::accumulate(list.begin(), list.end(), std::string(), [](std::string a, const std::string& b) { return a.empty() ? b : a + ", " + b; }); };
    for (const auto& c : cases) {
        qxtest::ResetModuleState(), driver().Reset();
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, c.family));
        sim::DriverConfig& d = driver().config;
        d.utilEscape = c.util, d.tintraEscape = c.tintra, d.probeResult = c.probe;
        d.utilResults = { { QX_UTIL_FN_GET_PCI_INFO, c.pci }, { QX_UTIL_FN_GET_CHIP_ID, c.chip } };
        d.pciDeviceId = c.pciDevice ? WORD(c.pciDevice) : d.pciDeviceId, d.chipId = c.chipId ? c.chipId : d.chipId, g_dwChipFamily = 7;
        EXPECT_EQ(std::make_pair(CheckSupport(), g_dwChipFamily), std::make_pair(c.supported, c.familyAfter)) << &c - cases;
        EXPECT_TRUE(c.requests.empty() || joined(Requests()) == c.requests) << &c - cases << ": " << joined(Requests());
        EXPECT_TRUE(!c.supported || driver().records.back().cbOut == 16) << &c - cases;
    }
    EXPECT_EQ(driver().records[2].cbIn, 8) << "the PCI request";
}

// ---- the driver's registry key ----------------------------------------------------

constexpr char kPci[] = "Enum\\PCI", kOwnDevice[] = "VEN_5158&DEV_5100&SUBSYS_01005158&REV_01";  // the identity UseChipOfFamily gives

// Instance `instance` of device key `device` below HKLM\Enum\PCI with a "Driver" value of that type and bytes
// (none when `bytes` is null). Parts are made one by one: a device key name may be 255 characters.
void AddDevice(const std::string& device, const char* instance, const char* bytes, DWORD type = REG_SZ, int size = -1)
{
    HKEY pci = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPci, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &pci, nullptr), 0);
    qxtest::SetReg(pci, device + "\\" + instance, bytes ? "Driver" : "DeviceDesc", type, bytes ? std::string(bytes, size < 0 ? strlen(bytes) + 1 : size) : ""), RegCloseKey(pci);
}

class DriverKey : public qxtest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp(), qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kPci);
        ConfigureSupportedDriver(g_dwChipFamily = CHIP_FAMILY_PRIMARY);
        ASSERT_TRUE(QX_UTIL_IsSupported());
        driver().records.clear();
    }
    void TearDown() override { qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kPci), szQxByChipKey[0] = '\0', DriverTest::TearDown(); }
    // What QX_UTIL_GetDriverKeyName found (UTF-16 read as ASCII), or "<none>".
    std::string Name()
    {
        BYTE out[QX_DRIVER_KEY_BYTES];
        if (!QX_UTIL_GetDriverKeyName((BYTE*)memset(out, 0xCC, sizeof out)))
            return out[0] | out[1] ? "<garbage>" : "<none>";
        const bool wide = out[0] && !out[1];  // an empty name is two zero bytes; a UTF-16 name has zero high bytes
        std::string s = !out[0] && out[1] ? "<half empty>" : "";
        for (int i = 0; i < QX_DRIVER_KEY_BYTES && out[i]; i += wide ? 2 : 1)
            s += char(out[i]);
        return wide ? s + "|wide" : s;
    }
};

TEST_F(DriverKey, PciSearchThenTheDriverAnswerFirst)
{
    const std::string longest = "VEN_5158&DEV_5400&SUBSYS_01005158", k255(255, 'k'), k300(300, 'k'), u256(256, 'u');
    const struct { std::string device; const char *instance, *bytes; DWORD type = REG_SZ; int size = -1; } devices[] = {
        { "VEN_5158&DEV_5100", "0000", "DISPLAY\\0003" }, { "VEN_5158&DEV_5101&SUBSYS_01005158&REV_02", "0000", "DISPLAY\\0004" },
        { "VEN_5158&DEV_5102&REV_021", "0000", "DISPLAY\\0005" }, { "ven_5158&dev_51ab&subsys_01005158&rev_07", "0000", "DISPLAY\\0006" },
        { "VEN_5158&DEV_5110&SUBSYS_00015158&REV_01", "0000", "DISPLAY\\0001" }, { "VEN_5158&DEV_5110&SUBSYS_01005158&REV_01", "0000", "DISPLAY\\0002" },
        { "VEN_5158&DEV_5120", "0000", "DISPLAY\\0010" }, { "VEN_5158&DEV_5120&SUBSYS_01005158&REV_01", "0000", "DISPLAY\\0011" },  // the shorter first
        { "VEN_5158&DEV_5128", "0000", nullptr }, { "VEN_5158&DEV_5128", "0001", "DISPLAY\\0012" },  // no "Driver" first: no other is asked
        { longest + std::string(255 - longest.size(), 'x'), "0000", "DISPLAY\\0042" },  // a device key name may be 255 characters
        { "VEN_5158&DEV_5300", "0000", "DISPLAY\\0001", REG_BINARY }, { "VEN_5158&DEV_5301", "0000", "DISPLAY\\0001", REG_EXPAND_SZ },  // not a string
        { "VEN_5158&DEV_5303", "0000", k255.c_str() }, { "VEN_5158&DEV_5304", "0000", k300.c_str() },
        { "VEN_5158&DEV_5305", "0000", u256.c_str(), REG_SZ, 256 }, { "VEN_5158&DEV_5306", "0000", "DISPLAY\\0009", REG_SZ, 12 } };  // unterminated
    for (const auto& d : devices)
        AddDevice(d.device, d.instance, d.bytes, d.type, d.size);
    qxtest::SetReg(HKEY_LOCAL_MACHINE, std::string(kPci) + "\\VEN_5158&DEV_5200", nullptr, 0, "");  // no instance
    const struct { DWORD device, revision, subVendor, subSystem; std::string expected; } queries[] = {
        // No "&REV_": any revision and subsystem. Identifiers count by their low 16 bits.
        { 0x5100, 0x3C, 0x1234, 0x5678, "DISPLAY\\0003" }, { 0xABC5100, 0, 0x5158, 0x100, "DISPLAY\\0003" }, { 0x5101, 2, 0x5158, 0x100, "DISPLAY\\0004" },
        { 0x5101, 1, 0x5158, 0x100, "<none>" }, { 0x5102, 0x02, 0x5158, 0x100, "<none>" },  // two digits exactly
        // The device part matches in any case; the markers only in upper case, so a lower-case name matches any revision and subsystem.
        { 0x51AB, 0x99, 0x1111, 0x2222, "DISPLAY\\0006" },
        // The subsystem pattern is the subsystem identifier, then its vendor.
        { 0x5110, 1, 0x5158, 0x0100, "DISPLAY\\0002" }, { 0x5110, 1, 0x5158, 0x0001, "DISPLAY\\0001" }, { 0x5110, 1, 0x0100, 0x5158, "<none>" },
        { 0x5110, 1, 0x1234, 0x0100, "<none>" }, { 0x5120, 1, 0x5158, 0x100, "DISPLAY\\0010" }, { 0x5128, 1, 0x5158, 0x100, "<none>" },
        { 0x5200, 1, 0x5158, 0x100, "<none>" }, { 0x5400, 1, 0x5158, 0x100, "DISPLAY\\0042" },
        // A Driver value must be a string that fits 256 bytes with its terminator; a short unterminated one is taken as it is.
        { 0x5300, 0, 0, 0, "<none>" }, { 0x5301, 0, 0, 0, "<none>" }, { 0x5303, 0, 0, 0, std::string(255, 'k') }, { 0x5304, 0, 0, 0, "<none>" },
        { 0x5305, 0, 0, 0, "<none>" }, { 0x5306, 0, 0, 0, "DISPLAY\\0009" } };
    // The search for vendor 0x5158: the name found, or "<none>" after checking the buffer was left untouched.
    for (const auto& q : queries) {
        char out[256];
        const bool found = FindPciDriverKey(QX_PCI_VENDOR_ID, q.device, q.revision, q.subVendor, q.subSystem, (char*)memset(out, 0xCC, sizeof out));
        EXPECT_EQ(found ? out : std::all_of(out, out + sizeof out, [](char b) { return BYTE(b) == 0xCC; }) ? "<none>" : "<buffer written>", q.expected)
            << std::hex << q.device << " rev " << q.revision << " " << q.subSystem << q.subVendor;
    }

    // The driver's own answer first; a silent driver, or an empty answer: the registry search stands in.
    driver().config.driverKey = "qxdisp";
    EXPECT_EQ(Name(), "qxdisp|wide");
    EXPECT_EQ(Requests(), Strings { "GET_DRIVER_KEY -> 1" });
    driver().records.clear(), driver().config.utilResults[QX_UTIL_FN_GET_DRIVER_KEY] = 0;
    EXPECT_EQ(Name(), "DISPLAY\\0003");
    EXPECT_EQ(Requests(), (Strings { "GET_DRIVER_KEY -> 0", "GET_PCI_INFO -> 1" }));
    driver().config.utilResults.clear(), driver().config.driverKey = "";
    EXPECT_EQ(Name(), "DISPLAY\\0003");
    // Nothing found: the name comes back empty, an answer all the same; neither request succeeding, or no utility escape, is no answer.
    driver().config.pciDeviceId = 0x0BAD;
    EXPECT_EQ(Name(), "");
    driver().config.utilResults = { { QX_UTIL_FN_GET_DRIVER_KEY, -1 }, { QX_UTIL_FN_GET_PCI_INFO, 2 } };
    EXPECT_EQ(Name(), "<none>");
    driver().records.clear(), g_bUtilSupported = FALSE;
    EXPECT_TRUE(Name() == "<none>" && driver().records.empty()) << "a driver without the utility escape is not asked at all";
}

TEST_F(DriverKey, KeyPathByClassOfWindows)
{
    constexpr DWORD kAny = ~0u;
    const std::string w127(127, 'w'), n127(127, 'n');
    auto S = [](const std::string& name) { return name + "\\Device0"; };
    auto C = [](const std::string& name, bool kp = false) { return "Class\\" + name + "\\Utils\\" + (kp ? "Kp\\" : "") + "QxTintra"; };
    // windows: "N5.1" NT 5.1, "sp2" its service pack, "x" without the extended structure, "-" no version at all; "W4.10"
    // Windows 98. The simulated driver answers UTF-16 on the NT class only. device: in the registry from now on ("": none).
    const struct { const char* windows; std::string answer; bool silent = false, kp = false; const char* device = nullptr;
        std::string expected; /* below the services key */ DWORD os = kAny; } steps[] = {
        // The NT class reads a UTF-16 service name; 127 units and the terminator fill the reply.
        { .windows = "N4.0", .answer = "abc", .expected = S("abc"), .os = QX_OS_NT4 }, { .windows = "N5.1sp2", .answer = "abc", .expected = S("abc"), .os = QX_OS_WINXP_SP },
        { .windows = "N5.1sp2", .answer = w127, .expected = S(w127) }, { .windows = "N5.1sp2", .answer = "", .expected = S(w127) },  // nothing found: the earlier key stays
        { .windows = "N5.1sp2x", .answer = "qxdisp", .expected = S("qxdisp"), .os = QX_OS_WINXP },  // no service pack seen
        { .windows = "-", .answer = "qxdisp", .expected = C("qxdisp"), .os = QX_OS_UNKNOWN },  // class 0: the class key
        { .windows = "W4.10", .answer = "0001", .expected = C("0001"), .os = QX_OS_WIN98 }, { .windows = "W4.10", .answer = "0001", .kp = true, .expected = C("0001", true) },
        { .windows = "W4.10", .answer = "0001", .silent = true, .device = "DISPLAY\\0002", .expected = C("DISPLAY\\0002") },
        // 127 characters are taken; 128 are refused, not cut.
        { .windows = "W4.10", .answer = n127, .device = "", .expected = C(n127) }, { .windows = "W4.10", .answer = std::string(128, 'n'), .expected = C(n127) },
        { .windows = "W4.10", .answer = "", .expected = C(n127) },
        // An unrecognised system (NT 6) counts as an older one: a UTF-16 answer read as ANSI ends after its first letter.
        { .windows = "N6.0", .answer = "abc", .expected = C("a"), .os = QX_OS_UNKNOWN } };
    qxtest::PlayWindows windows;
    for (const auto& s : steps) {
        SCOPED_TRACE(&s - steps);
        const std::string v = s.windows;
        windows.platform = v[0] == 'W' ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT, windows.major = atoi(v.c_str() + 1), windows.minor = v.size() > 2 ? atoi(v.c_str() + 3) : 0;
        windows.build = v[0] == 'W' ? 0x040A07CE : 2600, windows.servicePack = v.find("sp2") != std::string::npos ? 2 : 0;
        windows.extendedFails = v.back() == 'x' || v == "-", windows.basicFails = v == "-";
        driver().config.driverKeyUnicode = v[0] == 'N', driver().config.driverKey = s.answer;
        driver().config.utilResults = s.silent ? std::map<DWORD, int> { { QX_UTIL_FN_GET_DRIVER_KEY, 0 } } : std::map<DWORD, int> {}, g_dwChipFamily = s.kp ? CHIP_FAMILY_KP : CHIP_FAMILY_PRIMARY;
        if (s.device)
            *s.device ? AddDevice(kOwnDevice, "0000", s.device) : qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kPci);
        EXPECT_TRUE(InitRegKeyVars());
        EXPECT_EQ(std::string(szQxByChipKey), "HKLM\\System\\CurrentControlSet\\Services\\" + s.expected);
        EXPECT_TRUE(s.os == kAny || g_dwOsVersion == s.os) << g_dwOsVersion;
    }
}

} // namespace
