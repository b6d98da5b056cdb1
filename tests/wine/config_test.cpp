// Configuration: language choice, configuration-file texts and help files
// (system and Windows directories redirected into a temporary tree);
// registry paths and values, version strings and Windows version classes;
// the skin settings read from the registry, the colour-depth probe and the
// tab icon.
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
LANGID g_uiLanguage;
LANGID WINAPI UiLanguage() { return g_uiLanguage; }

class Localization : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = qxtest::MakeTempDir("lang");
        for (const std::string& dir : { sys_ = root_ + "\\system32", win_ = root_ + "\\windows", win_ + "\\help" })
            ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
        auto answer = [](const std::string& dir, LPSTR out, UINT size) {
            lstrcpynA(out, dir.c_str(), size);
            return static_cast<UINT>(dir.size() + 1 > size ? dir.size() + 1 : dir.size());
        };
        sysDir_.answer = [this, answer](LPSTR out, UINT size) { return answer(sys_, out, size); };
        winDir_.answer = [this, answer](LPSTR out, UINT size) { return answer(win_, out, size); };
        lcid_.answer = [this] { return systemLcid; };
        procs_.answer = [this](HMODULE module, LPCSTR name) {
            if (IS_INTRESOURCE(name) || strcmp(name, "GetUserDefaultUILanguage"))
                return procs_.Next(module, name);
            ++uiLookups;
            return hasUiExport ? reinterpret_cast<FARPROC>(&UiLanguage) : nullptr;
        };
        findExe_.observe = [this](HINSTANCE, LPCSTR file, LPCSTR dir, LPSTR) { helpChecks.push_back(std::string(dir) + "|" + file); };
        for (bool installed : { sysDir_.installed(), winDir_.installed(), lcid_.installed(), procs_.installed(), findExe_.installed() })
            ASSERT_TRUE(installed);
        g_uiLanguage = 0x0409;
        memcpy(helpIds_, g_aHelpIds, sizeof helpIds_);
        lstrcpyA(g_szLanguage, "English");
        g_szCfgSection[0] = g_szCfgFile[0] = g_szHelpFile[0] = g_szAbbrev[0] = g_szLangFile[0] = '\0';
        g_bHelpIdsShifted = FALSE;
        g_wPrimaryLang = 0;
        g_dwChipFamily = CHIP_FAMILY_PRIMARY;
        crtLocale_ = setlocale(LC_ALL, nullptr);
        threadLocale_ = GetThreadLocale();
    }
    void TearDown() override
    {
        memcpy(g_aHelpIds, helpIds_, sizeof helpIds_);
        g_bHelpIdsShifted = FALSE;
        lstrcpyA(g_szLanguage, "English");
        g_szCfgSection[0] = g_szCfgFile[0] = '\0';
        g_dwChipFamily = 0;
        setlocale(LC_ALL, crtLocale_.c_str());
        SetThreadLocale(threadLocale_);
        qxtest::RemoveTree(root_);
    }
    std::string Sys(const char* name) const { return sys_ + "\\" + name; }
    void WriteSys(const char* name, const std::string& text) { ASSERT_TRUE(qxtest::WriteFileBytes(Sys(name), text.data(), text.size())); }
    void WriteHelp(const char* name) { ASSERT_TRUE(qxtest::WriteFileBytes(win_ + "\\help\\" + name, "?_\3\0", 4)); }
    std::string Text(const char* key, const char* def = "<default>")
    {
        char buffer[512];
        GetCfgString(key, def, buffer, sizeof buffer);
        return buffer;
    }
    // Every context id moved by `offset` from the table at load, every
    // control id untouched, the list still ending at control id 0.
    void ExpectHelpShift(DWORD offset)
    {
        for (int i = 0; i < QX_HELP_ID_PAIRS * 2; ++i)
            EXPECT_EQ(g_aHelpIds[i], helpIds_[i] + (i % 2 ? offset : 0)) << i;
        EXPECT_EQ(g_aHelpIds[(QX_HELP_ID_PAIRS - 1) * 2], 0u);
        EXPECT_EQ(g_bHelpIdsShifted, offset != 0);
    }
    // The state InitLocalization leaves: language, abbreviation, help file,
    // primary language and locale.
    std::string State() const
    {
        char text[512];
        snprintf(text, sizeof text, "%s %s %s %u %04lX", g_szLanguage, g_szAbbrev, g_szHelpFile, g_wPrimaryLang,
            static_cast<unsigned long>(g_lcidUi));
        return text;
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

TEST_F(Localization, LanguagesFilesAndHelpFiles)
{
    // No file and a German interface: English, and the wst help file.
    g_uiLanguage = 0x0407;
    WriteHelp("QXTINwst.HLP");
    InitLocalization();
    EXPECT_EQ(uiLookups, 1);
    EXPECT_EQ(State(), "English wst QXTINwst.HLP 9 0409");
    EXPECT_EQ(std::make_tuple(std::string(g_szLangFile), std::string(g_szCfgFile), std::string(g_szCfgSection)),
        std::make_tuple(Sys("QXTINTRA.CFG"), Sys("QXTINTRA.CFG"), std::string("English")));
    EXPECT_EQ(GetThreadLocale(), 0x0409u);
    EXPECT_EQ(helpChecks, Strings { win_ + "\\help|QXTINwst.HLP" });
    EXPECT_EQ(Text("TAB0", "Brushwork(TM) Effects"), "Brushwork(TM) Effects");
    ExpectHelpShift(0);

    // German chosen by the file: its section, its locale everywhere, help ids
    // shifted once in a load.
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=German\r\n[German]\r\nTAB0=Pinselstrich-Effekte\r\n[French]\r\nTAB0=Effets\r\n");
    InitLocalization();
    EXPECT_EQ(State(), "German wst QXTINwst.HLP 7 0407");
    EXPECT_EQ(GetThreadLocale(), 0x0407u);
    EXPECT_EQ(std::string(setlocale(LC_ALL, nullptr)).rfind("German", 0), 0u) << setlocale(LC_ALL, nullptr);
    EXPECT_EQ(Text("TAB0") + "|" + Text("TAB1"), "Pinselstrich-Effekte|<default>");
    ExpectHelpShift(10000);
    // The next start-up first reads the previous language as its provisional
    // section, then settles on the new one; the help ids keep the first shift.
    BuildConfigFilePath(g_szLangFile);
    EXPECT_STREQ(g_szCfgSection, "German");
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=French\r\n[French]\r\nTAB0=Effets de pinceau\r\n");
    InitLocalization();
    EXPECT_EQ(g_szLanguage + Text("TAB0"), "FrenchEffets de pinceau");
    ExpectHelpShift(10000);
    memcpy(g_aHelpIds, helpIds_, sizeof helpIds_);
    g_bHelpIdsShifted = FALSE;

    // A group's help file missing falls back to wst with the English numbering;
    // the thread keeps the language's locale.
    helpChecks.clear();
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=Czech\r\n[Czech]\r\nTAB0=Efekty\r\n");
    InitLocalization();
    EXPECT_EQ(State() + Text("TAB0"), "Czech ws2 QXTINwst.HLP 9 0405Efekty");
    EXPECT_EQ(helpChecks, Strings { win_ + "\\help|QXTINws2.HLP" });
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=Greek\r\n[Greek]\r\nTAB0=x\r\n");
    InitLocalization();
    EXPECT_EQ(State(), "Greek ws2 QXTINwst.HLP 9 0408");
    ExpectHelpShift(0);
    WriteHelp("QXTINws2.HLP");
    InitLocalization();
    EXPECT_EQ(State(), "Greek ws2 QXTINws2.HLP 8 0408");
    ExpectHelpShift(2000);

    // A help file found nowhere keeps the wst name, which is not checked itself.
    helpChecks.clear();
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=Japanese\r\n[Japanese]\r\nTAB0=x\r\n");
    InitLocalization();
    EXPECT_EQ(State(), "Japanese JPN QXTINwst.HLP 9 0411");
    EXPECT_EQ(helpChecks.size(), 1u);
    WriteHelp("QXTINJPN.HLP");
    InitLocalization();
    EXPECT_EQ(State(), "Japanese JPN QXTINJPN.HLP 17 0411");
    EXPECT_EQ(GetThreadLocale(), 0x0411u);
}

TEST_F(Localization, RedirectionsPerFamily)
{
    g_dwChipFamily = CHIP_FAMILY_KP;
    const std::string base = "[Language]\r\nLanguage=German\r\nGerman=QXDEU.CFG\r\nGerman_KP=KPDEU.CFG\r\n[German]\r\nTAB0=base\r\n";
    WriteSys("KPTINTRA.CFG", base);
    WriteSys("QXTINTRA.CFG", base);
    WriteSys("QXDEU.CFG", "[German]\r\nTAB0=Qx-Datei\r\n");
    WriteSys("KPDEU.CFG", "[German]\r\nTAB0=Kp-Datei\r\n");
    WriteHelp("KPTINwst.HLP");
    InitLocalization();
    EXPECT_EQ(g_szCfgFile + Text("TAB0") + g_szHelpFile, Sys("KPDEU.CFG") + "Kp-DateiKPTINwst.HLP");
    ExpectHelpShift(10000);
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;  // the other family reads its plain key
    InitLocalization();
    EXPECT_EQ(g_szCfgFile + Text("TAB0") + g_szHelpFile, Sys("QXDEU.CFG") + "Qx-DateiQXTINwst.HLP");
    memcpy(g_aHelpIds, helpIds_, sizeof helpIds_);
    g_bHelpIdsShifted = FALSE;

    // No German section in the redirected file: English, looked up through
    // that file's own redirection.
    g_dwChipFamily = CHIP_FAMILY_KP;
    WriteSys("KPTINTRA.CFG", "[Language]\r\nLanguage=German\r\nGerman_KP=sub.cfg\r\n");
    WriteSys("sub.cfg", "[Language]\r\nEnglish_KP=eng.cfg\r\n[English]\r\nTAB0=wrong\r\n");
    WriteSys("eng.cfg", "[English]\r\nTAB0=Kp English\r\n");
    InitLocalization();
    EXPECT_EQ(g_szLanguage + std::string(g_szCfgFile) + Text("TAB0"), "English" + Sys("eng.cfg") + "Kp English");
    ExpectHelpShift(0);

    char path[MAX_PATH];
    sys_ = "X:\\sys";
    EXPECT_TRUE(BuildConfigFilePath(path));
    EXPECT_STREQ(path, "X:\\sys\\KPTINTRA.CFG");
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    sys_ = "X:\\";
    g_szCfgSection[0] = '\0';
    BuildConfigFilePath(path);
    EXPECT_EQ(path + std::string(g_szCfgFile) + g_szCfgSection, "X:\\QXTINTRA.CFGX:\\QXTINTRA.CFGEnglish");
}

TEST_F(Localization, AutoAndNamesOutsideTheTable)
{
    char name[QX_LANGUAGE_CHARS] = "auto", abbrev[QX_ABBREV_CHARS] = "junk";
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 0);  // an English interface keeps "auto" until the loop
    EXPECT_EQ(name + std::string(abbrev) + std::to_string(g_wPrimaryLang), "autowst9");
    const struct {
        LANGID ui;
        const char* name;
        LCID lcid;
        const char* abbrev;
        WORD offset;
    } cases[] = {
        { 0x0404, "Traditional Chinese", 0x0404, "CHT", 0 }, { 0x0804, "Simplified Chinese", 0x0804, "CHS", 0 },
        { 0x0C04, "Simplified Chinese", 0x0C04, "ZHH", 0 },  // Hong Kong keeps its sublanguage
        { 0x0416, "Portuguese Brazilian", 0x0416, "wst", 16000 }, { 0x0816, "Portuguese Standard", 0x0816, "ws2", 8000 },
        { 0x0807, "German", 0x0407, "wst", 10000 },  // other sublanguages map to the main one
        { 0x0C0A, "Spanish", 0x040A, "wst", 18000 }, { 0x041F, "Turkish", 0x041F, "ws2", 14000 },
        { 0x0424, "Slovenian", 0x0424, "ws2", 10000 }, { 0x0411, "Japanese", 0x0411, "JPN", 0 },
        { 0x0401, "English", 0x0409, "ENU", 0 },  // no texts of its own: English, the locale's short name
        { 0x0000, "English", 0x0409, "ENU", 0 },
    };
    for (const auto& c : cases) {
        g_uiLanguage = c.ui;
        lstrcpyA(name, "Auto");
        EXPECT_EQ(ResolveLanguageName(name, abbrev), c.offset) << std::hex << c.ui;
        EXPECT_EQ(std::make_tuple(std::string(name), g_lcidUi, std::string(abbrev)), std::make_tuple(std::string(c.name), c.lcid, std::string(c.abbrev)));
    }
    // Every language Auto picks resolves by name to the same locale.
    int named = 0;
    for (WORD primary = 1; primary < 0x40; ++primary) {
        g_uiLanguage = MAKELANGID(primary, 1);
        lstrcpyA(name, "Auto");
        const WORD offset = ResolveLanguageName(name, abbrev);
        if (primary == 9 || lstrcmpA(name, "English") == 0)
            continue;
        ++named;
        const LCID viaAuto = g_lcidUi;
        const std::string abbrevViaAuto = abbrev;
        EXPECT_EQ(ResolveLanguageName(name, abbrev), offset) << name;
        EXPECT_EQ(std::make_pair(g_lcidUi, std::string(abbrev)), std::make_pair(viaAuto, abbrevViaAuto)) << name;
    }
    EXPECT_EQ(named, 22) << "every primary language of the table but English";

    // Names match without regard to case; an unknown one keeps the previous
    // primary language and locale, and is a language like any other when
    // the file has its texts.
    lstrcpyA(name, "gErMaN");
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 10000);
    lstrcpyA(name, "Klingon");
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 0);
    EXPECT_EQ(name + std::string(abbrev) + std::to_string(g_wPrimaryLang) + std::to_string(g_lcidUi), "KlingonDEU71031");
    g_uiLanguage = 0x0409;
    const struct {
        const char* file;
        const char* language;  // and its help file
    } files[] = {
        { "[Language]\r\nLanguage=Klingon\r\n[Klingon]\r\nTAB0=tlhIngan\r\n", "Klingon" },
        { "[Language]\r\nLanguage=Auto\r\n", "English" },  // no "Auto" section
        { "[Auto]\r\nTAB0=from Auto\r\n", "Auto" },       // a section "Auto" with keys is a language of its own
        { "[Auto]\r\n", "English" },                      // an empty one is not
    };
    for (const auto& f : files) {
        WriteSys("QXTINTRA.CFG", f.file);
        setlocale(LC_ALL, "C");
        InitLocalization();
        EXPECT_STREQ(g_szLanguage, f.language);
        EXPECT_STREQ(g_szHelpFile, "QXTINwst.HLP");
        if (f.language[0] != 'E')
            EXPECT_EQ(Text("TAB0"), f.language[0] == 'K' ? "tlhIngan" : "from Auto");
        if (f.language[0] != 'E')
            EXPECT_STREQ(setlocale(LC_ALL, nullptr), "C") << "the C runtime keeps its locale for a name it does not know";
    }

    // Without the interface-language export the system locale stands in,
    // sort order and all.
    hasUiExport = false;
    uiLookups = 0;
    g_uiLanguage = 0x0407;  // must not be asked
    systemLcid = 0x00010C0A;
    WriteSys("QXTINTRA.CFG", "[Spanish]\r\nTAB0=Efectos\r\n");
    InitLocalization();
    EXPECT_EQ(uiLookups, 1);
    EXPECT_EQ(g_szLanguage + std::to_string(g_lcidUi) + Text("TAB0"), "Spanish1034Efectos");
    ExpectHelpShift(18000);
}

TEST_F(Localization, OverlongNamesAndTextLookups)
{
    // A 70-character name reads the section of its first 63 characters.
    const std::string longName(70, 'L');
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=" + longName + "\r\n[" + longName.substr(0, 63) + "]\r\nTAB0=cut\r\n");
    InitLocalization();
    EXPECT_EQ(g_szLanguage + Text("TAB0"), longName.substr(0, 63) + "cut");
    SetConfigSection(std::string(200, 'S').c_str(), std::string(400, 'F').c_str());
    EXPECT_EQ(strlen(g_szCfgSection) * 1000 + strlen(g_szCfgFile), 127u * 1000 + MAX_PATH - 1);
    // A redirection that would overflow the path is cut to the path buffer.
    char path[MAX_PATH], language[QX_LANGUAGE_CHARS], abbrev[QX_ABBREV_CHARS], help[MAX_PATH];
    BuildConfigFilePath(path);
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=English\r\nEnglish=" + std::string(300, 'r') + "\r\n");
    SelectLanguage(nullptr, language, abbrev, help, "QXTIN%s.HLP", path);
    EXPECT_EQ(std::string(path), (sys_ + "\\" + std::string(300, 'r')).substr(0, MAX_PATH - 1));

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
    } lookups[] = {
        { "TAB0", "def", true, "Brush" }, { "tab0", "def", true, "Brush" },  // keys ignore case
        { "MISSING", "default", false, "default" }, { "EMPTY", "def", false, "def" }, { "MISSING", nullptr, false, "" },
        { nullptr, "def", false, "def" },  // a null key must not list the section
        { "LONG", "def", true, "0123456" }, { "MISSING", "a default that is too long", false, "a defau" },  // cut to the buffer
    };
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

    // The shipped sample: every key in every language, translated, and the
    // language left to the user's interface.
    std::stringstream sample;
    sample << std::ifstream(QX_SOURCE_DIR "/resources/config/QXTINTRA.CFG", std::ios::binary).rdbuf();
    WriteSys("QXTINTRA.CFG", sample.str());
    const char* keys[] = { "IDS_TAB_COLOR", "TAB0", "TAB1", "Msg2CopiesWarn", "Msg2CopiesWarn2", "IDC_EF_NONE",
        "IDC_EMBOSS", "IDC_NEON_EDGES", "IDC_SOFT_FOCUS", "IDC_SELECTED_SHARP", "IDC_DBLK_EDGESMOOTHING",
        "IDC_DBLK_COMPLEXPICSMOOTHING", "IDC_ORIGINALGRPBOX" };
    for (const char* key : keys) {
        char english[512], other[512];
        SetConfigSection("English", Sys("QXTINTRA.CFG").c_str());
        EXPECT_TRUE(GetCfgString(key, "", english, sizeof english)) << key;
        for (const char* language : { "German", "Japanese" }) {
            SetConfigSection(language, Sys("QXTINTRA.CFG").c_str());
            EXPECT_TRUE(GetCfgString(key, "", other, sizeof other)) << language << " " << key;
            if (strcmp(key, "IDS_TAB_COLOR"))  // the product name may stay
                EXPECT_STRNE(english, other) << language << " " << key;
        }
    }
    g_uiLanguage = 0x0407;
    InitLocalization();
    EXPECT_EQ(g_szLanguage + Text("IDC_EMBOSS"), "GermanRelief");
}

// ---- registry paths and values, versions ------------------------------------------------

std::string TestKeyName() { return "QxTintraTest_" + std::to_string(GetCurrentProcessId()); }

TEST(SystemServices, RegistryPaths)
{
    const std::string name = TestKeyName();
    const struct {
        HKEY root;
        const char *shortName, *longName;
        std::string sub;
    } roots[] = {
        { HKEY_LOCAL_MACHINE, "HKLM", "HKEY_LOCAL_MACHINE", "Software\\" + name },
        { HKEY_CURRENT_USER, "HKCU", "HKEY_CURRENT_USER", "Software\\" + name },
        { HKEY_CLASSES_ROOT, "HKCR", "HKEY_CLASSES_ROOT", name },
        { HKEY_USERS, "HKU", "HKEY_USERS", ".DEFAULT\\Software\\" + name },
        { HKEY_CURRENT_CONFIG, "HKCC", "HKEY_CURRENT_CONFIG", "Software\\" + name },
    };
    for (const auto& root : roots) {
        qxtest::SetRegText(root.root, root.sub, "Root", root.shortName);
        for (std::string path : { root.shortName, root.longName }) {
            for (int lower = 0; lower < 2; ++lower, CharLowerA(path.data())) {
                HKEY key = nullptr;
                ASSERT_EQ(OpenRegPath((path + "\\" + root.sub).c_str(), KEY_READ, &key), ERROR_SUCCESS) << path;
                char text[QX_REG_TEXT_BYTES];
                ReadRegString(key, "Root", text, "<none>");
                RegCloseKey(key);
                EXPECT_STREQ(text, root.shortName);
            }
        }
        qxtest::DeleteRegTree(root.root, root.sub);
    }
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    for (const char* path : { "", "HKLM", "Software\\Microsoft", "HKLMX\\Software", "HKEY_LOCAL\\Software", "\\Software",
             "HK\\Software", "HKEY_LOCAL_MACHINEX\\Software" })
        EXPECT_EQ(OpenRegPath(path, KEY_READ, &key), ERROR_INVALID_PARAMETER) << path;
    EXPECT_EQ(key, reinterpret_cast<HKEY>(0x1234)) << "no key handed out";

    // Each part is opened for enumeration before the whole path; a missing
    // part stops the walk; only the key handed out stays open.
    const std::string sub = "Software\\" + name;
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
    opens.clear();
    EXPECT_EQ(OpenRegPath(("HKCU\\" + sub + "\\Nope").c_str(), KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opens.back(), std::make_pair(sub + "\\Nope", REGSAM(KEY_READ))) << "the last part: its own error, from the full path";
    EXPECT_EQ(qxtest::CurrentCounts(), before);

    // A whole path of 255 characters opens; parts longer than any key name
    // fail as the registry says, in the middle and at the end.
    const std::string prefix = "HKCU\\" + sub + "\\", last(255 - prefix.size(), 'L');
    qxtest::SetReg(HKEY_CURRENT_USER, sub + "\\" + last, nullptr, 0, "");
    ASSERT_EQ(OpenRegPath((prefix + last).c_str(), KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    for (const std::string& tail : { std::string(300, 'L') + "\\x", std::string(300, 'L'), std::string(5000, 'L') + "\\x\\y" })
        EXPECT_NE(OpenRegPath((prefix + tail).c_str(), KEY_READ, &key), ERROR_SUCCESS) << tail.size();
    qxtest::DeleteRegTree(HKEY_CURRENT_USER, sub);
}

TEST(SystemServices, RegistryValues)
{
    const std::string sub = "Software\\" + TestKeyName();
    qxtest::SetReg(HKEY_CURRENT_USER, sub, nullptr, 0, "");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    using namespace std::string_literals;
    const struct {
        DWORD type;
        std::string bytes;  // stored as they are
        bool usable;        // else the default is read
        std::string text;
    } values[] = {
        { REG_SZ, "C:\\skins\\back.jpg\0"s, true, "C:\\skins\\back.jpg" }, { REG_SZ, "\0"s, false }, { REG_SZ, "", false },
        { REG_SZ, "\0\0"s, false }, { REG_SZ, "abc", true, "abc" },
        // 511 characters and the terminator are exactly 512 bytes; one more is too large.
        { REG_SZ, std::string(511, 'f') + '\0', true, std::string(511, 'f') }, { REG_SZ, std::string(512, 't') + '\0', false },
        { REG_SZ, std::string(5000, 't') + '\0', false },
        // Other types are not text, but binary values are, up to their first zero.
        { REG_DWORD, "\1\0\0\0"s, false }, { REG_EXPAND_SZ, "%TEMP%\0"s, false }, { REG_MULTI_SZ, "a\0b\0\0"s, false },
        { REG_BINARY, "abc\0def\0"s, true, "abc" }, { REG_BINARY, "abc", true, "abc" }, { REG_BINARY, "x", true, "x" },
        { REG_BINARY, "\0abc"s, true, "" }, { REG_BINARY, "", false }, { REG_BINARY, std::string(511, 'b'), true, std::string(511, 'b') },
        { REG_BINARY, std::string(511, 'b') + '\0', true, std::string(511, 'b') },
        // All 512 bytes and no zero: no room for a terminator.
        { REG_BINARY, std::string(512, 'b'), false }, { REG_BINARY, std::string(514, 'b'), false },
    };
    for (const auto& v : values) {
        RegSetValueExA(key, "V", 0, v.type, reinterpret_cast<const BYTE*>(v.bytes.data()), static_cast<DWORD>(v.bytes.size()));
        char out[QX_REG_TEXT_BYTES + 16];
        memset(out, 0x5A, sizeof out);
        EXPECT_EQ(ReadRegString(key, "V", out, "default"), v.usable) << &v - values;
        EXPECT_EQ(std::string(out), v.usable ? v.text : "default") << &v - values;
        EXPECT_EQ(std::string(out + QX_REG_TEXT_BYTES, 16), std::string(16, 0x5A)) << "written past the buffer";
    }
    char out[QX_REG_TEXT_BYTES] = "x";
    EXPECT_FALSE(ReadRegString(key, "Missing", out, nullptr));
    EXPECT_STREQ(out, "") << "a null default reads as empty";

    const std::pair<const char*, DWORD> flags[] = { { "ON", 1 }, { "on", 1 }, { "On", 1 }, { "1", 1 }, { "Off", 0 },
        { "OFF", 0 }, { "off", 0 }, { "0", 0 }, { "yes", 7 }, { "2", 7 }, { " on", 7 }, { "on ", 7 }, { "01", 7 }, { "", 7 } };
    for (const auto& [text, expected] : flags) {
        RegSetValueExA(key, "Flag", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
        EXPECT_EQ(ReadRegBool(key, "Flag", 7), expected) << text;
    }
    EXPECT_EQ(ReadRegBool(key, "Missing", 7) + ReadRegBool(key, "Missing", 0), 7u);
    RegSetValueExA(key, "Binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>("0"), 1);
    EXPECT_EQ(ReadRegBool(key, "Binary", 1), 0u);
    const DWORD one = 1;
    RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    EXPECT_EQ(ReadRegBool(key, "Number", 5), 5u) << "a number is no text";
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

TEST(SystemServices, FileVersions)
{
    const std::string trans = qxtest::ProgramDir() + "qxver_trans.dll", plain = qxtest::ProgramDir() + "qxver_plain.dll";
    ASSERT_EQ(trans[1], ':') << "the test program's path has a drive letter";
    // The translation table chooses the block; what it lacks the U.S.
    // English block answers.
    EXPECT_EQ(Version(trans, "FileVersion") + "|" + Version(trans, "ProductName") + "|" + Version(trans, "Comments") + "|"
            + Version(trans, "CompanyName"),
        "7.0.4.7 (de)|Qx Versionstest|only in the English block|<none>");
    char out[64];
    EXPECT_TRUE(GetFileVersion(plain.c_str(), out, sizeof out));
    EXPECT_STREQ(out, "2.5.0.3");
    EXPECT_EQ(Version(plain, "LongText", 11) + "|" + Version(plain, "Missing"), "0123456789|<none>");  // cut to fit
    // Bare names are system files, not looked for in the current directory.
    char system[MAX_PATH], previous[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    const std::string name = "qxver_" + std::to_string(GetCurrentProcessId()) + ".dll";
    ASSERT_TRUE(CopyFileA(plain.c_str(), (std::string(system) + "\\" + name).c_str(), FALSE));
    EXPECT_EQ(Version(name, "FileVersion"), "2.5.0.3");
    DeleteFileA((std::string(system) + "\\" + name).c_str());
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(qxtest::ProgramDir().c_str());
    EXPECT_EQ(Version("qxver_trans.dll", "FileVersion"), "<none>");
    SetCurrentDirectoryA(previous);
    GetModuleFileNameA(nullptr, system, sizeof system);
    for (const std::string& none : { std::string(system), qxtest::ProgramDir() + "no_such_file.dll", std::string() })
        EXPECT_EQ(Version(none, "FileVersion"), "<none>") << none;
    // The start-up's version trace reads the module's own file.
    GetModuleFileNameA(qxtest::BuiltDll(), system, sizeof system);
    EXPECT_TRUE(GetFileVersion(system, out, sizeof out));
    EXPECT_STREQ(out, QX_VERSION_STRING);
}

TEST(SystemServices, WindowsVersionClasses)
{
    constexpr DWORD W = VER_PLATFORM_WIN32_WINDOWS, N = VER_PLATFORM_WIN32_NT;
    const struct {
        DWORD platform, major, minor, build;
        const char* csd;
        WORD servicePack;
        DWORD expected;
    } cases[] = {
        { W, 4, 0, 950, "", 0, QX_OS_WIN95 }, { W, 4, 0, 950, "   ", 0, QX_OS_WIN95 }, { W, 4, 0, 950, " A", 0, QX_OS_WIN95 },
        { W, 4, 0, 950, "a", 0, QX_OS_WIN95 }, { W, 4, 0, 1111, " B", 0, QX_OS_WIN95_OSR2 },
        { W, 4, 0, 1212, " c ", 0, QX_OS_WIN95_OSR2 }, { W, 4, 0, 1212, " D", 0, QX_OS_UNKNOWN },
        { W, 4, 0, 1212, " BC", 0, QX_OS_UNKNOWN }, { W, 4, 10, 0x040A07CE, "", 0, QX_OS_WIN98 },
        { W, 4, 10, 0x040A08AE, " A ", 0, QX_OS_WIN98_SE }, { W, 4, 10, 2222, "", 0, QX_OS_WIN98_SE },
        { W, 4, 10, 0x08AE0000, "", 0, QX_OS_WIN98 }, { W, 4, 90, 0x045A0BB8, "", 0, QX_OS_WINME },
        { W, 4, 11, 0, "", 0, QX_OS_WINME }, { W, 4, 1, 0, "", 0, QX_OS_UNKNOWN }, { W, 4, 9, 0, "", 0, QX_OS_UNKNOWN },
        { W, 3, 10, 0, "", 0, QX_OS_UNKNOWN }, { W, 5, 0, 0, "", 0, QX_OS_UNKNOWN }, { N, 3, 51, 1057, "", 0, QX_OS_NT3 },
        { N, 4, 0, 1381, "Service Pack 6", 6, QX_OS_NT4 }, { N, 5, 0, 2195, "", 4, QX_OS_WIN2000 },
        { N, 5, 3, 0, "", 1, QX_OS_WIN2000 }, { N, 5, 1, 2600, "", 0, QX_OS_WINXP }, { N, 5, 2, 3790, "", 0, QX_OS_WINXP },
        { N, 5, 1, 2600, "Service Pack 2", 2, QX_OS_WINXP_SP }, { N, 5, 2, 3790, "Service Pack 1", 1, QX_OS_WINXP_SP },
        { N, 6, 0, 6000, "", 0, QX_OS_UNKNOWN }, { N, 10, 0, 19045, "", 0, QX_OS_UNKNOWN }, { N, 2, 0, 0, "", 0, QX_OS_UNKNOWN },
        { VER_PLATFORM_WIN32s, 4, 0, 0, "", 0, QX_OS_UNKNOWN },
    };
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

constexpr char kMaker[] = "Software\\Qx", kUtil[] = "Software\\Qx\\QxTintra", kKpMaker[] = "Software\\Qx\\Kp",
               kKpUtil[] = "Software\\Qx\\Kp\\QxTintra", kDriverName[] = "qxskintest";

class Skin : public qxtest::DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        Reset();
        open_.answer = [this](HKEY root, LPCSTR sub, DWORD options, REGSAM access, PHKEY out) {
            if (access == KEY_ALL_ACCESS)
                fullOpens.push_back(sub);
            if (access & ~KEY_READ && denied_ == sub)
                return LONG(ERROR_ACCESS_DENIED);
            const LONG rc = open_.Next(root, sub, options, access, out);
            if (rc == ERROR_SUCCESS)
                live_[*out] = sub;
            return rc;
        };
        query_.observe = [this](LONG, HKEY key, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
            const std::string name = live_.count(key) ? live_[key] : "?";
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
        qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kMaker);
        if (!driverRoot.empty())
            qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, driverRoot);
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
        driver().config.driverKey = kDriverName;
        driver().config.driverKeyUnicode = GetOsVersion() >= QX_OS_NT4;
        SetDisplayDeviceName("");
        ASSERT_TRUE(CheckSupport());
        InitRegKeyVars();
        ASSERT_EQ(strncmp(szQxByChipKey, "HKLM\\", 5), 0) << szQxByChipKey;
        driverKey = szQxByChipKey + 5;
        driverRoot = driverKey.substr(0, driverKey.find(kDriverName) + strlen(kDriverName));
    }
    // CheckRegFlags; `denied` is a key the user may only read.
    void ReadSkin(const std::string& denied = "")
    {
        readKeys.clear(), fullOpens.clear();
        denied_ = denied;
        CheckRegFlags();
    }
    void Set(const std::string& key, const char* name, const std::string& text) { qxtest::SetRegText(HKEY_LOCAL_MACHINE, key, name, text); }
    // Background, 8-bit background, logo, 8-bit logo, tab icon, address, style, hidden logo.
    static Strings Settings()
    {
        return { g_szBackground, g_szBackground8bpp, g_szOEMLogo, g_szOEMLogo8bpp, g_szTabIcon, g_szHomePageUrl,
            gdwUiStyle == QXLOOK_CLASSIC ? "classic" : gdwUiStyle == QXLOOK_LUSTRE ? "lustre" : "?", g_bHideLogo ? "hidden" : "shown" };
    }

    std::string driverKey, driverRoot, denied_;
    Strings readKeys, fullOpens;
    std::map<HKEY, std::string> live_;
    qxtest::Recorder<decltype(&RegOpenKeyExA)> open_ { "RegOpenKeyExA", qxtest::ProgramModule() };
    qxtest::Recorder<decltype(&RegQueryValueExA)> query_ { "RegQueryValueExA", qxtest::ProgramModule() };
};

TEST_F(Skin, KeysAreReadInOrderLaterOnesWinAndOverridesStop)
{
    Set(kKpMaker, "Background", "kp.jpg");  // not read for the primary family
    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    Set(kMaker, "Background", "maker.jpg"), Set(kMaker, "OEMLogo", "maker.png"), Set(kMaker, "HideLogo", "1");
    Set(kUtil, "OEMLogo", "util.png"), Set(kUtil, "TabIcon", "util.ico"), Set(kUtil, "UiStyle", "Classic");
    Set(driverKey, "Background8bpp", "low.bmp"), Set(driverKey, "URL", "http://driver.example/");
    ReadSkin();
    EXPECT_EQ(readKeys, (Strings { kMaker, kUtil, driverKey }));
    // The look and the address are rewritten by every key read.
    EXPECT_EQ(Settings(), (Strings { "maker.jpg", "low.bmp", "util.png", "", "util.ico", "http://driver.example/", "lustre", "hidden" }));
    EXPECT_STREQ(szQxKeyName, "HKLM\\Software\\Qx");

    // SkinOverride on makes its key the last one read.
    Set(kMaker, "SkinOverride", "ON");
    ReadSkin();
    EXPECT_EQ(readKeys, Strings { kMaker });
    EXPECT_EQ(Settings(), (Strings { "maker.jpg", "low.bmp", "maker.png", "", "util.ico", QX_DEFAULT_HOME_PAGE_URL, "lustre", "hidden" }));
    Set(kMaker, "SkinOverride", "Off"), Set(kUtil, "SkinOverride", "1"), Set(kUtil, "URL", "http://util.example/");
    ReadSkin();
    EXPECT_EQ(readKeys, (Strings { kMaker, kUtil }));
    EXPECT_EQ(Settings()[5] + Settings()[6], "http://util.example/classic");
    Set(kUtil, "SkinOverride", "yes");  // anything but on/off/1/0 is no override
    ReadSkin();
    EXPECT_EQ(readKeys, (Strings { kMaker, kUtil, driverKey }));

    // Without the driver's key the utility's choice stands; the last key read
    // decides the look, whatever the case of the name.
    qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, driverRoot);
    ReadSkin();
    EXPECT_EQ(Settings()[5] + Settings()[6], "http://util.example/classic");
    for (const auto& [text, style] : { std::pair("classic", "classic"), std::pair("CLASSIC", "classic"), std::pair("Blue", "lustre"),
             std::pair("lustre", "lustre"), std::pair("Classic ", "lustre") }) {
        Set(driverKey, "UiStyle", text);
        ReadSkin();
        EXPECT_EQ(Settings()[6], style) << text;
    }
    qxtest::SetReg(HKEY_LOCAL_MACHINE, driverKey, "UiStyle", REG_BINARY, std::string("Classic", 8));
    ReadSkin();
    EXPECT_EQ(Settings()[6], "classic");
    const std::string url = "http://long.example/" + std::string(400, 'u');  // cut to a path's length
    Set(driverKey, "URL", url);
    ReadSkin();
    EXPECT_EQ(std::string(g_szHomePageUrl), url.substr(0, QX_SKIN_PATH_CHARS - 1));

    // A user who may only read a key: it counts as absent.
    Set(kUtil, "SkinOverride", "ON"), Set(driverKey, "TabIcon", "driver.ico");
    ReadSkin(kUtil);
    EXPECT_NE(std::find(fullOpens.begin(), fullOpens.end(), kUtil), fullOpens.end()) << "the key was tried";
    EXPECT_EQ(readKeys, (Strings { kMaker, driverKey }));
    EXPECT_STREQ(g_szTabIcon, "driver.ico");
}

TEST_F(Skin, KpKeysForTheRestOfTheLoadAndSettingsThatSurvive)
{
    Set(kMaker, "Background", "plain.jpg"), Set(kUtil, "OEMLogo", "plain.png");
    Set(kKpMaker, "Background", "kp.jpg"), Set(kKpUtil, "OEMLogo", "kp.png");
    for (DWORD family : { CHIP_FAMILY_KP, CHIP_FAMILY_PRIMARY }) {  // the primary chip's start-up keeps the Kp keys
        ASSERT_NO_FATAL_FAILURE(StartUp(family));
        qxtest::SetReg(HKEY_LOCAL_MACHINE, driverKey, nullptr, 0, "");
        ReadSkin();
        EXPECT_EQ(readKeys, (Strings { kKpMaker, kKpUtil, driverKey }));
        EXPECT_EQ(szQxKeyName + std::string("|") + szQxUtilKeyName, "HKLM\\Software\\Qx\\Kp|HKLM\\Software\\Qx\\Kp\\QxTintra");
        EXPECT_EQ(g_szBackground + std::string(g_szOEMLogo), "kp.jpgkp.png");
        qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, driverRoot);
    }
    Reset();

    ASSERT_NO_FATAL_FAILURE(StartUp(CHIP_FAMILY_PRIMARY));
    // HideLogo keeps its value on text it does not know.
    const struct {
        const char *maker, *util;  // null: no value
        const char* expected;
    } steps[] = { { nullptr, "yes", "shown" }, { "1", "yes", "hidden" }, { "Off", "on", "hidden" }, { "1", "0", "shown" } };
    for (const auto& s : steps) {
        if (s.maker)
            Set(kMaker, "HideLogo", s.maker);
        Set(kUtil, "HideLogo", s.util);
        ReadSkin();
        EXPECT_EQ(Settings()[7], s.expected) << (s.maker ? s.maker : "-") << " " << s.util;
    }
    // Unusable picture values leave the earlier one (one of each kind the
    // registry reader tells apart); the longest usable is cut to a path.
    Set(kMaker, "Background", "maker.jpg");
    const std::string longest(511, 'p');
    const struct {
        DWORD type;
        std::string data, expected;
    } values[] = { { REG_SZ, std::string(1, '\0'), "maker.jpg" }, { REG_SZ, std::string(512, 'q') + '\0', "maker.jpg" },
        { REG_DWORD, std::string(4, '\1'), "maker.jpg" }, { REG_BINARY, std::string("bin.png") + '\0', "bin.png" },
        { REG_SZ, std::string("<none>") + '\0', "<none>" }, { REG_SZ, longest + '\0', longest.substr(0, QX_SKIN_PATH_CHARS - 1) } };
    for (const auto& v : values) {
        qxtest::SetReg(HKEY_LOCAL_MACHINE, kUtil, "Background", v.type, v.data);
        ReadSkin();
        EXPECT_EQ(std::string(g_szBackground), v.expected) << &v - values;
    }
    // "<none>" for the normal background says nothing about the 8-bit one.
    Set(kUtil, "Background", "<none>"), Set(kUtil, "Background8bpp", "low.bmp");
    ReadSkin();
    EXPECT_EQ(g_szBackground + std::string(g_szBackground8bpp), "<none>low.bmp");

    // No key at all: nothing changes, not even the look or the address; an
    // empty key: the paths stay, the look and the address go back.
    qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kUtil);
    Set(kMaker, "UiStyle", "Classic"), Set(kMaker, "URL", "http://maker.example/");
    ReadSkin();
    qxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kMaker);
    ReadSkin();
    EXPECT_TRUE(readKeys.empty());
    EXPECT_EQ(Settings()[0] + Settings()[5] + Settings()[6], "maker.jpghttp://maker.example/classic");
    qxtest::SetReg(HKEY_LOCAL_MACHINE, driverKey, nullptr, 0, "");
    ReadSkin();
    EXPECT_EQ(Settings()[0] + Settings()[5] + Settings()[6], "maker.jpg" + std::string(QX_DEFAULT_HOME_PAGE_URL) + "lustre");
}

TEST_F(Skin, ColourDepthProbeAndTabIcon)
{
    HDC screen = GetDC(nullptr);
    const DWORD depth = static_cast<DWORD>(GetDeviceCaps(screen, BITSPIXEL));
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
        ReleaseDC(nullptr, dc);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        return out;
    };
    HICON own = static_cast<HICON>(LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDI_TAB_ICON), IMAGE_ICON, 32, 32, 0));
    const std::vector<DWORD> builtIn = pixels(own);
    DestroyIcon(own);
    ASSERT_FALSE(builtIn.empty());
    // A 32 x 32 icon file of one opaque colour.
    std::vector<BYTE> ico(6 + 16 + 40 + 32 * 32 * 4 + 32 * 4);
    const BYTE directory[] = { 0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0xA8, 0x10, 0, 0, 22 };
    memcpy(ico.data(), directory, sizeof directory);
    const BITMAPINFOHEADER bih = { sizeof bih, 32, 64, 1, 32 };
    memcpy(&ico[22], &bih, sizeof bih);
    for (int i = 0; i < 32 * 32; ++i)
        memcpy(&ico[62 + 4 * i], "\x30\xC0\x10\xFF", 4);
    const std::string dir = qxtest::MakeTempDir("tabicon");
    const std::string good = dir + "\\oem.ico", cut = dir + "\\cut.ico", text = dir + "\\text.ico";
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
    const std::string builtInLoad = "module " + std::to_string(IDI_TAB_ICON) + " 1 0 0 0x40";
    for (const std::string& path : { good, cut, text, dir + "\\missing.ico", std::string() }) {
        lstrcpynA(g_szTabIcon, path.c_str(), QX_SKIN_PATH_CHARS);
        loads.clear();
        HICON icon = LoadTabIcon();
        const std::vector<DWORD> shown = pixels(icon);
        EXPECT_TRUE(icon && DestroyIcon(icon)) << "the caller owns the icon";
        Strings expected = { "file " + path + " 1 0 0 0x50" };  // LR_LOADFROMFILE | LR_DEFAULTSIZE
        if (path != good)
            expected.push_back(builtInLoad);
        if (path.empty())
            expected.erase(expected.begin());
        EXPECT_EQ(loads, expected);
        if (path == good)
            EXPECT_EQ(shown[512] & 0xFFFFFF, 0x10C030u);
        else
            EXPECT_EQ(shown, builtIn) << path;
    }
    qxtest::RemoveTree(dir);
}

} // namespace
