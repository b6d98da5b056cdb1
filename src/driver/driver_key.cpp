#include "driver/driver_key.h"

#include <cstdio>
#include <cstring>

#include "common/raii.h"
#include "common/trace.h"
#include "config/system_services.h"
#include "driver/chip_family.h"
#include "driver/escape.h"

DWORD g_dwOsVersion;
char szQxByChipKey[256];

namespace {

constexpr char kPciBranch[] = "Enum\\PCI";
constexpr char kServicesKey[] = "System\\CurrentControlSet\\Services";
constexpr char kClassKey[] = "System\\CurrentControlSet\\Services\\Class";

bool FirstUnitSet(const BYTE* buffer) { return buffer[0] != 0 || buffer[1] != 0; }

// Whether a device key name under Enum\PCI names this device. Key names look
// like "VEN_5158&DEV_5100&SUBSYS_01005158&REV_01"; the revision and subsystem
// parts are optional and, when absent, match any revision or subsystem.
bool DeviceKeyMatches(const char* name, const char* devicePattern, const char* subsysPattern, DWORD revision)
{
    if (_strnicmp(name, devicePattern, strlen(devicePattern)) != 0)
        return false;

    const char* rev = strstr(name, "&REV_");
    if (!rev)
        return true;
    char revText[16];
    snprintf(revText, sizeof revText, "&REV_%02X", static_cast<unsigned>(revision & 0xFFFF));
    if (_stricmp(rev, revText) != 0)
        return false;

    const char* subsys = strstr(name, "&SUBSYS_");
    if (!subsys)
        return true;
    return _strnicmp(subsys, subsysPattern, strlen(subsysPattern)) == 0;
}

// The driver key name out of the 256-byte answer, as ANSI in `name`
// (QX_DRIVER_KEY_NAME_CHARS + 1 bytes); empty when there is none.
//
// A name of 128 characters or more is refused, not cut: a cut name would
// name some other key (possibly a sibling whose name is the prefix), and
// settings read from there would be wrong in ways nobody could trace. An
// answer that fills the whole buffer with no terminator is refused the same
// way, without reading past the buffer.
void NameFromReply(const BYTE* reply, bool unicode, char* name)
{
    constexpr int nameBytes = QX_DRIVER_KEY_NAME_CHARS + 1;
    name[0] = '\0';
    if (unicode) {
        WCHAR wide[QX_DRIVER_KEY_BYTES / sizeof(WCHAR)];
        memcpy(wide, reply, sizeof wide);
        int length = 0;
        while (length < static_cast<int>(ARRAYSIZE(wide)) && wide[length])
            ++length;
        if (length == 0 || length == static_cast<int>(ARRAYSIZE(wide)))
            return;
        // A name whose ANSI form does not fit makes the conversion fail.
        int n = WideCharToMultiByte(CP_ACP, 0, wide, length + 1, name, nameBytes, nullptr, nullptr);
        if (n <= 0)
            name[0] = '\0';
        return;
    }
    const char* text = reinterpret_cast<const char*>(reply);
    const void* end = memchr(text, 0, QX_DRIVER_KEY_BYTES);
    if (!end)
        return;
    size_t length = static_cast<const char*>(end) - text;
    if (length >= static_cast<size_t>(nameBytes))
        return;
    memcpy(name, text, length + 1);
}

} // namespace

BOOL FindPciDriverKey(DWORD vendor, DWORD device, DWORD revision, DWORD subVendor, DWORD subSystem, LPSTR out)
{
    char devicePattern[32];
    char subsysPattern[32];
    snprintf(devicePattern, sizeof devicePattern, "VEN_%04X&DEV_%04X", static_cast<unsigned>(vendor & 0xFFFF),
        static_cast<unsigned>(device & 0xFFFF));
    snprintf(subsysPattern, sizeof subsysPattern, "&SUBSYS_%04X%04X", static_cast<unsigned>(subSystem & 0xFFFF),
        static_cast<unsigned>(subVendor & 0xFFFF));

    // The device key is opened below the open branch rather than by its
    // whole path: a device key name may be 255 characters long, and the
    // whole path would then be longer than the registry's ANSI calls take.
    qx::RegKey pci;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPciBranch, 0, KEY_ALL_ACCESS, pci.put()) != ERROR_SUCCESS)
        return FALSE;
    char deviceKey[256];
    for (DWORD index = 0;; ++index) {
        DWORD chars = sizeof deviceKey;
        if (RegEnumKeyExA(pci.get(), index, deviceKey, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return FALSE;
        if (DeviceKeyMatches(deviceKey, devicePattern, subsysPattern, revision))
            break;
    }
    qx::RegKey deviceHandle;
    if (RegOpenKeyExA(pci.get(), deviceKey, 0, KEY_ALL_ACCESS, deviceHandle.put()) != ERROR_SUCCESS)
        return FALSE;
    pci.reset();

    // Only the first instance of the device is consulted.
    char instanceName[256];
    DWORD chars = sizeof instanceName;
    if (RegEnumKeyExA(deviceHandle.get(), 0, instanceName, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return FALSE;
    qx::RegKey instance;
    if (RegOpenKeyExA(deviceHandle.get(), instanceName, 0, KEY_ALL_ACCESS, instance.put()) != ERROR_SUCCESS)
        return FALSE;

    char driver[256];
    DWORD type = 0;
    DWORD bytes = sizeof driver;
    if (RegQueryValueExA(instance.get(), "Driver", nullptr, &type, reinterpret_cast<BYTE*>(driver), &bytes)
            != ERROR_SUCCESS
        || type != REG_SZ)
        return FALSE;
    // A value stored without its terminator either gets one (when there is
    // room) or, when it fills the buffer, is not a name we can use.
    if (!memchr(driver, 0, bytes)) {
        if (bytes >= sizeof driver)
            return FALSE;
        driver[bytes] = '\0';
    }
    lstrcpynA(out, driver, sizeof driver);
    return TRUE;
}

BOOL QX_UTIL_GetDriverKeyName(BYTE* out)
{
    BYTE reply[QX_DRIVER_KEY_BYTES];
    out[0] = out[1] = 0;

    BOOL answered = QX_UTIL_QueryDriverKeyEscape(reply);
    if (answered && FirstUnitSet(reply)) {
        memcpy(out, reply, sizeof reply);
        return TRUE;
    }

    // Drivers that do not name their key: look the adapter up in the PCI
    // enumeration branch instead.
    QX_PCI_INFO pci = {};
    if (QX_UTIL_GetPciInfo(&pci))
        FindPciDriverKey(QX_PCI_VENDOR_ID, pci.wDeviceId, pci.wRevisionId, pci.wSubVendorId, pci.wSubSystemId,
            reinterpret_cast<LPSTR>(reply));

    if (!FirstUnitSet(reply) && !answered)
        return FALSE;
    memcpy(out, reply, sizeof reply);
    return TRUE;
}

BOOL InitRegKeyVars()
{
    g_dwOsVersion = GetOsVersion();
    const bool nt = g_dwOsVersion >= QX_OS_NT4;

    BYTE reply[QX_DRIVER_KEY_BYTES];
    QX_UTIL_GetDriverKeyName(reply);
    char name[QX_DRIVER_KEY_NAME_CHARS + 1];
    NameFromReply(reply, nt, name);
    // No name (or one refused above): the key of an earlier start-up stands.
    if (!name[0])
        return TRUE;

    // On NT the name is the driver's service; on the others it is the
    // driver's instance key below the Class key.
    if (nt)
        snprintf(szQxByChipKey, sizeof szQxByChipKey, "HKLM\\%s\\%s\\Device0", kServicesKey, name);
    else if (g_dwChipFamily == CHIP_FAMILY_KP)
        snprintf(szQxByChipKey, sizeof szQxByChipKey, "HKLM\\%s\\%s\\Utils\\Kp\\QxTintra", kClassKey, name);
    else
        snprintf(szQxByChipKey, sizeof szQxByChipKey, "HKLM\\%s\\%s\\Utils\\QxTintra", kClassKey, name);
    QxTrace("InitRegKeyVars: szQxByChipKey=%s\n", szQxByChipKey);
    return TRUE;
}
