// Skin settings read from the real registry (keys made and removed here) after
// a start-up against the simulated driver, the colour-depth probe and the tab
// icon. Registry and icon calls are watched through the program's imports.
#include "qxtest.h"

#include <algorithm>
#include <cstring>
#include <map>
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

struct Text {
    std::string key;
    const char* name;
    std::string text;
};
void SetTexts(std::initializer_list<Text> texts)
{
    for (const Text& t : texts)
        SetText(t.key, t.name, t.text);
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
    struct Record {
        std::string denied;
        std::map<HKEY, std::string> live;    // handle -> sub-key of its latest open
        std::vector<std::string> fullOpens;  // opened with KEY_ALL_ACCESS (successfully or not), in order
        std::vector<std::string> readKeys;   // a value was queried from, in order of first query
        std::map<std::string, std::vector<std::string>> values;
    };
    static inline Record seen;

    explicit RegistryWatch(const std::string& denied)
        : open_(qxtest::ProgramModule(), "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&Open))
        , query_(qxtest::ProgramModule(), "advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(&Query))
    {
        s_open = reinterpret_cast<decltype(&RegOpenKeyExA)>(open_.original());
        s_query = reinterpret_cast<decltype(&RegQueryValueExA)>(query_.original());
        seen = {};
        seen.denied = denied;
    }
    ~RegistryWatch() { seen = {}; }
    bool installed() const { return open_.installed() && query_.installed(); }

private:
    static LONG WINAPI Open(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY out)
    {
        std::string name = subKey ? subKey : "";
        if (access == KEY_ALL_ACCESS)
            seen.fullOpens.push_back(name);
        if ((access & ~KEY_READ) != 0 && !seen.denied.empty() && lstrcmpiA(name.c_str(), seen.denied.c_str()) == 0)
            return ERROR_ACCESS_DENIED;
        LONG rc = s_open(root, subKey, options, access, out);
        if (rc == ERROR_SUCCESS)
            seen.live[*out] = name;
        return rc;
    }
    static LONG WINAPI Query(HKEY key, LPCSTR value, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
    {
        auto it = seen.live.find(key);
        std::string keyName = it == seen.live.end() ? "?" : it->second;
        if (std::find(seen.readKeys.begin(), seen.readKeys.end(), keyName) == seen.readKeys.end())
            seen.readKeys.push_back(keyName);
        seen.values[keyName].push_back(value ? value : "");
        return s_query(key, value, reserved, type, data, size);
    }
    static inline decltype(&RegOpenKeyExA) s_open;
    static inline decltype(&RegQueryValueExA) s_query;
    sim::ImportPatch open_;
    sim::ImportPatch query_;
};

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
        RegistryWatch watch(denied);
        ASSERT_TRUE(watch.installed());
        CheckRegFlags();
        readKeys = RegistryWatch::seen.readKeys;
        fullOpens = RegistryWatch::seen.fullOpens;
        lastValues = RegistryWatch::seen.values[readKeys.empty() ? "" : readKeys.back()];
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

// The skin's texts: background, 8-bit background, logo, 8-bit logo, tab icon, address.
Keys SkinTexts()
{
    return { g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon, g_szHomePageUrl };
}

TEST_F(SkinSettingsTest, KeysAreReadInOrderAndLaterOnesWin)
{
    // A chip of the primary family reads the plain keys, not the Kp ones.
    SetText(kKpMaker, "Background", "kp.jpg");
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetTexts({ { kMaker, "Background", "maker.jpg" }, { kMaker, "OEMLogo", "maker.png" }, { kMaker, "HideLogo", "1" },
        { kUtil, "OEMLogo", "util.png" }, { kUtil, "TabIcon", "util.ico" },
        { driverKey, "Background8bpp", "low.bmp" }, { driverKey, "URL", "http://driver.example/" } });

    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker, kUtil, driverKey }));
    // Every value of the skin, in its reading order, the override last.
    EXPECT_EQ(lastValues, (Keys{ "Background", "Background8bpp", "OEMLogo", "OEMLogo8bpp", "TabIcon", "UiStyle",
                              "URL", "HideLogo", "SkinOverride" }));
    EXPECT_EQ(SkinTexts(), (Keys{ "maker.jpg", "low.bmp", "util.png", "", "util.ico", "http://driver.example/" }));
    EXPECT_EQ(g_bHideLogo, TRUE);
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_LUSTRE));
    EXPECT_STREQ(szQxKeyName, "HKLM\\Software\\Qx");
}

TEST_F(SkinSettingsTest, KpFamilySwitchesToKpKeysForTheRestOfTheLoad)
{
    SetTexts({ { kMaker, "Background", "plain.jpg" }, { kUtil, "OEMLogo", "plain.png" },
        { kKpMaker, "Background", "kp.jpg" }, { kKpUtil, "OEMLogo", "kp.png" } });

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

TEST_F(SkinSettingsTest, SkinOverrideMakesItsKeyTheLastOneRead)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetTexts({ { kMaker, "Background", "maker.jpg" }, { kMaker, "UiStyle", "Classic" },
        { kUtil, "OEMLogo", "util.png" }, { kUtil, "URL", "http://util.example/" }, { kUtil, "HideLogo", "1" },
        { driverKey, "TabIcon", "driver.ico" } });

    SetText(kMaker, "SkinOverride", "ON");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker }));
    EXPECT_EQ(SkinTexts(), (Keys{ "maker.jpg", "", "", "", "", QX_DEFAULT_HOME_PAGE_URL }));
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_CLASSIC));
    EXPECT_EQ(g_bHideLogo, FALSE);

    // On in the utility key: the maker's key is read before it, the driver's not.
    SetTexts({ { kMaker, "SkinOverride", "Off" }, { kUtil, "SkinOverride", "1" } });
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker, kUtil }));
    EXPECT_EQ(gdwUiStyle, static_cast<DWORD>(QXLOOK_LUSTRE));
    EXPECT_EQ(SkinTexts(), (Keys{ "maker.jpg", "", "util.png", "", "", "http://util.example/" }));

    // Anything but on/off/1/0 is no override.
    SetText(kUtil, "SkinOverride", "yes");
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_EQ(readKeys, (Keys{ kMaker, kUtil, driverKey }));
    EXPECT_STREQ(g_szTabIcon, "driver.ico");
}

TEST_F(SkinSettingsTest, UiStyleAndUrlAreRewrittenByEveryKeyRead)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetTexts({ { kUtil, "UiStyle", "Classic" }, { kUtil, "URL", "http://util.example/" } });
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
    const struct {
        const char* maker;  // null: no value
        const char* util;
        BOOL expected;
    } steps[] = { { nullptr, "yes", FALSE }, { "1", "yes", TRUE }, { "Off", "on", TRUE }, { "1", "0", FALSE } };
    for (const auto& step : steps) {
        if (step.maker)
            SetText(kMaker, "HideLogo", step.maker);
        SetText(kUtil, "HideLogo", step.util);
        ASSERT_NO_FATAL_FAILURE(ReadSkin());
        EXPECT_EQ(g_bHideLogo, step.expected) << (step.maker ? step.maker : "-") << " " << step.util;
    }

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

    // One value of each kind the registry reader tells apart (its own tests
    // go through the rest).
    const std::string longest(511, 'p');
    const struct {
        const char* what;
        DWORD type;
        std::string data;  // stored as is, terminator included where wanted
        std::string expected;
    } cases[] = {
        { "empty string", REG_SZ, std::string(1, '\0'), "maker.jpg" },
        { "512 characters", REG_SZ, std::string(512, 'q') + '\0', "maker.jpg" },
        { "DWORD", REG_DWORD, std::string(4, '\1'), "maker.jpg" },
        { "binary", REG_BINARY, std::string("bin.png") + '\0', "bin.png" },
        { "no picture", REG_SZ, std::string("<none>") + '\0', "<none>" },
        // The longest usable value is taken, cut to a path's length.
        { "511 characters", REG_SZ, longest + '\0', longest.substr(0, QX_SKIN_PATH_CHARS - 1) },
    };
    for (const auto& c : cases) {
        SetValue(kUtil, "Background", c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        ASSERT_NO_FATAL_FAILURE(ReadSkin());
        EXPECT_EQ(std::string(g_szBackground), c.expected) << c.what;
    }

    // "<none>" for the normal background says nothing about the 8-bit one.
    SetTexts({ { kUtil, "Background", "<none>" }, { kUtil, "Background8bpp", "low.bmp" } });
    ASSERT_NO_FATAL_FAILURE(ReadSkin());
    EXPECT_STREQ(g_szBackground, "<none>");
    EXPECT_STREQ(g_szBackground8bpp, "low.bmp");
}

TEST_F(SkinSettingsTest, KeysWithoutFullAccessCountAsAbsent)
{
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    SetTexts({ { kMaker, "OEMLogo", "maker.png" }, { kUtil, "OEMLogo", "util.png" }, { kUtil, "UiStyle", "Classic" },
        { kUtil, "SkinOverride", "ON" }, { driverKey, "TabIcon", "driver.ico" } });

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
    SetTexts({ { kMaker, "Background", "a.jpg" }, { kMaker, "UiStyle", "Classic" },
        { kMaker, "URL", "http://maker.example/" } });
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
        s_real = reinterpret_cast<decltype(&LoadImageA)>(patch_.original());
        calls.clear();
    }
    bool installed() const { return patch_.installed(); }
    static inline std::vector<LoadImageCall> calls;

private:
    static HANDLE WINAPI Load(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags)
    {
        bool byId = IS_INTRESOURCE(name);
        calls.push_back({ module, byId, byId ? std::to_string(reinterpret_cast<ULONG_PTR>(name)) : name, type, cx,
            cy, flags });
        return s_real(module, name, type, cx, cy, flags);
    }
    static inline decltype(&LoadImageA) s_real;
    sim::ImportPatch patch_;
};

// A 32 x 32 icon of one opaque colour, as an .ico file.
std::vector<BYTE> SolidIconFile(BYTE r, BYTE g, BYTE b)
{
    const DWORD side = 32, offset = 6 + 16, image = sizeof(BITMAPINFOHEADER) + side * side * 4 + side * 4;
    std::vector<BYTE> file(offset + image, 0);
    const BYTE directory[] = { 0, 0, 1, 0, 1, 0,  // an icon, one image:
        side, side, 0, 0, 1, 0, 32, 0 };          // 32 x 32, one plane, 32 bits
    memcpy(file.data(), directory, sizeof directory);
    memcpy(&file[14], &image, 4);
    memcpy(&file[18], &offset, 4);
    const BITMAPINFOHEADER bih = { sizeof bih, side, side * 2 /* colour and mask */, 1, 32 };
    memcpy(&file[offset], &bih, sizeof bih);
    for (DWORD i = 0; i < side * side; ++i) {
        const BYTE pixel[4] = { b, g, r, 0xFF };
        memcpy(&file[offset + sizeof bih + 4 * i], pixel, 4);
    }
    return file;
}

// The colour pixels of an icon, top-down 32-bit.
std::vector<DWORD> IconPixels(HICON icon)
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
        builtInPixels = IconPixels(static_cast<HICON>(builtIn));
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
        *calls = LoadImageWatch::calls;
        EXPECT_NE(icon, nullptr) << path;
        std::vector<DWORD> pixels = IconPixels(icon);
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
