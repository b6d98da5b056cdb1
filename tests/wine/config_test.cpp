// Configuration: language choice, configuration-file texts and help files (system and Windows directories redirected into a
// temporary tree); registry paths and values, versions of files and of Windows; the skin settings and tab icon.
#include "qxtest.h"

#include <locale.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>

#include "chips.h"
#include "config/localization.h"
#include "config/skin_settings.h"
#include "config/system_services.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "driver/support.h"
#include "hosting/module.h"
#include "resource.h"
#include "version.h"

namespace {

using Strings = std::vector<std::string>;
using Files = std::vector<std::pair<const char*, std::string>>;
LANGID g_uiLanguage;
LANGID WINAPI UiLanguage() { return g_uiLanguage; }

class Localization : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = qxtest::MakeTempDir("lang");
        for (const std::string& dir : { sys_ = root_ + "\\system32", win_ = root_ + "\\windows", win_ + "\\help" })
            ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
        auto answer = [](const std::string& dir, LPSTR out, UINT size) { return lstrcpynA(out, dir.c_str(), size), UINT(dir.size() + (dir.size() < size ? 0 : 1)); };
        sysDir_.answer = [this, answer](LPSTR out, UINT size) { return answer(sys_, out, size); };
        winDir_.answer = [this, answer](LPSTR out, UINT size) { return answer(win_, out, size); };
        lcid_.answer = [this] { return systemLcid; };
        procs_.answer = [this](HMODULE module, LPCSTR name) {
            if (IS_INTRESOURCE(name) || strcmp(name, "GetUserDefaultUILanguage"))
                return procs_.Next(module, name);
            return ++uiLookups, hasUiExport ? reinterpret_cast<FARPROC>(&UiLanguage) : nullptr;
        };
        findExe_.observe = [this](HINSTANCE, LPCSTR file, LPCSTR dir, LPSTR) { helpChecks.push_back(std::string(dir) + "|" + file); };
        ASSERT_TRUE(sysDir_.installed() && winDir_.installed() && lcid_.installed() && procs_.installed() && findExe_.installed());
        memcpy(helpIds_, g_aHelpIds, sizeof helpIds_);
        crtLocale_ = setlocale(LC_ALL, nullptr), threadLocale_ = GetThreadLocale(), g_uiLanguage = 0x0409;
        Fresh();
    }
    void TearDown() override { Fresh(), setlocale(LC_ALL, crtLocale_.c_str()), SetThreadLocale(threadLocale_), qxtest::RemoveTree(root_); }
    // The module's language state as at load.
    void Fresh()
    {
        memcpy(g_aHelpIds, helpIds_, sizeof helpIds_);
        g_bHelpIdsShifted = FALSE, g_wPrimaryLang = 0, g_dwChipFamily = CHIP_FAMILY_PRIMARY;
        lstrcpyA(g_szLanguage, "English");
        g_szCfgSection[0] = g_szCfgFile[0] = g_szHelpFile[0] = g_szAbbrev[0] = g_szLangFile[0] = '\0';
    }
    std::string Sys(const char* name) const { return sys_ + "\\" + name; }
    void WriteSys(const char* name, const std::string& text) { ASSERT_TRUE(qxtest::WriteFileBytes(Sys(name), text.data(), text.size())); }
    std::string Text(const char* key) { char buffer[512]; return GetCfgString(key, "<default>", buffer, sizeof buffer), buffer; }
    // Language, abbreviation, help file, primary language and locale.
    static std::string State() { char text[512]; return snprintf(text, sizeof text, "%s %s %s %u %04lX", g_szLanguage, g_szAbbrev, g_szHelpFile, g_wPrimaryLang, (unsigned long)g_lcidUi), text; }

    std::string root_, sys_, win_, crtLocale_;
    LCID threadLocale_ = 0, systemLcid = 0x0409;
    DWORD helpIds_[QX_HELP_ID_PAIRS * 2];
    bool hasUiExport = true;
    int uiLookups = 0;
    Strings helpChecks;  // "dir|file" of each FindExecutableA
    qxtest::Recorder<decltype(&GetSystemDirectoryA)> sysDir_ { "GetSystemDirectoryA", qxtest::ProgramModule() };
    qxtest::Recorder<decltype(&GetWindowsDirectoryA)> winDir_ { "GetWindowsDirectoryA", qxtest::ProgramModule() };
    qxtest::Recorder<decltype(&GetSystemDefaultLCID)> lcid_ { "GetSystemDefaultLCID", qxtest::ProgramModule() };
    qxtest::Recorder<decltype(&GetProcAddress)> procs_ { "GetProcAddress", qxtest::ProgramModule() };
    qxtest::Recorder<decltype(&FindExecutableA)> findExe_ { "FindExecutableA", qxtest::ProgramModule() };
};

// One start-up after the other: files written, help files added, then InitLocalization; `fresh` puts the module's state back
// as at load first. `provisional`: the section read before the loop, when checked; `state`: language, abbreviation, help file,
// primary language, locale; `crt`: the C runtime locale afterwards (set to "C" before), when checked; the interface language
// is asked for "Auto" only (`uiLookups`).
struct Step {
    Files files = {};
    std::vector<const char*> help = {};
    bool fresh = false;
    DWORD family = CHIP_FAMILY_PRIMARY, ui = 0x0409;
    bool noUiExport = false;
    LCID systemLcid = 0x0409;
    const char *provisional = nullptr, *state, *cfgFile = "QXTINTRA.CFG", *tab0 = "<default>";
    DWORD shift = 0;
    const char* crt = nullptr;
    int uiLookups = 0;
};

std::string Cfg(const char* language, const char* tab0, bool chosen = true)
{
    return (chosen ? "[Language]\r\nLanguage=" + std::string(language) + "\r\n" : "") + "[" + language + "]\r\nTAB0=" + tab0 + "\r\n";
}

TEST_F(Localization, StartUpsChooseLanguageFileTextsAndHelp)
{
    const std::string kp = "[Language]\r\nLanguage=German\r\nGerman=QXDEU.CFG\r\nGerman_KP=KPDEU.CFG\r\n[German]\r\nTAB0=base\r\n";
    const Step steps[] = {
        // No file and a German interface: English, the wst help file.
        { .help = { "QXTINwst.HLP" }, .ui = 0x0407, .state = "English wst QXTINwst.HLP 9 0409", .uiLookups = 1 },
        // Chosen by the file: its section, its locale everywhere, help ids shifted once in a load.
        { .files = { { "QXTINTRA.CFG", Cfg("German", "Pinselstrich-Effekte") + "[French]\r\nTAB0=Effets\r\n" } }, .state = "German wst QXTINwst.HLP 7 0407",
            .tab0 = "Pinselstrich-Effekte", .shift = 10000, .crt = "German" },
        // The next start-up first reads the previous language as its section.
        { .files = { { "QXTINTRA.CFG", Cfg("French", "Effets de pinceau") } }, .provisional = "German", .state = "French wst QXTINwst.HLP 12 040C",
            .tab0 = "Effets de pinceau", .shift = 10000 },
        // A group's help file missing: wst with the English numbering; the thread keeps the language's locale.
        { .files = { { "QXTINTRA.CFG", Cfg("Czech", "Efekty") } }, .fresh = true, .state = "Czech ws2 QXTINwst.HLP 9 0405", .tab0 = "Efekty" },
        { .files = { { "QXTINTRA.CFG", Cfg("Greek", "x") } }, .help = { "QXTINws2.HLP" }, .state = "Greek ws2 QXTINws2.HLP 8 0408", .tab0 = "x", .shift = 2000 },
        // A help file found nowhere keeps the wst name, which is not checked itself.
        { .files = { { "QXTINTRA.CFG", Cfg("Japanese", "x") } }, .fresh = true, .state = "Japanese JPN QXTINwst.HLP 9 0411", .tab0 = "x" },
        { .help = { "QXTINJPN.HLP" }, .state = "Japanese JPN QXTINJPN.HLP 17 0411", .tab0 = "x" },
        // The Kp family reads its own file and redirection keys; the other its plain ones.
        { .files = { { "KPTINTRA.CFG", kp }, { "QXTINTRA.CFG", kp }, { "QXDEU.CFG", "[German]\r\nTAB0=Qx-Datei\r\n" }, { "KPDEU.CFG", "[German]\r\nTAB0=Kp-Datei\r\n" } },
            .help = { "KPTINwst.HLP" }, .fresh = true, .family = CHIP_FAMILY_KP, .state = "German wst KPTINwst.HLP 7 0407", .cfgFile = "KPDEU.CFG", .tab0 = "Kp-Datei", .shift = 10000 },
        { .state = "German wst QXTINwst.HLP 7 0407", .cfgFile = "QXDEU.CFG", .tab0 = "Qx-Datei", .shift = 10000 },
        // A name outside the table keeps the previous primary language and locale, and is a language like any other.
        { .files = { { "QXTINTRA.CFG", Cfg("Klingon", "tlhIngan") } }, .state = "Klingon DEU QXTINwst.HLP 9 0407", .tab0 = "tlhIngan", .shift = 10000, .crt = "C" },
        // No German section in the redirected file: English, through that file's own redirection.
        { .files = { { "KPTINTRA.CFG", "[Language]\r\nLanguage=German\r\nGerman_KP=sub.cfg\r\n" }, { "sub.cfg", "[Language]\r\nEnglish_KP=eng.cfg\r\n[English]\r\nTAB0=wrong\r\n" },
              { "eng.cfg", Cfg("English", "Kp English", false) } },
            .fresh = true, .family = CHIP_FAMILY_KP, .state = "English wst KPTINwst.HLP 9 0409", .cfgFile = "eng.cfg", .tab0 = "Kp English" },
        // "Auto": the interface language; a section "Auto" with keys is a language of its own, an empty one is not.
        { .files = { { "QXTINTRA.CFG", "[Language]\r\nLanguage=Auto\r\n" } }, .state = "English wst QXTINwst.HLP 9 0409", .uiLookups = 1 },
        { .files = { { "QXTINTRA.CFG", Cfg("Auto", "from Auto", false) } }, .state = "Auto wst QXTINwst.HLP 9 0409", .tab0 = "from Auto", .crt = "C", .uiLookups = 1 },
        { .files = { { "QXTINTRA.CFG", "[Auto]\r\n" } }, .state = "English wst QXTINwst.HLP 9 0409", .uiLookups = 1 },
        // Without the interface-language export the system locale stands in, sort order and all.
        { .files = { { "QXTINTRA.CFG", Cfg("Spanish", "Efectos", false) } }, .fresh = true, .ui = 0x0407, .noUiExport = true, .systemLcid = 0x00010C0A,
            .state = "Spanish wst QXTINwst.HLP 10 040A", .tab0 = "Efectos", .shift = 18000, .uiLookups = 1 },
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.state);
        if (s.fresh)
            Fresh();
        for (const auto& [name, text] : s.files)
            WriteSys(name, text);
        for (const char* name : s.help)
            ASSERT_TRUE(qxtest::WriteFileBytes(win_ + "\\help\\" + name, "?_\3\0", 4));
        g_dwChipFamily = s.family, g_uiLanguage = s.ui, hasUiExport = !s.noUiExport, systemLcid = s.systemLcid;
        if (s.provisional) {
            BuildConfigFilePath(g_szLangFile);
            EXPECT_STREQ(g_szCfgSection, s.provisional);
        }
        setlocale(LC_ALL, "C");
        helpChecks.clear(), uiLookups = 0;
        InitLocalization();
        EXPECT_EQ(State() + "|" + g_szCfgFile + "|" + g_szCfgSection + "|" + Text("TAB0") + Text("TAB1"),
            s.state + ("|" + Sys(s.cfgFile)) + "|" + g_szLanguage + "|" + s.tab0 + "<default>");
        EXPECT_EQ(std::make_pair(uiLookups, GetThreadLocale()), std::make_pair(s.uiLookups, g_lcidUi));
        if (s.crt)
            EXPECT_EQ(std::string(setlocale(LC_ALL, nullptr)).rfind(s.crt, 0), 0u) << setlocale(LC_ALL, nullptr);
        // The help file of the language's own group is looked for, once; the wst fallback is not.
        EXPECT_EQ(helpChecks, Strings { win_ + "\\help|" + (s.family == CHIP_FAMILY_KP ? "KP" : "QX") + "TIN" + g_szAbbrev + ".HLP" });
        // Every context id moved by the shift from the table at load, every control id untouched, the list still ending at 0.
        for (int i = 0; i < QX_HELP_ID_PAIRS * 2; ++i)
            EXPECT_EQ(g_aHelpIds[i], helpIds_[i] + (i % 2 ? s.shift : 0)) << i;
        EXPECT_EQ(g_aHelpIds[(QX_HELP_ID_PAIRS - 1) * 2] * 10 + g_bHelpIdsShifted, s.shift != 0 ? 1u : 0u);
    }

}

TEST_F(Localization, NamesPathsAndTextLookups)
{
    // "Auto" with an English interface stays "auto" until the loop; Chinese and Portuguese go by sublanguage, Hong Kong keeps
    // its own, other sublanguages map to the main one; a language without texts of its own is English with the locale's short name.
    char name[QX_LANGUAGE_CHARS] = "auto", abbrev[QX_ABBREV_CHARS] = "junk";
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 0);
    EXPECT_EQ(name + std::string(abbrev) + std::to_string(g_wPrimaryLang), "autowst9");
    const std::pair<LANGID, const char*> autos[] = { { 0x0404, "Traditional Chinese CHT 0404 0" }, { 0x0C04, "Simplified Chinese ZHH 0C04 0" },
        { 0x0416, "Portuguese Brazilian wst 0416 16000" }, { 0x0816, "Portuguese Standard ws2 0816 8000" }, { 0x0807, "German wst 0407 10000" },
        { 0x041F, "Turkish ws2 041F 14000" }, { 0x0401, "English ENU 0409 0" }, { 0x0000, "English ENU 0409 0" } };
    for (const auto& [ui, expected] : autos) {
        char got[128];
        g_uiLanguage = ui, lstrcpyA(name, "Auto");
        const WORD offset = ResolveLanguageName(name, abbrev);
        EXPECT_STREQ((snprintf(got, sizeof got, "%s %s %04lX %u", name, abbrev, (unsigned long)g_lcidUi, offset), got), expected);
    }
    // Names match without regard to case; an unknown one keeps the previous primary language and locale.
    EXPECT_EQ((lstrcpyA(name, "gErMaN"), ResolveLanguageName(name, abbrev)), 10000);
    EXPECT_EQ((lstrcpyA(name, "Klingon"), ResolveLanguageName(name, abbrev)), 0);
    EXPECT_EQ(name + std::string(abbrev) + std::to_string(g_wPrimaryLang) + std::to_string(g_lcidUi), "KlingonDEU71031");
    // The file's path: the system directory and the family's name; the section the last language.
    char path[MAX_PATH], out[8];
    lstrcpyA(g_szLanguage, "English");
    for (const auto& [dir, family, expected] : { std::tuple { "X:\\", CHIP_FAMILY_PRIMARY, "X:\\QXTINTRA.CFG" }, { "X:\\sys", CHIP_FAMILY_KP, "X:\\sys\\KPTINTRA.CFG" } }) {
        sys_ = dir, g_dwChipFamily = family, g_szCfgSection[0] = '\0';
        EXPECT_TRUE(BuildConfigFilePath(path));
        EXPECT_EQ(path + std::string("|") + g_szCfgFile + "|" + g_szCfgSection, expected + std::string("|") + expected + "|English");
    }
    sys_ = root_ + "\\system32";
    WriteSys("QXTINTRA.CFG", "[English]\r\nTAB0=Brush\r\nEMPTY=\r\nLONG=0123456789abcdef\r\n");
    g_szCfgFile[0] = g_szCfgSection[0] = '\0';  // before any start-up nothing is read, even with a file in place
    EXPECT_TRUE(!GetCfgString("TAB0", "def", out, sizeof out) && !strcmp(out, "def"));
    SetConfigSection("English", Sys("QXTINTRA.CFG").c_str());
    const struct { const char *key, *def; bool found; const char* expected; } lookups[] = { { "tab0", "def", true, "Brush" }, { "MISSING", "default", false, "default" },
        { "EMPTY", "def", false, "def" }, { "MISSING", nullptr, false, "" }, { nullptr, "def", false, "def" },  // a null key must not list the section
        { "LONG", "def", true, "0123456" }, { "MISSING", "a default that is too long", false, "a defau" } };  // cut to the buffer
    for (const auto& l : lookups)
        EXPECT_TRUE(GetCfgString(l.key, l.def, out, sizeof out) == l.found && !strcmp(out, l.expected)) << (l.key ? l.key : "<null>") << " " << out;
    memset(out, 'z', sizeof out);
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, 0) || GetCfgString("TAB0", "def", nullptr, 8) || out[0] != 'z');
}

// ---- registry paths and values, versions ------------------------------------------------

TEST(SystemServices, RegistryPathsAndValues)
{
    const std::string name = "QxTintraTest_" + std::to_string(GetCurrentProcessId()), sub = "Software\\" + name;
    const struct { HKEY root; const char *shortName, *longName; std::string sub; } roots[] = { { HKEY_LOCAL_MACHINE, "HKLM", "HKEY_LOCAL_MACHINE", sub },
        { HKEY_CURRENT_USER, "HKCU", "HKEY_CURRENT_USER", sub }, { HKEY_CLASSES_ROOT, "HKCR", "HKEY_CLASSES_ROOT", name },
        { HKEY_USERS, "HKU", "HKEY_USERS", ".DEFAULT\\" + sub }, { HKEY_CURRENT_CONFIG, "HKCC", "HKEY_CURRENT_CONFIG", sub } };
    HKEY key = nullptr;
    char text[QX_REG_TEXT_BYTES + 16];
    for (const auto& root : roots) {
        qxtest::SetRegText(root.root, root.sub, "Root", root.shortName);
        for (std::string path : { root.shortName, root.longName })  // long and short names in any case
            for (int lower = 0; lower < 2; ++lower, CharLowerA(path.data())) {
                ASSERT_EQ(OpenRegPath((path + "\\" + root.sub).c_str(), KEY_READ, &key), ERROR_SUCCESS) << path;
                EXPECT_TRUE(ReadRegString(key, "Root", text, "<none>") && !strcmp(text, root.shortName) && !RegCloseKey(key));
            }
        if (root.root != HKEY_CURRENT_USER)
            qxtest::DeleteRegTree(root.root, root.sub);
    }
    key = reinterpret_cast<HKEY>(0x1234);
    for (const char* path : { "", "HKLM", "Software\\Microsoft", "HKLMX\\Software", "HKEY_LOCAL\\Software", "\\Software", "HKEY_LOCAL_MACHINEX\\Software" })
        EXPECT_EQ(OpenRegPath(path, KEY_READ, &key), ERROR_INVALID_PARAMETER) << path;
    EXPECT_EQ(key, reinterpret_cast<HKEY>(0x1234)) << "no key handed out";

    // A whole path of 255 characters opens; parts longer than any key name fail as the registry says, in the middle and at the end.
    const std::string prefix = "HKCU\\" + sub + "\\", last(255 - prefix.size(), 'L');
    qxtest::SetReg(HKEY_CURRENT_USER, sub + "\\" + last, nullptr, 0, "");
    ASSERT_TRUE(OpenRegPath((prefix + last).c_str(), KEY_READ, &key) == ERROR_SUCCESS && !RegCloseKey(key));
    for (const std::string& tail : { std::string(300, 'L') + "\\x", std::string(300, 'L'), std::string(5000, 'L') + "\\x\\y" })
        EXPECT_NE(OpenRegPath((prefix + tail).c_str(), KEY_READ, &key), ERROR_SUCCESS) << tail.size();
    // Text values: 511 characters and the terminator are exactly 512 bytes. Other types are not text, but binary values are,
    // up to their first zero; 512 bytes without one are not. `usable`: else the default is read.
    using namespace std::string_literals;
    const struct { DWORD type; std::string bytes; bool usable; std::string text; } values[] = { { REG_SZ, "C:\\skins\\back.jpg\0"s, true, "C:\\skins\\back.jpg" },
        { REG_SZ, "\0"s, false }, { REG_SZ, "", false }, { REG_SZ, "abc", true, "abc" }, { REG_SZ, std::string(511, 'f') + '\0', true, std::string(511, 'f') },
        { REG_SZ, std::string(512, 't') + '\0', false }, { REG_DWORD, "\1\0\0\0"s, false }, { REG_EXPAND_SZ, "%TEMP%\0"s, false },
        { REG_BINARY, "abc\0def\0"s, true, "abc" }, { REG_BINARY, "\0abc"s, true, "" }, { REG_BINARY, "", false },
        { REG_BINARY, std::string(511, 'b'), true, std::string(511, 'b') }, { REG_BINARY, std::string(512, 'b'), false } };
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    for (const auto& v : values) {
        RegSetValueExA(key, "V", 0, v.type, reinterpret_cast<const BYTE*>(v.bytes.data()), DWORD(v.bytes.size()));
        memset(text, 0x5A, sizeof text);
        EXPECT_TRUE(ReadRegString(key, "V", text, "default") == v.usable && text == (v.usable ? v.text : "default")) << &v - values;
        EXPECT_EQ(std::string(text + QX_REG_TEXT_BYTES, 16), std::string(16, 0x5A)) << "written past the buffer";
    }
    EXPECT_TRUE(!ReadRegString(key, "Missing", text, nullptr) && !*text) << "a null default reads as empty";
    const std::pair<const char*, DWORD> flags[] = { { "ON", 1 }, { "on", 1 }, { "1", 1 }, { "Off", 0 }, { "0", 0 }, { "yes", 7 }, { "2", 7 }, { " on", 7 },
        { "on ", 7 }, { "01", 7 }, { "", 7 } };
    for (const auto& [flag, expected] : flags)
        EXPECT_EQ((RegSetValueExA(key, "Flag", 0, REG_SZ, reinterpret_cast<const BYTE*>(flag), DWORD(strlen(flag) + 1)), ReadRegBool(key, "Flag", 7)), expected) << flag;
    EXPECT_EQ(ReadRegBool(key, "Missing", 7) * 10 + ReadRegBool(key, "Missing", 0), 70u);
    const DWORD one = 1;
    RegSetValueExA(key, "Binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>("0"), 1);
    RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    EXPECT_EQ(ReadRegBool(key, "Binary", 1) * 10 + ReadRegBool(key, "Number", 5), 5u) << "binary text counts, a number is no text";
    RegCloseKey(key), qxtest::DeleteRegTree(HKEY_CURRENT_USER, sub);
}

std::string Version(const std::string& file, const char* name, DWORD size = 256)
{
    char out[256];
    memset(out, 'Z', sizeof out - 1), out[255] = '\0';
    return GetFileVersionString(file.c_str(), out, size, name) ? out : "<none>" + std::string(out);
}

TEST(SystemServices, VersionsOfFilesAndOfWindows)
{
    const std::string trans = qxtest::ProgramDir() + "qxver_trans.dll", plain = qxtest::ProgramDir() + "qxver_plain.dll";
    ASSERT_EQ(trans[1], ':') << "the test program's path has a drive letter";
    // The translation table chooses the block; the U.S. English one answers for what it lacks.
    EXPECT_EQ(Version(trans, "FileVersion") + "|" + Version(trans, "ProductName") + "|" + Version(trans, "Comments") + "|" + Version(trans, "CompanyName"),
        "7.0.4.7 (de)|Qx Versionstest|only in the English block|<none>");
    char out[64], system[MAX_PATH];
    EXPECT_TRUE(GetFileVersion(plain.c_str(), out, sizeof out) && !strcmp(out, "2.5.0.3"));
    EXPECT_EQ(Version(plain, "LongText", 11) + "|" + Version(plain, "Missing"), "0123456789|<none>");  // cut to fit
    GetModuleFileNameA(nullptr, system, sizeof system);
    for (const std::string& none : { std::string(system), qxtest::ProgramDir() + "no_such_file.dll", std::string() })
        EXPECT_EQ(Version(none, "FileVersion"), "<none>") << none;

    constexpr DWORD W = VER_PLATFORM_WIN32_WINDOWS, N = VER_PLATFORM_WIN32_NT;
    const struct { DWORD platform, major, minor, build; const char* csd; WORD servicePack; DWORD expected; } cases[] = {
        { W, 4, 0, 950, "", 0, QX_OS_WIN95 }, { W, 4, 0, 950, " A", 0, QX_OS_WIN95 }, { W, 4, 0, 1111, " B", 0, QX_OS_WIN95_OSR2 },
        { W, 4, 0, 1212, " c ", 0, QX_OS_WIN95_OSR2 }, { W, 4, 0, 1212, " D", 0, QX_OS_UNKNOWN }, { W, 4, 0, 1212, " BC", 0, QX_OS_UNKNOWN },
        { W, 4, 10, 0x040A07CE, "", 0, QX_OS_WIN98 }, { W, 4, 10, 0x040A08AE, " A ", 0, QX_OS_WIN98_SE }, { W, 4, 10, 0x08AE0000, "", 0, QX_OS_WIN98 },
        { W, 4, 90, 0x045A0BB8, "", 0, QX_OS_WINME }, { W, 4, 11, 0, "", 0, QX_OS_WINME }, { W, 4, 9, 0, "", 0, QX_OS_UNKNOWN }, { W, 5, 0, 0, "", 0, QX_OS_UNKNOWN },
        { N, 3, 51, 1057, "", 0, QX_OS_NT3 }, { N, 4, 0, 1381, "Service Pack 6", 6, QX_OS_NT4 }, { N, 5, 0, 2195, "", 4, QX_OS_WIN2000 },
        { N, 5, 3, 0, "", 1, QX_OS_WIN2000 }, { N, 5, 1, 2600, "", 0, QX_OS_WINXP }, { N, 5, 2, 3790, "Service Pack 1", 1, QX_OS_WINXP_SP },
        { N, 6, 0, 6000, "", 0, QX_OS_UNKNOWN }, { N, 2, 0, 0, "", 0, QX_OS_UNKNOWN }, { VER_PLATFORM_WIN32s, 4, 0, 0, "", 0, QX_OS_UNKNOWN } };
    qxtest::PlayWindows windows;
    for (const auto& c : cases) {
        windows.platform = c.platform, windows.major = c.major, windows.minor = c.minor, windows.build = c.build;
        windows.csd = c.csd, windows.servicePack = c.servicePack;
        EXPECT_EQ(GetOsVersion(), c.expected) << c.platform << " " << c.major << "." << c.minor << "." << c.build << " \"" << c.csd << "\"";
    }
    // The basic structure when the extended one fails: no service pack seen.
    windows.platform = N, windows.major = 5, windows.minor = 2, windows.servicePack = 1, windows.sizesAsked.clear();
    EXPECT_EQ(GetOsVersion(), QX_OS_WINXP_SP);
    windows.extendedFails = true;
    EXPECT_EQ(GetOsVersion(), QX_OS_WINXP);
    EXPECT_EQ(windows.sizesAsked, (std::vector<DWORD> { 156, 156, 148 }));
    windows.platform = W, windows.major = 4, windows.minor = 10, windows.build = 2222;
    EXPECT_EQ(GetOsVersion(), QX_OS_WIN98_SE);
    windows.basicFails = true;
    EXPECT_EQ(GetOsVersion(), QX_OS_UNKNOWN);
}

// ---- skin settings ------------------------------------------------------------------

class Skin : public qxtest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp(), Reset();
        open_.answer = [this](HKEY root, LPCSTR sub, DWORD options, REGSAM access, PHKEY out) {
            if (access == KEY_ALL_ACCESS)
                fullOpens.push_back(sub);
            if (access & ~KEY_READ && denied == sub)
                return LONG(ERROR_ACCESS_DENIED);  // a user who may only read this key
            return open_.Next(root, sub, options, access, out);
        };
    }
    void TearDown() override { Reset(), DriverTest::TearDown(); }
    // The module never resets its settings: each test starts from the values of a fresh load, without keys.
    void Reset()
    {
        for (const char* key : { "Software\\Qx", driverRoot.c_str() })
            if (*key)
                qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, key);
        lstrcpyA(szQxKeyName, "HKLM\\Software\\Qx"), lstrcpyA(szQxUtilKeyName, "HKLM\\Software\\Qx\\QxTintra");
        for (char* text : { szQxByChipKey, g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon, g_szHomePageUrl })
            text[0] = '\0';
        gdwUiStyle = QXLOOK_LUSTRE, g_bHideLogo = FALSE;
    }
    // The start-up up to the skin read, against a driver of `family` that names its registry key.
    void StartUp(DWORD family)
    {
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, family));
        driver().config.driverKey = "qxskintest", driver().config.driverKeyUnicode = GetOsVersion() >= QX_OS_NT4;
        SetDisplayDeviceName("");
        ASSERT_TRUE(CheckSupport());
        InitRegKeyVars();
        ASSERT_EQ(strncmp(szQxByChipKey, "HKLM\\", 5), 0) << szQxByChipKey;
        driverKey = szQxByChipKey + 5, driverRoot = driverKey.substr(0, driverKey.find("qxskintest") + 10);
    }
    // Keys by their short names: M(aker), U(tility), KM and KU (the Kp ones), D(river).
    std::string Key(const std::string& token) const { return token == "D" ? driverKey : "Software\\Qx" + std::string(token[0] == 'K' ? "\\Kp" : "") + (token.back() == 'U' ? "\\QxTintra" : ""); }
    // A registry edit (the values are read as ReadRegString reads them, so text is enough): "key name=text",
    // "-key" deletes a key, "+key" makes an empty one.
    void Edit(const std::string& e)
    {
        const size_t space = e.find(' '), eq = e.find('=');
        if (e[0] == '-')
            qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, Key(e.substr(1)));
        else if (e[0] == '+')
            qxtest::SetReg(HKEY_LOCAL_MACHINE, Key(e.substr(1)), nullptr, 0, "");
        else
            qxtest::SetRegText(HKEY_LOCAL_MACHINE, Key(e.substr(0, space)), e.substr(space + 1, eq - space - 1).c_str(), e.substr(eq + 1));
    }
    // CheckRegFlags; the settings it left, as "background|8-bit background|logo|8-bit logo|tab icon|address|look|logo shown or hidden"
    // (each key read rewrites the look and the address, so they also tell which key came last).
    std::string ReadSkin()
    {
        fullOpens.clear(), CheckRegFlags();
        std::string s;
        for (const char* text : { g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon, g_szHomePageUrl })
            s += std::string(text) + "|";
        return s + (gdwUiStyle == QXLOOK_CLASSIC ? "classic" : gdwUiStyle == QXLOOK_LUSTRE ? "lustre" : "?") + (g_bHideLogo ? "|hidden" : "|shown");
    }

    std::string driverKey, driverRoot, denied;
    Strings fullOpens;
    qxtest::Recorder<decltype(&RegOpenKeyExA)> open_ { "RegOpenKeyExA", qxtest::ProgramModule() };
};

TEST_F(Skin, KeysAreReadInOrderLaterOnesWinOverridesStopAndSettingsSurvive)
{
    const std::string url = "http://long.example/" + std::string(400, 'u'), longest(511, 'p');
    const std::string def = QX_DEFAULT_HOME_PAGE_URL, cutUrl = url.substr(0, QX_SKIN_PATH_CHARS - 1), cutPath = longest.substr(0, QX_SKIN_PATH_CHARS - 1);
    const std::string mud = "maker.jpg|low.bmp|util.png||util.ico|";
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    // Registry edits, then a skin read: the settings; `denied`: a key the user may only read.
    const struct { std::vector<std::string> edits; std::string expected; const char* denied = ""; } steps[] = {
        // A primary chip reads the plain keys; the look and the address are rewritten by every key read.
        { { "KM Background=kp.jpg", "M Background=maker.jpg", "M OEMLogo=maker.png", "M HideLogo=1", "U OEMLogo=util.png", "U TabIcon=util.ico",
              "U UiStyle=Classic", "D Background8bpp=low.bmp", "D URL=http://driver/" }, mud + "http://driver/|lustre|hidden" },
        // SkinOverride on makes its key the last one read; anything but on/off/1/0 is none.
        { { "M SkinOverride=ON" }, "maker.jpg|low.bmp|maker.png||util.ico|" + def + "|lustre|hidden" },
        { { "M SkinOverride=Off", "U SkinOverride=1", "U URL=http://util/" }, "maker.jpg|low.bmp|util.png||util.ico|http://util/|classic|hidden" },
        { { "U SkinOverride=yes" }, mud + "http://driver/|lustre|hidden" },
        // Without the driver's key the utility's choice stands; the last key read decides the look, in any case.
        { { "-D" }, "maker.jpg|low.bmp|util.png||util.ico|http://util/|classic|hidden" }, { { "D UiStyle=CLASSIC" }, mud + def + "|classic|hidden" },
        { { "D UiStyle=Classic " }, mud + def + "|lustre|hidden" }, { { "D UiStyle=Classic" }, mud + def + "|classic|hidden" },
        { { "D URL=" + url }, mud + cutUrl + "|classic|hidden" },
        // HideLogo keeps its value on text it does not know.
        { { "U HideLogo=yes" }, mud + cutUrl + "|classic|hidden" }, { { "M HideLogo=Off", "U HideLogo=on" }, mud + cutUrl + "|classic|hidden" },
        { { "M HideLogo=1", "U HideLogo=0" }, mud + cutUrl + "|classic|shown" },
        // An unusable picture value leaves the earlier one; the longest usable is cut to a path.
        { { "U Background=" + std::string(512, 'q') }, mud + cutUrl + "|classic|shown" },
        { { "U Background=" + longest }, cutPath + "|low.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        // "<none>" for the normal background says nothing about the 8-bit one.
        { { "U Background=<none>", "U Background8bpp=u.bmp" }, "<none>|u.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        // A key the user may only read counts as absent.
        { { "U SkinOverride=ON", "D TabIcon=driver.ico" }, "maker.jpg|u.bmp|maker.png||driver.ico|" + cutUrl + "|classic|hidden", "U" },
        // No key at all: nothing changes, not even the look or the address; an empty key: the paths stay, the look and the address go back.
        { { "-U", "-D", "M UiStyle=Classic", "M URL=http://maker/" }, "maker.jpg|u.bmp|maker.png||driver.ico|http://maker/|classic|hidden" },
        { { "-M" }, "maker.jpg|u.bmp|maker.png||driver.ico|http://maker/|classic|hidden" }, { { "+D" }, "maker.jpg|u.bmp|maker.png||driver.ico|" + def + "|lustre|hidden" },
    };
    for (const auto& s : steps) {
        for (const std::string& e : s.edits)
            Edit(e);
        denied = *s.denied ? Key(s.denied) : "";
        EXPECT_EQ(ReadSkin(), s.expected) << s.edits[0];
        EXPECT_TRUE(!*s.denied || std::find(fullOpens.begin(), fullOpens.end(), denied) != fullOpens.end()) << "the key was tried";
    }
    EXPECT_STREQ(szQxKeyName, "HKLM\\Software\\Qx");

    // A Kp chip switches to the Kp keys for the rest of the load.
    Reset();
    for (const char* e : { "M Background=M.x", "U OEMLogo=U.x", "KM Background=KM.x", "KU OEMLogo=KU.x" })
        Edit(e);
    for (DWORD family : { CHIP_FAMILY_KP, CHIP_FAMILY_PRIMARY }) {
        ASSERT_NO_FATAL_FAILURE(StartUp(family));
        Edit("+D");
        EXPECT_EQ(ReadSkin(), "KM.x||KU.x|||" + def + "|lustre|shown");
        EXPECT_EQ(szQxKeyName + std::string("|") + szQxUtilKeyName, "HKLM\\Software\\Qx\\Kp|HKLM\\Software\\Qx\\Kp\\QxTintra");
        qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, driverRoot);
    }
}

TEST_F(Skin, TabIconFromFileElseTheModulesOwn)
{
    // The tab icon: the file when it loads as an icon (the shipped one, from its own file), else the module's own.
    const std::string dir = qxtest::MakeTempDir("tabicon"), good = "Z:" QX_SOURCE_DIR "/resources/art/tab.ico", text = dir + "\\text.ico";
    qxtest::WriteFileBytes(text, "this is a text file, not an icon\r\n", 34);
    Strings loads;
    qxtest::Recorder<decltype(&LoadImageA)> load("LoadImageA", qxtest::ProgramModule());
    load.observe = [&](HANDLE, HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
        char call[MAX_PATH + 64];
        snprintf(call, sizeof call, "%s %s %u %d %d %#x", module == g_hInstance ? "module" : module ? "?" : "file",
            IS_INTRESOURCE(name) ? std::to_string(LOWORD(name)).c_str() : name, type, cx, cy, flags);
        loads.push_back(call);
    };
    for (const std::string& path : { good, text, dir + "\\missing.ico", std::string() }) {
        lstrcpynA(g_szTabIcon, path.c_str(), QX_SKIN_PATH_CHARS), loads.clear();
        HICON icon = LoadTabIcon();
        EXPECT_TRUE(icon && DestroyIcon(icon)) << "the caller owns the icon";
        // LR_LOADFROMFILE | LR_DEFAULTSIZE for the file, then the module's own when it did not load.
        Strings expected = path.empty() ? Strings {} : Strings { "file " + path + " 1 0 0 0x50" };
        if (path != good)
            expected.push_back("module " + std::to_string(IDI_TAB_ICON) + " 1 0 0 0x40");
        EXPECT_EQ(loads, expected);
    }
    qxtest::RemoveTree(dir);
}

} // namespace
