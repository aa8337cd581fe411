#!/usr/bin/env bash
# Static checks of a Windows build of the driver DLL:
#   - it exports exactly one name, KaviMain, undecorated;
#   - it imports err from MELBAX.dll and otherwise only system DLLs (no
#     compiler runtime DLLs);
#   - on i686, KaviMain follows the Win32 API convention: the callee pops its
#     4-byte argument (its returns are `ret $0x4`).
# Usage: check-dll.sh path/to/kaviros.dll i686|x86_64
set -euo pipefail
dll="$1" arch="$2"
objdump="${arch}-w64-mingw32-objdump"
fail() { echo "check-dll: $dll: $*" >&2; exit 1; }
[ -f "$dll" ] || fail "not found"
headers="$("$objdump" -p "$dll")"
case "$arch" in
  i686) format=pei-i386 ;;
  *) format=pei-x86-64 ;;
esac
"$objdump" -f "$dll" | grep -q "file format $format" || fail "not a $format DLL"

exports="$(awk '/^\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^\t\[/{print $NF} t&&/^$/{t=0}' <<<"$headers")"
[ "$exports" = "KaviMain" ] || fail "exports must be exactly KaviMain, found: $(echo $exports)"

dlls="$(awk '/DLL Name:/{print $3}' <<<"$headers" | sort -u)"
for name in $dlls; do
  case "${name,,}" in
    melbax.dll|kernel32.dll|msvcrt.dll|advapi32.dll|user32.dll|ntdll.dll|api-ms-win-*) ;;
    *) fail "imports from $name (only system DLLs and MELBAX.dll allowed)" ;;
  esac
done
melbax="$(awk '/DLL Name:/{d=$3} d=="MELBAX.dll" && /^\t[0-9a-f]+\t/{print $NF}' <<<"$headers")"
[ "$melbax" = "err" ] || fail "must import exactly err from MELBAX.dll, found: $(echo $melbax)"

if [ "$arch" = "i686" ]; then
  base="$(awk '/^ImageBase/{print $2}' <<<"$headers")"
  rva="$(awk '/^Export Address Table -- Ordinal Base/{t=1;next} t&&/Export RVA/{print $(NF-2);exit}' <<<"$headers")"
  start=$(printf '0x%x' $((0x$base + 0x$rva)))
  rets="$("$objdump" -d --no-show-raw-insn --start-address="$start" \
           --stop-address=$(printf '0x%x' $((start + 0x400))) "$dll" |
         grep -E '\sret' | head -n 1)"
  grep -qE 'ret\s+\$0x4' <<<"$rets" ||
    fail "KaviMain does not pop its argument (first return: '$rets')"
fi
summary="exports KaviMain only, imports err from MELBAX.dll, system DLLs otherwise"
[ "$arch" = "i686" ] && summary="$summary, KaviMain pops its 4-byte argument"
echo "check-dll: $dll: $summary"
