#include "driver/escape.h"

#include "common/raii.h"
#include "common/trace.h"

char g_szDisplayDevice[256];
BOOL g_bUtilSupported;
BOOL g_bTintraSupported;

BOOL SetDisplayDeviceName(LPCSTR deviceName)
{
    if (!deviceName || !*deviceName)
        return FALSE;
    lstrcpynA(g_szDisplayDevice, deviceName, sizeof g_szDisplayDevice);
    return TRUE;
}

void SelectPrimaryDisplay() { g_szDisplayDevice[0] = '\0'; }

HDC CreateDisplayDC()
{
    if (g_szDisplayDevice[0])
        return CreateDCA(nullptr, g_szDisplayDevice, nullptr, nullptr);
    return CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
}

int CallDriverEscape(int escape, int cbIn, const void* in, int cbOut, void* out)
{
    BOOL supported;
    if (escape == QX_UTIL_ESCAPE)
        supported = g_bUtilSupported;
    else if (escape == QX_TINTRA_ESCAPE)
        supported = g_bTintraSupported;
    else
        return 0;
    if (!supported)
        return 0;

    qx::OwnedDC dc(CreateDisplayDC());
    if (!dc)
        return 0;
    return ExtEscape(dc.get(), escape, cbIn, static_cast<LPCSTR>(in), cbOut, static_cast<LPSTR>(out));
}

namespace {

// Both probes ask QUERYESCSUPPORT; only the effects probe leaves trace points.
BOOL ProbeEscape(DWORD escape, BOOL* flag, bool traced)
{
    if (traced)
        QxTrace("In QX_TINTRA_IsSupported() function\n");
    qx::OwnedDC dc(CreateDisplayDC());
    if (!dc) {
        if (traced)
            QxTrace(" \nERROR! hDC in QX_TINTRA_IsSupported() returned NULL!!!\n\n");
        return FALSE;
    }
    if (traced) {
        QxTrace(" hDC in QX_TINTRA_IsSupported() OK.\n");
        QxTrace("Calling ExtEscape(...QUERYESCSUPPORT )...");
    }
    int result = ExtEscape(dc.get(), QUERYESCSUPPORT, sizeof escape, reinterpret_cast<LPCSTR>(&escape), 0, nullptr);
    if (traced)
        QxTrace("driver returned nReturn = %d\n", result);
    dc.reset();

    // Any positive answer counts: drivers answer QUERYESCSUPPORT with 1 or
    // with another positive value (2 is seen), unlike the function escapes.
    if (result > 0) {
        *flag = TRUE;
        return TRUE;
    }
    if (traced)
        QxTrace("nReturn <= 0, no driver support for QX_TINTRA functions!\n");
    *flag = FALSE;
    return FALSE;
}

// A function escape succeeds only on exactly 1; 0, negative errors and other
// positive values all mean the driver did not do what was asked.
bool Succeeded(int result) { return result == 1; }

} // namespace

BOOL QX_UTIL_IsSupported() { return ProbeEscape(QX_UTIL_ESCAPE, &g_bUtilSupported, false); }

BOOL QX_TINTRA_IsSupported() { return ProbeEscape(QX_TINTRA_ESCAPE, &g_bTintraSupported, true); }

BOOL QX_TINTRA_QueryArtisticEffectCaps(DWORD* caps)
{
    DWORD request = QX_TINTRA_FN_QUERY_CAPS;
    DWORD reply = 0;
    if (!Succeeded(CallDriverEscape(QX_TINTRA_ESCAPE, sizeof request, &request, sizeof reply, &reply)))
        return FALSE;
    if (caps)
        *caps = reply;
    return TRUE;
}

BOOL QX_TINTRA_GetEffectMaxLevel(DWORD effect, DWORD* maxLevel)
{
    DWORD request[2] = { QX_TINTRA_FN_GET_MAX_LEVEL, effect };
    DWORD reply = 0;
    if (!Succeeded(CallDriverEscape(QX_TINTRA_ESCAPE, sizeof request, request, sizeof reply, &reply)))
        return FALSE;
    if (maxLevel)
        *maxLevel = reply;
    return TRUE;
}

BOOL QX_TINTRA_GetCurrentEffects(DWORD* curEffects, DWORD* numEfx, QX_EFFECT_PAIR* pairs)
{
    DWORD request = QX_TINTRA_FN_GET_EFFECTS;
    QX_TINTRA_GET_EFFECTS_OUT reply = {};
    if (!Succeeded(CallDriverEscape(QX_TINTRA_ESCAPE, sizeof request, &request, sizeof reply, &reply)))
        return FALSE;
    if (curEffects)
        *curEffects = reply.dwCurEffects;
    if (numEfx)
        *numEfx = reply.dwNumEfx;
    if (pairs)
        CopyMemory(pairs, reply.pairs, sizeof reply.pairs);
    return TRUE;
}

BOOL QX_TINTRA_SetCurrentEffects(int count, const QX_EFFECT_PAIR* pairs)
{
    // The request has room for four pairs. A larger count (a driver that
    // reported more effects in force than the record can carry) is refused
    // rather than cut: sending four of them under a count of four would tell
    // the driver to drop the rest, which nobody asked for.
    if (count > QX_TINTRA_MAX_PAIRS)
        return FALSE;

    QX_TINTRA_SET_EFFECTS_IN request = {};
    request.dwFunction = QX_TINTRA_FN_SET_EFFECTS;
    request.dwCount = static_cast<DWORD>(count);
    for (int i = 0; i < count && pairs; ++i)
        request.pairs[i] = pairs[i];
    return Succeeded(CallDriverEscape(QX_TINTRA_ESCAPE, sizeof request, &request, 0, nullptr));
}

BOOL QX_UTIL_GetChipId(DWORD* chipId)
{
    DWORD request = QX_UTIL_FN_GET_CHIP_ID;
    DWORD reply[4] = {};
    if (!Succeeded(CallDriverEscape(QX_UTIL_ESCAPE, sizeof request, &request, sizeof reply, reply)))
        return FALSE;
    if (chipId)
        *chipId = reply[0];
    return TRUE;
}

BOOL QX_UTIL_GetPciInfo(QX_PCI_INFO* info)
{
    DWORD request[2] = { QX_UTIL_FN_GET_PCI_INFO, sizeof(QX_PCI_INFO) };
    QX_PCI_INFO reply = {};
    if (!Succeeded(CallDriverEscape(QX_UTIL_ESCAPE, sizeof request, request, sizeof reply, &reply)))
        return FALSE;
    if (info)
        *info = reply;
    return TRUE;
}

BOOL QX_UTIL_QueryDriverKeyEscape(BYTE* reply)
{
    DWORD request = QX_UTIL_FN_GET_DRIVER_KEY;
    ZeroMemory(reply, QX_DRIVER_KEY_BYTES);
    return Succeeded(CallDriverEscape(QX_UTIL_ESCAPE, sizeof request, &request, QX_DRIVER_KEY_BYTES, reply));
}
