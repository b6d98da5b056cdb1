#include "page/effect_model.h"

#include "driver/chip_family.h"
#include "resource.h"

namespace {

constexpr EffectRow kArtisticRows[] = {
    {QX_TINTRA_EF_NONE, IDC_EF_NONE, 0, 0, "IDC_EF_NONE", "No Effects/No Filters", 1},
    {QX_TINTRA_EF_EMBOSS, IDC_EMBOSS, IDC_EMBOSS_SLIDER, IDC_EMBOSS_LEVEL, "IDC_EMBOSS", "Emboss", 1},
    {QX_TINTRA_EF_NEON_EDGES, IDC_NEON_EDGES, IDC_NEON_EDGES_SLIDER, IDC_NEON_EDGES_LEVEL, "IDC_NEON_EDGES",
     "Neon Edges", 1},
    {QX_TINTRA_EF_GAUSSIANBLUR, IDC_SOFT_FOCUS, IDC_SOFT_FOCUS_SLIDER, IDC_SOFT_FOCUS_LEVEL, "IDC_SOFT_FOCUS",
     "Soft Focus", 1},
    {QX_TINTRA_EF_UNSHARP_MASK, IDC_SELECTED_SHARP, IDC_SHARP_SLIDER, IDC_SHARP_LEVEL, "IDC_SELECTED_SHARP",
     "Sharpen", 1},
};

// The two-line "Complex Picture Smoothing" button keeps its template size
// when relabelled (mode 0); every other label is resized to its text.
constexpr EffectRow kDeblockRows[] = {
    {QX_TINTRA_EF_NONE, IDC_DBLK_NONE, 0, 0, "IDC_EF_NONE", "No Effects/No Filters", 1},
    {QX_TINTRA_EF_DBLK_EDGESMOOTHING, IDC_DBLK_EDGESMOOTHING, IDC_DBLK_EDGESMOOTHING_SLIDER,
     IDC_DBLK_EDGESMOOTHING_LEVEL, "IDC_DBLK_EDGESMOOTHING", "Edge Smoothing", 1},
    {QX_TINTRA_EF_DBLK_COMPLEXPICSMOOTHING, IDC_DBLK_COMPLEXPICSMOOTHING, IDC_DBLK_COMPLEXPICSMOOTHING_SLIDER,
     IDC_DBLK_COMPLEXPICSMOOTHING_LEVEL, "IDC_DBLK_COMPLEXPICSMOOTHING", "Complex Picture Smoothing", 0},
};

constexpr TabInfo kTabs[] = {
    {kArtisticRows, static_cast<int>(sizeof kArtisticRows / sizeof kArtisticRows[0]), IDC_EF_NONE,
     IDC_SELECTED_SHARP, "TAB0", "Brushwork(TM) Effects", IDD_EFFECTS, IDD_EFFECTS_JPN, IDD_EFFECTS_CHS},
    {kDeblockRows, static_cast<int>(sizeof kDeblockRows / sizeof kDeblockRows[0]), IDC_DBLK_NONE,
     IDC_DBLK_COMPLEXPICSMOOTHING, "TAB1", "  Deblocking Filters  ", IDD_DEBLOCK, IDD_DEBLOCK_JPN,
     IDD_DEBLOCK_CHS},
};

// Every row of a tab follows the effect order: radio, trackbar and level
// text ids step by one from the first effect row. The dialog code relies on
// it when it walks a tab's controls by id.
constexpr bool RowsStepByOne(const EffectRow* rows, int count)
{
    for (int k = 2; k < count; ++k) {
        if (rows[k].radioId != rows[1].radioId + (k - 1) || rows[k].trackbarId != rows[1].trackbarId + (k - 1) ||
            rows[k].levelTextId != rows[1].levelTextId + (k - 1))
            return false;
    }
    return rows[0].radioId + 1 == rows[1].radioId;
}
static_assert(RowsStepByOne(kArtisticRows, 5), "artistic ids follow the effect order");
static_assert(RowsStepByOne(kDeblockRows, 3), "deblocking ids follow the effect order");

}  // namespace

// ---- page state ---------------------------------------------------------------

DWORD gdwCurEffect = QX_TINTRA_EF_NONE;
DWORD gdwCurEffectLevel = QX_LEVEL_UNKNOWN;
DWORD gdwLastEffectApplied = QX_TINTRA_EF_NONE;
DWORD gdwLastLevelApplied = QX_LEVEL_UNKNOWN;
DWORD gdwSavedEffect = QX_TINTRA_EF_NONE;
DWORD gdwSavedLevel = 0;
QX_EFFECT_PAIR g_EffectRequest[QX_EFFECT_REQUEST_PAIRS] = {};
DWORD gdwNumEfx = 0;
DWORD gdwEffectCaps = 0;
HWND g_hPageDlg = nullptr;
HWND g_CurTabDlg = nullptr;
HWND g_EffectsDlg = nullptr;
HWND g_DeblockDlg = nullptr;
int gnArtisticTab = -1;
int gnDeblockTab = -1;
BOOL g_bPageChanged = FALSE;
BOOL g_bRepaintAfterResume = FALSE;

void ResetPageState()
{
    gdwCurEffect = QX_TINTRA_EF_NONE;
    gdwCurEffectLevel = QX_LEVEL_UNKNOWN;
    gdwLastEffectApplied = QX_TINTRA_EF_NONE;
    gdwLastLevelApplied = QX_LEVEL_UNKNOWN;
    gdwSavedEffect = QX_TINTRA_EF_NONE;
    gdwSavedLevel = 0;
    for (QX_EFFECT_PAIR& pair : g_EffectRequest)
        pair = QX_EFFECT_PAIR{0, 0};
    gdwNumEfx = 0;
    gdwEffectCaps = 0;
    g_hPageDlg = nullptr;
    g_CurTabDlg = nullptr;
    g_EffectsDlg = nullptr;
    g_DeblockDlg = nullptr;
    gnArtisticTab = -1;
    gnDeblockTab = -1;
    g_bPageChanged = FALSE;
    g_bRepaintAfterResume = FALSE;
}

// ---- tabs ---------------------------------------------------------------------

const TabInfo* GetTabInfo(int tab)
{
    if (tab != QX_TAB_ARTISTIC && tab != QX_TAB_DEBLOCK)
        return nullptr;
    return &kTabs[tab];
}

WORD TabTemplateId(int tab, LPCSTR language)
{
    const TabInfo* info = GetTabInfo(tab);
    if (!info)
        return 0;
    if (!language)
        return info->templateDefault;
    if (lstrcmpiA(language, "Japanese") == 0)
        return info->templateJapanese;
    if (lstrcmpiA(language, "Simplified Chinese") == 0 || lstrcmpiA(language, "Traditional Chinese") == 0)
        return info->templateChinese;
    return info->templateDefault;
}

const EffectRow* FindEffectRow(int tab, DWORD effect)
{
    const TabInfo* info = GetTabInfo(tab);
    if (!info)
        return nullptr;
    for (int k = 0; k < info->rowCount; ++k) {
        if (info->rows[k].effect == effect)
            return &info->rows[k];
    }
    return nullptr;
}

const EffectRow* FindRowByControl(int controlId)
{
    if (controlId == 0)
        return nullptr;
    for (const TabInfo& info : kTabs) {
        for (int k = 0; k < info.rowCount; ++k) {
            const EffectRow& row = info.rows[k];
            if (row.radioId == controlId || row.trackbarId == controlId || row.levelTextId == controlId)
                return &row;
        }
    }
    return nullptr;
}

int EffectToRadioId(int tab, DWORD effect)
{
    const EffectRow* row = FindEffectRow(tab, effect);
    return row ? row->radioId : 0;
}

// A null window is no tab, even while a tab's dialog does not exist (and its
// handle is null too): with no tab dialog there is nothing to show.
int TabOfDialog(HWND child)
{
    if (!child)
        return QX_TAB_NONE;
    if (child == g_EffectsDlg)
        return QX_TAB_ARTISTIC;
    if (child == g_DeblockDlg)
        return QX_TAB_DEBLOCK;
    return QX_TAB_NONE;
}

TabPlan PlanTabs(DWORD chipFamily, DWORD effectCaps)
{
    bool artistic = true;
    bool deblock = true;
    if (chipFamily == CHIP_FAMILY_KP) {
        artistic = (effectCaps & QX_TINTRA_EF_ARTISTIC_MASK) != 0;
        deblock = (effectCaps & QX_TINTRA_EF_DEBLOCK_MASK) != 0;
    }
    TabPlan plan{-1, -1};
    int next = 0;
    if (artistic)
        plan.artisticIndex = next++;
    if (deblock)
        plan.deblockIndex = next;
    return plan;
}

// ---- selection tests ----------------------------------------------------------

BOOL ArtisticEffectIsSelected(DWORD effect)
{
    return effect >= QX_TINTRA_EF_EMBOSS && effect <= QX_TINTRA_EF_UNSHARP_MASK;
}

BOOL DeblockingFilterIsSelected(DWORD effect)
{
    return effect >= QX_TINTRA_EF_DBLK_EDGESMOOTHING && effect <= QX_TINTRA_EF_DBLK_COMPLEXPICSMOOTHING;
}

BOOL LastEffectViewedOnThisTab(int tab, DWORD effect)
{
    return FindEffectRow(tab, effect) != nullptr;
}

// ---- levels and pictures ------------------------------------------------------

int LevelToText(DWORD level, LPSTR out, int cch)
{
    if (!out || cch <= 0)
        return 0;
    char digits[QX_LEVEL_TEXT_CCH];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + level % 10);
        level /= 10;
    } while (level != 0);
    if (n >= cch) {
        out[0] = '\0';
        return 0;
    }
    for (int i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    out[n] = '\0';
    return n;
}

namespace {

// Level bands of the range 0..max, in unsigned 32-bit arithmetic as the
// driver's levels are: a maximum of 0xFFFFFFFF wraps to a band width of 0,
// which puts every level in the top band, as does any maximum below the
// band count minus one.
int BandOf(DWORD level, DWORD maxLevel, DWORD bands)
{
    const DWORD width = (maxLevel + 1) / bands;
    if (level < width)
        return 0;
    if (bands == 3 && level < 2 * width)
        return 1;
    return static_cast<int>(bands) - 1;
}

}  // namespace

PreviewPicture ChoosePreviewPicture(DWORD effect, DWORD level, DWORD maxLevel, BOOL artisticTabSelected)
{
    switch (effect) {
    case QX_TINTRA_EF_NONE:
        if (artisticTabSelected)
            return {IDB_EF_NONE, "IDB_EF_NONE \n"};
        return {IDB_DB_NONE, "IDB_DB_NONE \n"};
    case QX_TINTRA_EF_EMBOSS: {
        static constexpr PreviewPicture kEmboss[] = {
            {IDB_EF_EMBBIL1, "IDB_EF_EMBBIL (Level1=%ld) \n"},
            {IDB_EF_EMBBIL2, "IDB_EF_EMBBIL (Level2=%ld) \n"},
            {IDB_EF_EMBBIL3, "IDB_EF_EMBBIL (Level3=%ld) \n"},
        };
        return kEmboss[BandOf(level, maxLevel, 3)];
    }
    case QX_TINTRA_EF_NEON_EDGES: {
        static constexpr PreviewPicture kNeon[] = {
            {IDB_EF_NEON_EDGES0, "IDB_EF_NEON_EDGES (Level0=%ld) \n"},
            {IDB_EF_NEON_EDGES1, "IDB_EF_NEON_EDGES (Level1=%ld) \n"},
            {IDB_EF_NEON_EDGES2, "IDB_EF_NEON_EDGES (Level2=%ld) \n"},
        };
        return kNeon[BandOf(level, maxLevel, 3)];
    }
    case QX_TINTRA_EF_GAUSSIANBLUR:
        return {BandOf(level, maxLevel, 2) == 0 ? WORD{IDB_EF_SOFTFOCUS1} : WORD{IDB_EF_SOFTFOCUS2}, nullptr};
    case QX_TINTRA_EF_UNSHARP_MASK:
        return {BandOf(level, maxLevel, 2) == 0 ? WORD{IDB_EF_SHARPEN1} : WORD{IDB_EF_SHARPEN2}, nullptr};
    case QX_TINTRA_EF_DBLK_EDGESMOOTHING:
        return {IDB_DB_EDGESMOOTH, nullptr};
    case QX_TINTRA_EF_DBLK_COMPLEXPICSMOOTHING:
        return {IDB_DB_CPICT, "IDB_DB_CPICT \n"};
    default:
        return {0, " Invalid gdwCurEffect(=0x%4x) found!\n"};
    }
}

WORD ChooseReferencePicture(DWORD effect, int shownTab)
{
    if (effect != QX_TINTRA_EF_NONE) {
        if (LastEffectViewedOnThisTab(QX_TAB_ARTISTIC, effect))
            return IDB_EF_NONE;
        if (LastEffectViewedOnThisTab(QX_TAB_DEBLOCK, effect))
            return IDB_DB_NONE;
        return 0;
    }
    if (shownTab == QX_TAB_ARTISTIC)
        return IDB_EF_NONE;
    if (shownTab == QX_TAB_DEBLOCK)
        return IDB_DB_NONE;
    return 0;
}
