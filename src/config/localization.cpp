// Language choice, configuration-file texts and the context-help file.
#include "config/localization.h"

#include <locale.h>
#include <shellapi.h>

#include "common/trace.h"
#include "driver/chip_family.h"
#include "hosting/module.h"

// Control ids of the page's dialogs with their help contexts before the
// language's offset. Both logo controls share one context, and the
// "Original image" group box shares the one of the picture inside it.
DWORD g_aHelpIds[QX_HELP_ID_PAIRS * 2] = {
    305, 305, 221, 221, 261, 221, 306, 306, 352, 352, 353, 352, 338, 338, 340, 340,
    341, 341, 342, 342, 343, 343, 344, 344, 348, 348, 349, 349, 350, 350, 351, 351,
    345, 345, 346, 346, 347, 347, 355, 355, 356, 356, 0, 0,
};
BOOL g_bHelpIdsShifted;
char g_szHelpFile[MAX_PATH];

const QX_CFG_TEXT kCfgSheetTitle = { "IDS_TAB_COLOR", "QxTintra", QX_CFG_TITLE_CCH };
const QX_CFG_TEXT kCfgTwoCopies = { "Msg2CopiesWarn",
    "A copy of this utility is already running. Running 2 copies at the same time may cause unpredictable results.",
    QX_CFG_TEXT_CCH };
const QX_CFG_TEXT kCfgTwoCopies2 = { "Msg2CopiesWarn2", "Please close one of the copies.", QX_CFG_TEXT_CCH };

char g_szLanguage[QX_LANGUAGE_CHARS] = "English";
char g_szAbbrev[QX_ABBREV_CHARS];
char g_szLangFile[MAX_PATH];
// Empty until the first InitLocalization of a load: every lookup then yields
// its default.
char g_szCfgSection[QX_SECTION_CHARS];
char g_szCfgFile[MAX_PATH];
LCID g_lcidUi;
WORD g_wPrimaryLang;

namespace {

constexpr char kLanguageSection[] = "Language";
constexpr char kAuto[] = "Auto";
constexpr char kEnglish[] = "English";
constexpr char kWstAbbrev[] = "wst";
constexpr WORD kLangEnglish = 9;
constexpr WORD kLangChinese = 4;
constexpr WORD kLangPortuguese = 22;

// The short name of a language decides its help file. The two "wst"/"ws2"
// groups share one help file per group, so each language gets its own block
// of context numbers in it; the other languages have files of their own,
// named after the locale.
enum class HelpGroup : BYTE { Wst, Ws2, Locale };

struct LanguageRow {
    const char* name;
    WORD primary;
    WORD sub;
    HelpGroup group;
    WORD helpOffset;
};

constexpr LanguageRow kLanguages[] = {
    { "English", 9, 1, HelpGroup::Wst, 0 },
    { "Danish", 6, 1, HelpGroup::Wst, 2000 },
    { "Dutch", 19, 1, HelpGroup::Wst, 4000 },
    { "Finnish", 11, 1, HelpGroup::Wst, 6000 },
    { "French", 12, 1, HelpGroup::Wst, 8000 },
    { "German", 7, 1, HelpGroup::Wst, 10000 },
    { "Italian", 16, 1, HelpGroup::Wst, 12000 },
    { "Norwegian", 20, 1, HelpGroup::Wst, 14000 },
    { "Portuguese Brazilian", 22, 1, HelpGroup::Wst, 16000 },
    { "Spanish", 10, 1, HelpGroup::Wst, 18000 },
    { "Swedish", 29, 1, HelpGroup::Wst, 20000 },
    { "Russian", 25, 1, HelpGroup::Wst, 22000 },
    { "Czech", 5, 1, HelpGroup::Ws2, 0 },
    { "Greek", 8, 1, HelpGroup::Ws2, 2000 },
    { "Hungarian", 14, 1, HelpGroup::Ws2, 4000 },
    { "Polish", 21, 1, HelpGroup::Ws2, 6000 },
    { "Portuguese Standard", 22, 2, HelpGroup::Ws2, 8000 },
    { "Slovenian", 36, 1, HelpGroup::Ws2, 10000 },
    { "Slovak", 27, 1, HelpGroup::Ws2, 12000 },
    { "Turkish", 31, 1, HelpGroup::Ws2, 14000 },
    { "Japanese", 17, 1, HelpGroup::Locale, 0 },
    { "Korean", 18, 1, HelpGroup::Locale, 0 },
    { "Traditional Chinese", 4, 1, HelpGroup::Locale, 0 },
    { "Simplified Chinese", 4, 2, HelpGroup::Locale, 0 },
    { "Thai", 30, 1, HelpGroup::Locale, 0 },
};

const LanguageRow* FindLanguageByName(const char* name)
{
    for (const LanguageRow& row : kLanguages)
        if (lstrcmpiA(row.name, name) == 0)
            return &row;
    return nullptr;
}

const LanguageRow* FindLanguageByPrimary(WORD primary, WORD sub)
{
    for (const LanguageRow& row : kLanguages)
        if (row.primary == primary && row.sub == sub)
            return &row;
    return nullptr;
}

// Copies src into dst (size characters with the terminator), cutting it when
// it is longer. A cut never leaves half of a double-byte character behind,
// so a long Japanese or Chinese text stays valid in its code page.
void CopyCut(char* dst, const char* src, size_t size)
{
    if (!dst || !size)
        return;
    if (!src)
        src = "";
    size_t n = 0;
    while (src[n] && n + 1 < size) {
        if (IsDBCSLeadByte(static_cast<BYTE>(src[n]))) {
            if (!src[n + 1] || n + 2 >= size)
                break;
            dst[n] = src[n];
            ++n;
        }
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
}

template <size_t N>
void CopyCut(char (&dst)[N], const char* src)
{
    CopyCut(dst, src, N);
}

// The user's interface language. GetUserDefaultUILanguage does not exist on
// the Windows 95 family and NT 4, so it is looked up by name; without it the
// system default locale stands in.
LANGID UserInterfaceLanguage()
{
    using UiLanguageProc = LANGID(WINAPI*)();
    if (HMODULE kernel = GetModuleHandleA("KERNEL32")) {
        if (FARPROC proc = GetProcAddress(kernel, "GetUserDefaultUILanguage"))
            return reinterpret_cast<UiLanguageProc>(reinterpret_cast<void*>(proc))();
    }
    return LANGIDFROMLCID(GetSystemDefaultLCID());
}

// Whether section exists in file with at least one key. Listing the key
// names needs only as much room as one short name to tell.
bool SectionHasKeys(const char* section, const char* file)
{
    char keys[64];
    return GetPrivateProfileStringA(section, nullptr, "", keys, sizeof keys, file) > 0;
}

// Replaces everything after the last backslash of path (or all of it when it
// has none) by fileName, cutting the result to the buffer.
void ReplaceFileName(char (&path)[MAX_PATH], const char* fileName)
{
    char* name = path;
    for (char* p = path; *p; p = CharNextA(p))
        if (*p == '\\')
            name = p + 1;
    CopyCut(name, fileName, static_cast<size_t>(path + MAX_PATH - name));
}

void FormatHelpFile(char (&helpFile)[MAX_PATH], LPCSTR pattern, const char* abbrev)
{
    char text[1025]; // the most wsprintfA ever writes
    wsprintfA(text, pattern, abbrev);
    CopyCut(helpFile, text);
}

// The language's redirection key: its name, with "_KP" for the Kp family's
// files (recognised by the help-file pattern), so both families can share
// one base file layout yet point at different translations.
void RedirectionKey(char (&key)[QX_LANGUAGE_CHARS + 4], const char* language, LPCSTR helpPattern)
{
    CopyCut(key, language);
    if ((helpPattern[0] == 'K' || helpPattern[0] == 'k') && (helpPattern[1] == 'P' || helpPattern[1] == 'p'))
        lstrcatA(key, "_KP");
}

} // namespace

void ApplyHelpIdOffset(WORD offset)
{
    if (!offset || g_bHelpIdsShifted)
        return;
    for (int i = 0; i < QX_HELP_ID_PAIRS; ++i)
        g_aHelpIds[i * 2 + 1] += offset;
    g_bHelpIdsShifted = TRUE;
}

void SetConfigSection(LPCSTR section, LPCSTR file)
{
    // Names that do not fit are cut, like every other text of the file: a
    // hand-written name of over 127 characters then reads a section that
    // cannot exist, and every lookup yields its default.
    CopyCut(g_szCfgSection, section);
    CopyCut(g_szCfgFile, file);
}

BOOL GetCfgString(LPCSTR key, LPCSTR defaultText, LPSTR out, DWORD size)
{
    if (!out || !size)
        return FALSE;
    // An empty section or file means no InitLocalization yet; a null key
    // would list the section's keys instead of reading one.
    if (key && *key && g_szCfgSection[0] && g_szCfgFile[0]) {
        if (GetPrivateProfileStringA(g_szCfgSection, key, "", out, size, g_szCfgFile) > 0 && out[0])
            return TRUE;
    }
    CopyCut(out, defaultText, size);
    return FALSE;
}

BOOL BuildConfigFilePath(char (&path)[MAX_PATH])
{
    const char* baseName = g_dwChipFamily == CHIP_FAMILY_KP ? "KPTINTRA.CFG" : "QXTINTRA.CFG";
    UINT len = GetSystemDirectoryA(path, MAX_PATH);
    if (len >= MAX_PATH) // did not fit: the directory is unusable
        len = 0;
    path[len] = '\0';
    // The last character, not byte: a double-byte directory name may end in
    // a trail byte equal to the backslash.
    if (len && *CharPrevA(path, path + len) != '\\' && len + 1 < MAX_PATH)
        lstrcatA(path, "\\");
    CopyCut(path + lstrlenA(path), baseName, MAX_PATH - static_cast<size_t>(lstrlenA(path)));
    SetConfigSection(g_szLanguage, path);
    return TRUE;
}

WORD ResolveLanguageName(char (&language)[QX_LANGUAGE_CHARS], char (&abbrev)[QX_ABBREV_CHARS])
{
    abbrev[0] = '\0';
    WORD sub = 1;
    HelpGroup group = HelpGroup::Locale;
    WORD offset = 0;

    if (lstrcmpiA(language, kAuto) == 0) {
        g_lcidUi = GetSystemDefaultLCID();
        LANGID ui = UserInterfaceLanguage();
        WORD primary = PRIMARYLANGID(ui);
        WORD uiSub = SUBLANGID(ui);
        const LanguageRow* row = nullptr;
        if (primary == kLangChinese)
            row = FindLanguageByName(uiSub == 1 ? "Traditional Chinese" : "Simplified Chinese");
        else if (primary == kLangPortuguese)
            row = FindLanguageByName(uiSub == 1 ? "Portuguese Brazilian" : "Portuguese Standard");
        else
            row = FindLanguageByPrimary(primary, 1);

        if (row && primary == kLangEnglish) {
            // An English interface keeps "Auto": the file may carry a section
            // of that name; otherwise the loop settles on "English".
            g_wPrimaryLang = row->primary;
            group = row->group;
        } else if (row) {
            CopyCut(language, row->name);
            g_wPrimaryLang = row->primary;
            group = row->group;
            offset = row->helpOffset;
            if (primary == kLangChinese || primary == kLangPortuguese)
                sub = uiSub;
        } else {
            // A language without texts of its own reads the English ones but
            // keeps the help file named after the locale.
            CopyCut(language, kEnglish);
            g_wPrimaryLang = kLangEnglish;
        }
    } else if (const LanguageRow* row = FindLanguageByName(language)) {
        g_wPrimaryLang = row->primary;
        sub = row->sub;
        group = row->group;
        offset = row->helpOffset;
    }
    // A name in no row keeps the previous primary language.

    if (group == HelpGroup::Wst)
        CopyCut(abbrev, kWstAbbrev);
    else if (group == HelpGroup::Ws2)
        CopyCut(abbrev, "ws2");

    g_lcidUi = MAKELCID(static_cast<WORD>((sub << 10) | g_wPrimaryLang), SORT_DEFAULT);
    if (!abbrev[0]) {
        char localeAbbrev[128];
        if (!GetLocaleInfoA(g_lcidUi, LOCALE_SABBREVLANGNAME | LOCALE_USE_CP_ACP, localeAbbrev, sizeof localeAbbrev))
            localeAbbrev[0] = '\0';
        CopyCut(abbrev, localeAbbrev);
    }
    return offset;
}

WORD SelectLanguage(HINSTANCE instance, char (&language)[QX_LANGUAGE_CHARS], char (&abbrev)[QX_ABBREV_CHARS],
    char (&helpFile)[MAX_PATH], LPCSTR helpPattern, char (&cfgPath)[MAX_PATH])
{
    if (!helpPattern)
        helpPattern = "";
    g_lcidUi = GetSystemDefaultLCID();
    char name[QX_LANGUAGE_CHARS] = {};
    char shortName[QX_ABBREV_CHARS] = {};

    {
        char chosen[MAX_PATH];
        GetPrivateProfileStringA(kLanguageSection, "Language", kAuto, chosen, sizeof chosen, cfgPath);
        // A name longer than the language buffer is cut there and then, so
        // that the section looked up, the section read and the name the page
        // compares are one and the same. "Language=" with nothing after it
        // counts as no choice at all.
        CopyCut(name, chosen[0] ? chosen : kAuto);
    }

    WORD offset = 0;
    for (;;) {
        offset = ResolveLanguageName(name, shortName);

        char key[QX_LANGUAGE_CHARS + 4];
        RedirectionKey(key, name, helpPattern);
        char redirect[MAX_PATH];
        if (GetPrivateProfileStringA(kLanguageSection, key, "", redirect, sizeof redirect, cfgPath) > 0 && redirect[0])
            ReplaceFileName(cfgPath, redirect);

        if (lstrcmpiA(name, kEnglish) == 0)
            break;
        if (SectionHasKeys(name, cfgPath))
            break;
        CopyCut(name, kEnglish);
    }

    SetConfigSection(name, cfgPath);

    FormatHelpFile(helpFile, helpPattern, shortName);
    char helpDir[MAX_PATH + 8];
    char windowsDir[MAX_PATH];
    UINT len = GetWindowsDirectoryA(windowsDir, MAX_PATH);
    if (len >= MAX_PATH)
        len = 0;
    windowsDir[len] = '\0';
    wsprintfA(helpDir, "%s\\help", windowsDir);
    char executable[MAX_PATH];
    executable[0] = '\0';
    if (reinterpret_cast<INT_PTR>(FindExecutableA(helpFile, helpDir, executable)) <= 32) {
        char fallback[MAX_PATH];
        FormatHelpFile(fallback, helpPattern, kWstAbbrev);
        if (lstrcmpiA(fallback, helpFile) != 0) {
            offset = 0;
            g_wPrimaryLang = kLangEnglish;
            CopyCut(helpFile, fallback);
        }
        // When even the "wst" file is missing the name is kept anyway:
        // WinHelp reports the missing file itself when help is asked for.
    }

    // Names the C runtime does not know ("Auto", "Thai" on some runtimes)
    // leave its locale as it was.
    setlocale(LC_ALL, name);
    SetThreadLocale(g_lcidUi);

    CopyCut(language, name);
    CopyCut(abbrev, shortName);
    return offset;
}

void InitLocalization()
{
    BuildConfigFilePath(g_szLangFile);
    const char* pattern = g_dwChipFamily == CHIP_FAMILY_KP ? "KPTIN%s.HLP" : "QXTIN%s.HLP";
    WORD offset = SelectLanguage(g_hInstance, g_szLanguage, g_szAbbrev, g_szHelpFile, pattern, g_szLangFile);
    QxTrace("InitLocalization returns g_szHelpFile=%s, g_szLangFile=%s, g_szAbbrev=%s\n", g_szHelpFile,
        g_szLangFile, g_szAbbrev);
    ApplyHelpIdOffset(offset);
}
