#!/bin/bash
# Draws the README gallery with the demo host: both tabs in both styles, the
# Kp family's single tab, an 8-bit display and a translated page.
#   tools/make-gallery.sh [BUILD_DIR [NAME...]]   (writes docs/gallery/*.png, or only NAME.png ...)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
shift || true
only=" $* "
out=$here/docs/gallery
mkdir -p "$out"
wanted() { [ "$only" = "  " ] || [[ "$only" == *" $1 "* ]]; }
winreg() { # reg.exe in the build's prefix
    bash "$here/tools/wine/run-wine.sh" "$build/x64/wineprefix" reg "$@" >/dev/null 2>&1
    WINEPREFIX=$build/x64/wineprefix /usr/lib/wine/wineserver -w
}
shot() { # NAME DEPTH ARGS...
    local name=$1 depth=$2; shift 2
    wanted "$name" || return 0
    DISPLAY= WINEPREFIX=$build/x64/wineprefix xvfb-run -a -s "-screen 0 1024x768x$depth" \
        bash "$here/tools/wine/run-wine.sh" "$build/x64/wineprefix" "$build/x64/qxdemo.exe" \
        --delay 1000 --screenshot "$out/$name.png" "$@" | grep -q "screenshot written"
    # A palette picture is a tenth of the size and looks the same here.
    /usr/bin/python3 -c 'import sys; from PIL import Image
Image.open(sys.argv[1]).convert("RGB").quantize(256).save(sys.argv[1], optimize=True)' "$out/$name.png"
    echo "$out/$name.png"
}
# The same with Wine reporting Windows XP to the demo host, so the module takes
# its road for the NT family up to XP; README.md, "Gallery", says why.
xp_key='HKCU\Software\Wine\AppDefaults\qxdemo.exe'
shot_as_xp() { # NAME DEPTH ARGS...
    wanted "$1" || return 0
    winreg add "$xp_key" /v Version /d winxp64 /f
    trap 'winreg delete "$xp_key" /f' EXIT
    shot "$@"
    winreg delete "$xp_key" /f
    trap - EXIT
}
cd "$here"
# The prefix as the tests and the demo have it (no visual style).
bash "$here/tools/wine/run-wine.sh" "$build/x64/wineprefix" --init
# On the artistic tab the keyboard is on Neon Edges, as after tabbing there;
# on the deblocking tab it stays on the tab row.
shot lustre-artistic 24 --focus 342
shot lustre-deblocking 24 --effect 0x100 --level 4
shot classic-artistic 24 --style Classic --focus 342
shot classic-deblocking 24 --style Classic --effect 0x100 --level 4
shot kp-single-tab 24 --family 21 --caps 0x300 --effect 0x100 --level 3
shot_as_xp lustre-8bit 8
shot german 24 --cfg resources/config/QXTINTRA.CFG --language German
shot harbour-skin 24 --reg docs/sample-skin/harbour.reg --cfg docs/sample-skin/HARBOUR.CFG
