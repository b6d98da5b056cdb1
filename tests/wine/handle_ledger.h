// The leak ledger: permanent recorders on every creator and destroyer of the
// objects qxtest::ResourceCounts counts, in both modules (see qxtest.h).
#pragma once

namespace qxtest {

// Installs the ledger once, over whatever the slots hold (the simulated
// driver's DeleteDC included); later recorders stack above it.
void InstallLedger();

} // namespace qxtest
