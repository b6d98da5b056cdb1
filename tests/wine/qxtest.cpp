#include "qxtest.h"

#include "handle_ledger.h"

#include <shellapi.h>

#include <cstring>

#include "chips.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "hosting/module.h"

namespace qxtest {

HMODULE ProgramModule() { return GetModuleHandleA(nullptr); }

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

HMODULE BuiltDll()
{
    static HMODULE dll = LoadLibraryA((ProgramDir() + "QXTINTRA.dll").c_str());
    return dll;
}

std::string MakeTempDir(const char* tag)
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static int serial;
    std::string dir = std::string(base) + "qxtest_" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_"
        + std::to_string(++serial);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void RemoveTree(const std::string& dir)
{
    std::string from = dir + '\0';
    SHFILEOPSTRUCTA op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&op);
}

bool WriteFileBytes(const std::string& path, const void* data, size_t size)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(f);
    return ok && written == size;
}

std::vector<BYTE> Bmp24File(int width, int height, const std::function<COLORREF(int x, int y)>& pixel)
{
    const DWORD row = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER f = {};
    BITMAPINFOHEADER i = {};
    f.bfType = 0x4D42;
    f.bfOffBits = sizeof f + sizeof i;
    f.bfSize = f.bfOffBits + row * static_cast<DWORD>(height);
    i.biSize = sizeof i;
    i.biWidth = width;
    i.biHeight = height;
    i.biPlanes = 1;
    i.biBitCount = 24;
    std::vector<BYTE> file(f.bfSize);
    memcpy(file.data(), &f, sizeof f);
    memcpy(file.data() + sizeof f, &i, sizeof i);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const COLORREF c = pixel(x, y);
            BYTE* p = file.data() + f.bfOffBits + (height - 1 - y) * row + 3 * x;
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
        }
    return file;
}

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages)
{
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
    return TRUE;
}

HWND OpenSheet(std::vector<HPROPSHEETPAGE>& pages)
{
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_NOCONTEXTHELP;
    header.pszCaption = "Display Properties";
    header.nPages = static_cast<UINT>(pages.size());
    header.phpage = pages.data();
    HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    PumpMessages();
    return sheet;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int ThreadWindowCount()
{
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND, LPARAM param) -> BOOL {
            ++*reinterpret_cast<int*>(param);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

void ResetModuleState()
{
    g_szDisplayDevice[0] = '\0';
    g_bUtilSupported = FALSE;
    g_bTintraSupported = FALSE;
    g_dwChipFamily = 0;
    g_dwOsVersion = 0;
    szQxByChipKey[0] = '\0';
}

std::vector<BYTE> DllResource(int id, LPCSTR type)
{
    HRSRC res = FindResourceA(BuiltDll(), MAKEINTRESOURCEA(id), type);
    if (!res)
        return {};
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(BuiltDll(), res)));
    return std::vector<BYTE>(data, data + SizeofResource(BuiltDll(), res));
}

std::vector<MessageBoxRecorder::Box>& MessageBoxRecorder::boxes()
{
    static std::vector<Box> list;
    return list;
}

bool InstallHarness()
{
    if (!BuiltDll() || !sim::Driver::Instance().Install(ProgramModule()) || !sim::Driver::Instance().Install(BuiltDll()))
        return false;
    // Tests run in parallel processes, each of which may hold the marker of a
    // running copy: no message box may ever wait for a user.
    static Recorder<decltype(&MessageBoxA)> boxes("MessageBoxA");
    boxes.answer = [](HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
        MessageBoxRecorder::boxes().push_back({ owner, text ? text : "", caption ? caption : "", type });
        return IDOK;
    };
    InstallLedger();
    return boxes.installed();
}

void DriverTest::SetUp()
{
    MessageBoxRecorder::boxes().clear();
    sim::Driver::Instance().Reset();
    ResetModuleState();
    g_hInstance = BuiltDll();
}

void DriverTest::TearDown()
{
    EXPECT_EQ(driver().LiveDCs(), 0) << "every display DC the module opens is deleted";
    sim::Driver::Instance().Reset();
}

void DriverTest::ConfigureSupportedDriver(DWORD family)
{
    sim::DriverConfig& c = driver().config;
    c.utilEscape = c.tintraEscape = true;
    ASSERT_TRUE(sim::UseChipOfFamily(c, family));
}

std::vector<std::string> DriverTest::Requests(int escape)
{
    std::vector<std::string> list;
    for (const sim::EscapeRecord& r : driver().records)
        if (!escape || r.escape == escape)
            list.push_back(sim::Driver::Describe(r));
    return list;
}

} // namespace qxtest
