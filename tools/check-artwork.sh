#!/bin/bash
# Regenerates the artwork into a scratch directory and compares it byte for
# byte with the committed pictures in resources/art/.
#
# The JPEG pictures are encoded by Pillow's libjpeg, so their bytes are only
# promised for the build they were made with (MADE_WITH_PILLOW in the
# script); on another build the check reports a skip (exit 77) instead of a
# difference. Everything else is written by the script itself.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
py=/usr/bin/python3
script=$here/resources/make_artwork.py
want=$(sed -n 's/^MADE_WITH_PILLOW = "\(.*\)"$/\1/p' "$script")
have=$($py -c 'import PIL; print(PIL.__version__)' 2>/dev/null) || { echo "no Pillow for $py"; exit 77; }
if [ "$want" != "$have" ]; then
    echo "artwork was made with Pillow $want, this is $have: not comparable byte for byte"
    exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
$py "$script" --out "$tmp" || exit 1
status=0
for f in "$here"/resources/art/* "$tmp"/*; do
    name=$(basename "$f")
    if ! cmp -s "$here/resources/art/$name" "$tmp/$name"; then
        echo "differs or missing: $name"
        status=1
    fi
done
[ $status -eq 0 ] && echo "artwork reproduced byte for byte ($(ls "$tmp" | wc -l) files)"
exit $status
