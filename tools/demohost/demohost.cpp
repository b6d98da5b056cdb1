// A stand-in for the adapter's host utility: loads QXTINTRA.dll, puts the
// simulated display driver under it, and shows the page in a property sheet
// with OK, Cancel and Apply. Every request the driver receives is printed.
//
//   qxdemo [--family 15|21|0] [--caps MASK] [--effect CODE] [--level N]
//          [--max CODE=LEVEL]... [--max-all N] [--unsupported] [--device NAME]
//          [--screenshot FILE.png] [--delay MS] [--shell] [--language NAME]
//
// --language installs the sample configuration file in the system directory
// with that language chosen, for as long as the demo runs. Its texts are in
// the language's own code page: run the demo in a locale of that language
// (tools/demohost/language-shots.sh does).
// With --shell it plays the display control panel instead of the host
// utility: it asks the module's class factory for the property-sheet handler,
// hands it a data object holding the device name and lets it add its pages.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chips.h"
#include "display_data_object.h"
#include "png_writer.h"
#include "simdriver.h"

namespace {

struct Options {
    DWORD family = 15;
    bool unsupported = false;
    std::string device;
    std::string screenshot;
    int delayMs = 1500;
    bool shell = false;
    std::string language;
};

typedef DWORD(WINAPI* InitFn)(DWORD, LPCSTR, LPSTR, void*);
typedef DWORD(WINAPI* AddPagesFn)(LPCSTR, LPFNADDPROPSHEETPAGE, LPARAM, void*);
typedef DWORD(WINAPI* UnInitFn)(DWORD);

void Usage()
{
    fprintf(stderr,
        "usage: qxdemo [--family 15|21|0] [--caps MASK] [--effect CODE] [--level N]\n"
        "              [--max CODE=LEVEL]... [--max-all N] [--unsupported] [--device NAME]\n"
        "              [--screenshot FILE.png] [--delay MS] [--shell] [--language NAME]\n");
    exit(64);
}

DWORD Number(const char* text) { return static_cast<DWORD>(strtoul(text, nullptr, 0)); }

bool Parse(int argc, char** argv, Options& o, sim::DriverConfig& c)
{
    // A driver that offers every effect, each with ten levels, Neon Edges at 3 in force.
    for (DWORD e : { 0x1u, 0x8u, 0x10u, 0x20u, 0x100u, 0x200u })
        c.maxLevel[e] = 10;
    c.curEffects = 0x8;
    c.numEfx = 1;
    c.pairs[0] = 0x8;
    c.pairs[1] = 3;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc)
                Usage();
            return argv[++i];
        };
        if (a == "--family")
            o.family = Number(next());
        else if (a == "--caps")
            c.caps = Number(next());
        else if (a == "--effect")
            c.curEffects = c.pairs[0] = Number(next());
        else if (a == "--level")
            c.pairs[1] = Number(next());
        else if (a == "--max") {
            std::string v = next();
            size_t eq = v.find('=');
            if (eq == std::string::npos)
                Usage();
            c.maxLevel[Number(v.substr(0, eq).c_str())] = Number(v.substr(eq + 1).c_str());
        } else if (a == "--max-all") {
            DWORD n = Number(next());
            for (auto& kv : c.maxLevel)
                kv.second = n;
        } else if (a == "--unsupported")
            o.unsupported = true;
        else if (a == "--device")
            o.device = next();
        else if (a == "--screenshot")
            o.screenshot = next();
        else if (a == "--delay")
            o.delayMs = static_cast<int>(Number(next()));
        else if (a == "--shell")
            o.shell = true;
        else if (a == "--language")
            o.language = next();
        else
            Usage();
    }
    return true;
}

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM param)
{
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(param)->push_back(page);
    return TRUE;
}

void PumpFor(int ms)
{
    DWORD end = GetTickCount() + ms;
    while (static_cast<int>(end - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

bool SaveWindow(HWND hwnd, const std::string& path)
{
    RECT r;
    GetWindowRect(hwnd, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    const uint8_t* p = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
        rgb[3 * i] = p[4 * i + 2];
        rgb[3 * i + 1] = p[4 * i + 1];
        rgb[3 * i + 2] = p[4 * i];
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return WritePngRgb(path, w, h, rgb);
}

// The host utility's road: the three exports.
bool AddPagesAsUtility(HMODULE dll, const char* device, std::vector<HPROPSHEETPAGE>& pages)
{
    auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(dll, "QxUtilityInit")));
    auto addPages = reinterpret_cast<AddPagesFn>(reinterpret_cast<void*>(GetProcAddress(dll, "QxUtilityAddPages")));
    if (!init || !addPages) {
        fprintf(stderr, "qxdemo: QXTINTRA.dll lacks the utility exports\n");
        return false;
    }
    DWORD info[24] = { 100 };
    char name[128] = "";
    DWORD result = init(0, device, name, info);
    printf("QxUtilityInit -> %lu (%s), info[84..95] = 0x%lX 0x%lX 0x%lX\n", static_cast<unsigned long>(result), name,
        static_cast<unsigned long>(info[21]), static_cast<unsigned long>(info[22]), static_cast<unsigned long>(info[23]));
    addPages(device, AddPage, reinterpret_cast<LPARAM>(&pages), info);
    return true;
}

// The display control panel's road: class factory, handler, data object.
// The handler is released once its pages are added, as the shell does; the
// pages keep the module counted while they live.
bool AddPagesAsShell(HMODULE dll, const char* device, std::vector<HPROPSHEETPAGE>& pages)
{
    typedef HRESULT(WINAPI * GetClassObjectFn)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    if (!getClassObject) {
        fprintf(stderr, "qxdemo: QXTINTRA.dll lacks DllGetClassObject\n");
        return false;
    }
    // The module's class as an installer registers it (docs/install.md).
    const CLSID clsid = { 0x4A796E84, 0x9335, 0x4151, { 0xAD, 0x60, 0x82, 0x38, 0x80, 0xBE, 0x36, 0x22 } };
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    printf("DllGetClassObject -> 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr))
        return false;
    IShellExtInit* init = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
    factory->Release();
    if (FAILED(hr)) {
        fprintf(stderr, "qxdemo: CreateInstance failed (0x%08lX)\n", static_cast<unsigned long>(hr));
        return false;
    }
    sim::DisplayDataObject data(device ? device : "");
    hr = init->Initialize(nullptr, &data, nullptr);
    printf("IShellExtInit::Initialize (\"Display Device\" = \"%s\") -> 0x%08lX\n", device ? device : "",
        static_cast<unsigned long>(hr));
    IShellPropSheetExt* ext = nullptr;
    if (SUCCEEDED(init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&ext)))) {
        hr = ext->AddPages(AddPage, reinterpret_cast<LPARAM>(&pages));
        printf("IShellPropSheetExt::AddPages -> 0x%08lX\n", static_cast<unsigned long>(hr));
        ext->Release();
    }
    init->Release();
    return true;
}

// Unattended runs have nobody to close a message box: print it instead.
int WINAPI PrintMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    printf("message box \"%s\": %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

// The sample configuration file in the system directory, with its
// "Language=Auto" set to one language; whatever file was there before comes
// back when the demo ends.
class SampleConfiguration {
public:
    bool Install(DWORD family, const std::string& language)
    {
        std::string text;
        if (!ReadAll(QX_SAMPLE_CFG, text)) {
            fprintf(stderr, "qxdemo: cannot read %s\n", QX_SAMPLE_CFG);
            return false;
        }
        const size_t at = text.find("Language=Auto");
        if (at == std::string::npos)
            return false;
        text.replace(at, 13, "Language=" + language);
        char dir[MAX_PATH];
        GetSystemDirectoryA(dir, MAX_PATH);
        path_ = std::string(dir) + (family == 21 ? "\\KPTINTRA.CFG" : "\\QXTINTRA.CFG");
        hadFile_ = ReadAll(path_, previous_);
        return WriteAll(path_, text);
    }
    ~SampleConfiguration()
    {
        if (path_.empty())
            return;
        if (hadFile_)
            WriteAll(path_, previous_);
        else
            DeleteFileA(path_.c_str());
    }

private:
    static bool ReadAll(const std::string& path, std::string& out)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        out = all.str();
        return in.good();
    }
    static bool WriteAll(const std::string& path, const std::string& text)
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        return static_cast<bool>(file.write(text.data(), static_cast<std::streamsize>(text.size())));
    }
    std::string path_;
    std::string previous_;
    bool hadFile_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    sim::Driver& driver = sim::Driver::Instance();
    Parse(argc, argv, opt, driver.config);
    if (!sim::UseChipOfFamily(driver.config, opt.family)) {
        fprintf(stderr, "qxdemo: no chip of family %lu in the table\n", static_cast<unsigned long>(opt.family));
        return 64;
    }
    if (opt.unsupported)
        driver.config.utilEscape = driver.config.tintraEscape = false;
    driver.config.driverKey = "qxdisp";
    driver.onRequest = [](const sim::EscapeRecord& r) {
        printf("driver: %s\n", sim::Driver::Describe(r).c_str());
        fflush(stdout);
    };

    SampleConfiguration sample;
    if (!opt.language.empty() && !sample.Install(opt.family, opt.language))
        return 1;

    INITCOMMONCONTROLSEX icc = { sizeof icc, ICC_WIN95_CLASSES };
    InitCommonControlsEx(&icc);

    HMODULE dll = LoadLibraryA((ProgramDir() + "QXTINTRA.dll").c_str());
    if (!dll) {
        fprintf(stderr, "qxdemo: cannot load QXTINTRA.dll (error %lu)\n", GetLastError());
        return 1;
    }
    if (!driver.Install(dll)) {
        fprintf(stderr, "qxdemo: QXTINTRA.dll does not import ExtEscape\n");
        return 1;
    }
    if (!opt.screenshot.empty())
        sim::PatchImport(dll, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&PrintMessageBox));
    auto unInit = reinterpret_cast<UnInitFn>(reinterpret_cast<void*>(GetProcAddress(dll, "QxUtilityUnInit")));
    const char* device = opt.device.empty() ? nullptr : opt.device.c_str();
    std::vector<HPROPSHEETPAGE> pages;
    if (opt.shell) {
        OleInitialize(nullptr);
        if (!AddPagesAsShell(dll, device, pages))
            return 1;
    } else if (!AddPagesAsUtility(dll, device, pages)) {
        return 1;
    }
    if (pages.empty()) {
        printf("no page was added (the driver or chip is not supported)\n");
        if (unInit && !opt.shell)
            unInit(0);
        return 2;
    }
    printf("%zu page(s) added\n", pages.size());

    PROPSHEETHEADERA sheet = {};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_NOCONTEXTHELP | (opt.screenshot.empty() ? 0 : PSH_MODELESS);
    sheet.pszCaption = "Display Properties";
    sheet.nPages = static_cast<UINT>(pages.size());
    sheet.phpage = pages.data();

    int exitCode = 0;
    if (opt.screenshot.empty()) {
        INT_PTR r = PropertySheetA(&sheet);
        printf("property sheet closed (%ld)\n", static_cast<long>(r));
    } else {
        HWND hwnd = reinterpret_cast<HWND>(PropertySheetA(&sheet));
        if (!hwnd) {
            fprintf(stderr, "qxdemo: the property sheet could not be created\n");
            exitCode = 1;
        } else {
            PumpFor(opt.delayMs);
            if (SaveWindow(hwnd, opt.screenshot))
                printf("screenshot written to %s\n", opt.screenshot.c_str());
            else
                exitCode = 1;
            DestroyWindow(hwnd);
            PumpFor(100);
        }
    }
    if (opt.shell)
        OleUninitialize();
    else if (unInit)
        unInit(0);
    return exitCode;
}
