// A simulated display driver for the Wine tests and the demo host. No driver
// here implements the two private escapes, so this one answers them from a
// configuration, records every request byte for byte, and counts the DCs the
// module opens. It installs itself by patching the module's imports of
// ExtEscape, CreateDCA and DeleteDC.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "iat_patch.h"

namespace sim {

constexpr int kUtilEscape = 0x3000;
constexpr int kTintraEscape = 0x3200;

struct DriverConfig {
    // Which escapes the driver implements, and what QUERYESCSUPPORT answers
    // for an implemented one (any positive value means yes).
    bool utilEscape = true;
    bool tintraEscape = true;
    int probeResult = 1;

    // Raw ExtEscape result per function code (absent: 1, success). Lets a
    // test make a function answer 0, a negative error or 2.
    std::map<DWORD, int> utilResults;
    std::map<DWORD, int> tintraResults;

    // Identity.
    DWORD chipId = 0;
    WORD pciDeviceId = 0;
    WORD pciSubVendorId = 0;
    WORD pciSubSystemId = 0;
    WORD pciRevisionId = 0;
    std::string driverKey;        // answered by function 0x69
    bool driverKeyUnicode = true; // UTF-16 as on NT-class systems, else ANSI

    // Effects.
    DWORD caps = 0x1 | 0x8 | 0x10 | 0x20 | 0x100 | 0x200;
    std::map<DWORD, DWORD> maxLevel;  // per effect code; absent: function fails
    DWORD curEffects = 0;
    DWORD numEfx = 1;
    DWORD pairs[4] = {};              // Efx_0, Lvl_0, Efx_1, Lvl_1

    // Display devices that exist besides the primary ("DISPLAY").
    std::vector<std::string> devices = { "\\\\.\\DISPLAY1", "\\\\.\\DISPLAY2" };
};

struct EscapeRecord {
    std::string device;   // device name of the DC ("" for the primary)
    int escape;           // escape number as passed to ExtEscape
    DWORD function;       // first input word (the asked escape for QUERYESCSUPPORT)
    std::vector<BYTE> input;
    int cbIn;
    int cbOut;
    bool outNull;
    int result;
};

class Driver {
public:
    static Driver& Instance();

    DriverConfig config;
    std::vector<EscapeRecord> records;
    std::vector<std::string> dcOpened;  // device of each CreateDCA that succeeded
    int dcCreateCalls = 0;
    int dcCreated = 0;
    int dcDeleted = 0;
    // Called after each escape request (the demo host prints them).
    std::function<void(const EscapeRecord&)> onRequest;

    // Patches the three imports of `module`; may be called for several modules.
    bool Install(HMODULE module);
    void Uninstall();
    // Back to a fresh driver: default configuration, no records, no counts.
    void Reset();

    int LiveDCs() const { return dcCreated - dcDeleted; }
    // The requests of one escape number, in order.
    std::vector<EscapeRecord> RecordsOf(int escape) const;

    // "SET_EFFECTS count=1 (0x8, 3)" and the like.
    static std::string Describe(const EscapeRecord& record);

    // Implementation of the patched imports.
    HDC CreateDC(LPCSTR driver, LPCSTR device, LPCSTR output, const DEVMODEA* init);
    BOOL DeleteDC(HDC dc);
    int ExtEscape(HDC dc, int escape, int cbIn, LPCSTR in, int cbOut, LPSTR out);

private:
    int AnswerFunction(int escape, DWORD function, int cbIn, const BYTE* in, int cbOut, BYTE* out);

    std::map<HDC, std::string> liveDcs_;
    std::vector<std::unique_ptr<ImportPatch>> patches_;
};

} // namespace sim
