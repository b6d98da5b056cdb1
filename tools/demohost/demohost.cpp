// A stand-in for the adapter's host utility: loads QXTINTRA.dll, puts the
// simulated display driver under it, and shows the page in a property sheet
// with OK, Cancel and Apply. Every request the driver receives is printed.
//
//   qxdemo [--family 15|21|0] [--caps MASK] [--effect CODE] [--level N]
//          [--max CODE=LEVEL]... [--max-all N] [--unsupported] [--device NAME]
//          [--screenshot FILE.png] [--delay MS] [--shell] [--focus ID]
//          [--reg SKIN.reg] [--cfg FILE.CFG] [--style Lustre|Classic] [--language NAME]
//
// --reg and --cfg show an OEM's skin in one step without touching the
// prefix: the .reg file's keys are held in a volatile scratch key that the
// module's registry opens are sent to, and the configuration file is copied,
// as QXTINTRA.CFG and KPTINTRA.CFG with the per-language files it names, into
// a scratch directory that the module is given as its system directory.
// --style and --language override UiStyle in every key of the skin and the
// configuration file's Language choice (for rendering every variant).
//
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
#include <string>
#include <vector>

#include "chips.h"
#include "display_data_object.h"
#include "png_writer.h"
#include "simdriver.h"
#include "skin_files.h"

namespace {

struct Options {
    DWORD family = 15;
    bool unsupported = false;
    std::string device;
    std::string screenshot;
    int delayMs = 1500;
    bool shell = false;
    std::string reg, cfg, style, language;
    int focusId = 0;  // control to give the keyboard to before the screenshot
};

typedef DWORD(WINAPI* InitFn)(DWORD, LPCSTR, LPSTR, void*);
typedef DWORD(WINAPI* AddPagesFn)(LPCSTR, LPFNADDPROPSHEETPAGE, LPARAM, void*);
typedef DWORD(WINAPI* UnInitFn)(DWORD);

void Usage()
{
    fprintf(stderr,
        "usage: qxdemo [--family 15|21|0] [--caps MASK] [--effect CODE] [--level N]\n"
        "              [--max CODE=LEVEL]... [--max-all N] [--unsupported] [--device NAME]\n"
        "              [--screenshot FILE.png] [--delay MS] [--shell] [--focus ID]\n"
        "              [--reg SKIN.reg] [--cfg FILE.CFG] [--style Lustre|Classic] [--language NAME]\n");
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
        else if (a == "--focus")
            o.focusId = static_cast<int>(Number(next()));
        else if (a == "--reg")
            o.reg = next();
        else if (a == "--cfg")
            o.cfg = next();
        else if (a == "--style")
            o.style = next();
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

// The first visible window under `root` with control id `id`, at any depth
// (the page's radio buttons sit in tab dialogs inside its tab control).
HWND FindControl(HWND root, int id)
{
    for (HWND child = GetWindow(root, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == id && IsWindowVisible(child))
            return child;
        if (HWND found = FindControl(child, id))
            return found;
    }
    return nullptr;
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

std::string FullPath(const std::string& path)
{
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n && n < MAX_PATH ? std::string(full) : path;
}

// The scratch system directory the module reads its configuration from.
std::string g_systemDir;
UINT WINAPI ScratchSystemDirectory(LPSTR buffer, UINT size)
{
    if (g_systemDir.size() + 1 > size)
        return static_cast<UINT>(g_systemDir.size() + 1);
    lstrcpyA(buffer, g_systemDir.c_str());
    return static_cast<UINT>(g_systemDir.size());
}

// Copies the configuration file under both base names, with the files its
// [Language] section sends languages to, and applies --language.
bool StageConfiguration(const Options& o, std::vector<std::string>* made)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    g_systemDir = std::string(temp) + "qxdemo-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(g_systemDir.c_str(), nullptr);
    made->push_back(g_systemDir);
    for (const char* base : { "QXTINTRA.CFG", "KPTINTRA.CFG" }) {
        const std::string target = g_systemDir + "\\" + base;
        if (!o.cfg.empty() && !CopyFileA(o.cfg.c_str(), target.c_str(), FALSE)) {
            fprintf(stderr, "qxdemo: cannot read %s\n", o.cfg.c_str());
            return false;
        }
        made->insert(made->end() - 1, target);
        if (!o.language.empty())
            WritePrivateProfileStringA("Language", "Language", o.language.c_str(), target.c_str());
    }
    if (!o.cfg.empty()) {
        const std::string dir = o.cfg.substr(0, o.cfg.find_last_of("\\/") + 1);
        for (const std::string& key : skin::CfgKeys(o.cfg, "Language")) {
            char name[MAX_PATH];
            GetPrivateProfileStringA("Language", key.c_str(), "", name, sizeof name, o.cfg.c_str());
            const std::string target = g_systemDir + "\\" + name;
            if (lstrcmpiA(key.c_str(), "Language") && name[0] && CopyFileA((dir + name).c_str(), target.c_str(), FALSE))
                made->insert(made->end() - 1, target);
        }
    }
    return true;
}

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

    // The OEM's skin, if one was given.
    skin::SkinRegistry skinKeys;
    if (!opt.reg.empty() || !opt.style.empty()) {
        std::vector<skin::RegFileKey> keys{ { "Software\\Qx", {} } };
        std::string error;
        if (!opt.reg.empty() && !skin::ReadRegFile(FullPath(opt.reg), &keys, &error)) {
            fprintf(stderr, "qxdemo: %s\n", error.c_str());
            return 2;
        }
        if (!skinKeys.Load(keys) || !skinKeys.Redirect(dll)) {
            fprintf(stderr, "qxdemo: cannot hold the skin's keys in a scratch registry key\n");
            return 2;
        }
        if (!opt.style.empty())
            skinKeys.SetEverywhere("UiStyle", opt.style.c_str());
    }
    std::vector<std::string> staged;
    if (!opt.cfg.empty() || !opt.language.empty()) {
        if (!opt.cfg.empty()) {
            opt.cfg = FullPath(opt.cfg);
            std::string error;
            if (!skin::CheckCfgFile(opt.cfg, &error)) {
                fprintf(stderr, "qxdemo: %s\n", error.c_str());
                return 2;
            }
        }
        if (!StageConfiguration(opt, &staged))
            return 2;
        sim::PatchImport(dll, "kernel32.dll", "GetSystemDirectoryA", reinterpret_cast<void*>(&ScratchSystemDirectory));
    }
    struct Unstage {
        std::vector<std::string>& files;
        ~Unstage()
        {
            for (const std::string& f : files)
                if (!DeleteFileA(f.c_str()))
                    RemoveDirectoryA(f.c_str());
        }
    } unstage{ staged };
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
            if (opt.focusId) {
                // As if the user had tabbed there: keyboard cues shown.
                HWND control = FindControl(hwnd, opt.focusId);
                SendMessageA(hwnd, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
                if (control)
                    SetFocus(control);
                PumpFor(300);
            }
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
