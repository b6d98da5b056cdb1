// libFuzzer target: the BMP decoder, for files and packed DIBs alike.
#include "decode_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDecode(IMG_TYPE_BMP, data, size, [](const IMG_INFO& info) {
        // A palette exactly when there is a colour table.
        return (info.nColors != 0) == (info.pLogPalette != nullptr) && info.nColors <= 256;
    });
    return 0;
}
