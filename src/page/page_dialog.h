// The effects page: the page dialog procedure that the property-sheet page
// runs, the two tab dialogs (artistic effects, deblocking filters) and the
// operations that keep one effect selected across both tabs, tell the sheet
// whether something waits to be applied, and send the choice to the driver.
#pragma once
#include <windows.h>

INT_PTR CALLBACK QxTintraPageDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK EffectsTabDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DeblockTabDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- page start ---------------------------------------------------------------
void InitQxTintraPage(HWND page);
// Builds the tabs that exist for this adapter, creates their dialogs and
// selects the tab, radio button and slider of the effect in force.
void InitTabs(HWND page);
// Reads the effect in force from the driver into the page state.
void QX_TINTRA_GetArtisticEffect();
void SelectTabOfEffect(HWND page);
void ShowTabDialog(HWND tabControl, HWND child);

// ---- the controls of the tab now shown ---------------------------------------
// Shows gdwCurEffect and its level on the tab of g_CurTabDlg.
void UpdateRadioBtns();
void HideUnsupportedEffects(HWND child, int tab);
void SetupLevelRange(HWND trackbar, DWORD effect, HWND levelText);
void OnTabSelChanged(HWND page);
void ClearTabRadios(HWND child, BOOL includeNone);

// ---- Apply, Cancel and the sheet's Apply button ------------------------------
void ApplyEffect(HWND page);
void RestoreSavedEffect(HWND page);
// PSM_CHANGED (changed non-zero) or PSM_UNCHANGED to the page's sheet.
void NotifyPageChanged(HWND page, BOOL changed);

// ---- pictures -------------------------------------------------------------------
// Redraw the effect preview (item 306) or the reference picture (item 352)
// at once.
void UpdateEffectsWindow(HWND page);
void UpdateReferenceWindow(HWND page);

// ---- shared by the page and the tab dialogs -----------------------------------
// The page's tab control, as recorded in its TINTRA_TAB_INFO.
HWND PageTabControl(HWND page);
// WM_HELP and WM_CONTEXTMENU: context help from the language's help file.
void ShowContextHelp(UINT msg, WPARAM wParam, LPARAM lParam);
// WM_POWERBROADCAST: a resume from suspend asks for a repaint at the next
// background erase.
void NoteResumeFromSuspend(WPARAM event);
// Takes the resume request, if one is pending; the caller then posts itself
// the whole-window repaint.
BOOL TakeRepaintAfterResume();
