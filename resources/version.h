// The module's version, in one place for the version block and the code.
#pragma once
#define QX_VERSION_MAJOR 1
#define QX_VERSION_MINOR 0
#define QX_VERSION_BUILD 0
#define QX_VERSION_REVISION 1
#define QX_VERSION_STRING "1.0.0.1"
