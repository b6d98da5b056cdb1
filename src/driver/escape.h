// The display driver's two private escapes and the single gate every
// request passes through. The records are a fixed contract with the driver:
// their layouts must not be widened, reordered or padded.
#pragma once
#include <windows.h>

#ifndef QUERYESCSUPPORT
#define QUERYESCSUPPORT 8
#endif

enum : int {
    QX_UTIL_ESCAPE = 0x3000,
    QX_TINTRA_ESCAPE = 0x3200,
};

enum : DWORD {
    QX_TINTRA_FN_QUERY_CAPS = 0,
    QX_TINTRA_FN_GET_MAX_LEVEL = 1,
    QX_TINTRA_FN_SET_EFFECTS = 4,
    QX_TINTRA_FN_GET_EFFECTS = 5,

    QX_UTIL_FN_GET_CHIP_ID = 0x5F,
    QX_UTIL_FN_GET_DRIVER_KEY = 0x69,
    QX_UTIL_FN_GET_PCI_INFO = 0x6A,
};

// The set-effects request holds this many (effect, level) pairs.
constexpr int QX_TINTRA_MAX_PAIRS = 4;

#pragma pack(push, 1)
struct QX_EFFECT_PAIR {
    DWORD dwEffect;
    DWORD dwLevel;
};

struct QX_TINTRA_SET_EFFECTS_IN {
    DWORD dwFunction;
    DWORD dwCount;
    QX_EFFECT_PAIR pairs[QX_TINTRA_MAX_PAIRS];
};

struct QX_TINTRA_GET_EFFECTS_OUT {
    DWORD dwCurEffects;
    DWORD dwNumEfx;
    QX_EFFECT_PAIR pairs[2];  // Efx_0, Lvl_0, Efx_1, Lvl_1
};

struct QX_PCI_INFO {
    WORD wDeviceId;
    WORD wReserved0;
    WORD wSubVendorId;
    WORD wSubSystemId;
    WORD wReserved1;
    WORD wRevisionId;
    DWORD dwReserved2;
};
#pragma pack(pop)

static_assert(sizeof(QX_TINTRA_SET_EFFECTS_IN) == 40, "set-effects request is 40 bytes");
static_assert(sizeof(QX_TINTRA_GET_EFFECTS_OUT) == 24, "get-effects reply is 24 bytes");
static_assert(sizeof(QX_PCI_INFO) == 16, "PCI information is 16 bytes");

// Size of the driver-key reply, and of every buffer that holds a key name.
constexpr int QX_DRIVER_KEY_BYTES = 256;

extern char g_szDisplayDevice[256];
extern BOOL g_bUtilSupported;
extern BOOL g_bTintraSupported;

BOOL SetDisplayDeviceName(LPCSTR deviceName);
// Back to the primary display, whatever device an earlier request named.
void SelectPrimaryDisplay();
HDC CreateDisplayDC();
int CallDriverEscape(int escape, int cbIn, const void* in, int cbOut, void* out);

BOOL QX_UTIL_IsSupported();
BOOL QX_TINTRA_IsSupported();

BOOL QX_TINTRA_QueryArtisticEffectCaps(DWORD* caps);
BOOL QX_TINTRA_GetEffectMaxLevel(DWORD effect, DWORD* maxLevel);
BOOL QX_TINTRA_GetCurrentEffects(DWORD* curEffects, DWORD* numEfx, QX_EFFECT_PAIR* pairs /* [2], may be null */);
BOOL QX_TINTRA_SetCurrentEffects(int count, const QX_EFFECT_PAIR* pairs);

BOOL QX_UTIL_GetChipId(DWORD* chipId);
BOOL QX_UTIL_GetPciInfo(QX_PCI_INFO* info);
// Sends the driver-key request only (the registry fallback lives with the
// driver-key discovery); the reply buffer is QX_DRIVER_KEY_BYTES long.
BOOL QX_UTIL_QueryDriverKeyEscape(BYTE* reply);
