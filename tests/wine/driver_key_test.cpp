// Finding the driver's registry key: the PCI enumeration search against real
// keys under HKLM\Enum\PCI, the driver's own answer with the registry as
// fallback, and the key path built from it for each class of Windows.
#include "qxtest.h"

#include <cstring>
#include <string>
#include <tuple>

#include "chips.h"
#include "config/system_services.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "fake_os_version.h"

namespace {

using qxtest::DriverTest;

bool KeyExists(const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

HKEY CreateKey(HKEY parent, const std::string& sub)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS)
        << sub;
    return key;
}

// Device keys under HKLM\Enum\PCI for one test. The branch (and HKLM\Enum)
// is made when the system has none and removed again with everything the
// test put there.
class PciBranch {
public:
    PciBranch() : enumExisted_(KeyExists("Enum")), pciExisted_(KeyExists("Enum\\PCI")) {}
    ~PciBranch()
    {
        HKEY pci;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_ALL_ACCESS, &pci) == ERROR_SUCCESS) {
            for (const std::string& device : devices_)
                RegDeleteTreeA(pci, device.c_str());
            RegCloseKey(pci);
        }
        if (!pciExisted_)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI");
        if (!enumExisted_)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum");
    }
    PciBranch(const PciBranch&) = delete;
    PciBranch& operator=(const PciBranch&) = delete;

    // A device key with no instance below it. Created part by part: a device
    // key name may be 255 characters, too long for a whole path.
    HKEY AddDevice(const std::string& device)
    {
        devices_.push_back(device);
        HKEY pci = CreateKey(HKEY_LOCAL_MACHINE, "Enum\\PCI");
        HKEY key = CreateKey(pci, device);
        RegCloseKey(pci);
        return key;
    }
    // Adds instance `instance` of device key `device`, with a "Driver" value
    // of the given type and bytes (none when `bytes` is null).
    void Add(const std::string& device, const char* instance, const void* bytes, DWORD size, DWORD type = REG_SZ)
    {
        HKEY deviceKey = AddDevice(device);
        HKEY key = CreateKey(deviceKey, instance);
        RegCloseKey(deviceKey);
        if (bytes)
            EXPECT_EQ(RegSetValueExA(key, "Driver", 0, type, static_cast<const BYTE*>(bytes), size), ERROR_SUCCESS);
        else
            RegSetValueExA(key, "DeviceDesc", 0, REG_SZ, reinterpret_cast<const BYTE*>("no driver"), 10);
        RegCloseKey(key);
    }
    void Add(const std::string& device, const char* instance, const char* driver)
    {
        Add(device, instance, driver, static_cast<DWORD>(strlen(driver) + 1));
    }

private:
    bool enumExisted_;
    bool pciExisted_;
    std::vector<std::string> devices_;
};

// Runs the search for vendor 0x5158 and returns the name found, or "<none>"
// after checking the buffer was left untouched.
std::string Find(DWORD device, DWORD revision, DWORD subVendor, DWORD subSystem)
{
    char out[256];
    memset(out, 0xCC, sizeof out);
    if (!FindPciDriverKey(QX_PCI_VENDOR_ID, device, revision, subVendor, subSystem, out)) {
        for (BYTE b : out)
            if (b != 0xCC)
                return "<buffer written>";
        return "<none>";
    }
    return out;
}

TEST(PciDriverKeyTest, DevicePartsPickTheKeyAndItsFirstInstance)
{
    PciBranch branch;
    branch.Add("VEN_5158&DEV_5100", "0000", "DISPLAY\\0003");
    branch.Add("VEN_5158&DEV_5101&SUBSYS_01005158&REV_02", "0000", "DISPLAY\\0004");
    branch.Add("VEN_5158&DEV_5102&REV_021", "0000", "DISPLAY\\0005");
    branch.Add("ven_5158&dev_51ab&subsys_01005158&rev_07", "0000", "DISPLAY\\0006");
    branch.Add("VEN_5158&DEV_5110&SUBSYS_00015158&REV_01", "0000", "DISPLAY\\0001");
    branch.Add("VEN_5158&DEV_5110&SUBSYS_01005158&REV_01", "0000", "DISPLAY\\0002");
    branch.Add("VEN_5158&DEV_5111&REV_01", "0000", "DISPLAY\\0007");
    // Both keys match; enumeration gives the shorter name first.
    branch.Add("VEN_5158&DEV_5120", "0000", "DISPLAY\\0010");
    branch.Add("VEN_5158&DEV_5120&SUBSYS_01005158&REV_01", "0000", "DISPLAY\\0011");
    // The first instance has no "Driver": the second is not consulted.
    branch.Add("VEN_5158&DEV_5128", "0000", nullptr, 0);
    branch.Add("VEN_5158&DEV_5128", "0001", "DISPLAY\\0012");
    RegCloseKey(branch.AddDevice("VEN_5158&DEV_5200"));  // no instances
    // Registry key names end at 255 characters; the name buffer takes them.
    const std::string longest = "VEN_5158&DEV_5400&SUBSYS_01005158";
    branch.Add(longest + std::string(255 - longest.size(), 'x'), "0000", "DISPLAY\\0042");

    const struct {
        DWORD device, revision, subVendor, subSystem;
        const char* expected;
    } queries[] = {
        // No "&REV_": any revision. Identifiers count by their low 16 bits.
        { 0x5100, 0x00, 0x5158, 0x0100, "DISPLAY\\0003" },
        { 0x5100, 0x3C, 0x1234, 0x5678, "DISPLAY\\0003" },
        { 0xABC5100, 0x00, 0x5158, 0x0100, "DISPLAY\\0003" },
        { 0x5101, 0x02, 0x5158, 0x0100, "DISPLAY\\0004" },
        { 0x5101, 0x01, 0x5158, 0x0100, "<none>" },
        // The rest of the name after "&REV_" must be the two digits exactly.
        { 0x5102, 0x02, 0x5158, 0x0100, "<none>" },
        { 0x5102, 0x21, 0x5158, 0x0100, "<none>" },
        // The device part matches in any case; the markers are looked for in
        // upper case only, so a lower-case name has no revision or subsystem
        // part and matches whatever they are.
        { 0x51AB, 0x99, 0x1111, 0x2222, "DISPLAY\\0006" },
        { 0x5103, 0x02, 0x5158, 0x0100, "<none>" },
        // The subsystem pattern is the subsystem identifier, then its vendor.
        { 0x5110, 0x01, 0x5158, 0x0100, "DISPLAY\\0002" },
        { 0x5110, 0x01, 0x5158, 0x0001, "DISPLAY\\0001" },
        { 0x5110, 0x01, 0x0100, 0x5158, "<none>" },
        { 0x5110, 0x01, 0x5158, 0x0200, "<none>" },
        { 0x5111, 0x01, 0xAAAA, 0xBBBB, "DISPLAY\\0007" },  // without "&SUBSYS_" any subsystem
        { 0x5120, 0x01, 0x5158, 0x0100, "DISPLAY\\0010" },
        { 0x5128, 0x01, 0x5158, 0x0100, "<none>" },
        { 0x5200, 0x01, 0x5158, 0x0100, "<none>" },
        { 0x5400, 0x01, 0x5158, 0x0100, "DISPLAY\\0042" },
    };
    for (const auto& q : queries)
        EXPECT_EQ(Find(q.device, q.revision, q.subVendor, q.subSystem), q.expected)
            << std::hex << q.device << " rev " << q.revision << " subsys " << q.subSystem << q.subVendor;
}

TEST(PciDriverKeyTest, DriverValueMustBeAStringThatFits)
{
    PciBranch branch;
    const char text[] = "DISPLAY\\0001";
    branch.Add("VEN_5158&DEV_5300", "0000", text, sizeof text, REG_BINARY);
    branch.Add("VEN_5158&DEV_5301", "0000", text, sizeof text, REG_EXPAND_SZ);
    DWORD number = 1;
    branch.Add("VEN_5158&DEV_5302", "0000", &number, sizeof number, REG_DWORD);
    EXPECT_EQ(Find(0x5300, 0, 0, 0), "<none>");
    EXPECT_EQ(Find(0x5301, 0, 0, 0), "<none>");
    EXPECT_EQ(Find(0x5302, 0, 0, 0), "<none>");

    // 255 characters and the terminator fill the buffer exactly.
    std::string longest(255, 'k');
    branch.Add("VEN_5158&DEV_5303", "0000", longest.c_str());
    EXPECT_EQ(Find(0x5303, 0, 0, 0), longest);
    // Longer, or 256 bytes with no terminator: no name.
    std::string tooLong(300, 'k');
    branch.Add("VEN_5158&DEV_5304", "0000", tooLong.c_str());
    EXPECT_EQ(Find(0x5304, 0, 0, 0), "<none>");
    std::string unterminated(256, 'u');
    branch.Add("VEN_5158&DEV_5305", "0000", unterminated.data(), 256);
    EXPECT_EQ(Find(0x5305, 0, 0, 0), "<none>");
    // Stored without its terminator but short: the text as it is.
    branch.Add("VEN_5158&DEV_5306", "0000", "DISPLAY\\0009", 12);
    EXPECT_EQ(Find(0x5306, 0, 0, 0), "DISPLAY\\0009");
}

// ---------------------------------------------------------------------------

class DriverKeyNameTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, CHIP_FAMILY_PRIMARY));
        ASSERT_TRUE(QX_UTIL_IsSupported());
        driver().records.clear();
        memset(out_, 0xCC, sizeof out_);
    }
    std::vector<std::string> Requests() const
    {
        std::vector<std::string> list;
        for (const sim::EscapeRecord& r : sim::Driver::Instance().records)
            list.push_back(sim::Driver::Describe(r));
        return list;
    }
    // The PCI identity UseChipOfFamily gives the simulated adapter.
    static constexpr const char* kDeviceKey = "VEN_5158&DEV_5100&SUBSYS_01005158&REV_01";
    BYTE out_[QX_DRIVER_KEY_BYTES];
};

TEST_F(DriverKeyNameTest, DriverAnswerIsTakenWhole)
{
    driver().config.driverKey = "qxdisp";
    EXPECT_TRUE(QX_UTIL_GetDriverKeyName(out_));
    EXPECT_STREQ(reinterpret_cast<const WCHAR*>(out_), L"qxdisp");
    EXPECT_EQ(Requests(), (std::vector<std::string> { "GET_DRIVER_KEY -> 1" }));
    const sim::EscapeRecord& r = driver().records[0];
    EXPECT_EQ(r.cbIn, 4);
    EXPECT_EQ(r.cbOut, QX_DRIVER_KEY_BYTES);
}

TEST_F(DriverKeyNameTest, RegistrySearchStandsInForASilentDriver)
{
    PciBranch branch;
    branch.Add(kDeviceKey, "0000", "DISPLAY\\0004");

    driver().config.utilResults[QX_UTIL_FN_GET_DRIVER_KEY] = 0;
    EXPECT_TRUE(QX_UTIL_GetDriverKeyName(out_));
    EXPECT_STREQ(reinterpret_cast<const char*>(out_), "DISPLAY\\0004");
    EXPECT_EQ(Requests(), (std::vector<std::string> { "GET_DRIVER_KEY -> 0", "GET_PCI_INFO -> 1" }));

    // An empty answer is no answer either.
    driver().config.utilResults.clear();
    driver().config.driverKey = "";
    EXPECT_TRUE(QX_UTIL_GetDriverKeyName(out_));
    EXPECT_STREQ(reinterpret_cast<const char*>(out_), "DISPLAY\\0004");
}

TEST_F(DriverKeyNameTest, NothingFound)
{
    // Each time the name comes back empty, whatever the answer.
    auto expectEmpty = [&](bool expected, const char* what) {
        memset(out_, 0xCC, sizeof out_);
        EXPECT_EQ(QX_UTIL_GetDriverKeyName(out_), expected) << what;
        EXPECT_EQ(out_[0], 0) << what;
        EXPECT_EQ(out_[1], 0) << what;
    };
    driver().config.driverKey = "";
    driver().config.pciDeviceId = 0x0BAD;
    expectEmpty(true, "an empty answer and nothing in the registry: an answer all the same");
    driver().config.utilResults[QX_UTIL_FN_GET_DRIVER_KEY] = -1;
    driver().config.utilResults[QX_UTIL_FN_GET_PCI_INFO] = 2;
    expectEmpty(false, "neither request succeeds");
    driver().records.clear();
    g_bUtilSupported = FALSE;
    expectEmpty(false, "no utility escape");
    EXPECT_TRUE(driver().records.empty()) << "a driver without the utility escape is not asked at all";
}

// ---------------------------------------------------------------------------

// Answers the driver-key request with 256 bytes and no terminator; every
// other request goes on to the simulated driver.
class FullReplyDriver {
public:
    FullReplyDriver()
        : patch_(qxtest::ProgramModule(), "gdi32.dll", "ExtEscape", reinterpret_cast<void*>(&Answer))
    {
        next_ = reinterpret_cast<decltype(&ExtEscape)>(patch_.original());
    }
    ~FullReplyDriver() { next_ = nullptr; }
    bool installed() const { return patch_.installed(); }

private:
    static int WINAPI Answer(HDC dc, int escape, int cbIn, LPCSTR in, int cbOut, LPSTR out)
    {
        DWORD function = 0;
        if (in && cbIn >= 4)
            memcpy(&function, in, 4);
        if (escape == QX_UTIL_ESCAPE && function == QX_UTIL_FN_GET_DRIVER_KEY && out && cbOut >= QX_DRIVER_KEY_BYTES) {
            memset(out, 'A', QX_DRIVER_KEY_BYTES);
            return 1;
        }
        return next_(dc, escape, cbIn, in, cbOut, out);
    }
    static inline decltype(&ExtEscape) next_;
    sim::ImportPatch patch_;
};

// The two forms of the chip key: the service's for the NT class, the display
// class key's for the others.
std::string ServiceKey(const std::string& name)
{
    return "HKLM\\System\\CurrentControlSet\\Services\\" + name + "\\Device0";
}
std::string ClassKey(const std::string& name, const char* family = "")
{
    return "HKLM\\System\\CurrentControlSet\\Services\\Class\\" + name + "\\Utils\\" + family + "QxTintra";
}

class RegKeyVarsTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, CHIP_FAMILY_PRIMARY));
        ASSERT_TRUE(QX_UTIL_IsSupported());
        ASSERT_TRUE(version_.installed());
        g_dwChipFamily = CHIP_FAMILY_PRIMARY;
        g_dwOsVersion = 0xDEAD;
        szQxByChipKey[0] = '\0';
    }
    void TearDown() override
    {
        szQxByChipKey[0] = '\0';
        DriverTest::TearDown();
    }
    void PlayWindows98()
    {
        windows_.platform = VER_PLATFORM_WIN32_WINDOWS;
        windows_.major = 4;
        windows_.minor = 10;
        windows_.build = 0x040A07CE;
        driver().config.driverKeyUnicode = false;
    }
    // InitRegKeyVars succeeds and leaves `key` (and, unless 0, the class `os`).
    void ExpectKey(const std::string& key, DWORD os = 0)
    {
        EXPECT_TRUE(InitRegKeyVars());
        if (os)
            EXPECT_EQ(g_dwOsVersion, os);
        EXPECT_EQ(std::string(szQxByChipKey), key);
    }
    qxtest::FakeWindows windows_;
    qxtest::FakeVersionPatch version_ { windows_ };
};

TEST_F(RegKeyVarsTest, NtClassReadsTheServiceNameAsUtf16)
{
    driver().config.driverKey = "abc";
    for (auto [major, minor, servicePack, code] : { std::tuple { 4u, 0u, 0, QX_OS_NT4 },
             std::tuple { 5u, 0u, 0, QX_OS_WIN2000 }, std::tuple { 5u, 1u, 2, QX_OS_WINXP_SP } }) {
        windows_.major = major;
        windows_.minor = minor;
        windows_.servicePackMajor = static_cast<WORD>(servicePack);
        szQxByChipKey[0] = '\0';
        ExpectKey(ServiceKey("abc"), code);
    }
    // 127 UTF-16 units and the terminator fill the reply exactly.
    driver().config.driverKey = std::string(127, 'w');
    ExpectKey(ServiceKey(std::string(127, 'w')));
}

TEST_F(RegKeyVarsTest, OlderClassesBuildTheClassKeyFromAnAnsiName)
{
    PlayWindows98();
    driver().config.driverKey = "0001";
    ExpectKey(ClassKey("0001"), QX_OS_WIN98);
    g_dwChipFamily = CHIP_FAMILY_KP;
    ExpectKey(ClassKey("0001", "Kp\\"));

    // A silent driver: the name the registry search found.
    PciBranch branch;
    branch.Add("VEN_5158&DEV_5100&SUBSYS_01005158&REV_01", "0000", "DISPLAY\\0002");
    driver().config.utilResults[QX_UTIL_FN_GET_DRIVER_KEY] = 0;
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    ExpectKey(ClassKey("DISPLAY\\0002"));
    driver().config.utilResults.clear();

    // An unrecognised system (NT 6) counts as an older one, so a UTF-16
    // answer is read as ANSI and ends after its first letter.
    windows_.platform = VER_PLATFORM_WIN32_NT;
    windows_.major = 6;
    windows_.minor = 0;
    driver().config.driverKeyUnicode = true;
    driver().config.driverKey = "abc";
    ExpectKey(ClassKey("a"), QX_OS_UNKNOWN);
}

TEST_F(RegKeyVarsTest, BasicVersionStructureWhenTheExtendedOneFails)
{
    windows_.extendedFails = true;
    windows_.major = 5;
    windows_.minor = 1;
    windows_.servicePackMajor = 2;  // not seen through the basic structure
    driver().config.driverKey = "qxdisp";
    ExpectKey(ServiceKey("qxdisp"), QX_OS_WINXP);

    // No version at all: class 0, the Class-key form.
    windows_.basicFails = true;
    driver().config.driverKeyUnicode = false;
    ExpectKey(ClassKey("qxdisp"), QX_OS_UNKNOWN);
}

TEST_F(RegKeyVarsTest, NoUsableNameKeepsTheEarlierKey)
{
    const std::string earlier = ServiceKey("earlier");
    auto expectKept = [&](const char* what) {
        SCOPED_TRACE(what);
        lstrcpyA(szQxByChipKey, earlier.c_str());
        ExpectKey(earlier);
    };
    // Empty answer, nothing in the registry.
    driver().config.driverKey = "";
    driver().config.pciDeviceId = 0x0BAD;
    expectKept("empty UTF-16 answer");
    PlayWindows98();
    expectKept("empty ANSI answer");

    // 127 characters are taken; 128 are refused, not cut.
    driver().config.driverKey = std::string(127, 'n');
    lstrcpyA(szQxByChipKey, earlier.c_str());
    ExpectKey(ClassKey(std::string(127, 'n')));
    driver().config.driverKey = std::string(128, 'n');
    expectKept("128-character ANSI name");
    driver().config.driverKey = std::string(255, 'n');
    expectKept("255-character ANSI name");

    // 256 bytes and no terminator, read either way.
    FullReplyDriver full;
    ASSERT_TRUE(full.installed());
    expectKept("unterminated ANSI answer");
    windows_ = qxtest::FakeWindows {};
    expectKept("unterminated UTF-16 answer");
}

} // namespace
