#include "common/trace.h"

#include <windows.h>
#include <cstdarg>
#include <cstdio>

void QxTrace(const char* format, ...)
{
#ifdef QX_TRACE
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    OutputDebugStringA(text);
#else
    (void)format;
#endif
}
