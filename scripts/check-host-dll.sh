#!/usr/bin/env bash
# Static checks of a Windows build of the host, in the build's bin folder:
#   - MELBAX.dll exports exactly err, melbax_bind and melbax_trace,
#     undecorated (the driver imports err by that name);
#   - MELBAX.dll and melbax.exe import from system DLLs only: no compiler
#     runtime DLLs, and melbax.exe loads MELBAX.dll at run time, beside it.
# Usage: check-host-dll.sh path/to/bin i686|x86_64
set -euo pipefail
bin="$1" arch="$2"
objdump="${arch}-w64-mingw32-objdump"
fail() { echo "check-host-dll: $*" >&2; exit 1; }

system_imports_only() {
  local file="$1" name
  for name in $(awk '/DLL Name:/{print $3}' <<<"$("$objdump" -p "$file")" | sort -u); do
    case "${name,,}" in
      kernel32.dll|msvcrt.dll|advapi32.dll|user32.dll|ntdll.dll|api-ms-win-*) ;;
      *) fail "$file imports from $name (only system DLLs allowed)" ;;
    esac
  done
}

dll="$bin/MELBAX.dll"
exe="$bin/melbax.exe"
[ -f "$dll" ] || fail "$dll not found"
[ -f "$exe" ] || fail "$exe not found"

exports="$(awk '/^\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^\t\[/{print $NF} t&&/^$/{t=0}' \
  <<<"$("$objdump" -p "$dll")" | sort | tr '\n' ' ')"
[ "$exports" = "err melbax_bind melbax_trace " ] ||
  fail "$dll must export exactly err, melbax_bind, melbax_trace; found: $exports"
system_imports_only "$dll"
system_imports_only "$exe"
echo "check-host-dll: $bin: MELBAX.dll exports err, melbax_bind, melbax_trace; MELBAX.dll and melbax.exe import system DLLs only"
