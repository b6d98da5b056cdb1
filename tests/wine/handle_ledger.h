// Wine answers GetGuiResources and GetProcessHandleCount with 0, so leak
// checks cannot ask the system. The ledger patches the import tables of the
// test program (which holds the module's code) and of the built DLL: every
// creator of a GDI object, DC, icon, kernel handle, registry key or heap
// block records what it returned, and every destroyer crosses it off.
// Calls are passed on to whatever the slot held before, so the simulated
// driver and per-test fault injections keep working underneath.
#pragma once
#include <windows.h>

namespace qxtest {

struct LedgerCounts {
    long gdi;       // GDI objects and DCs (created, selected-in or from GetDC)
    long user;      // icons and cursors made by the module
    long handles;   // kernel handles, mapped views, find handles, registry keys
    long heap;      // HeapAlloc blocks
};

// Installs the ledger into both modules (once) and returns the live counts.
LedgerCounts LiveLedgerCounts();

} // namespace qxtest
