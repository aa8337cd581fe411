#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine: private prefix (created once),
# no debug output, no display, bounded in time so that a Wine problem fails
# the caller instead of hanging it.
#   wine-run.sh [--prefix DIR] program.exe [args...]
set -euo pipefail
prefix="${KAVIROS_WINEPREFIX:-${TMPDIR:-/tmp}/kaviros-wineprefix-$(id -u)}"
if [ "${1:-}" = "--prefix" ]; then prefix="$2"; shift 2; fi
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wine="$(command -v wine64 || true)"
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || true
    timeout 60 "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
  fi
) 9>"$prefix.lock"
exec timeout -k 10 "${KAVIROS_WINE_TIMEOUT:-600}" "$wine" "$@"
