#include "simdriver.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

HDC WINAPI FakeCreateDCA(LPCSTR driver, LPCSTR device, LPCSTR output, const DEVMODEA* init)
{
    return Driver::Instance().CreateDC(driver, device, output, init);
}

BOOL WINAPI FakeDeleteDC(HDC dc) { return Driver::Instance().DeleteDC(dc); }

int WINAPI FakeExtEscape(HDC dc, int escape, int cbIn, LPCSTR in, int cbOut, LPSTR out)
{
    return Driver::Instance().ExtEscape(dc, escape, cbIn, in, cbOut, out);
}

// The real GDI entry points, looked up by name: the simulator may be patched
// into the very module it is linked into, where a plain call would come
// straight back to the fake.
struct RealGdi {
    decltype(&::DeleteDC) deleteDC;
    decltype(&::ExtEscape) extEscape;
    decltype(&::CreateCompatibleDC) createCompatibleDC;
    RealGdi()
    {
        HMODULE gdi = GetModuleHandleA("gdi32.dll");
        deleteDC = reinterpret_cast<decltype(deleteDC)>(reinterpret_cast<void*>(GetProcAddress(gdi, "DeleteDC")));
        extEscape = reinterpret_cast<decltype(extEscape)>(reinterpret_cast<void*>(GetProcAddress(gdi, "ExtEscape")));
        createCompatibleDC = reinterpret_cast<decltype(createCompatibleDC)>(
            reinterpret_cast<void*>(GetProcAddress(gdi, "CreateCompatibleDC")));
    }
};

const RealGdi& Real()
{
    static RealGdi real;
    return real;
}

DWORD Word(const BYTE* p, int size, int offset)
{
    DWORD v = 0;
    if (p && offset + 4 <= size)
        memcpy(&v, p + offset, 4);
    return v;
}

void PutWord(BYTE* p, int offset, DWORD v) { memcpy(p + offset, &v, 4); }

} // namespace

Driver& Driver::Instance()
{
    static Driver driver;
    return driver;
}

bool Driver::Install(HMODULE module)
{
    Real();
    bool ok = true;
    struct Import {
        const char* dll;
        const char* name;
        void* fake;
    } imports[] = {
        { "gdi32.dll", "ExtEscape", reinterpret_cast<void*>(&FakeExtEscape) },
        { "gdi32.dll", "CreateDCA", reinterpret_cast<void*>(&FakeCreateDCA) },
        { "gdi32.dll", "DeleteDC", reinterpret_cast<void*>(&FakeDeleteDC) },
    };
    for (const Import& imp : imports) {
        auto patch = std::make_unique<ImportPatch>(module, imp.dll, imp.name, imp.fake);
        // A module that never imports DeleteDC (say) is fine; one that has
        // no ExtEscape cannot talk to any driver.
        if (!patch->installed() && strcmp(imp.name, "ExtEscape") == 0)
            ok = false;
        if (patch->installed())
            patches_.push_back(std::move(patch));
    }
    return ok;
}

void Driver::Uninstall() { patches_.clear(); }

void Driver::Reset()
{
    config = DriverConfig();
    records.clear();
    dcOpened.clear();
    dcCreateCalls = dcCreated = dcDeleted = 0;
    onRequest = nullptr;
}

std::vector<EscapeRecord> Driver::RecordsOf(int escape) const
{
    std::vector<EscapeRecord> out;
    for (const EscapeRecord& r : records)
        if (r.escape == escape)
            out.push_back(r);
    return out;
}

HDC Driver::CreateDC(LPCSTR driver, LPCSTR device, LPCSTR output, const DEVMODEA* init)
{
    ++dcCreateCalls;
    std::string name;
    if (driver && lstrcmpiA(driver, "DISPLAY") == 0 && !device) {
        name = "";
    } else if (!driver && device) {
        bool known = false;
        for (const std::string& d : config.devices)
            known = known || lstrcmpiA(d.c_str(), device) == 0;
        if (!known)
            return nullptr;
        name = device;
    } else {
        return nullptr;  // not a display DC this driver serves
    }
    HDC dc = Real().createCompatibleDC(nullptr);
    if (!dc)
        return nullptr;
    liveDcs_[dc] = name;
    dcOpened.push_back(name);
    ++dcCreated;
    return dc;
}

BOOL Driver::DeleteDC(HDC dc)
{
    auto it = liveDcs_.find(dc);
    if (it != liveDcs_.end()) {
        liveDcs_.erase(it);
        ++dcDeleted;
    }
    return Real().deleteDC(dc);
}

int Driver::ExtEscape(HDC dc, int escape, int cbIn, LPCSTR in, int cbOut, LPSTR out)
{
    auto it = liveDcs_.find(dc);
    if (it == liveDcs_.end())
        return Real().extEscape(dc, escape, cbIn, in, cbOut, out);  // not one of ours

    const BYTE* input = reinterpret_cast<const BYTE*>(in);
    EscapeRecord rec;
    rec.device = it->second;
    rec.escape = escape;
    rec.function = Word(input, cbIn, 0);
    if (input && cbIn > 0)
        rec.input.assign(input, input + cbIn);
    rec.cbIn = cbIn;
    rec.cbOut = cbOut;
    rec.outNull = out == nullptr;

    if (escape == QUERYESCSUPPORT) {
        bool implemented = (rec.function == kUtilEscape && config.utilEscape)
            || (rec.function == kTintraEscape && config.tintraEscape);
        rec.result = implemented ? config.probeResult : 0;
    } else if ((escape == kUtilEscape && config.utilEscape) || (escape == kTintraEscape && config.tintraEscape)) {
        rec.result = AnswerFunction(escape, rec.function, cbIn, input, cbOut, reinterpret_cast<BYTE*>(out));
    } else {
        rec.result = 0;  // an escape the driver does not know
    }
    records.push_back(rec);
    if (onRequest)
        onRequest(records.back());
    return rec.result;
}

int Driver::AnswerFunction(int escape, DWORD function, int cbIn, const BYTE* in, int cbOut, BYTE* out)
{
    const std::map<DWORD, int>& results = escape == kUtilEscape ? config.utilResults : config.tintraResults;
    auto forced = results.find(function);
    int result = forced == results.end() ? 1 : forced->second;
    if (result != 1)
        return result;  // a refusal touches no reply

    // A real driver checks the sizes it is given; a short buffer is an error.
    auto needOut = [&](int bytes) { return out && cbOut >= bytes; };
    if (escape == kTintraEscape) {
        switch (function) {
        case 0:  // capabilities
            if (!needOut(4))
                return -1;
            PutWord(out, 0, config.caps);
            return 1;
        case 1: {  // maximum level of one effect
            if (cbIn < 8 || !needOut(4))
                return -1;
            auto level = config.maxLevel.find(Word(in, cbIn, 4));
            if (level == config.maxLevel.end())
                return 0;
            PutWord(out, 0, level->second);
            return 1;
        }
        case 4: {  // set effects: takes effect as on real hardware
            if (cbIn < 40)
                return -1;
            DWORD count = Word(in, cbIn, 4);
            if (count > 4)
                return -1;
            for (DWORD i = 0; i < count && i < 2; ++i) {
                config.pairs[2 * i] = Word(in, cbIn, 8 + 8 * i);
                config.pairs[2 * i + 1] = Word(in, cbIn, 12 + 8 * i);
            }
            config.curEffects = count ? Word(in, cbIn, 8) : 0;
            return 1;
        }
        case 5:  // effects in force
            if (!needOut(24))
                return -1;
            PutWord(out, 0, config.curEffects);
            PutWord(out, 4, config.numEfx);
            for (int i = 0; i < 4; ++i)
                PutWord(out, 8 + 4 * i, config.pairs[i]);
            return 1;
        }
        return 0;
    }

    switch (function) {
    case 0x5F:  // chip id
        if (!needOut(16))
            return -1;
        memset(out, 0xEE, 16);  // words the module must not read
        PutWord(out, 0, config.chipId);
        return 1;
    case 0x69: {  // driver key
        if (!needOut(256))
            return -1;
        if (config.driverKeyUnicode) {
            int n = MultiByteToWideChar(CP_ACP, 0, config.driverKey.c_str(), -1, reinterpret_cast<WCHAR*>(out), cbOut / 2);
            if (n == 0)
                return -1;
        } else {
            if (config.driverKey.size() >= static_cast<size_t>(cbOut))
                return -1;
            memcpy(out, config.driverKey.c_str(), config.driverKey.size() + 1);
        }
        return 1;
    }
    case 0x6A: {  // PCI information
        if (cbIn < 8 || !needOut(16))
            return -1;
        memset(out, 0xEE, 16);
        auto put16 = [&](int offset, WORD v) { memcpy(out + offset, &v, 2); };
        put16(0, config.pciDeviceId);
        put16(4, config.pciSubVendorId);
        put16(6, config.pciSubSystemId);
        put16(10, config.pciRevisionId);
        return 1;
    }
    }
    return 0;
}

std::string Driver::Describe(const EscapeRecord& r)
{
    char text[256];
    auto word = [&](int offset) { return Word(r.input.data(), static_cast<int>(r.input.size()), offset); };
    if (r.escape == QUERYESCSUPPORT) {
        snprintf(text, sizeof text, "QUERYESCSUPPORT 0x%lX -> %d", static_cast<unsigned long>(r.function), r.result);
        return text;
    }
    std::string s;
    if (r.escape == kTintraEscape) {
        switch (r.function) {
        case 0: s = "QUERY_CAPS"; break;
        case 1:
            snprintf(text, sizeof text, "GET_MAX_LEVEL effect=0x%lX", static_cast<unsigned long>(word(4)));
            s = text;
            break;
        case 4: {
            DWORD count = word(4);
            snprintf(text, sizeof text, "SET_EFFECTS count=%lu", static_cast<unsigned long>(count));
            s = text;
            for (DWORD i = 0; i < count && i < 4; ++i) {
                snprintf(text, sizeof text, " (0x%lX, %lu)", static_cast<unsigned long>(word(8 + 8 * i)),
                    static_cast<unsigned long>(word(12 + 8 * i)));
                s += text;
            }
            break;
        }
        case 5: s = "GET_EFFECTS"; break;
        default:
            snprintf(text, sizeof text, "TINTRA function 0x%lX", static_cast<unsigned long>(r.function));
            s = text;
        }
    } else if (r.escape == kUtilEscape) {
        switch (r.function) {
        case 0x5F: s = "GET_CHIP_ID"; break;
        case 0x69: s = "GET_DRIVER_KEY"; break;
        case 0x6A: s = "GET_PCI_INFO"; break;
        default:
            snprintf(text, sizeof text, "UTIL function 0x%lX", static_cast<unsigned long>(r.function));
            s = text;
        }
    } else {
        snprintf(text, sizeof text, "escape 0x%X", r.escape);
        s = text;
    }
    snprintf(text, sizeof text, " -> %d", r.result);
    return s + text;
}

} // namespace sim
