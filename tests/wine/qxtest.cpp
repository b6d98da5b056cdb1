#include "qxtest.h"

#include <shellapi.h>

#include <cstring>

#include "chips.h"
#include "driver/chip_family.h"
#include "driver/driver_key.h"
#include "driver/escape.h"
#include "handle_ledger.h"
#include "hosting/module.h"

namespace qxtest {

HMODULE ProgramModule() { return GetModuleHandleA(nullptr); }

std::string ProgramDir()
{
    char path[MAX_PATH];
    const std::string self(path, GetModuleFileNameA(nullptr, path, sizeof path));
    return self.substr(0, self.find_last_of("\\/") + 1);
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
    const std::string dir = base + ("qxtest_" + std::string(tag)) + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++serial);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void RemoveTree(const std::string& dir)
{
    const std::string from = dir + '\0';
    SHFILEOPSTRUCTA op = { nullptr, FO_DELETE, from.c_str() };
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&op);
}

bool WriteFileBytes(const std::string& path, const void* data, size_t size)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = f != INVALID_HANDLE_VALUE && WriteFile(f, data, DWORD(size), &written, nullptr) && written == size;
    CloseHandle(f);
    return ok;
}

std::vector<BYTE> Bmp24File(int width, int height, const std::function<COLORREF(int x, int y)>& pixel)
{
    const DWORD row = (DWORD(width) * 3 + 3) & ~3u, offset = 14 + 40;
    const BITMAPFILEHEADER f = { 0x4D42, offset + row * height, 0, 0, offset };
    const BITMAPINFOHEADER i = { 40, width, height, 1, 24 };
    std::vector<BYTE> file(f.bfSize);
    memcpy(file.data(), &f, sizeof f);
    memcpy(file.data() + sizeof f, &i, sizeof i);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const COLORREF c = pixel(x, y);
            BYTE* p = file.data() + offset + (height - 1 - y) * row + 3 * x;
            p[0] = GetBValue(c), p[1] = GetGValue(c), p[2] = GetRValue(c);
        }
    return file;
}

std::vector<BYTE> DllResource(int id, LPCSTR type)
{
    HRSRC res = FindResourceA(BuiltDll(), MAKEINTRESOURCEA(id), type);
    const BYTE* data = res ? static_cast<const BYTE*>(LockResource(LoadResource(BuiltDll(), res))) : nullptr;
    return data ? std::vector<BYTE>(data, data + SizeofResource(BuiltDll(), res)) : std::vector<BYTE>();
}

void SetReg(HKEY root, const std::string& key, const char* name, DWORD type, const std::string& bytes)
{
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS) << key;
    if (name)
        EXPECT_EQ(RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size())), ERROR_SUCCESS) << name;
    RegCloseKey(k);
}

void SetRegText(HKEY root, const std::string& key, const char* name, const std::string& text)
{
    SetReg(root, key, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

void DeleteRegTree(HKEY root, const std::string& key)
{
    RegDeleteTreeA(root, key.c_str());
    RegDeleteKeyA(root, key.c_str());
}

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages)
{
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
    return TRUE;
}

HWND OpenSheet(std::vector<HPROPSHEETPAGE>& pages)
{
    PROPSHEETHEADERA header = { sizeof header, PSH_MODELESS | PSH_NOCONTEXTHELP };
    header.pszCaption = "Display Properties";
    header.nPages = UINT(pages.size());
    header.phpage = pages.data();
    HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    PumpMessages();
    return sheet;
}

void PumpMessages()
{
    for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);)
        TranslateMessage(&msg), DispatchMessageA(&msg);
}

int ThreadWindowCount()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND, LPARAM n) { return ++*reinterpret_cast<int*>(n), TRUE; }, reinterpret_cast<LPARAM>(&count));
    return count;
}

void ResetModuleState()
{
    g_szDisplayDevice[0] = szQxByChipKey[0] = '\0';
    g_bUtilSupported = g_bTintraSupported = FALSE;
    g_dwChipFamily = g_dwOsVersion = 0;
}

PlayWindows::PlayWindows()
{
    recorder.answer = [this](OSVERSIONINFOA* info) -> BOOL {
        const DWORD size = info->dwOSVersionInfoSize;
        const bool extended = size == sizeof(OSVERSIONINFOEXA);
        sizesAsked.push_back(size);
        if (extended ? extendedFails : (size != sizeof(OSVERSIONINFOA) || basicFails))
            return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
        info->dwPlatformId = platform, info->dwMajorVersion = major, info->dwMinorVersion = minor, info->dwBuildNumber = build;
        lstrcpynA(info->szCSDVersion, csd, sizeof info->szCSDVersion);
        if (extended)
            reinterpret_cast<OSVERSIONINFOEXA*>(info)->wServicePackMajor = servicePack;
        return TRUE;
    };
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
    driver().Reset();
    ResetModuleState();
    g_hInstance = BuiltDll();
}

void DriverTest::TearDown()
{
    EXPECT_EQ(driver().LiveDCs(), 0) << "every display DC the module opens is deleted";
    driver().Reset();
}

void DriverTest::ConfigureSupportedDriver(DWORD family)
{
    driver().config.utilEscape = driver().config.tintraEscape = true;
    ASSERT_TRUE(sim::UseChipOfFamily(driver().config, family));
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
