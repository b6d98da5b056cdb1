// The leak ledger: permanent recorders on every creator and destroyer of the
// objects qxtest::ResourceCounts counts, in both modules (see qxtest.h).
#pragma once
#include <windows.h>

#include <memory>
#include <vector>

namespace qxtest {

// Installs the ledger once, over whatever the slots hold (the simulated
// driver's DeleteDC included); later recorders stack above it.
void InstallLedger();

// The same ledger on one more module (a copy of the DLL a test loads and
// unloads) while it lives, counting besides what a C runtime or thread
// emulation linked into that module makes: events, semaphores, duplicated
// handles, local and C runtime heap blocks. (Not on the test program, whose
// own C++ runtime allocates all the time.)
class ModuleLedger {
public:
    explicit ModuleLedger(HMODULE module);
    ~ModuleLedger();
    ModuleLedger(const ModuleLedger&) = delete;
    ModuleLedger& operator=(const ModuleLedger&) = delete;

private:
    HMODULE module_;
    std::vector<std::shared_ptr<void>> recorders_;
};

} // namespace qxtest
