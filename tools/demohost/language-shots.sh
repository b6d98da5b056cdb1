#!/bin/bash
# Screenshots of the page in the translated languages of the sample
# configuration file, for docs/:
#   language-shots.sh BUILD_X64_DIR OUT_DIR [TAG [DEMO OPTIONS...]]
# writes OUT_DIR/qxtintra-page-<language><TAG>.png, e.g. with
#   TAG=-deblock and --effect 0x100 the deblocking tab.
#
# The sample keeps each language in its own ANSI code page, and Wine takes
# the code page from the Unix locale: each language runs in a locale of its
# own, compiled into the build tree (no system locale is changed). Wine draws
# the East Asian texts with the CJK font tools/setup.sh installs.
set -e
build=$(cd "$1" && pwd); out=$(mkdir -p "$2" && cd "$2" && pwd)
tag=$3; shift $(( $# < 3 ? $# : 3 ))
here=$(cd "$(dirname "$0")/../.." && pwd)
locales="$build/locales"
mkdir -p "$locales"
run() {  # locale file-name language [demo options]
    local loc=$1 png="$out/qxtintra-page-$2$tag.png" language=$3; shift 3
    [ -d "$locales/$loc" ] || localedef -i "${loc%%.*}" -f UTF-8 "$locales/$loc"
    LOCPATH="$locales" LC_ALL="$loc" bash "$here/tools/wine/run-wine.sh" "$build/wineprefix" \
        "$build/qxdemo.exe" --cfg resources/config/QXTINTRA.CFG --language "$language" --delay 1200 \
        --screenshot "$png" "$@" | grep -v '^driver:'
    # The demo host writes its pictures quickly rather than small.
    convert "$png" -strip -define png:compression-level=9 "$png"
}
bash "$here/tools/wine/run-wine.sh" "$build/wineprefix" --init
cd "$here"
run de_DE.UTF-8 german German "$@"
run ja_JP.UTF-8 japanese Japanese --shell "$@"
run zh_CN.UTF-8 chs "Simplified Chinese" "$@"
run zh_TW.UTF-8 cht "Traditional Chinese" "$@"
