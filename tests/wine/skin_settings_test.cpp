// Skin settings read from the real registry (keys made and removed here) after
// a start-up against the simulated driver, the colour-depth probe and the tab
// icon. Registry and icon calls are watched through the program's imports.
#include "qxtest.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "chips.h"
#include "config/skin_settings.h"
#include "config/system_services.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "driver/support.h"
#include "hosting/module.h"
#include "page/effect_model.h"
#include "resource.h"

namespace {

constexpr char kMaker[] = "Software\\Qx";
constexpr char kUtil[] = "Software\\Qx\\QxTintra";
constexpr char kKpMaker[] = "Software\\Qx\\Kp";
constexpr char kKpUtil[] = "Software\\Qx\\Kp\\QxTintra";
// What the simulated driver answers for its own registry key.
constexpr char kDriverName[] = "qxskintest";

// ---- registry fixtures below HKEY_LOCAL_MACHINE --------------------------------

// Creates the key (and its parents) below HKEY_LOCAL_MACHINE.
void MakeKey(const std::string& key, HKEY* out = nullptr)
{
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
        ERROR_SUCCESS)
        << key;
    if (out)
        *out = k;
    else
        RegCloseKey(k);
}

void SetValue(const std::string& key, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY k = nullptr;
    ASSERT_NO_FATAL_FAILURE(MakeKey(key, &k));
    EXPECT_EQ(RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS) << name;
    RegCloseKey(k);
}

// A REG_SZ with its terminator.
void SetText(const std::string& key, const char* name, const std::string& text)
{
    SetValue(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void DeleteKey(const std::string& key)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

// ---- watching the module's registry calls ---------------------------------------

// Which keys the module opened with full access and which it read values
// from, by sub-key path below the root. A full-access open of `denied`
// fails as it does for a user without administrative rights.
class RegistryWatch {
public:
    RegistryWatch()
        : open_(qxtest::ProgramModule(), "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&Open))
        , query_(qxtest::ProgramModule(), "advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(&Query))
    {
        s_open = reinterpret_cast<OpenFn>(open_.original());
        s_query = reinterpret_cast<QueryFn>(query_.original());
        State() = {};
    }
    ~RegistryWatch() { State() = {}; }
    bool installed() const { return open_.installed() && query_.installed(); }

    static void Deny(const std::string& subKey) { State().denied = subKey; }
    // Sub-keys opened with KEY_ALL_ACCESS (successfully or not), in order.
    static const std::vector<std::string>& FullOpens() { return State().fullOpens; }
    // Sub-keys from which at least one value was queried, in order of first query.
    static std::vector<std::string> ReadKeys() { return State().readKeys; }
    static std::vector<std::string> ValuesReadFrom(const std::string& subKey) { return State().values[subKey]; }

private:
    typedef LONG(WINAPI* OpenFn)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
    typedef LONG(WINAPI* QueryFn)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    struct Record {
        std::string denied;
        std::map<HKEY, std::string> live;  // handle -> sub-key of its latest open
        std::vector<std::string> fullOpens;
        std::vector<std::string> readKeys;
        std::map<std::string, std::vector<std::string>> values;
    };
    static Record& State()
    {
        static Record r;
        return r;
    }
    static LONG WINAPI Open(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY out)
    {
        std::string name = subKey ? subKey : "";
        if (access == KEY_ALL_ACCESS)
            State().fullOpens.push_back(name);
        if ((access & ~KEY_READ) != 0 && !State().denied.empty() && lstrcmpiA(name.c_str(), State().denied.c_str()) == 0)
            return ERROR_ACCESS_DENIED;
        LONG rc = s_open(root, subKey, options, access, out);
        if (rc == ERROR_SUCCESS)
            State().live[*out] = name;
        return rc;
    }
    static LONG WINAPI Query(HKEY key, LPCSTR value, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
    {
        auto it = State().live.find(key);
        std::string keyName = it == State().live.end() ? "?" : it->second;
        std::vector<std::string>& keys = State().readKeys;
        if (keys.empty() || std::find(keys.begin(), keys.end(), keyName) == keys.end())
            keys.push_back(keyName);
        State().values[keyName].push_back(value ? value : "");
        return s_query(key, value, reserved, type, data, size);
    }
    static OpenFn s_open;
    static QueryFn s_query;
    sim::ImportPatch open_;
    sim::ImportPatch query_;
};
RegistryWatch::OpenFn RegistryWatch::s_open;
RegistryWatch::QueryFn RegistryWatch::s_query;

// ---- the fixture ---------------------------------------------------------------

class SkinSettingsTest : public qxtest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        RemoveKeys();
        ResetSkin();
    }
    void TearDown() override
    {
        RemoveKeys();
        ResetSkin();
        DriverTest::TearDown();
    }

    // The start-up up to the skin read, against a driver of `family` that
    // names its registry key.
    void StartUp(DWORD family)
    {
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, family));
        driver().config.driverKey = kDriverName;
        driver().config.driverKeyUnicode = GetOsVersion() >= QX_OS_NT4;
        SetDisplayDeviceName("");
        ASSERT_TRUE(CheckSupport());
        InitRegKeyVars();
        ASSERT_EQ(strncmp(szQxByChipKey, "HKLM\\", 5), 0) << szQxByChipKey;
        ASSERT_NE(strstr(szQxByChipKey, kDriverName), nullptr) << szQxByChipKey;
        driverKey = szQxByChipKey + 5;
        driverRoot = driverKey.substr(0, driverKey.find(kDriverName) + strlen(kDriverName));
    }

    // CheckRegFlags, watched; `denied` is a sub-key the user may only read.
    void ReadSkin(const std::string& denied = "")
    {
        RegistryWatch watch;
        ASSERT_TRUE(watch.installed());
        RegistryWatch::Deny(denied);
        CheckRegFlags();
        readKeys = RegistryWatch::ReadKeys();
        fullOpens = RegistryWatch::FullOpens();
        lastValues = RegistryWatch::ValuesReadFrom(readKeys.empty() ? "" : readKeys.back());
    }

    void RemoveKeys()
    {
        DeleteKey(kMaker);
        if (!driverRoot.empty())
            DeleteKey(driverRoot);
    }

    // The module never resets its settings; each test starts from the values
    // of a fresh load.
    static void ResetSkin()
    {
        lstrcpyA(szQxKeyName, "HKLM\\Software\\Qx");
        lstrcpyA(szQxUtilKeyName, "HKLM\\Software\\Qx\\QxTintra");
        szQxByChipKey[0] = '\0';
        for (char* path : { g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon })
            path[0] = '\0';
        gdwUiStyle = QXLOOK_LUSTRE;
        g_szHomePageUrl[0] = '\0';
        g_bHideLogo = FALSE;
    }

    std::string driverKey;   // below HKLM
    std::string driverRoot;  // the part named after the driver, removed at the end
    std::vector<std::string> readKeys;
    std::vector<std::string> fullOpens;
    std::vector<std::string> lastValues;
};

using Keys = std::vector<std::string>;

TEST_F(SkinSettingsTest, KeysAreReadInOrderAndLaterOnesWin)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetText(kMaker, "Background", "maker.jpg");
    SetText(kMaker, "OEMLogo", "maker.png");
    SetText(kMaker, "HideLogo", "1");
    SetText(kUtil, "OEMLogo", "util.png");
    SetText(kUtil, "TabIcon", "util.ico");
    SetText(driverKey, "Background8bpp", "low.bmp");
    SetText(driverKey, "URL", "http://driver.example/");

    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker, kUtil, driverKey }));
    // Every value of the skin, in its reading order, the override last.
    EXPECT_EQ(lastValues, (Keys{ "Background", "Background8bpp", "OEMLogo", "OEMLogo8bpp", "TabIcon", "UiStyle",
                              "URL", "HideLogo", "SkinOverride" }));
    EXPECT_STREQ(g_szBackground, "maker.jpg");
    EXPECT_STREQ(g_szBackground8bpp, "low.bmp");
    EXPECT_STREQ(g_szOEMLogo, "util.png");
    EXPECT_STREQ(g_szOEMLogo8bpp, "");
    EXPECT_STREQ(g_szTabIcon, "util.ico");
    EXPECT_STREQ(g_szHomePageUrl, "http://driver.example/");
    EXPECT_EQ(g_bHideLogo, TRUE);
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_LUSTRE));
}

TEST_F(SkinSettingsTest, KpFamilySwitchesToKpKeysForTheRestOfTheLoad)
{
    SetText(kMaker, "Background", "plain.jpg");
    SetText(kUtil, "OEMLogo", "plain.png");
    SetText(kKpMaker, "Background", "kp.jpg");
    SetText(kKpUtil, "OEMLogo", "kp.png");

    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_KP));
    MakeKey(driverKey);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kKpMaker, kKpUtil, driverKey }));
    EXPECT_STREQ(szQxKeyName, "HKLM\\Software\\Qx\\Kp");
    EXPECT_STREQ(szQxUtilKeyName, "HKLM\\Software\\Qx\\Kp\\QxTintra");
    EXPECT_STREQ(g_szBackground, "kp.jpg");
    EXPECT_STREQ(g_szOEMLogo, "kp.png");

    // A later start-up on a chip of the other family keeps the Kp keys.
    DeleteKey(driverRoot);
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    MakeKey(driverKey);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kKpMaker, kKpUtil, driverKey }));
    EXPECT_STREQ(g_szBackground, "kp.jpg");
}

TEST_F(SkinSettingsTest, PrimaryFamilyReadsThePlainKeys)
{
    SetText(kKpMaker, "Background", "kp.jpg");
    SetText(kUtil, "Background", "plain.jpg");
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker, kUtil }));
    EXPECT_STREQ(szQxKeyName, "HKLM\\Software\\Qx");
    EXPECT_STREQ(g_szBackground, "plain.jpg");
}

TEST_F(SkinSettingsTest, SkinOverrideMakesItsKeyTheLastOneRead)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetText(kMaker, "Background", "maker.jpg");
    SetText(kMaker, "UiStyle", "Classic");
    SetText(kUtil, "OEMLogo", "util.png");
    SetText(kUtil, "URL", "http://util.example/");
    SetText(kUtil, "HideLogo", "1");
    SetText(driverKey, "TabIcon", "driver.ico");

    SetText(kMaker, "SkinOverride", "ON");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker }));
    EXPECT_STREQ(g_szBackground, "maker.jpg");
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_CLASSIC));
    EXPECT_STREQ(g_szOEMLogo, "");
    EXPECT_STREQ(g_szTabIcon, "");
    EXPECT_STREQ(g_szHomePageUrl, QX_DEFAULT_HOME_PAGE_URL);
    EXPECT_EQ(g_bHideLogo, FALSE);

    // On in the utility key: the maker's key is read before it, the driver's not.
    SetText(kMaker, "SkinOverride", "Off");
    SetText(kUtil, "SkinOverride", "1");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker, kUtil }));
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_LUSTRE));
    EXPECT_STREQ(g_szOEMLogo, "util.png");
    EXPECT_STREQ(g_szHomePageUrl, "http://util.example/");
    EXPECT_STREQ(g_szTabIcon, "");

    // Anything but on/off/1/0 is no override.
    SetText(kUtil, "SkinOverride", "yes");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker, kUtil, driverKey }));
    EXPECT_STREQ(g_szTabIcon, "driver.ico");
}

TEST_F(SkinSettingsTest, UiStyleAndUrlAreRewrittenByEveryKeyRead)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetText(kUtil, "UiStyle", "Classic");
    SetText(kUtil, "URL", "http://util.example/");
    MakeKey(driverKey);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_LUSTRE));
    EXPECT_STREQ(g_szHomePageUrl, QX_DEFAULT_HOME_PAGE_URL);

    // Without the driver's key the utility's choice stands.
    DeleteKey(driverRoot);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_CLASSIC));
    EXPECT_STREQ(g_szHomePageUrl, "http://util.example/");

    // The last key read decides, whatever the case of the name.
    struct Case {
        const char* text;
        DWORD style;
    };
    for (const Case& c : { Case{ "classic", QXLOOK_CLASSIC }, Case{ "CLASSIC", QXLOOK_CLASSIC },
             Case{ "Blue", QXLOOK_LUSTRE }, Case{ "lustre", QXLOOK_LUSTRE }, Case{ "Classic ", QXLOOK_LUSTRE } }) {
        gdwUiStyle = 7;
        SetText(driverKey, "UiStyle", c.text);
        ASSERT_NO_FATAL_FAILURE(ReadSkin());
        EXPECT_EQ(gdwUiStyle, c.style) << c.text;
    }
    SetValue(driverKey, "UiStyle", REG_BINARY, "Classic", 8);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_CLASSIC));

    // An address longer than a path is cut to 259 characters.
    std::string url = "http://long.example/" + std::string(400, 'u');
    SetText(driverKey, "URL", url);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(std::string(g_szHomePageUrl), url.substr(0, QX_SKIN_PATH_CHARS - 1));
}

TEST_F(SkinSettingsTest, HideLogoKeepsItsValueOnUnrecognisedText)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetText(kUtil, "HideLogo", "yes");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(g_bHideLogo, FALSE);

    SetText(kMaker, "HideLogo", "1");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(g_bHideLogo, TRUE);

    SetText(kMaker, "HideLogo", "Off");
    SetText(kUtil, "HideLogo", "on");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(g_bHideLogo, TRUE);

    SetText(kMaker, "HideLogo", "1");
    SetText(kUtil, "HideLogo", "0");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(g_bHideLogo, FALSE);

    // A start-up whose keys say nothing leaves it as the last one set it.
    DeleteKey(kMaker);
    g_bHideLogo = TRUE;
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(g_bHideLogo, TRUE);
}

TEST_F(SkinSettingsTest, UnusablePictureValuesLeaveTheEarlierOne)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetText(kMaker, "Background", "maker.jpg");

    struct Case {
        const char* what;
        DWORD type;
        std::string data;  // stored as is, terminator included where wanted
        const char* expected;
    };
    const std::string cut = std::string(511, 'p');
    const Case cases[] = {
        { "empty string", REG_SZ, std::string(1, '\0'), "maker.jpg" },
        { "no bytes", REG_SZ, std::string(), "maker.jpg" },
        { "512 characters", REG_SZ, std::string(512, 'q') + '\0', "maker.jpg" },
        { "2000 characters", REG_SZ, std::string(2000, 'r') + '\0', "maker.jpg" },
        { "DWORD", REG_DWORD, std::string(4, '\1'), "maker.jpg" },
        { "binary", REG_BINARY, std::string("bin.png") + '\0', "bin.png" },
        { "no picture", REG_SZ, std::string("<none>") + '\0', "<none>" },
    };
    for (const Case& c : cases) {
        SetValue(kUtil, "Background", c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        ASSERT_NO_FATAL_FAILURE(ReadSkin());
        EXPECT_STREQ(g_szBackground, c.expected) << c.what;
    }

    // The longest usable value is taken, cut to a path's length.
    SetText(kUtil, "Background", cut);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(std::string(g_szBackground), cut.substr(0, QX_SKIN_PATH_CHARS - 1));

    // "<none>" for the normal background says nothing about the 8-bit one.
    SetText(kUtil, "Background", "<none>");
    SetText(kUtil, "Background8bpp", "low.bmp");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_STREQ(g_szBackground, "<none>");
    EXPECT_STREQ(g_szBackground8bpp, "low.bmp");
}

TEST_F(SkinSettingsTest, KeysWithoutFullAccessCountAsAbsent)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetText(kMaker, "OEMLogo", "maker.png");
    SetText(kUtil, "OEMLogo", "util.png");
    SetText(kUtil, "UiStyle", "Classic");
    SetText(kUtil, "SkinOverride", "ON");
    SetText(driverKey, "TabIcon", "driver.ico");

    ASSERT_NO_FATAL_FAILURE(ReadSkin(kUtil));
    EXPECT_NE(std::find(fullOpens.begin(), fullOpens.end(), kUtil), fullOpens.end()) << "the key was tried";
    EXPECT_EQ(readKeys, (Keys{ kMaker, driverKey }));
    EXPECT_STREQ(g_szOEMLogo, "maker.png");
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_LUSTRE));
    EXPECT_STREQ(g_szTabIcon, "driver.ico");
}

TEST_F(SkinSettingsTest, SettingsSurviveStartUpsThatFindNoKeys)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetText(kMaker, "Background", "a.jpg");
    SetText(kMaker, "UiStyle", "Classic");
    SetText(kMaker, "URL", "http://maker.example/");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());

    // No key at all: nothing changes, not even the look or the address.
    DeleteKey(kMaker);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_TRUE(readKeys.empty());
    EXPECT_STREQ(g_szBackground, "a.jpg");
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_CLASSIC));
    EXPECT_STREQ(g_szHomePageUrl, "http://maker.example/");

    // An empty key: the paths stay, the look and the address go back to the defaults.
    MakeKey(driverKey);
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_STREQ(g_szBackground, "a.jpg");
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_LUSTRE));
    EXPECT_STREQ(g_szHomePageUrl, QX_DEFAULT_HOME_PAGE_URL);
}

// ---- colour depth --------------------------------------------------------------

TEST_F(SkinSettingsTest, ColourDepthIsProbedOnThePageDisplay)
{
    HDC screen = GetDC(nullptr);
    const DWORD depth = static_cast<DWORD>(GetDeviceCaps(screen, BITSPIXEL));
    ReleaseDC(nullptr, screen);

    SetDisplayDeviceName("\\\\.\\DISPLAY2");
    gdwColorDepth = 3;
    EXPECT_TRUE(UpdateDisplayMetrics());
    EXPECT_EQ(gdwColorDepth, depth);
    EXPECT_EQ(driver().dcOpened, (Keys{ "\\\\.\\DISPLAY2" }));

    // A device that cannot be opened leaves the last probe's result.
    SetDisplayDeviceName("\\\\.\\DISPLAY9");
    gdwColorDepth = 3;
    EXPECT_FALSE(UpdateDisplayMetrics());
    EXPECT_EQ(gdwColorDepth, 3u);
    gdwColorDepth = 16;
}

// ---- tab icon ------------------------------------------------------------------

struct LoadImageCall {
    HINSTANCE module;
    bool byId;
    std::string name;
    UINT type;
    int cx, cy;
    UINT flags;
};

class LoadImageWatch {
public:
    LoadImageWatch()
        : patch_(qxtest::ProgramModule(), "user32.dll", "LoadImageA", reinterpret_cast<void*>(&Load))
    {
        s_real = reinterpret_cast<Fn>(patch_.original());
        Calls().clear();
    }
    bool installed() const { return patch_.installed(); }
    static std::vector<LoadImageCall>& Calls()
    {
        static std::vector<LoadImageCall> calls;
        return calls;
    }

private:
    typedef HANDLE(WINAPI* Fn)(HINSTANCE, LPCSTR, UINT, int, int, UINT);
    static HANDLE WINAPI Load(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags)
    {
        bool byId = IS_INTRESOURCE(name);
        Calls().push_back({ module, byId, byId ? std::to_string(reinterpret_cast<ULONG_PTR>(name)) : name, type, cx,
            cy, flags });
        return s_real(module, name, type, cx, cy, flags);
    }
    static Fn s_real;
    sim::ImportPatch patch_;
};
LoadImageWatch::Fn LoadImageWatch::s_real;

// A 32 x 32 icon of one opaque colour, as an .ico file.
std::vector<BYTE> SolidIconFile(BYTE r, BYTE g, BYTE b)
{
    const int side = 32;
    const DWORD pixels = side * side * 4, mask = side * 4;
    const DWORD image = sizeof(BITMAPINFOHEADER) + pixels + mask;
    std::vector<BYTE> file(6 + 16 + image, 0);
    BYTE* p = file.data();
    p[2] = 1;  // icon
    p[4] = 1;  // one image
    BYTE* entry = p + 6;
    entry[0] = side;
    entry[1] = side;
    entry[4] = 1;   // planes
    entry[6] = 32;  // bits
    memcpy(entry + 8, &image, 4);
    const DWORD offset = 22;
    memcpy(entry + 12, &offset, 4);
    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof bih;
    bih.biWidth = side;
    bih.biHeight = side * 2;  // colour and mask
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    memcpy(p + offset, &bih, sizeof bih);
    BYTE* px = p + offset + sizeof bih;
    for (int i = 0; i < side * side; ++i) {
        px[4 * i] = b;
        px[4 * i + 1] = g;
        px[4 * i + 2] = r;
        px[4 * i + 3] = 0xFF;
    }
    return file;
}

// The colour pixels of an icon, top-down 32-bit, with its width.
std::vector<DWORD> IconPixels(HICON icon, int* width)
{
    std::vector<DWORD> out;
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return out;
    BITMAP bm = {};
    GetObjectA(info.hbmColor, sizeof bm, &bm);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = bm.bmWidth;
    bmi.bmiHeader.biHeight = -bm.bmHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    out.resize(static_cast<size_t>(bm.bmWidth) * bm.bmHeight);
    HDC dc = GetDC(nullptr);
    if (GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, out.data(), &bmi, DIB_RGB_COLORS) != bm.bmHeight)
        out.clear();
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    *width = bm.bmWidth;
    return out;
}

class SkinTabIconTest : public SkinSettingsTest {
protected:
    void SetUp() override
    {
        SkinSettingsTest::SetUp();
        dir = qxtest::MakeTempDir("tabicon");
        HANDLE builtIn = LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDI_TAB_ICON), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
        ASSERT_NE(builtIn, nullptr) << "the module's icon 204";
        builtInPixels = IconPixels(static_cast<HICON>(builtIn), &builtInWidth);
        DestroyIcon(static_cast<HICON>(builtIn));
        ASSERT_FALSE(builtInPixels.empty());
    }
    void TearDown() override
    {
        qxtest::RemoveTree(dir);
        SkinSettingsTest::TearDown();
    }

    // LoadTabIcon with g_szTabIcon = path; the icon's pixels and the loads it made.
    std::vector<DWORD> Load(const std::string& path, std::vector<LoadImageCall>* calls)
    {
        lstrcpynA(g_szTabIcon, path.c_str(), QX_SKIN_PATH_CHARS);
        LoadImageWatch watch;
        EXPECT_TRUE(watch.installed());
        HICON icon = LoadTabIcon();
        *calls = LoadImageWatch::Calls();
        EXPECT_NE(icon, nullptr) << path;
        int width = 0;
        std::vector<DWORD> pixels = IconPixels(icon, &width);
        if (icon)
            EXPECT_TRUE(DestroyIcon(icon)) << "the caller owns the icon";
        return pixels;
    }
    static void ExpectBuiltInLoad(const LoadImageCall& call)
    {
        EXPECT_EQ(call.module, g_hInstance);
        EXPECT_TRUE(call.byId);
        EXPECT_EQ(call.name, std::to_string(IDI_TAB_ICON));
        EXPECT_EQ(call.type, static_cast<UINT>(IMAGE_ICON));
        EXPECT_EQ(call.cx, 0);
        EXPECT_EQ(call.cy, 0);
        EXPECT_EQ(call.flags, static_cast<UINT>(LR_DEFAULTSIZE));
    }

    std::string dir;
    std::vector<DWORD> builtInPixels;
    int builtInWidth = 0;
};

TEST_F(SkinTabIconTest, IconFileIsUsedWhenItLoads)
{
    const std::string path = dir + "\\oem.ico";
    std::vector<BYTE> ico = SolidIconFile(0x10, 0xC0, 0x30);
    ASSERT_TRUE(qxtest::WriteFileBytes(path, ico.data(), ico.size()));

    std::vector<LoadImageCall> calls;
    std::vector<DWORD> pixels = Load(path, &calls);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].module, nullptr);
    EXPECT_EQ(calls[0].name, path);
    EXPECT_EQ(calls[0].flags, static_cast<UINT>(LR_LOADFROMFILE | LR_DEFAULTSIZE));
    ASSERT_FALSE(pixels.empty());
    EXPECT_EQ(pixels[pixels.size() / 2] & 0xFFFFFF, 0x10C030u);
    EXPECT_NE(pixels, builtInPixels);
}

TEST_F(SkinTabIconTest, FallsBackToTheBuiltInIcon)
{
    const std::string notIcon = dir + "\\notanicon.ico";
    const char text[] = "this is a text file, not an icon\r\n";
    ASSERT_TRUE(qxtest::WriteFileBytes(notIcon, text, sizeof text - 1));
    const std::string truncated = dir + "\\truncated.ico";
    std::vector<BYTE> ico = SolidIconFile(0, 0, 0xFF);
    ASSERT_TRUE(qxtest::WriteFileBytes(truncated, ico.data(), 40));

    for (const std::string& path : { notIcon, truncated, dir + "\\missing.ico" }) {
        std::vector<LoadImageCall> calls;
        EXPECT_EQ(Load(path, &calls), builtInPixels) << path;
        ASSERT_EQ(calls.size(), 2u) << path;
        EXPECT_EQ(calls[0].name, path);
        ExpectBuiltInLoad(calls[1]);
    }

    std::vector<LoadImageCall> calls;
    EXPECT_EQ(Load("", &calls), builtInPixels);
    ASSERT_EQ(calls.size(), 1u);
    ExpectBuiltInLoad(calls[0]);
}

} // namespace
