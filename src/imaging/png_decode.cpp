// PNG decoding into a DIB section (being written; refuses every file for now).
#include "imaging/imaging.h"

HBITMAP Img_DecodePng(HDC, const BYTE*, IMG_INFO*)
{
    return nullptr;
}
