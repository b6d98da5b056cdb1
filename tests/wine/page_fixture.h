// The effects page in a real property sheet, with a simulated adapter of the
// primary family that offers every effect with ten levels, driven as a user
// would drive it.
#pragma once
#include "qxtest.h"

#include <string>
#include <vector>

#include "resource.h"

namespace qxtest {

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
    static void Pump();

    // ---- the user's hand: clicks, slider drags, tab clicks, sheet buttons
    static void Click(HWND dialog, int id);
    static void Slide(HWND dialog, int trackbarId, int position);
    void ClickTab(int index);
    void PressApply();
    void PressCancel();

    // ---- what the user sees
    HWND Tab() const;
    static bool Checked(HWND dialog, int id);
    static bool Enabled(HWND dialog, int id);
    // Shown by its own style, whatever its parents.
    static bool Shown(HWND dialog, int id);
    static std::string Text(HWND dialog, int id);
    static int Position(HWND dialog, int trackbarId);
    bool ApplyEnabled() const;

    // ---- what the page did
    // The SET_EFFECTS requests since the records were last cleared, as
    // {count, effect 0, level 0}, each checked to be 40 bytes with every
    // pair after the first zero.
    std::vector<std::vector<DWORD>> Sets();
    // Resources of `type` ("JPG", "PNG") the module's code found by id since
    // Pictures was last cleared.
    std::vector<WORD> Pictures(const char* type) const;
    std::vector<std::pair<WORD, std::string>> pictures;

    HWND sheet = nullptr;
    HWND page = nullptr;

private:
    Recorder<decltype(&FindResourceA)> findResource_ { "FindResourceA" };
};

} // namespace qxtest
