#!/bin/bash
# make demo: the page in a window when there is a display; otherwise says so,
# saves the page as a picture and prints where.   demo.sh BUILD_DIR [ARGS...]
set -u
build=$1; shift
run=(bash "$(dirname "$0")/wine/run-wine.sh" "$build/x64/wineprefix" "$build/x64/qxdemo.exe")
if [ -n "${DISPLAY:-}" ]; then
    exec "${run[@]}" "$@"
fi
shot=$build/qxtintra-page.png
echo "make demo: no display here (DISPLAY is not set), so the page is not shown in a window;"
echo "           it is drawn in a virtual display and saved as a picture instead."
"${run[@]}" --screenshot "$shot" "$@" || exit $?
echo "The page: $shot"
