// Configuration: language choice, configuration-file texts and help files
// (system and Windows directories redirected into a temporary tree); registry
// paths and values, version strings, Windows version classes; the skin
// settings read from the registry, the colour-depth probe and the tab icon.
#include "qxtest.h"

#include <locale.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

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
        crtLocale_ = setlocale(LC_ALL, nullptr);
        threadLocale_ = GetThreadLocale();
        g_uiLanguage = 0x0409;
        Fresh();
    }
    void TearDown() override
    {
        Fresh();
        setlocale(LC_ALL, crtLocale_.c_str());
        SetThreadLocale(threadLocale_);
        qxtest::RemoveTree(root_);
    }
    // The module's language state as at load.
    void Fresh()
    {
        memcpy(g_aHelpIds, helpIds_, sizeof helpIds_);
        g_bHelpIdsShifted = FALSE;
        lstrcpyA(g_szLanguage, "English");
        g_szCfgSection[0] = g_szCfgFile[0] = g_szHelpFile[0] = g_szAbbrev[0] = g_szLangFile[0] = '\0';
        g_wPrimaryLang = 0;
        g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    }
    std::string Sys(const char* name) const { return sys_ + "\\" + name; }
    void WriteSys(const char* name, const std::string& text) { ASSERT_TRUE(qxtest::WriteFileBytes(Sys(name), text.data(), text.size())); }
    std::string Text(const char* key, const char* def = "<default>")
    {
        char buffer[512];
        GetCfgString(key, def, buffer, sizeof buffer);
        return buffer;
    }
    // Language, abbreviation, help file, primary language and locale.
    static std::string State()
    {
        char text[512];
        snprintf(text, sizeof text, "%s %s %s %u %04lX", g_szLanguage, g_szAbbrev, g_szHelpFile, g_wPrimaryLang, (unsigned long)g_lcidUi);
        return text;
    }
    // Every context id moved by `offset` from the table at load, every control
    // id untouched, the list still ending at control id 0.
    void ExpectHelpShift(DWORD offset)
    {
        for (int i = 0; i < QX_HELP_ID_PAIRS * 2; ++i)
            EXPECT_EQ(g_aHelpIds[i], helpIds_[i] + (i % 2 ? offset : 0)) << i;
        EXPECT_EQ(g_aHelpIds[(QX_HELP_ID_PAIRS - 1) * 2], 0u);
        EXPECT_EQ(g_bHelpIdsShifted, offset != 0);
    }

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

// One start-up after the other: files written, help files added, then
// InitLocalization; `fresh` puts the module's state back as at load first.
struct Step {
    Files files = {};
    std::vector<const char*> help = {};  // help files that come to exist
    bool fresh = false;
    DWORD family = CHIP_FAMILY_PRIMARY;
    LANGID ui = 0x0409;
    bool noUiExport = false;
    LCID systemLcid = 0x0409;
    const char* provisional = nullptr;  // the section read before the loop, when checked
    // language, abbreviation, help file, primary language, locale
    const char* state;
    const char* cfgFile = "QXTINTRA.CFG";
    const char* tab0 = "<default>";
    DWORD shift = 0;
    const char* crt = nullptr;  // the C runtime locale afterwards (set to "C" before), when checked
    int uiLookups = 0;          // the interface language is asked for "Auto" only
};

TEST_F(Localization, StartUpsChooseLanguageFileTextsAndHelp)
{
    const std::string kp = "[Language]\r\nLanguage=German\r\nGerman=QXDEU.CFG\r\nGerman_KP=KPDEU.CFG\r\n[German]\r\nTAB0=base\r\n";
    const Step steps[] = {
        // No file and a German interface: English, the wst help file.
        { .help = { "QXTINwst.HLP" }, .ui = 0x0407, .state = "English wst QXTINwst.HLP 9 0409", .uiLookups = 1 },
        // Chosen by the file: its section, its locale everywhere, help ids shifted once in a load.
        { .files = { { "QXTINTRA.CFG", "[Language]\r\nLanguage=German\r\n[German]\r\nTAB0=Pinselstrich-Effekte\r\n[French]\r\nTAB0=Effets\r\n" } },
            .state = "German wst QXTINwst.HLP 7 0407", .tab0 = "Pinselstrich-Effekte", .shift = 10000, .crt = "German" },
        // The next start-up first reads the previous language as its section.
        { .files = { { "QXTINTRA.CFG", "[Language]\r\nLanguage=French\r\n[French]\r\nTAB0=Effets de pinceau\r\n" } },
            .provisional = "German", .state = "French wst QXTINwst.HLP 12 040C", .tab0 = "Effets de pinceau", .shift = 10000 },
        // A group's help file missing: wst with the English numbering; the thread keeps the language's locale.
        { .files = { { "QXTINTRA.CFG", "[Language]\r\nLanguage=Czech\r\n[Czech]\r\nTAB0=Efekty\r\n" } }, .fresh = true,
            .state = "Czech ws2 QXTINwst.HLP 9 0405", .tab0 = "Efekty" },
        { .files = { { "QXTINTRA.CFG", "[Language]\r\nLanguage=Greek\r\n[Greek]\r\nTAB0=x\r\n" } }, .state = "Greek ws2 QXTINwst.HLP 9 0408", .tab0 = "x" },
        { .help = { "QXTINws2.HLP" }, .state = "Greek ws2 QXTINws2.HLP 8 0408", .tab0 = "x", .shift = 2000 },
        // A help file found nowhere keeps the wst name, which is not checked itself.
        { .files = { { "QXTINTRA.CFG", "[Language]\r\nLanguage=Japanese\r\n[Japanese]\r\nTAB0=x\r\n" } }, .fresh = true,
            .state = "Japanese JPN QXTINwst.HLP 9 0411", .tab0 = "x" },
        { .help = { "QXTINJPN.HLP" }, .state = "Japanese JPN QXTINJPN.HLP 17 0411", .tab0 = "x" },
        // The Kp family reads its own file and redirection keys; the other its plain ones.
        { .files = { { "KPTINTRA.CFG", kp }, { "QXTINTRA.CFG", kp }, { "QXDEU.CFG", "[German]\r\nTAB0=Qx-Datei\r\n" },
              { "KPDEU.CFG", "[German]\r\nTAB0=Kp-Datei\r\n" } },
            .help = { "KPTINwst.HLP" }, .fresh = true, .family = CHIP_FAMILY_KP, .state = "German wst KPTINwst.HLP 7 0407",
            .cfgFile = "KPDEU.CFG", .tab0 = "Kp-Datei", .shift = 10000 },
        { .state = "German wst QXTINwst.HLP 7 0407", .cfgFile = "QXDEU.CFG", .tab0 = "Qx-Datei", .shift = 10000 },
        // A name outside the table keeps the previous primary language and locale, and is a language like any other.
        { .files = { { "QXTINTRA.CFG", "[Language]\r\nLanguage=Klingon\r\n[Klingon]\r\nTAB0=tlhIngan\r\n" } },
            .state = "Klingon DEU QXTINwst.HLP 9 0407", .tab0 = "tlhIngan", .shift = 10000, .crt = "C" },
        // No German section in the redirected file: English, through that file's own redirection.
        { .files = { { "KPTINTRA.CFG", "[Language]\r\nLanguage=German\r\nGerman_KP=sub.cfg\r\n" },
              { "sub.cfg", "[Language]\r\nEnglish_KP=eng.cfg\r\n[English]\r\nTAB0=wrong\r\n" }, { "eng.cfg", "[English]\r\nTAB0=Kp English\r\n" } },
            .fresh = true, .family = CHIP_FAMILY_KP, .state = "English wst KPTINwst.HLP 9 0409", .cfgFile = "eng.cfg", .tab0 = "Kp English" },
        // "Auto": the interface language; a section "Auto" with keys is a language of its own, an empty one is not.
        { .files = { { "QXTINTRA.CFG", "[Language]\r\nLanguage=Auto\r\n" } }, .state = "English wst QXTINwst.HLP 9 0409", .uiLookups = 1 },
        { .files = { { "QXTINTRA.CFG", "[Auto]\r\nTAB0=from Auto\r\n" } }, .state = "Auto wst QXTINwst.HLP 9 0409", .tab0 = "from Auto",
            .crt = "C", .uiLookups = 1 },
        { .files = { { "QXTINTRA.CFG", "[Auto]\r\n" } }, .state = "English wst QXTINwst.HLP 9 0409", .uiLookups = 1 },
        // Without the interface-language export the system locale stands in, sort order and all.
        { .files = { { "QXTINTRA.CFG", "[Spanish]\r\nTAB0=Efectos\r\n" } }, .fresh = true, .ui = 0x0407, .noUiExport = true,
            .systemLcid = 0x00010C0A, .state = "Spanish wst QXTINwst.HLP 10 040A", .tab0 = "Efectos", .shift = 18000, .uiLookups = 1 },
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
        EXPECT_EQ(State(), s.state);
        EXPECT_EQ(uiLookups, s.uiLookups);
        EXPECT_EQ(std::string(g_szCfgFile), Sys(s.cfgFile));
        EXPECT_EQ(std::string(g_szCfgSection), g_szLanguage);
        EXPECT_EQ(Text("TAB0") + Text("TAB1"), s.tab0 + std::string("<default>"));
        EXPECT_EQ(GetThreadLocale(), g_lcidUi);
        if (s.crt)
            EXPECT_EQ(std::string(setlocale(LC_ALL, nullptr)).rfind(s.crt, 0), 0u) << setlocale(LC_ALL, nullptr);
        // The help file of the language's own group is looked for, once; the wst fallback is not.
        const std::string own = std::string(s.family == CHIP_FAMILY_KP ? "KP" : "QX") + "TIN" + g_szAbbrev + ".HLP";
        EXPECT_EQ(helpChecks, Strings { win_ + "\\help|" + own });
        ExpectHelpShift(s.shift);
    }

    // The shipped sample: every key in every language, translated, and the
    // language left to the user's interface.
    std::stringstream sample;
    sample << std::ifstream(QX_SOURCE_DIR "/resources/config/QXTINTRA.CFG", std::ios::binary).rdbuf();
    WriteSys("QXTINTRA.CFG", sample.str());
    for (const char* key : { "IDS_TAB_COLOR", "TAB0", "TAB1", "Msg2CopiesWarn", "Msg2CopiesWarn2", "IDC_EF_NONE", "IDC_EMBOSS",
             "IDC_NEON_EDGES", "IDC_SOFT_FOCUS", "IDC_SELECTED_SHARP", "IDC_DBLK_EDGESMOOTHING", "IDC_DBLK_COMPLEXPICSMOOTHING", "IDC_ORIGINALGRPBOX" }) {
        std::string english;
        for (const char* language : { "English", "German", "Japanese", "Simplified Chinese", "Traditional Chinese" }) {
            SetConfigSection(language, Sys("QXTINTRA.CFG").c_str());
            const std::string text = Text(key);
            EXPECT_NE(text, "<default>") << key << " " << language;
            if (strcmp(key, "IDS_TAB_COLOR") && !english.empty())  // the product name may stay
                EXPECT_NE(text, english) << key << " " << language;
            english = english.empty() ? text : english;
        }
    }
    Fresh();
    g_uiLanguage = 0x0407, hasUiExport = true;
    InitLocalization();
    EXPECT_EQ(g_szLanguage + Text("IDC_EMBOSS"), "GermanRelief");
}

TEST_F(Localization, NamesPathsAndTextLookups)
{
    // "Auto" with an English interface stays "auto" until the loop; Chinese and
    // Portuguese go by sublanguage, Hong Kong keeps its own, other sublanguages
    // map to the main one; a language without texts of its own is English with
    // the locale's short name.
    char name[QX_LANGUAGE_CHARS] = "auto", abbrev[QX_ABBREV_CHARS] = "junk";
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 0);
    EXPECT_EQ(name + std::string(abbrev) + std::to_string(g_wPrimaryLang), "autowst9");
    const std::pair<LANGID, const char*> autos[] = { { 0x0404, "Traditional Chinese CHT 0404 0" }, { 0x0804, "Simplified Chinese CHS 0804 0" },
        { 0x0C04, "Simplified Chinese ZHH 0C04 0" }, { 0x0416, "Portuguese Brazilian wst 0416 16000" }, { 0x0816, "Portuguese Standard ws2 0816 8000" },
        { 0x0807, "German wst 0407 10000" }, { 0x0C0A, "Spanish wst 040A 18000" }, { 0x041F, "Turkish ws2 041F 14000" },
        { 0x0424, "Slovenian ws2 0424 10000" }, { 0x0411, "Japanese JPN 0411 0" }, { 0x0401, "English ENU 0409 0" }, { 0x0000, "English ENU 0409 0" } };
    for (const auto& [ui, expected] : autos) {
        g_uiLanguage = ui;
        lstrcpyA(name, "Auto");
        const WORD offset = ResolveLanguageName(name, abbrev);
        char got[128];
        snprintf(got, sizeof got, "%s %s %04lX %u", name, abbrev, (unsigned long)g_lcidUi, offset);
        EXPECT_STREQ(got, expected);
    }
    // Every language Auto picks resolves by name to the same locale.
    int named = 0;
    for (WORD primary = 1; primary < 0x40; ++primary) {
        g_uiLanguage = MAKELANGID(primary, 1);
        lstrcpyA(name, "Auto");
        const WORD offset = ResolveLanguageName(name, abbrev);
        if (primary == 9 || lstrcmpA(name, "English") == 0)
            continue;
        const std::pair<LCID, std::string> viaAuto = { g_lcidUi, abbrev };
        EXPECT_EQ(ResolveLanguageName(name, abbrev), offset) << name;
        EXPECT_EQ(std::make_pair(g_lcidUi, std::string(abbrev)), viaAuto) << name;
        ++named;
    }
    EXPECT_EQ(named, 22) << "every primary language of the table but English";
    // Names match without regard to case; an unknown one keeps the previous
    // primary language and locale.
    lstrcpyA(name, "gErMaN");
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 10000);
    lstrcpyA(name, "Klingon");
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 0);
    EXPECT_EQ(name + std::string(abbrev) + std::to_string(g_wPrimaryLang) + std::to_string(g_lcidUi), "KlingonDEU71031");

    // Overlong names and paths are cut: a 70-character name reads the section
    // of its first 63 characters; a redirection is cut to the path buffer.
    g_uiLanguage = 0x0409;
    const std::string longName(70, 'L');
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=" + longName + "\r\n[" + longName.substr(0, 63) + "]\r\nTAB0=cut\r\n");
    InitLocalization();
    EXPECT_EQ(g_szLanguage + Text("TAB0"), longName.substr(0, 63) + "cut");
    SetConfigSection(std::string(200, 'S').c_str(), std::string(400, 'F').c_str());
    EXPECT_EQ(strlen(g_szCfgSection) * 1000 + strlen(g_szCfgFile), 127u * 1000 + MAX_PATH - 1);
    char path[MAX_PATH], language[QX_LANGUAGE_CHARS], help[MAX_PATH];
    BuildConfigFilePath(path);
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=English\r\nEnglish=" + std::string(300, 'r') + "\r\n");
    SelectLanguage(nullptr, language, abbrev, help, "QXTIN%s.HLP", path);
    EXPECT_EQ(std::string(path), (sys_ + "\\" + std::string(300, 'r')).substr(0, MAX_PATH - 1));
    // The file's path: the system directory and the family's name; the section the last language.
    lstrcpyA(g_szLanguage, "English");
    for (const auto& [dir, family, expected] : { std::tuple { "X:\\", CHIP_FAMILY_PRIMARY, "X:\\QXTINTRA.CFG" }, { "X:\\sys", CHIP_FAMILY_KP, "X:\\sys\\KPTINTRA.CFG" } }) {
        sys_ = dir, g_dwChipFamily = family, g_szCfgSection[0] = '\0';
        EXPECT_TRUE(BuildConfigFilePath(path));
        EXPECT_EQ(path + std::string("|") + g_szCfgFile + "|" + g_szCfgSection, expected + std::string("|") + expected + "|English");
    }
    sys_ = root_ + "\\system32";

    WriteSys("QXTINTRA.CFG", "[English]\r\nTAB0=Brush\r\nEMPTY=\r\nLONG=0123456789abcdef\r\n");
    char out[8];
    g_szCfgFile[0] = g_szCfgSection[0] = '\0';  // before any start-up nothing is read, even with a file in place
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, sizeof out));
    EXPECT_STREQ(out, "def");
    SetConfigSection("English", Sys("QXTINTRA.CFG").c_str());
    const struct {
        const char *key, *def;
        bool found;
        const char* expected;
    } lookups[] = { { "TAB0", "def", true, "Brush" }, { "tab0", "def", true, "Brush" }, { "MISSING", "default", false, "default" },
        { "EMPTY", "def", false, "def" }, { "MISSING", nullptr, false, "" }, { nullptr, "def", false, "def" },  // a null key must not list the section
        { "LONG", "def", true, "0123456" }, { "MISSING", "a default that is too long", false, "a defau" } };  // cut to the buffer
    for (const auto& l : lookups) {
        EXPECT_EQ(GetCfgString(l.key, l.def, out, sizeof out), l.found) << (l.key ? l.key : "<null>");
        EXPECT_STREQ(out, l.expected);
    }
    memset(out, 'z', sizeof out);
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, 0) || GetCfgString("TAB0", "def", nullptr, 8));
    EXPECT_EQ(out[0], 'z');
    // Another section, or a missing file, reads as empty.
    SetConfigSection("German", Sys("QXTINTRA.CFG").c_str());
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, sizeof out));
    SetConfigSection("English", Sys("NONE.CFG").c_str());
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, sizeof out));
}

// ---- registry paths and values, versions ------------------------------------------------

TEST(SystemServices, RegistryPathsAndValues)
{
    const std::string name = "QxTintraTest_" + std::to_string(GetCurrentProcessId()), sub = "Software\\" + name;
    const struct {
        HKEY root;
        const char *shortName, *longName;
        std::string sub;
    } roots[] = { { HKEY_LOCAL_MACHINE, "HKLM", "HKEY_LOCAL_MACHINE", sub }, { HKEY_CURRENT_USER, "HKCU", "HKEY_CURRENT_USER", sub },
        { HKEY_CLASSES_ROOT, "HKCR", "HKEY_CLASSES_ROOT", name }, { HKEY_USERS, "HKU", "HKEY_USERS", ".DEFAULT\\" + sub },
        { HKEY_CURRENT_CONFIG, "HKCC", "HKEY_CURRENT_CONFIG", sub } };
    HKEY key = nullptr;
    char text[QX_REG_TEXT_BYTES + 16];
    for (const auto& root : roots) {
        qxtest::SetRegText(root.root, root.sub, "Root", root.shortName);
        for (std::string path : { root.shortName, root.longName })  // long and short names in any case
            for (int lower = 0; lower < 2; ++lower, CharLowerA(path.data())) {
                ASSERT_EQ(OpenRegPath((path + "\\" + root.sub).c_str(), KEY_READ, &key), ERROR_SUCCESS) << path;
                ReadRegString(key, "Root", text, "<none>");
                RegCloseKey(key);
                EXPECT_STREQ(text, root.shortName);
            }
        if (root.root != HKEY_CURRENT_USER)
            qxtest::DeleteRegTree(root.root, root.sub);
    }
    key = reinterpret_cast<HKEY>(0x1234);
    for (const char* path : { "", "HKLM", "Software\\Microsoft", "HKLMX\\Software", "HKEY_LOCAL\\Software", "\\Software", "HK\\Software",
             "HKEY_LOCAL_MACHINEX\\Software" })
        EXPECT_EQ(OpenRegPath(path, KEY_READ, &key), ERROR_INVALID_PARAMETER) << path;
    EXPECT_EQ(key, reinterpret_cast<HKEY>(0x1234)) << "no key handed out";

    // Each part is opened for enumeration before the whole path; a missing
    // part stops the walk, the last one fails from the full path; only the
    // key handed out stays open.
    qxtest::SetReg(HKEY_CURRENT_USER, sub + "\\Sub\\Leaf", nullptr, 0, "");
    std::vector<std::pair<std::string, REGSAM>> opens;
    qxtest::Recorder<decltype(&RegOpenKeyExA)> open("RegOpenKeyExA", qxtest::ProgramModule());
    open.observe = [&](LONG, HKEY, LPCSTR path, DWORD, REGSAM access, PHKEY) { opens.push_back({ path, access }); };
    const auto before = qxtest::CurrentCounts();
    const REGSAM E = KEY_ENUMERATE_SUB_KEYS;
    EXPECT_EQ(OpenRegPath(("HKCU\\" + sub + "\\Missing\\Deeper\\Leaf").c_str(), KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opens, (decltype(opens) { { "Software", E }, { sub, E }, { sub + "\\Missing", E } }));
    opens.clear();
    ASSERT_EQ(OpenRegPath(("HKCU\\" + sub + "\\Sub\\Leaf").c_str(), KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(opens, (decltype(opens) { { "Software", E }, { sub, E }, { sub + "\\Sub", E }, { sub + "\\Sub\\Leaf", KEY_QUERY_VALUE } }));
    EXPECT_EQ(qxtest::CurrentCounts().handles, before.handles + 1);
    RegCloseKey(key);
    EXPECT_EQ(OpenRegPath(("HKCU\\" + sub + "\\Nope").c_str(), KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opens.back(), std::make_pair(sub + "\\Nope", REGSAM(KEY_READ)));
    EXPECT_EQ(qxtest::CurrentCounts(), before);
    // A whole path of 255 characters opens; parts longer than any key name
    // fail as the registry says, in the middle and at the end.
    const std::string prefix = "HKCU\\" + sub + "\\", last(255 - prefix.size(), 'L');
    qxtest::SetReg(HKEY_CURRENT_USER, sub + "\\" + last, nullptr, 0, "");
    ASSERT_EQ(OpenRegPath((prefix + last).c_str(), KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    for (const std::string& tail : { std::string(300, 'L') + "\\x", std::string(300, 'L'), std::string(5000, 'L') + "\\x\\y" })
        EXPECT_NE(OpenRegPath((prefix + tail).c_str(), KEY_READ, &key), ERROR_SUCCESS) << tail.size();

    using namespace std::string_literals;
    const struct {
        DWORD type;
        std::string bytes;  // stored as they are
        bool usable;        // else the default is read
        std::string text;
    } values[] = { { REG_SZ, "C:\\skins\\back.jpg\0"s, true, "C:\\skins\\back.jpg" }, { REG_SZ, "\0"s, false }, { REG_SZ, "", false },
        { REG_SZ, "\0\0"s, false }, { REG_SZ, "abc", true, "abc" },
        // 511 characters and the terminator are exactly 512 bytes; one more is too large.
        { REG_SZ, std::string(511, 'f') + '\0', true, std::string(511, 'f') }, { REG_SZ, std::string(512, 't') + '\0', false },
        { REG_SZ, std::string(5000, 't') + '\0', false },
        // Other types are not text, but binary values are, up to their first zero; 512 bytes without one are not.
        { REG_DWORD, "\1\0\0\0"s, false }, { REG_EXPAND_SZ, "%TEMP%\0"s, false }, { REG_MULTI_SZ, "a\0b\0\0"s, false },
        { REG_BINARY, "abc\0def\0"s, true, "abc" }, { REG_BINARY, "abc", true, "abc" }, { REG_BINARY, "x", true, "x" },
        { REG_BINARY, "\0abc"s, true, "" }, { REG_BINARY, "", false }, { REG_BINARY, std::string(511, 'b'), true, std::string(511, 'b') },
        { REG_BINARY, std::string(511, 'b') + '\0', true, std::string(511, 'b') }, { REG_BINARY, std::string(512, 'b'), false },
        { REG_BINARY, std::string(514, 'b'), false } };
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    for (const auto& v : values) {
        RegSetValueExA(key, "V", 0, v.type, reinterpret_cast<const BYTE*>(v.bytes.data()), DWORD(v.bytes.size()));
        memset(text, 0x5A, sizeof text);
        EXPECT_EQ(ReadRegString(key, "V", text, "default"), v.usable) << &v - values;
        EXPECT_EQ(std::string(text), v.usable ? v.text : "default") << &v - values;
        EXPECT_EQ(std::string(text + QX_REG_TEXT_BYTES, 16), std::string(16, 0x5A)) << "written past the buffer";
    }
    EXPECT_FALSE(ReadRegString(key, "Missing", text, nullptr));
    EXPECT_STREQ(text, "") << "a null default reads as empty";
    const std::pair<const char*, DWORD> flags[] = { { "ON", 1 }, { "on", 1 }, { "On", 1 }, { "1", 1 }, { "Off", 0 }, { "OFF", 0 }, { "off", 0 },
        { "0", 0 }, { "yes", 7 }, { "2", 7 }, { " on", 7 }, { "on ", 7 }, { "01", 7 }, { "", 7 } };
    for (const auto& [flag, expected] : flags) {
        RegSetValueExA(key, "Flag", 0, REG_SZ, reinterpret_cast<const BYTE*>(flag), DWORD(strlen(flag) + 1));
        EXPECT_EQ(ReadRegBool(key, "Flag", 7), expected) << flag;
    }
    EXPECT_EQ(ReadRegBool(key, "Missing", 7) * 10 + ReadRegBool(key, "Missing", 0), 70u);
    RegSetValueExA(key, "Binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>("0"), 1);
    const DWORD one = 1;
    RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    EXPECT_EQ(ReadRegBool(key, "Binary", 1) * 10 + ReadRegBool(key, "Number", 5), 5u) << "binary text counts, a number is no text";
    RegCloseKey(key);
    qxtest::DeleteRegTree(HKEY_CURRENT_USER, sub);
}

std::string Version(const std::string& file, const char* name, DWORD size = 256)
{
    char out[256];
    memset(out, 'Z', sizeof out - 1);
    out[255] = '\0';
    return GetFileVersionString(file.c_str(), out, size, name) ? out : "<none>" + std::string(out);
}

TEST(SystemServices, VersionsOfFilesAndOfWindows)
{
    const std::string trans = qxtest::ProgramDir() + "qxver_trans.dll", plain = qxtest::ProgramDir() + "qxver_plain.dll";
    ASSERT_EQ(trans[1], ':') << "the test program's path has a drive letter";
    // The translation table chooses the block; the U.S. English one answers for what it lacks.
    EXPECT_EQ(Version(trans, "FileVersion") + "|" + Version(trans, "ProductName") + "|" + Version(trans, "Comments") + "|" + Version(trans, "CompanyName"),
        "7.0.4.7 (de)|Qx Versionstest|only in the English block|<none>");
    char out[64], system[MAX_PATH], previous[MAX_PATH];
    EXPECT_TRUE(GetFileVersion(plain.c_str(), out, sizeof out));
    EXPECT_STREQ(out, "2.5.0.3");
    EXPECT_EQ(Version(plain, "LongText", 11) + "|" + Version(plain, "Missing"), "0123456789|<none>");  // cut to fit
    // Bare names are system files, not looked for in the current directory.
    GetSystemDirectoryA(system, sizeof system);
    const std::string copy = system + ("\\qxver_" + std::to_string(GetCurrentProcessId()) + ".dll");
    ASSERT_TRUE(CopyFileA(plain.c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(Version(copy.substr(copy.rfind('\\') + 1), "FileVersion"), "2.5.0.3");
    DeleteFileA(copy.c_str());
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(qxtest::ProgramDir().c_str());
    EXPECT_EQ(Version("qxver_trans.dll", "FileVersion"), "<none>");
    SetCurrentDirectoryA(previous);
    GetModuleFileNameA(nullptr, system, sizeof system);
    for (const std::string& none : { std::string(system), qxtest::ProgramDir() + "no_such_file.dll", std::string() })
        EXPECT_EQ(Version(none, "FileVersion"), "<none>") << none;
    GetModuleFileNameA(qxtest::BuiltDll(), system, sizeof system);  // the start-up's version trace reads the module's own file
    EXPECT_TRUE(GetFileVersion(system, out, sizeof out));
    EXPECT_STREQ(out, QX_VERSION_STRING);

    constexpr DWORD W = VER_PLATFORM_WIN32_WINDOWS, N = VER_PLATFORM_WIN32_NT;
    const struct {
        DWORD platform, major, minor, build;
        const char* csd;
        WORD servicePack;
        DWORD expected;
    } cases[] = { { W, 4, 0, 950, "", 0, QX_OS_WIN95 }, { W, 4, 0, 950, "   ", 0, QX_OS_WIN95 }, { W, 4, 0, 950, " A", 0, QX_OS_WIN95 },
        { W, 4, 0, 950, "a", 0, QX_OS_WIN95 }, { W, 4, 0, 1111, " B", 0, QX_OS_WIN95_OSR2 }, { W, 4, 0, 1212, " c ", 0, QX_OS_WIN95_OSR2 },
        { W, 4, 0, 1212, " D", 0, QX_OS_UNKNOWN }, { W, 4, 0, 1212, " BC", 0, QX_OS_UNKNOWN }, { W, 4, 10, 0x040A07CE, "", 0, QX_OS_WIN98 },
        { W, 4, 10, 0x040A08AE, " A ", 0, QX_OS_WIN98_SE }, { W, 4, 10, 2222, "", 0, QX_OS_WIN98_SE }, { W, 4, 10, 0x08AE0000, "", 0, QX_OS_WIN98 },
        { W, 4, 90, 0x045A0BB8, "", 0, QX_OS_WINME }, { W, 4, 11, 0, "", 0, QX_OS_WINME }, { W, 4, 1, 0, "", 0, QX_OS_UNKNOWN },
        { W, 4, 9, 0, "", 0, QX_OS_UNKNOWN }, { W, 3, 10, 0, "", 0, QX_OS_UNKNOWN }, { W, 5, 0, 0, "", 0, QX_OS_UNKNOWN },
        { N, 3, 51, 1057, "", 0, QX_OS_NT3 }, { N, 4, 0, 1381, "Service Pack 6", 6, QX_OS_NT4 }, { N, 5, 0, 2195, "", 4, QX_OS_WIN2000 },
        { N, 5, 3, 0, "", 1, QX_OS_WIN2000 }, { N, 5, 1, 2600, "", 0, QX_OS_WINXP }, { N, 5, 2, 3790, "", 0, QX_OS_WINXP },
        { N, 5, 1, 2600, "Service Pack 2", 2, QX_OS_WINXP_SP }, { N, 5, 2, 3790, "Service Pack 1", 1, QX_OS_WINXP_SP },
        { N, 6, 0, 6000, "", 0, QX_OS_UNKNOWN }, { N, 10, 0, 19045, "", 0, QX_OS_UNKNOWN }, { N, 2, 0, 0, "", 0, QX_OS_UNKNOWN },
        { VER_PLATFORM_WIN32s, 4, 0, 0, "", 0, QX_OS_UNKNOWN } };
    qxtest::PlayWindows windows;
    for (const auto& c : cases) {
        windows.platform = c.platform, windows.major = c.major, windows.minor = c.minor, windows.build = c.build;
        windows.csd = c.csd, windows.servicePack = c.servicePack;
        EXPECT_EQ(GetOsVersion(), c.expected) << c.platform << " " << c.major << "." << c.minor << "." << c.build << " \"" << c.csd << "\"";
    }
    // The basic structure when the extended one fails: no service pack seen.
    windows.platform = N, windows.major = 5, windows.minor = 2, windows.servicePack = 1;
    windows.sizesAsked.clear();
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
        DriverTest::SetUp();
        Reset();
        open_.answer = [this](HKEY root, LPCSTR sub, DWORD options, REGSAM access, PHKEY out) {
            if (access == KEY_ALL_ACCESS)
                fullOpens.push_back(sub);
            if (access & ~KEY_READ && denied == sub)
                return LONG(ERROR_ACCESS_DENIED);  // a user who may only read this key
            const LONG rc = open_.Next(root, sub, options, access, out);
            if (rc == ERROR_SUCCESS)
                live_[*out] = sub;
            return rc;
        };
        query_.observe = [this](LONG, HKEY key, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
            const std::string name = live_.count(key) ? Token(live_[key]) : "?";
            if (std::find(readKeys.begin(), readKeys.end(), name) == readKeys.end())
                readKeys.push_back(name);
        };
    }
    void TearDown() override
    {
        Reset();
        DriverTest::TearDown();
    }
    // The module never resets its settings: each test starts from the values
    // of a fresh load, without keys.
    void Reset()
    {
        for (const char* key : { "Software\\Qx", driverRoot.c_str() })
            if (*key)
                qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, key);
        lstrcpyA(szQxKeyName, "HKLM\\Software\\Qx");
        lstrcpyA(szQxUtilKeyName, "HKLM\\Software\\Qx\\QxTintra");
        for (char* text : { szQxByChipKey, g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon, g_szHomePageUrl })
            text[0] = '\0';
        gdwUiStyle = QXLOOK_LUSTRE;
        g_bHideLogo = FALSE;
    }
    // The start-up up to the skin read, against a driver of `family` that
    // names its registry key.
    void StartUp(DWORD family)
    {
        ASSERT_TRUE(sim::UseChipOfFamily(driver().config, family));
        driver().config.driverKey = "qxskintest";
        driver().config.driverKeyUnicode = GetOsVersion() >= QX_OS_NT4;
        SetDisplayDeviceName("");
        ASSERT_TRUE(CheckSupport());
        InitRegKeyVars();
        ASSERT_EQ(strncmp(szQxByChipKey, "HKLM\\", 5), 0) << szQxByChipKey;
        driverKey = szQxByChipKey + 5;
        driverRoot = driverKey.substr(0, driverKey.find("qxskintest") + 10);
    }
    // Keys by their short names: M(aker), U(tility), KM and KU (the Kp ones), D(river).
    std::string Key(const std::string& token) const
    {
        return token == "D" ? driverKey : "Software\\Qx" + std::string(token[0] == 'K' ? "\\Kp" : "") + (token.back() == 'U' ? "\\QxTintra" : "");
    }
    std::string Token(const std::string& key) const
    {
        for (const char* t : { "M", "U", "KM", "KU", "D" })
            if (lstrcmpiA(Key(t).c_str(), key.c_str()) == 0)
                return t;
        return key;
    }
    // CheckRegFlags; what it read and the settings it left, as
    // "background|8-bit background|logo|8-bit logo|tab icon|address|look|logo shown or hidden".
    std::string ReadSkin()
    {
        readKeys.clear(), fullOpens.clear();
        CheckRegFlags();
        std::string s;
        for (const std::string& k : readKeys)
            s += k + " ";
        for (const char* text : { g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon, g_szHomePageUrl })
            s += std::string(text) + "|";
        return s + (gdwUiStyle == QXLOOK_CLASSIC ? "classic" : gdwUiStyle == QXLOOK_LUSTRE ? "lustre" : "?") + (g_bHideLogo ? "|hidden" : "|shown");
    }

    std::string driverKey, driverRoot, denied;
    Strings readKeys, fullOpens;
    std::map<HKEY, std::string> live_;
    qxtest::Recorder<decltype(&RegOpenKeyExA)> open_ { "RegOpenKeyExA", qxtest::ProgramModule() };
    qxtest::Recorder<decltype(&RegQueryValueExA)> query_ { "RegQueryValueExA", qxtest::ProgramModule() };
};

// Registry edits, then a skin read: value "key name=text" (REG_SZ), "key name#hex bytes" (any other
// type, as "type:bytes"), "-key" deletes a key, "+key" makes an empty one.
struct SkinStep {
    std::vector<std::string> edits;
    std::string expected;  // the keys read, then the settings
    const char* denied = "";
};

TEST_F(Skin, KeysAreReadInOrderLaterOnesWinOverridesStopAndSettingsSurvive)
{
    const std::string url = "http://long.example/" + std::string(400, 'u'), longest(511, 'p');
    const std::string def = QX_DEFAULT_HOME_PAGE_URL, cutUrl = url.substr(0, QX_SKIN_PATH_CHARS - 1), cutPath = longest.substr(0, QX_SKIN_PATH_CHARS - 1);
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    const SkinStep steps[] = {
        // A primary chip reads the plain keys; the look and the address are rewritten by every key read.
        { { "KM Background=kp.jpg", "M Background=maker.jpg", "M OEMLogo=maker.png", "M HideLogo=1", "U OEMLogo=util.png",
              "U TabIcon=util.ico", "U UiStyle=Classic", "D Background8bpp=low.bmp", "D URL=http://driver/" },
            "M U D maker.jpg|low.bmp|util.png||util.ico|http://driver/|lustre|hidden" },
        // SkinOverride on makes its key the last one read; anything but on/off/1/0 is none.
        { { "M SkinOverride=ON" }, "M maker.jpg|low.bmp|maker.png||util.ico|" + def + "|lustre|hidden" },
        { { "M SkinOverride=Off", "U SkinOverride=1", "U URL=http://util/" }, "M U maker.jpg|low.bmp|util.png||util.ico|http://util/|classic|hidden" },
        { { "U SkinOverride=yes" }, "M U D maker.jpg|low.bmp|util.png||util.ico|http://driver/|lustre|hidden" },
        // Without the driver's key the utility's choice stands; the last key read decides the look, in any case.
        { { "-D" }, "M U maker.jpg|low.bmp|util.png||util.ico|http://util/|classic|hidden" },
        { { "D UiStyle=CLASSIC" }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + def + "|classic|hidden" },
        { { "D UiStyle=Blue" }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + def + "|lustre|hidden" },
        { { "D UiStyle=Classic " }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + def + "|lustre|hidden" },
        { { "D UiStyle#3:436C617373696300" }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + def + "|classic|hidden" },
        { { "D URL=" + url }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + cutUrl + "|classic|hidden" },
        // HideLogo keeps its value on text it does not know.
        { { "U HideLogo=yes" }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + cutUrl + "|classic|hidden" },
        { { "M HideLogo=Off", "U HideLogo=on" }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + cutUrl + "|classic|hidden" },
        { { "M HideLogo=1", "U HideLogo=0" }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        // Unusable picture values leave the earlier one; the longest usable is cut to a path.
        { { "U Background#1:00" }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        { { "U Background=" + std::string(512, 'q') }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        { { "U Background#4:01010101" }, "M U D maker.jpg|low.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        { { "U Background#3:62696E2E706E6700" }, "M U D bin.png|low.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        { { "U Background=" + longest }, "M U D " + cutPath + "|low.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        // "<none>" for the normal background says nothing about the 8-bit one.
        { { "U Background=<none>", "U Background8bpp=u.bmp" }, "M U D <none>|u.bmp|util.png||util.ico|" + cutUrl + "|classic|shown" },
        // A user who may only read a key: it counts as absent.
        { { "U SkinOverride=ON", "D TabIcon=driver.ico" }, "M D maker.jpg|u.bmp|maker.png||driver.ico|" + cutUrl + "|classic|hidden", "U" },
        // No key at all: nothing changes, not even the look or the address; an
        // empty key: the paths stay, the look and the address go back.
        { { "-U", "-D", "M UiStyle=Classic", "M URL=http://maker/" }, "M maker.jpg|u.bmp|maker.png||driver.ico|http://maker/|classic|hidden" },
        { { "-M" }, "maker.jpg|u.bmp|maker.png||driver.ico|http://maker/|classic|hidden" },
        { { "+D" }, "D maker.jpg|u.bmp|maker.png||driver.ico|" + def + "|lustre|hidden" },
    };
    for (const SkinStep& s : steps) {
        for (const std::string& e : s.edits) {
            const size_t space = e.find(' '), eq = e.find('='), hash = e.find('#');
            if (e[0] == '-' || e[0] == '+') {
                const std::string key = Key(e.substr(1));
                e[0] == '-' ? qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, key) : qxtest::SetReg(HKEY_LOCAL_MACHINE, key, nullptr, 0, "");
            } else if (hash != std::string::npos) {
                std::string bytes;
                for (size_t i = hash + 3; i + 1 < e.size(); i += 2)
                    bytes += char(std::stoi(e.substr(i, 2), nullptr, 16));
                qxtest::SetReg(HKEY_LOCAL_MACHINE, Key(e.substr(0, space)), e.substr(space + 1, hash - space - 1).c_str(), e[hash + 1] - '0', bytes);
            } else {
                qxtest::SetRegText(HKEY_LOCAL_MACHINE, Key(e.substr(0, space)), e.substr(space + 1, eq - space - 1).c_str(), e.substr(eq + 1));
            }
        }
        denied = *s.denied ? Key(s.denied) : "";
        EXPECT_EQ(ReadSkin(), s.expected) << (s.edits.empty() ? "" : s.edits[0]);
        if (*s.denied)
            EXPECT_NE(std::find(fullOpens.begin(), fullOpens.end(), denied), fullOpens.end()) << "the key was tried";
    }
    EXPECT_STREQ(szQxKeyName, "HKLM\\Software\\Qx");

    // A Kp chip switches to the Kp keys for the rest of the load.
    Reset();
    for (const std::string& e : { "M Background", "U OEMLogo", "KM Background", "KU OEMLogo" })
        qxtest::SetRegText(HKEY_LOCAL_MACHINE, Key(e.substr(0, e.find(' '))), e.substr(e.find(' ') + 1).c_str(), e.substr(0, e.find(' ')) + ".x");
    for (DWORD family : { CHIP_FAMILY_KP, CHIP_FAMILY_PRIMARY }) {
        ASSERT_NO_FATAL_FAILURE(StartUp(family));
        qxtest::SetReg(HKEY_LOCAL_MACHINE, driverKey, nullptr, 0, "");
        EXPECT_EQ(ReadSkin(), "KM KU D KM.x||KU.x|||" + def + "|lustre|shown");
        EXPECT_EQ(szQxKeyName + std::string("|") + szQxUtilKeyName, "HKLM\\Software\\Qx\\Kp|HKLM\\Software\\Qx\\Kp\\QxTintra");
        qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, driverRoot);
    }
}

TEST_F(Skin, ColourDepthProbeAndTabIcon)
{
    HDC screen = GetDC(nullptr);
    const DWORD depth = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    SetDisplayDeviceName("\\\\.\\DISPLAY2");
    gdwColorDepth = 3;
    EXPECT_TRUE(UpdateDisplayMetrics());
    EXPECT_EQ(gdwColorDepth, depth);
    EXPECT_EQ(driver().dcOpened, Strings { "\\\\.\\DISPLAY2" }) << "probed on the page's display";
    SetDisplayDeviceName("\\\\.\\DISPLAY9");  // cannot be opened: the last result stays
    gdwColorDepth = 3;
    EXPECT_FALSE(UpdateDisplayMetrics());
    EXPECT_EQ(gdwColorDepth, 3u);
    gdwColorDepth = depth;

    // The tab icon: the file when it loads as an icon, else the module's own.
    auto pixels = [](HICON icon) {
        std::vector<DWORD> out(32 * 32);
        ICONINFO info = {};
        if (!icon || !GetIconInfo(icon, &info))
            return std::vector<DWORD>();
        BITMAPINFO bmi = { { sizeof bmi.bmiHeader, 32, -32, 1, 32 } };
        HDC dc = GetDC(nullptr);
        GetDIBits(dc, info.hbmColor, 0, 32, out.data(), &bmi, DIB_RGB_COLORS);
        ReleaseDC(nullptr, dc), DeleteObject(info.hbmColor), DeleteObject(info.hbmMask);
        return out;
    };
    HICON own = static_cast<HICON>(LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDI_TAB_ICON), IMAGE_ICON, 32, 32, 0));
    const std::vector<DWORD> builtIn = pixels(own);
    DestroyIcon(own);
    ASSERT_FALSE(builtIn.empty());
    // A 32 x 32 icon file of one opaque colour.
    std::vector<BYTE> ico(22 + 40 + 32 * 32 * 4 + 32 * 4);
    const BYTE directory[] = { 0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0xA8, 0x10, 0, 0, 22 };
    const BITMAPINFOHEADER bih = { sizeof bih, 32, 64, 1, 32 };
    memcpy(ico.data(), directory, sizeof directory);
    memcpy(&ico[22], &bih, sizeof bih);
    for (int i = 0; i < 32 * 32; ++i)
        memcpy(&ico[62 + 4 * i], "\x30\xC0\x10\xFF", 4);
    const std::string dir = qxtest::MakeTempDir("tabicon"), good = dir + "\\oem.ico", cut = dir + "\\cut.ico", text = dir + "\\text.ico";
    qxtest::WriteFileBytes(good, ico.data(), ico.size());
    qxtest::WriteFileBytes(cut, ico.data(), 40);
    qxtest::WriteFileBytes(text, "this is a text file, not an icon\r\n", 34);
    Strings loads;
    qxtest::Recorder<decltype(&LoadImageA)> load("LoadImageA", qxtest::ProgramModule());
    load.observe = [&](HANDLE, HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
        char call[MAX_PATH + 64];
        snprintf(call, sizeof call, "%s %s %u %d %d %#x", module == g_hInstance ? "module" : module ? "?" : "file",
            IS_INTRESOURCE(name) ? std::to_string(LOWORD(name)).c_str() : name, type, cx, cy, flags);
        loads.push_back(call);
    };
    for (const std::string& path : { good, cut, text, dir + "\\missing.ico", std::string() }) {
        lstrcpynA(g_szTabIcon, path.c_str(), QX_SKIN_PATH_CHARS);
        loads.clear();
        HICON icon = LoadTabIcon();
        const std::vector<DWORD> shown = pixels(icon);
        EXPECT_TRUE(icon && DestroyIcon(icon)) << "the caller owns the icon";
        Strings expected;
        if (!path.empty())
            expected.push_back("file " + path + " 1 0 0 0x50");  // LR_LOADFROMFILE | LR_DEFAULTSIZE
        if (path != good)
            expected.push_back("module " + std::to_string(IDI_TAB_ICON) + " 1 0 0 0x40");
        EXPECT_EQ(loads, expected);
        EXPECT_EQ(path == good ? std::vector<DWORD>(1, shown[512] & 0xFFFFFF) : shown, path == good ? std::vector<DWORD>(1, 0x10C030) : builtIn) << path;
    }
    qxtest::RemoveTree(dir);
}

} // namespace
