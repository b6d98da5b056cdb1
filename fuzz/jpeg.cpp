// libFuzzer target: the JPEG decoder. Every input must end in a 24-bit
// picture or a refusal, never in a crash, a hang, a sanitizer report or a
// leak.
#include "decode_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDecode(IMG_TYPE_JPEG, data, size, [](const IMG_INFO& info) {
        return info.pBitmapInfo->bmiHeader.biBitCount == 24 && info.nColors == 0 && !info.pLogPalette;
    });
    return 0;
}
