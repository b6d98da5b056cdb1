#!/bin/bash
# Runs a Windows program of the 64-bit build under 64-bit Wine, in the build
# tree's own prefix.   run-wine.sh PREFIX --init | PROGRAM [ARGS...]
set -e
export WINEPREFIX="$1"; shift
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
WINE=/usr/lib/wine/wine64
if [ -z "$DISPLAY" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$WINEPREFIX" "$@"
fi
if [ "$1" = "--init" ]; then
    # Made once per build tree; later runs find it ready.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        /usr/lib/wine/wineserver -w
    fi
    test -f "$WINEPREFIX/system.reg"
    # The prefix's settings, applied once (a newer list gets a new marker).
    # - No visual style: Windows gives a page of a module without a
    #   common-controls 6 manifest (this one) the classic controls, on the
    #   button face, even inside a themed sheet; Wine would theme them.
    #   README.md, "Gallery", says more.
    # - Wine draws captions and frames itself: a virtual display has no
    #   window manager, and the pictures would show a black band.
    # - The test program manages its own windows, or every top-level window
    #   it closes waits about two seconds for a manager that never answers;
    #   the demo keeps the desktop's manager when there is one.
    marker="$WINEPREFIX/.qx-settings-2"
    if [ ! -f "$marker" ]; then
        "$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
            /v ThemeActive /d 0 /f >/dev/null 2>&1
        "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
        "$WINE" reg add 'HKCU\Software\Wine\AppDefaults\qx_wine_tests.exe\X11 Driver' \
            /v Managed /d N /f >/dev/null 2>&1
        /usr/lib/wine/wineserver -w
        grep -q '^"ThemeActive"="0"' "$WINEPREFIX/user.reg"
        touch "$marker"
    fi
    exit 0
fi
exec "$WINE" "$@"
