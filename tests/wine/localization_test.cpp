// Language choice, configuration-file texts and help-file choice, played
// against real INI and help files. The system and Windows directories the
// module asks for are redirected into a temporary tree, and the interface
// language, the system locale and the help-file check are watched (or
// answered) through the test program's import table.
#include "qxtest.h"

#include <locale.h>
#include <shellapi.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/localization.h"
#include "driver/chip_family.h"

namespace {

// What the patched imports answer, and what they saw.
struct Fakes {
    std::string systemDir;
    std::string windowsDir;
    LCID systemLcid = 0x0409;
    bool hasUiLanguageExport = true;
    LANGID uiLanguage = 0x0409;
    int uiLanguageLookups = 0;
    std::vector<std::string> helpChecks; // "dir|file" of each FindExecutableA
    void* realGetProcAddress = nullptr;
    void* realFindExecutable = nullptr;
};
Fakes g_fakes;

UINT CopyDirAnswer(const std::string& dir, LPSTR buffer, UINT size)
{
    if (dir.size() + 1 > size)
        return static_cast<UINT>(dir.size() + 1);
    memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}

UINT WINAPI FakeGetSystemDirectoryA(LPSTR buffer, UINT size) { return CopyDirAnswer(g_fakes.systemDir, buffer, size); }
UINT WINAPI FakeGetWindowsDirectoryA(LPSTR buffer, UINT size) { return CopyDirAnswer(g_fakes.windowsDir, buffer, size); }
LCID WINAPI FakeGetSystemDefaultLCID() { return g_fakes.systemLcid; }
LANGID WINAPI FakeGetUserDefaultUILanguage() { return g_fakes.uiLanguage; }

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name)
{
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && strcmp(name, "GetUserDefaultUILanguage") == 0) {
        ++g_fakes.uiLanguageLookups;
        return g_fakes.hasUiLanguageExport
            ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeGetUserDefaultUILanguage))
            : nullptr;
    }
    using Real = FARPROC(WINAPI*)(HMODULE, LPCSTR);
    return reinterpret_cast<Real>(g_fakes.realGetProcAddress)(module, name);
}

HINSTANCE WINAPI WatchFindExecutableA(LPCSTR file, LPCSTR dir, LPSTR result)
{
    g_fakes.helpChecks.push_back(std::string(dir ? dir : "") + "|" + (file ? file : ""));
    using Real = HINSTANCE(WINAPI*)(LPCSTR, LPCSTR, LPSTR);
    return reinterpret_cast<Real>(g_fakes.realFindExecutable)(file, dir, result);
}

void* Fn(auto* f) { return reinterpret_cast<void*>(f); }

class LocalizationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = qxtest::MakeTempDir("lang");
        g_fakes = Fakes();
        g_fakes.systemDir = root_ + "\\system32";
        g_fakes.windowsDir = root_ + "\\windows";
        ASSERT_TRUE(CreateDirectoryA(g_fakes.systemDir.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(g_fakes.windowsDir.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(HelpDir().c_str(), nullptr));

        HMODULE self = qxtest::ProgramModule();
        patches_.emplace_back(new sim::ImportPatch(self, "kernel32.dll", "GetSystemDirectoryA", Fn(&FakeGetSystemDirectoryA)));
        patches_.emplace_back(new sim::ImportPatch(self, "kernel32.dll", "GetWindowsDirectoryA", Fn(&FakeGetWindowsDirectoryA)));
        patches_.emplace_back(new sim::ImportPatch(self, "kernel32.dll", "GetSystemDefaultLCID", Fn(&FakeGetSystemDefaultLCID)));
        patches_.emplace_back(new sim::ImportPatch(self, "kernel32.dll", "GetProcAddress", Fn(&FakeGetProcAddress)));
        g_fakes.realGetProcAddress = patches_.back()->original();
        patches_.emplace_back(new sim::ImportPatch(self, "shell32.dll", "FindExecutableA", Fn(&WatchFindExecutableA)));
        g_fakes.realFindExecutable = patches_.back()->original();
        for (auto& p : patches_)
            ASSERT_TRUE(p->installed());

        // The module's language state as at load.
        memcpy(savedHelpIds_, g_aHelpIds, sizeof savedHelpIds_);
        lstrcpyA(g_szLanguage, "English");
        g_szCfgSection[0] = g_szCfgFile[0] = g_szHelpFile[0] = g_szAbbrev[0] = g_szLangFile[0] = '\0';
        g_bHelpIdsShifted = FALSE;
        g_wPrimaryLang = 0;
        g_dwChipFamily = CHIP_FAMILY_PRIMARY;
        savedCrtLocale_ = setlocale(LC_ALL, nullptr);
        savedThreadLocale_ = GetThreadLocale();
    }

    void TearDown() override
    {
        patches_.clear();
        memcpy(g_aHelpIds, savedHelpIds_, sizeof savedHelpIds_);
        g_bHelpIdsShifted = FALSE;
        lstrcpyA(g_szLanguage, "English");
        g_szCfgSection[0] = g_szCfgFile[0] = '\0';
        g_dwChipFamily = 0;
        setlocale(LC_ALL, savedCrtLocale_.c_str());
        SetThreadLocale(savedThreadLocale_);
        qxtest::RemoveTree(root_);
    }

    std::string HelpDir() const { return g_fakes.windowsDir + "\\help"; }
    std::string SysFile(const char* name) const { return g_fakes.systemDir + "\\" + name; }

    void WriteSys(const char* name, const std::string& text)
    {
        ASSERT_TRUE(qxtest::WriteFileBytes(SysFile(name), text.data(), text.size()));
    }
    void WriteHelp(const char* name)
    {
        static const char hlp[] = "?_\x03\x00"; // a help file's magic; only its presence matters here
        ASSERT_TRUE(qxtest::WriteFileBytes(HelpDir() + "\\" + name, hlp, 4));
    }

    std::string Text(const char* key, const char* def = "<default>")
    {
        char buffer[512];
        GetCfgString(key, def, buffer, sizeof buffer);
        return buffer;
    }

    // Every context id moved by offset from the table at load, every control
    // id untouched, the list still ending at control id 0.
    void ExpectHelpShift(DWORD offset)
    {
        for (int i = 0; i < QX_HELP_ID_PAIRS; ++i) {
            EXPECT_EQ(g_aHelpIds[i * 2], savedHelpIds_[i * 2]) << "pair " << i;
            EXPECT_EQ(g_aHelpIds[i * 2 + 1], savedHelpIds_[i * 2 + 1] + offset) << "pair " << i;
        }
        EXPECT_EQ(g_aHelpIds[(QX_HELP_ID_PAIRS - 1) * 2], 0u);
    }

    std::string root_;
    std::vector<std::unique_ptr<sim::ImportPatch>> patches_;
    DWORD savedHelpIds_[QX_HELP_ID_PAIRS * 2];
    std::string savedCrtLocale_;
    LCID savedThreadLocale_ = 0;
};

TEST_F(LocalizationTest, NoFileGermanInterfaceFallsBackToEnglish)
{
    g_fakes.uiLanguage = 0x0407;
    WriteHelp("QXTINwst.HLP");
    InitLocalization();

    EXPECT_EQ(g_fakes.uiLanguageLookups, 1);
    EXPECT_STREQ(g_szLanguage, "English");
    EXPECT_STREQ(g_szAbbrev, "wst");
    EXPECT_STREQ(g_szHelpFile, "QXTINwst.HLP");
    EXPECT_EQ(g_szLangFile, SysFile("QXTINTRA.CFG"));
    EXPECT_STREQ(g_szCfgFile, g_szLangFile);
    EXPECT_STREQ(g_szCfgSection, "English");
    EXPECT_EQ(g_wPrimaryLang, 9);
    EXPECT_EQ(g_lcidUi, 0x0409u);
    EXPECT_EQ(GetThreadLocale(), 0x0409u);
    EXPECT_FALSE(g_bHelpIdsShifted);
    ExpectHelpShift(0);
    ASSERT_EQ(g_fakes.helpChecks.size(), 1u);
    EXPECT_EQ(g_fakes.helpChecks[0], HelpDir() + "|QXTINwst.HLP");
    EXPECT_EQ(Text("TAB0", "Brushwork(TM) Effects"), "Brushwork(TM) Effects");
}

TEST_F(LocalizationTest, ChosenGermanShiftsHelpIdsOnceInALoad)
{
    WriteSys("QXTINTRA.CFG",
        "[Language]\r\nLanguage=German\r\n"
        "[German]\r\nTAB0=Pinselstrich-Effekte\r\n"
        "[French]\r\nTAB0=Effets de pinceau\r\n");
    WriteHelp("QXTINwst.HLP");
    InitLocalization();

    EXPECT_STREQ(g_szLanguage, "German");
    EXPECT_STREQ(g_szHelpFile, "QXTINwst.HLP");
    EXPECT_EQ(g_lcidUi, 0x0407u);
    EXPECT_EQ(GetThreadLocale(), 0x0407u);
    EXPECT_EQ(std::string(setlocale(LC_ALL, nullptr)).rfind("German", 0), 0u) << setlocale(LC_ALL, nullptr);
    EXPECT_TRUE(g_bHelpIdsShifted);
    ExpectHelpShift(10000);
    EXPECT_EQ(Text("TAB0"), "Pinselstrich-Effekte");
    EXPECT_EQ(Text("TAB1"), "<default>");

    // The next start-up first reads the previous language as its provisional
    // section, then settles on the new one; the help ids keep the first shift.
    BuildConfigFilePath(g_szLangFile);
    EXPECT_STREQ(g_szCfgSection, "German");
    WriteSys("QXTINTRA.CFG",
        "[Language]\r\nLanguage=French\r\n"
        "[French]\r\nTAB0=Effets de pinceau\r\n");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "French");
    EXPECT_EQ(Text("TAB0"), "Effets de pinceau");
    ExpectHelpShift(10000);
}

TEST_F(LocalizationTest, MissingGroupHelpFileFallsBackToWst)
{
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=Czech\r\n[Czech]\r\nTAB0=Efekty\r\n");
    WriteHelp("QXTINwst.HLP");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "Czech");
    EXPECT_STREQ(g_szAbbrev, "ws2");
    EXPECT_STREQ(g_szHelpFile, "QXTINwst.HLP");
    EXPECT_EQ(g_wPrimaryLang, 9);
    EXPECT_EQ(g_lcidUi, 0x0405u) << "the thread keeps the language's locale";
    EXPECT_EQ(Text("TAB0"), "Efekty");
    ASSERT_EQ(g_fakes.helpChecks.size(), 1u);
    EXPECT_EQ(g_fakes.helpChecks[0], HelpDir() + "|QXTINws2.HLP");
    ExpectHelpShift(0);

    // Greek numbers its contexts from 2000 in the ws2 file; without that file
    // the wst numbering (English, 0) applies.
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=Greek\r\n[Greek]\r\nTAB0=x\r\n");
    InitLocalization();
    EXPECT_STREQ(g_szHelpFile, "QXTINwst.HLP");
    EXPECT_FALSE(g_bHelpIdsShifted);

    WriteHelp("QXTINws2.HLP");
    InitLocalization();
    EXPECT_STREQ(g_szHelpFile, "QXTINws2.HLP");
    EXPECT_EQ(g_wPrimaryLang, 8);
    ExpectHelpShift(2000);
}

TEST_F(LocalizationTest, HelpFileFoundNowhereKeepsItsName)
{
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=Japanese\r\n[Japanese]\r\nTAB0=x\r\n");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "Japanese");
    EXPECT_STREQ(g_szAbbrev, "JPN");
    EXPECT_STREQ(g_szHelpFile, "QXTINwst.HLP");
    EXPECT_EQ(g_fakes.helpChecks.size(), 1u) << "the wst file itself is not checked";

    WriteHelp("QXTINJPN.HLP");
    InitLocalization();
    EXPECT_STREQ(g_szHelpFile, "QXTINJPN.HLP");
    EXPECT_EQ(g_wPrimaryLang, 17);
    EXPECT_EQ(GetThreadLocale(), 0x0411u);
}

TEST_F(LocalizationTest, KpFamilyFollowsItsOwnRedirectionKeys)
{
    g_dwChipFamily = CHIP_FAMILY_KP;
    const std::string base =
        "[Language]\r\nLanguage=German\r\nGerman=QXDEU.CFG\r\nGerman_KP=KPDEU.CFG\r\n"
        "[German]\r\nTAB0=Basisdatei\r\n";
    WriteSys("KPTINTRA.CFG", base);
    WriteSys("QXTINTRA.CFG", base);
    WriteSys("QXDEU.CFG", "[German]\r\nTAB0=Qx-Datei\r\n");
    WriteSys("KPDEU.CFG", "[German]\r\nTAB0=Kp-Datei\r\n");
    WriteHelp("KPTINwst.HLP");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "German");
    EXPECT_EQ(std::string(g_szCfgFile), SysFile("KPDEU.CFG"));
    EXPECT_EQ(Text("TAB0"), "Kp-Datei");
    EXPECT_STREQ(g_szHelpFile, "KPTINwst.HLP");
    ExpectHelpShift(10000);

    // The other family reads its plain key.
    g_dwChipFamily = CHIP_FAMILY_PRIMARY;
    InitLocalization();
    EXPECT_EQ(std::string(g_szCfgFile), SysFile("QXDEU.CFG"));
    EXPECT_EQ(Text("TAB0"), "Qx-Datei");
    EXPECT_STREQ(g_szHelpFile, "QXTINwst.HLP");
}

TEST_F(LocalizationTest, FallbackToEnglishLooksInTheRedirectedFile)
{
    g_dwChipFamily = CHIP_FAMILY_KP;
    WriteSys("KPTINTRA.CFG", "[Language]\r\nLanguage=German\r\nGerman_KP=sub.cfg\r\n");
    // No German section here, but a redirection of its own for English.
    WriteSys("sub.cfg", "[Language]\r\nEnglish_KP=eng.cfg\r\n[English]\r\nTAB0=wrong\r\n");
    WriteSys("eng.cfg", "[English]\r\nTAB0=Kp English\r\n");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "English");
    EXPECT_EQ(std::string(g_szCfgFile), SysFile("eng.cfg"));
    EXPECT_EQ(Text("TAB0"), "Kp English");
    EXPECT_FALSE(g_bHelpIdsShifted);
}

TEST_F(LocalizationTest, EnglishInterfaceKeepsAutoUntilTheLoop)
{
    char name[QX_LANGUAGE_CHARS] = "auto";
    char abbrev[QX_ABBREV_CHARS] = "junk";
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 0);
    EXPECT_STREQ(name, "auto");
    EXPECT_STREQ(abbrev, "wst");
    EXPECT_EQ(g_wPrimaryLang, 9);
    EXPECT_EQ(g_lcidUi, 0x0409u);

    // No "Auto" section: English, and the C runtime keeps its locale for the
    // name it does not know.
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=Auto\r\n");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "English");

    // A section "Auto" with keys is a language of its own.
    WriteSys("QXTINTRA.CFG", "[Auto]\r\nTAB0=from Auto\r\n");
    setlocale(LC_ALL, "C");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "Auto");
    EXPECT_STREQ(g_szCfgSection, "Auto");
    EXPECT_EQ(Text("TAB0"), "from Auto");
    EXPECT_STREQ(setlocale(LC_ALL, nullptr), "C");

    // An empty section does not count.
    WriteSys("QXTINTRA.CFG", "[Auto]\r\n");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "English");
}

struct AutoCase {
    LANGID ui;
    const char* name;
    LCID lcid;
    const char* abbrev;
    WORD offset;
};

TEST_F(LocalizationTest, AutoMapsInterfaceLanguages)
{
    const AutoCase cases[] = {
        { 0x0404, "Traditional Chinese", 0x0404, "CHT", 0 },
        { 0x0804, "Simplified Chinese", 0x0804, "CHS", 0 },
        { 0x0C04, "Simplified Chinese", 0x0C04, "ZHH", 0 }, // Hong Kong keeps its sublanguage
        { 0x0416, "Portuguese Brazilian", 0x0416, "wst", 16000 },
        { 0x0816, "Portuguese Standard", 0x0816, "ws2", 8000 },
        { 0x0807, "German", 0x0407, "wst", 10000 },          // other sublanguages map to the main one
        { 0x0C0A, "Spanish", 0x040A, "wst", 18000 },
        { 0x041F, "Turkish", 0x041F, "ws2", 14000 },
        { 0x0424, "Slovenian", 0x0424, "ws2", 10000 },
        { 0x0411, "Japanese", 0x0411, "JPN", 0 },
        { 0x0401, "English", 0x0409, "ENU", 0 },             // no texts of its own: English, locale short name
        { 0x0000, "English", 0x0409, "ENU", 0 },
    };
    for (const AutoCase& c : cases) {
        g_fakes.uiLanguage = c.ui;
        char name[QX_LANGUAGE_CHARS] = "Auto";
        char abbrev[QX_ABBREV_CHARS];
        EXPECT_EQ(ResolveLanguageName(name, abbrev), c.offset) << std::hex << c.ui;
        EXPECT_STREQ(name, c.name) << std::hex << c.ui;
        EXPECT_EQ(g_lcidUi, c.lcid) << std::hex << c.ui;
        EXPECT_STREQ(abbrev, c.abbrev) << std::hex << c.ui;
    }

    // Every language Auto picks resolves by name to the same locale. (The
    // stand-in "English" of languages without texts deliberately differs:
    // its help file is named after the locale.)
    int named = 0;
    for (WORD primary = 1; primary < 0x40; ++primary) {
        g_fakes.uiLanguage = MAKELANGID(primary, 1);
        char name[QX_LANGUAGE_CHARS] = "Auto";
        char abbrev[QX_ABBREV_CHARS];
        WORD offset = ResolveLanguageName(name, abbrev);
        if (primary == 9 || lstrcmpA(name, "English") == 0)
            continue;
        ++named;
        LCID viaAuto = g_lcidUi;
        std::string abbrevViaAuto = abbrev;
        EXPECT_EQ(ResolveLanguageName(name, abbrev), offset) << name;
        EXPECT_EQ(g_lcidUi, viaAuto) << name;
        EXPECT_EQ(abbrev, abbrevViaAuto) << name;
    }
    EXPECT_EQ(named, 22) << "every primary language of the table but English";
}

TEST_F(LocalizationTest, SystemLocaleStandsInWithoutUiLanguageExport)
{
    g_fakes.hasUiLanguageExport = false;
    g_fakes.uiLanguage = 0x0407; // must not be asked
    g_fakes.systemLcid = 0x00010C0A; // a sort order above the language part
    WriteSys("QXTINTRA.CFG", "[Spanish]\r\nTAB0=Efectos\r\n");
    WriteHelp("QXTINwst.HLP");
    InitLocalization();
    EXPECT_EQ(g_fakes.uiLanguageLookups, 1);
    EXPECT_STREQ(g_szLanguage, "Spanish");
    EXPECT_EQ(g_lcidUi, 0x040Au);
    EXPECT_EQ(Text("TAB0"), "Efectos");
    ExpectHelpShift(18000);
}

TEST_F(LocalizationTest, NamesOutsideTheTable)
{
    char name[QX_LANGUAGE_CHARS] = "gErMaN";
    char abbrev[QX_ABBREV_CHARS];
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 10000) << "matched without regard to case";
    EXPECT_EQ(g_lcidUi, 0x0407u);

    // An unknown name keeps the previous primary language.
    lstrcpyA(name, "Klingon");
    EXPECT_EQ(ResolveLanguageName(name, abbrev), 0);
    EXPECT_STREQ(name, "Klingon");
    EXPECT_EQ(g_wPrimaryLang, 7);
    EXPECT_EQ(g_lcidUi, 0x0407u);
    EXPECT_STREQ(abbrev, "DEU");

    // ... and it is a language like any other when the file has its texts.
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=Klingon\r\n[Klingon]\r\nTAB0=tlhIngan\r\n");
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "Klingon");
    EXPECT_STREQ(g_szHelpFile, "QXTINwst.HLP") << "its locale's help file is missing";
    EXPECT_EQ(Text("TAB0"), "tlhIngan");
}

TEST_F(LocalizationTest, OverlongNamesAreCut)
{
    // A 70-character name reads the section of its first 63 characters.
    const std::string longName(70, 'L');
    WriteSys("QXTINTRA.CFG",
        "[Language]\r\nLanguage=" + longName + "\r\n[" + longName.substr(0, 63) + "]\r\nTAB0=cut\r\n");
    InitLocalization();
    EXPECT_EQ(std::string(g_szLanguage), longName.substr(0, 63));
    EXPECT_EQ(Text("TAB0"), "cut");

    SetConfigSection(std::string(200, 'S').c_str(), std::string(400, 'F').c_str());
    EXPECT_EQ(strlen(g_szCfgSection), 127u);
    EXPECT_EQ(strlen(g_szCfgFile), static_cast<size_t>(MAX_PATH - 1));

    // A redirection that would overflow the path is cut to the path buffer.
    char path[MAX_PATH];
    BuildConfigFilePath(path);
    char language[QX_LANGUAGE_CHARS], abbrev[QX_ABBREV_CHARS], help[MAX_PATH];
    WriteSys("QXTINTRA.CFG", "[Language]\r\nLanguage=English\r\nEnglish=" + std::string(300, 'r') + "\r\n");
    SelectLanguage(nullptr, language, abbrev, help, "QXTIN%s.HLP", path);
    EXPECT_EQ(strlen(path), static_cast<size_t>(MAX_PATH - 1));
    EXPECT_EQ(std::string(path).rfind(g_fakes.systemDir + "\\rrr", 0), 0u);
}

TEST_F(LocalizationTest, ConfigPathFromSystemDirectory)
{
    char path[MAX_PATH];
    g_fakes.systemDir = "X:\\";
    EXPECT_TRUE(BuildConfigFilePath(path));
    EXPECT_STREQ(path, "X:\\QXTINTRA.CFG");
    EXPECT_STREQ(g_szCfgFile, path);
    EXPECT_STREQ(g_szCfgSection, "English");

    g_dwChipFamily = CHIP_FAMILY_KP;
    g_fakes.systemDir = "X:\\sys";
    BuildConfigFilePath(path);
    EXPECT_STREQ(path, "X:\\sys\\KPTINTRA.CFG");
}

// ---- Text lookups ----------------------------------------------------------

class CfgStringTest : public LocalizationTest {};

TEST_F(CfgStringTest, DefaultsAndSizeLimits)
{
    WriteSys("QXTINTRA.CFG", "[English]\r\nTAB0=Brush\r\nEMPTY=\r\nLONG=0123456789abcdef\r\n");
    char out[8];

    // Before any start-up nothing is read, even with a file in place.
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, sizeof out));
    EXPECT_STREQ(out, "def");

    SetConfigSection("English", SysFile("QXTINTRA.CFG").c_str());
    const struct {
        const char* key;
        const char* def;
        bool found;
        const char* expected;
    } lookups[] = {
        { "TAB0", "def", true, "Brush" },
        { "tab0", "def", true, "Brush" },  // keys ignore case
        { "MISSING", "default", false, "default" },
        { "EMPTY", "def", false, "def" },
        { "MISSING", nullptr, false, "" },
        { nullptr, "def", false, "def" },  // a null key must not list the section
        // Cut to the buffer, terminator included.
        { "LONG", "def", true, "0123456" },
        { "MISSING", "a default that is too long", false, "a defau" },
    };
    for (const auto& l : lookups) {
        SCOPED_TRACE(l.key ? l.key : "<null key>");
        EXPECT_EQ(GetCfgString(l.key, l.def, out, sizeof out), l.found);
        EXPECT_STREQ(out, l.expected);
    }

    memset(out, 'z', sizeof out);
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, 0));
    EXPECT_EQ(out[0], 'z');
    EXPECT_FALSE(GetCfgString("TAB0", "def", nullptr, 8));

    // Another section, or a missing file, reads as empty.
    SetConfigSection("German", SysFile("QXTINTRA.CFG").c_str());
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, sizeof out));
    SetConfigSection("English", SysFile("NONE.CFG").c_str());
    EXPECT_FALSE(GetCfgString("TAB0", "def", out, sizeof out));
}

// The shipped sample file: its English section holds every text at the
// built-in default, and each translation covers every key.
TEST_F(CfgStringTest, SampleFileCoversEveryKey)
{
    std::ifstream in(QX_SOURCE_DIR "/resources/config/QXTINTRA.CFG", std::ios::binary);
    ASSERT_TRUE(in.good());
    std::stringstream all;
    all << in.rdbuf();
    WriteSys("QXTINTRA.CFG", all.str());

    const std::pair<const char*, const char*> defaults[] = {
        { "IDS_TAB_COLOR", "QxTintra" },
        { "TAB0", "Brushwork(TM) Effects" },
        { "TAB1", "  Deblocking Filters  " },
        { "Msg2CopiesWarn",
            "A copy of this utility is already running. Running 2 copies at the same time may cause unpredictable "
            "results." },
        { "Msg2CopiesWarn2", "Please close one of the copies." },
        { "IDC_EF_NONE", "No Effects/No Filters" },
        { "IDC_EMBOSS", "Emboss" },
        { "IDC_NEON_EDGES", "Neon Edges" },
        { "IDC_SOFT_FOCUS", "Soft Focus" },
        { "IDC_SELECTED_SHARP", "Sharpen" },
        { "IDC_DBLK_EDGESMOOTHING", "Edge Smoothing" },
        { "IDC_DBLK_COMPLEXPICSMOOTHING", "Complex Picture Smoothing" },
        { "IDC_ORIGINALGRPBOX", "Original image" },
    };
    for (const std::string language : { "English", "German", "Japanese", "Simplified Chinese", "Traditional Chinese" }) {
        SetConfigSection(language.c_str(), SysFile("QXTINTRA.CFG").c_str());
        for (const auto& [key, text] : defaults) {
            SCOPED_TRACE(language + " " + key);
            char out[512];
            EXPECT_TRUE(GetCfgString(key, "", out, sizeof out));
            if (language == "English")
                EXPECT_STREQ(out, text);
            else if (lstrcmpA(key, "IDS_TAB_COLOR") != 0)  // the product name may stay
                EXPECT_STRNE(out, text);
        }
    }

    // The sample leaves the language to the user's interface.
    g_fakes.uiLanguage = 0x0407;
    InitLocalization();
    EXPECT_STREQ(g_szLanguage, "German");
    EXPECT_EQ(Text("IDC_EMBOSS"), "Relief");
}

} // namespace
