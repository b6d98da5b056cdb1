#include "config/system_services.h"

#include <cstdio>
#include <cstring>

#include "common/raii.h"

namespace {

// GetSystemDirectoryA is asked for at most this many characters.
constexpr UINT kSystemDirChars = 1040;

struct RegRoot {
    const char* shortName;
    const char* longName;
    LONG key;  // the predefined handle's value; see RootKey
};

constexpr RegRoot kRegRoots[] = {
    { "HKLM", "HKEY_LOCAL_MACHINE", static_cast<LONG>(0x80000002) },
    { "HKCU", "HKEY_CURRENT_USER", static_cast<LONG>(0x80000001) },
    { "HKCR", "HKEY_CLASSES_ROOT", static_cast<LONG>(0x80000000) },
    { "HKU", "HKEY_USERS", static_cast<LONG>(0x80000003) },
    { "HKCC", "HKEY_CURRENT_CONFIG", static_cast<LONG>(0x80000005) },
};

// Predefined handles are sign-extended 32-bit values, as <winreg.h> makes them.
HKEY RootKey(const RegRoot& root) { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(root.key)); }

bool NameIs(const char* text, size_t length, const char* name)
{
    return strlen(name) == length && _strnicmp(text, name, length) == 0;
}

const RegRoot* FindRoot(const char* text, size_t length)
{
    for (const RegRoot& root : kRegRoots)
        if (NameIs(text, length, root.shortName) || NameIs(text, length, root.longName))
            return &root;
    return nullptr;
}

// Copies a string out of a version block; such strings are not trusted to be
// terminated within the length the block gives.
void CopyBounded(LPSTR out, DWORD size, const char* text, UINT length)
{
    if (!out || !size)
        return;
    DWORD n = 0;
    while (n < length && n + 1 < size && text[n]) {
        out[n] = text[n];
        ++n;
    }
    out[n] = '\0';
}

bool QueryVersionString(const void* block, const char* format, const BYTE* translation, LPCSTR stringName,
    char** value, UINT* length)
{
    char query[512];
    int n = translation
        ? snprintf(query, sizeof query, format, translation[1], translation[0], translation[3], translation[2], stringName)
        : snprintf(query, sizeof query, format, stringName);
    if (n < 0 || n >= static_cast<int>(sizeof query))
        return false;
    return VerQueryValueA(block, query, reinterpret_cast<void**>(value), length) != FALSE;
}

} // namespace

BOOL GetFileVersionString(LPCSTR fileName, LPSTR out, DWORD size, LPCSTR stringName)
{
    if (out && size)
        out[0] = '\0';
    if (!fileName || !stringName)
        return FALSE;

    // A name without a drive letter is one of the system's own files.
    char path[kSystemDirChars + 1 + MAX_PATH];
    if (fileName[0] && fileName[1] == ':') {
        if (lstrlenA(fileName) >= static_cast<int>(sizeof path))
            return FALSE;
        lstrcpyA(path, fileName);
    } else {
        UINT dirChars = GetSystemDirectoryA(path, kSystemDirChars);
        if (dirChars == 0 || dirChars >= kSystemDirChars)
            return FALSE;
        int n = snprintf(path + dirChars, sizeof path - dirChars, "\\%s", fileName);
        if (n < 0 || n >= static_cast<int>(sizeof path - dirChars))
            return FALSE;
    }

    DWORD handle = 0;
    DWORD blockSize = GetFileVersionInfoSizeA(path, &handle);
    if (!blockSize)
        return FALSE;
    qx::HeapBlock block(qx::HeapAllocZero(blockSize));
    if (!block)
        return FALSE;
    if (!GetFileVersionInfoA(path, 0, blockSize, block.get()))
        return FALSE;

    char* value = nullptr;
    UINT length = 0;
    bool found = false;
    BYTE* translation = nullptr;
    UINT translationBytes = 0;
    if (VerQueryValueA(block.get(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
            &translationBytes)
        && translation && translationBytes >= 4)
        found = QueryVersionString(block.get(), "\\StringFileInfo\\%02x%02x%02x%02x\\%s", translation, stringName,
            &value, &length);
    // Blocks without a translation table (or whose table names a language
    // the block lacks) are read as U.S. English, code page 1252.
    if (!found)
        found = QueryVersionString(block.get(), "\\StringFileInfo\\040904E4\\%s", nullptr, stringName, &value, &length);
    if (found && value)
        CopyBounded(out, size, value, length);
    return found;
}

BOOL GetFileVersion(LPCSTR fileName, LPSTR out, DWORD size)
{
    return GetFileVersionString(fileName, out, size, "FileVersion");
}

LONG OpenRegPath(LPCSTR path, REGSAM access, HKEY* key)
{
    if (!path || !key)
        return ERROR_INVALID_PARAMETER;
    const char* slash = strchr(path, '\\');
    if (!slash)
        return ERROR_INVALID_PARAMETER;
    const RegRoot* root = FindRoot(path, slash - path);
    if (!root)
        return ERROR_INVALID_PARAMETER;
    HKEY rootKey = RootKey(*root);

    // Every part before the last is opened on its own first, only to check
    // it exists: the error then names the first part that is missing.
    const char* subPath = slash + 1;
    size_t length = strlen(subPath);
    qx::HeapBlock copy(qx::HeapAllocZero(length + 1));
    if (!copy)
        return ERROR_NOT_ENOUGH_MEMORY;
    char* prefix = static_cast<char*>(copy.get());
    memcpy(prefix, subPath, length);
    for (char* cut = strchr(prefix, '\\'); cut; cut = strchr(cut + 1, '\\')) {
        *cut = '\0';
        qx::RegKey part;
        LONG rc = RegOpenKeyExA(rootKey, prefix, 0, KEY_ENUMERATE_SUB_KEYS, part.put());
        *cut = '\\';
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    return RegOpenKeyExA(rootKey, subPath, 0, access, key);
}

BOOL ReadRegString(HKEY key, LPCSTR valueName, LPSTR out, LPCSTR defaultText)
{
    BYTE data[QX_REG_TEXT_BYTES];
    DWORD type = 0;
    DWORD bytes = sizeof data;
    bool usable = false;
    if (RegQueryValueExA(key, valueName, nullptr, &type, data, &bytes) == ERROR_SUCCESS && bytes <= sizeof data
        && ((type == REG_SZ && bytes > 1) || (type == REG_BINARY && bytes >= 1))) {
        // The text ends at the first zero byte. Values stored without one
        // (binary values usually are) get a terminator after their last
        // byte. A value that fills all 512 bytes with no zero has no room
        // left for one; cutting it would give a different text (a shorter
        // file name, say), so it is treated as not usable.
        if (memchr(data, 0, bytes)) {
            usable = true;
        } else if (bytes < sizeof data) {
            data[bytes] = 0;
            usable = true;
        }
        // A string value holding nothing but terminators is empty. A binary
        // value is taken as it is, even when its first byte is zero.
        if (type == REG_SZ && !data[0])
            usable = false;
    }
    lstrcpynA(out, usable ? reinterpret_cast<const char*>(data) : (defaultText ? defaultText : ""),
        QX_REG_TEXT_BYTES);
    return usable;
}

DWORD ReadRegBool(HKEY key, LPCSTR valueName, DWORD defaultValue)
{
    char text[QX_REG_TEXT_BYTES];
    if (!ReadRegString(key, valueName, text, ""))
        return defaultValue;
    if (_stricmp(text, "ON") == 0 || _stricmp(text, "1") == 0)
        return 1;
    if (_stricmp(text, "Off") == 0 || _stricmp(text, "0") == 0)
        return 0;
    return defaultValue;
}

namespace {

// Windows 95 tells its releases apart by the service text: empty or "A" for
// the first release, "B" or "C" for OSR2. Blanks around the letter are
// ignored (releases put one before it, some one after).
DWORD Windows95Class(const char* csd, size_t size)
{
    size_t begin = 0;
    while (begin < size && csd[begin] == ' ')
        ++begin;
    size_t end = begin;
    while (end < size && csd[end])
        ++end;
    while (end > begin && csd[end - 1] == ' ')
        --end;
    if (end == begin)
        return QX_OS_WIN95;
    if (end - begin != 1)
        return QX_OS_UNKNOWN;
    switch (csd[begin]) {
    case 'A': case 'a':
        return QX_OS_WIN95;
    case 'B': case 'b': case 'C': case 'c':
        return QX_OS_WIN95_OSR2;
    }
    return QX_OS_UNKNOWN;
}

} // namespace

DWORD GetOsVersion()
{
    OSVERSIONINFOEXA info = {};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        // Older systems know only the basic structure; the service pack
        // number then reads as 0.
        info = OSVERSIONINFOEXA {};
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)))
            return QX_OS_UNKNOWN;
    }

    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (info.dwMajorVersion != 4)
            return QX_OS_UNKNOWN;
        if (info.dwMinorVersion == 0)
            return Windows95Class(info.szCSDVersion, sizeof info.szCSDVersion);
        if (info.dwMinorVersion == 10)
            return (info.dwBuildNumber & 0xFFFF) == 2222 ? QX_OS_WIN98_SE : QX_OS_WIN98;
        if (info.dwMinorVersion > 10)
            return QX_OS_WINME;
        return QX_OS_UNKNOWN;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        switch (info.dwMajorVersion) {
        case 3:
            return QX_OS_NT3;
        case 4:
            return QX_OS_NT4;
        case 5:
            if (info.dwMinorVersion == 1 || info.dwMinorVersion == 2)
                return info.wServicePackMajor >= 1 ? QX_OS_WINXP_SP : QX_OS_WINXP;
            return QX_OS_WIN2000;
        }
    }
    return QX_OS_UNKNOWN;
}
