#!/bin/bash
# Structural check of the shipped 32-bit DLL: this kernel cannot run 32-bit
# code, so the file itself is examined.
set -u
dll="$1"
dump=$(i686-w64-mingw32-objdump -p "$dll") || { echo "objdump failed"; exit 1; }
fail=0
check() { if ! grep -qE "$1" <<<"$dump"; then echo "missing: $2"; fail=1; fi; }

check '^Magic[[:space:]]+010b' "PE32 optional header (magic 0x10b)"
i686-w64-mingw32-objdump -f "$dll" | grep -q 'architecture: i386' || { echo "not i386"; fail=1; }
check 'Name[[:space:]]+[0-9a-f]+[[:space:]]+QXTINTRA\.dll' "export table name QXTINTRA.dll"
for pair in 5:QxUtilityInit 6:QxUtilityUnInit 7:QxUtilityAddPages 8:DllCanUnloadNow 9:DllGetClassObject; do
    ord=${pair%%:*}; name=${pair#*:}
    # "[   k] Name" in the name table: ordinal = base (5) + k
    check "^[[:space:]]*\[ *$((ord - 5))\] $name\$" "export $name @$ord"
done
check "Ordinal Base 5$" "ordinal base 5"
exports=$(grep -cE '\[ *[0-9]+\] \+base\[' <<<"$dump")
[ "$exports" = 5 ] || { echo "expected 5 exports, found $exports"; fail=1; }

# Only system DLLs may be imported: the runtimes are linked in statically.
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|version|ole32|oleaut32|msvcrt|msimg32|shlwapi)\.dll$'
while read -r imp; do
    if ! grep -qiE "$allowed" <<<"$imp"; then echo "non-system import: $imp"; fail=1; fi
done < <(grep -oP 'DLL Name: \K\S+' <<<"$dump")
# No thread emulation: a thread-safe guard (a function-local static with a
# dynamic initialiser) pulls the runtime's pthread layer in, whose per-thread
# records (an event, a thread handle, heap blocks) outlive the library after
# FreeLibrary. Its kernel imports give it away.
threading=$(grep -oE '\b(CreateEventA|CreateSemaphoreA|DuplicateHandle|TlsAlloc|_beginthreadex)\b' <<<"$dump" | sort -u)
[ -z "$threading" ] || { echo "thread emulation linked in:" $threading; fail=1; }
[ $fail = 0 ] && echo "QXTINTRA.dll: PE32 i386, 5 exports with ordinals 5-9, system imports only, no thread emulation"
exit $fail
