// A test of the effects page in a real property sheet, with a simulated
// adapter of the primary family that offers every effect with ten levels.
#pragma once
#include "qxtest.h"

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

    HWND sheet = nullptr;
    HWND page = nullptr;
};

} // namespace qxtest
