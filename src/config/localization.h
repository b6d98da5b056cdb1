// Language choice, the per-language texts of the configuration file and the
// context-help file.
//
// The configuration file is an INI file in the system directory: section
// "Language" names the language (or "Auto") and may send a language to a file
// of its own; one section per language holds the translated texts. The help
// file is "QXTIN<short name>.HLP" (Kp family: "KPTIN...") in the Windows help
// directory, and each language has its own block of help context numbers.
#pragma once
#include <windows.h>

// ---- Context help (used by the page's WM_HELP / WM_CONTEXTMENU) ------------

// (control id, help context id) pairs for WinHelpA with HELP_WM_HELP or
// HELP_CONTEXTMENU, ending with (0, 0). The context ids already carry the
// chosen language's offset once InitLocalization has run.
constexpr int QX_HELP_ID_PAIRS = 22;
extern DWORD g_aHelpIds[QX_HELP_ID_PAIRS * 2];
extern BOOL g_bHelpIdsShifted;
// Help file name, without directory, for WinHelpA.
extern char g_szHelpFile[MAX_PATH];

// Adds the language's offset to every help context id, once per load of the
// module: a later start-up with another language keeps the first shift.
void ApplyHelpIdOffset(WORD offset);

// ---- Language state ---------------------------------------------------------

// English name of the chosen language ("English" at load). Compared by the
// page with "English", "Japanese", "Simplified Chinese", "Traditional Chinese"
// (always without regard to case).
constexpr int QX_LANGUAGE_CHARS = 64;
constexpr int QX_ABBREV_CHARS = 32;
constexpr int QX_SECTION_CHARS = 128;
extern char g_szLanguage[QX_LANGUAGE_CHARS];
extern char g_szAbbrev[QX_ABBREV_CHARS];   // "wst", "ws2" or the locale's short name
extern char g_szLangFile[MAX_PATH];        // configuration file in use (full path)
extern char g_szCfgSection[QX_SECTION_CHARS]; // section of every text lookup
extern char g_szCfgFile[MAX_PATH];         // file of every text lookup
extern LCID g_lcidUi;
extern WORD g_wPrimaryLang;

// Chooses the language, the configuration file and the help file, and shifts
// the help ids. Runs last in every start-up.
void InitLocalization();

// Base configuration file ("QXTINTRA.CFG", or "KPTINTRA.CFG" for the Kp
// family) in the system directory; makes it, with g_szLanguage as section,
// the file of all lookups. Always 1.
BOOL BuildConfigFilePath(char (&path)[MAX_PATH]);

// The language loop: reads "Language", follows the per-language redirection,
// falls back to English, picks and checks the help file, sets the C runtime
// and thread locales. helpPattern is a wsprintfA format with one "%s".
// Returns the help context offset.
WORD SelectLanguage(HINSTANCE instance, char (&language)[QX_LANGUAGE_CHARS], char (&abbrev)[QX_ABBREV_CHARS],
    char (&helpFile)[MAX_PATH], LPCSTR helpPattern, char (&cfgPath)[MAX_PATH]);

// Maps a language name (or "Auto") to its primary language, locale, short
// name and help offset; "Auto" may be replaced by a table name. Sets
// g_wPrimaryLang and g_lcidUi; returns the help offset.
WORD ResolveLanguageName(char (&language)[QX_LANGUAGE_CHARS], char (&abbrev)[QX_ABBREV_CHARS]);

// Makes (section, file) the source of every text lookup. Texts longer than
// the buffers are cut.
void SetConfigSection(LPCSTR section, LPCSTR file);

// How many characters (with the terminating zero) the page reads of a text
// from the configuration file: a tab's label as the tab control keeps it,
// the sheet's tab title, and every other text.
constexpr int QX_CFG_TAB_LABEL_CCH = 64;
constexpr int QX_CFG_TITLE_CCH = 256;
constexpr int QX_CFG_TEXT_CCH = 512;

// A text looked up outside the tab table: its key, the English text shown
// without one, and its buffer size.
struct QX_CFG_TEXT {
    LPCSTR key;
    LPCSTR fallback;
    int cch;
};

// The sheet's tab title and the two lines of the warning a second copy of
// the utility shows.
extern const QX_CFG_TEXT kCfgSheetTitle;
extern const QX_CFG_TEXT kCfgTwoCopies;
extern const QX_CFG_TEXT kCfgTwoCopies2;

// Looks a text up in the chosen section of the configuration file. TRUE when
// the key holds a non-empty text (copied, cut to size); FALSE otherwise, with
// the default copied instead (cut to size; a null default gives "").
BOOL GetCfgString(LPCSTR key, LPCSTR defaultText, LPSTR out, DWORD size);
