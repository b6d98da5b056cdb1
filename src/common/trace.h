// The module's one trace routine. Operations hand it printf-style texts at
// their trace points; the delivered build discards them, a build with
// QX_TRACE defined prints them with OutputDebugStringA.
#pragma once

void QxTrace(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
