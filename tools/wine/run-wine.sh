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
    # No visual style: Windows gives a page of a module without a
    # common-controls 6 manifest (this one) the classic controls, on the
    # button face, even inside a themed sheet. Wine would theme them.
    # README.md, "Gallery", says more.
    if ! grep -q '^"ThemeActive"="0"' "$WINEPREFIX/user.reg" 2>/dev/null; then
        "$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
            /v ThemeActive /d 0 /f >/dev/null 2>&1
        /usr/lib/wine/wineserver -w
    fi
    grep -q '^"ThemeActive"="0"' "$WINEPREFIX/user.reg"
    exit 0
fi
exec "$WINE" "$@"
