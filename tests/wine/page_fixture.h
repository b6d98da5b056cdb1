// The effects page in a real property sheet, with a simulated adapter of the
// primary family that offers every effect with ten levels, driven as a user
// would drive it.
#pragma once
#include "qxtest.h"

#include <commctrl.h>

#include <string>
#include <vector>

#include "resource.h"

namespace qxtest {

// The rows of the two tabs as the templates hold them: radio button, level
// slider and level text ("none" has neither); artistic tab first.
struct EffectRowIds {
    int tab, radio, slider, level;
};
constexpr EffectRowIds kEffectRows[] = { { 0, IDC_EF_NONE, 0, 0 }, { 0, IDC_EMBOSS, IDC_EMBOSS_SLIDER, IDC_EMBOSS_LEVEL },
    { 0, IDC_NEON_EDGES, IDC_NEON_EDGES_SLIDER, IDC_NEON_EDGES_LEVEL }, { 0, IDC_SOFT_FOCUS, IDC_SOFT_FOCUS_SLIDER, IDC_SOFT_FOCUS_LEVEL },
    { 0, IDC_SELECTED_SHARP, IDC_SHARP_SLIDER, IDC_SHARP_LEVEL }, { 1, IDC_DBLK_NONE, 0, 0 },
    { 1, IDC_DBLK_EDGESMOOTHING, IDC_DBLK_EDGESMOOTHING_SLIDER, IDC_DBLK_EDGESMOOTHING_LEVEL },
    { 1, IDC_DBLK_COMPLEXPICSMOOTHING, IDC_DBLK_COMPLEXPICSMOOTHING_SLIDER, IDC_DBLK_COMPLEXPICSMOOTHING_LEVEL } };

class PageTest : public DriverTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // What GET_EFFECTS answers: `effects` in force (flag bits allowed) at a level.
    void InForce(DWORD effects, DWORD level, DWORD numEfx = 1);
    // Creates the page as the host utility would and shows it in a sheet.
    void Open(WORD templateId = IDD_QXTINTRA_PAGE);
    void Close();
    // Dispatches what the page posts itself, a few rounds deep.
    static void Pump() { PumpMessages(), PumpMessages(), PumpMessages(); }

    // ---- the user's hand: clicks, slider drags, tab clicks, sheet buttons
    static void Click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0), Pump(); }
    static void Slide(HWND dialog, int trackbarId, int position);
    void ClickTab(int index);
    void PressApply() { PropSheet_PressButton(sheet, PSBTN_APPLYNOW), Pump(); }
    void PressCancel() { PropSheet_PressButton(sheet, PSBTN_CANCEL), Pump(); }

    // ---- what the user sees
    HWND Tab() const { return GetDlgItem(page, IDC_TAB); }
    static bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    static bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    // Shown by its own style, whatever its parents.
    static bool Shown(HWND dialog, int id) { return (GetWindowLongPtrA(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0; }
    static std::string Text(HWND dialog, int id);
    static int Position(HWND dialog, int trackbarId) { return int(SendDlgItemMessageA(dialog, trackbarId, TBM_GETPOS, 0, 0)); }
    bool ApplyEnabled() const { return IsWindowEnabled(GetDlgItem(sheet, 0x3021 /* the sheet's Apply */)) != FALSE; }

    // ---- what the page did
    // The SET_EFFECTS requests since the records were last cleared, as
    // {count, effect 0, level 0}, each checked to be 40 bytes with every
    // pair after the first zero.
    std::vector<std::vector<DWORD>> Sets();
    // Resources of `type` ("JPG", "PNG") the module's code found by id since
    // `pictures` was last cleared.
    std::vector<WORD> Pictures(const char* type) const;
    std::vector<std::pair<WORD, std::string>> pictures;
    // Bits per pixel every GetDeviceCaps(BITSPIXEL) answers; 0: the display's own.
    int bitsPerPixel = 0;

    HWND sheet = nullptr, page = nullptr;

private:
    Recorder<decltype(&FindResourceA)> findResource_ { "FindResourceA" };
    Recorder<decltype(&GetDeviceCaps)> deviceCaps_ { "GetDeviceCaps" };
};

} // namespace qxtest
