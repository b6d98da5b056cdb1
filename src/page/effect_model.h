// The effects page's vocabulary: effect codes and groups, the two tabs and
// the controls of each effect row, level bands and the pictures that show
// them, and the page-wide state the dialog and painting code share.
#pragma once
#include <windows.h>

#include "driver/escape.h"

// ---- effect codes -------------------------------------------------------------
// At most one bit set; the same bits make up the driver's capability mask and
// its current-effects mask.
enum : DWORD {
    QX_TINTRA_EF_NONE = 0x000,
    QX_TINTRA_EF_EMBOSS = 0x001,
    QX_TINTRA_EF_NEON_EDGES = 0x008,
    QX_TINTRA_EF_GAUSSIANBLUR = 0x010,
    QX_TINTRA_EF_UNSHARP_MASK = 0x020,
    QX_TINTRA_EF_DBLK_EDGESMOOTHING = 0x100,
    QX_TINTRA_EF_DBLK_COMPLEXPICSMOOTHING = 0x200,

    QX_TINTRA_EF_ARTISTIC_MASK = 0x039,
    QX_TINTRA_EF_DEBLOCK_MASK = 0x300,
    // A flag the driver may report beside the effect in force; no control
    // shows it, so the page drops it as soon as it has read the mask.
    QX_TINTRA_EF_STATUS_FLAG = 0x400,
};

// ---- private messages of the page ---------------------------------------------
enum : UINT {
    WSU_MONITOR = 0x600,
    WSU_RELAYOUT = 0x601,
};

// wParam of WSU_MONITOR: bits 0 and 1 combine; the whole-window repaint is
// the value 4 exactly, not a bit.
enum : WPARAM {
    WSU_MONITOR_PREVIEW = 1,
    WSU_MONITOR_REFERENCE = 2,
    WSU_MONITOR_WHOLE = 4,
};

// ---- tabs and their controls --------------------------------------------------
enum : int {
    QX_TAB_NONE = -1,
    QX_TAB_ARTISTIC = 0,
    QX_TAB_DEBLOCK = 1,
};

// One row of a tab: the radio button of an effect and, except for "none",
// its level slider and level text.
struct EffectRow {
    DWORD effect;
    int radioId;
    int trackbarId;    // 0 for "none"
    int levelTextId;   // 0 for "none"
    LPCSTR textKey;    // configuration key of the radio label
    LPCSTR defaultText;
    int alignMode;     // of the label's relayout: 1 resizes to the text, 0 keeps the size
};

struct TabInfo {
    const EffectRow* rows;  // rows[0] is the tab's "none" button
    int rowCount;
    int firstRadioId;       // CheckRadioButton range
    int lastRadioId;
    LPCSTR labelKey;        // tab label: configuration key and default
    LPCSTR labelDefault;
    WORD templateDefault;   // child dialog templates by language
    WORD templateJapanese;
    WORD templateChinese;
};

// QX_TAB_ARTISTIC or QX_TAB_DEBLOCK; anything else gives null.
const TabInfo* GetTabInfo(int tab);

// The child dialog template of a tab for a language name (compared without
// regard to case); 0 for an unknown tab.
WORD TabTemplateId(int tab, LPCSTR language);

// Row of an effect on a tab, or null when the code has no row there.
const EffectRow* FindEffectRow(int tab, DWORD effect);
// Row whose radio button, trackbar or level text has this id, on either tab.
const EffectRow* FindRowByControl(int controlId);
// Radio button of an effect on a tab, 0 when the code has no row there.
int EffectToRadioId(int tab, DWORD effect);

// Which tab a child dialog is (g_EffectsDlg or g_DeblockDlg), QX_TAB_NONE for
// any other window, null included.
int TabOfDialog(HWND child);

// Tab indexes of the two child dialogs, -1 for a tab that does not exist.
struct TabPlan {
    int artisticIndex;
    int deblockIndex;
};
// Both tabs normally; the Kp family offers only the tabs its driver has
// effects for. The artistic tab comes first.
TabPlan PlanTabs(DWORD chipFamily, DWORD effectCaps);

// ---- selection tests ----------------------------------------------------------
// Range tests, not bit tests: an undefined code between two defined ones
// still counts for the tab around it. They test gdwCurEffect unless given a
// value.
extern DWORD gdwCurEffect;
BOOL ArtisticEffectIsSelected(DWORD effect = gdwCurEffect);
BOOL DeblockingFilterIsSelected(DWORD effect = gdwCurEffect);
// Whether the effect is one of the codes the tab can show (its "none"
// included); false for any tab but 0 and 1.
BOOL LastEffectViewedOnThisTab(int tab, DWORD effect = gdwCurEffect);

// ---- levels and pictures ------------------------------------------------------
// Enough for any 32-bit level and the terminator.
constexpr int QX_LEVEL_TEXT_CCH = 11;
// Unsigned decimal digits of the level; returns their count. A buffer too
// small for the digits gets an empty string and 0.
int LevelToText(DWORD level, LPSTR out, int cch);

// The preview picture of an effect at a level, with the trace text that
// names it (printf-style, one value: the level, or the code when there is no
// picture). resourceId 0: no picture for this code.
struct PreviewPicture {
    WORD resourceId;
    LPCSTR trace;
};
// maxLevel is the driver's maximum for the effect; artisticTabSelected tells
// whether the tab control's selection is the artistic tab, which decides the
// picture of "none".
PreviewPicture ChoosePreviewPicture(DWORD effect, DWORD level, DWORD maxLevel, BOOL artisticTabSelected);

// The reference ("original") picture for the selection while the tab
// shownTab (QX_TAB_*) is displayed; 0 when nothing is shown.
WORD ChooseReferencePicture(DWORD effect, int shownTab);

// ---- page state ---------------------------------------------------------------
// One page per process: plain module-wide variables, read and written on the
// page's user-interface thread only.
constexpr int QX_EFFECT_REQUEST_PAIRS = 2;
constexpr DWORD QX_LEVEL_UNKNOWN = 0xFFFF;

extern DWORD gdwCurEffectLevel;
extern DWORD gdwLastEffectApplied;
extern DWORD gdwLastLevelApplied;
extern DWORD gdwSavedEffect;
extern DWORD gdwSavedLevel;
extern QX_EFFECT_PAIR g_EffectRequest[QX_EFFECT_REQUEST_PAIRS];
extern DWORD gdwNumEfx;
extern DWORD gdwEffectCaps;
extern HWND g_hPageDlg;
extern HWND g_CurTabDlg;
extern HWND g_EffectsDlg;
extern HWND g_DeblockDlg;
extern int gnArtisticTab;
extern int gnDeblockTab;
extern BOOL g_bPageChanged;
extern BOOL g_bRepaintAfterResume;

// Kept in the page's GWLP_USERDATA; only the tab control's handle is used.
struct TINTRA_TAB_INFO {
    HWND hwndTab;
    BYTE reserved[32 - sizeof(HWND)];
};
static_assert(sizeof(TINTRA_TAB_INFO) == 32, "the tab block is 32 bytes");

// Puts every page variable back to its load-time value.
void ResetPageState();
