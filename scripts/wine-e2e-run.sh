#!/usr/bin/env bash
# Runs the 64-bit Windows end-to-end program under Wine against simulated
# controllers: the Linux helper kaviros_wine_sim runs them at the program's
# request, each on a pseudo-terminal linked as $prefix/dosdevices/comN, so
# that the Windows program and the melbax.exe it starts reach them as COM
# ports through the driver's Win32 backend.
#   wine-e2e-run.sh --prefix DIR --sim SIMPEER --preload LIB program.exe [args]
# See wine-line-lib.sh for how the ports are prepared. One run at a time
# uses the prefix; the serial tests share it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
prefix=""
sim=""
preload=""
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --sim) sim="$2"; shift 2 ;;
    --preload) preload="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || [ -z "$sim" ] || [ -z "$preload" ] || [ $# -eq 0 ]; then
  echo "usage: $0 --prefix DIR --sim SIMPEER --preload LIB program.exe [args...]" >&2
  exit 2
fi
# shellcheck source=scripts/wine-line-lib.sh
. "$here/wine-line-lib.sh"
wine_line_tools

mkdir -p "$(dirname "$prefix")"
exec 8>"$prefix.serial.lock"
flock 8
wine_line_prefix

work="$(mktemp -d)"
server_pid=""
peer_pid=""
cleanup() {
  # The wineserver before the far ends: see wine-line-lib.sh.
  wine_line_server_stop
  wine_line_peer_stop
  rm -rf "$work"
}
trap cleanup EXIT

wine_line_server_start
wine_line_peer_start "$sim" --dosdevices "$prefix/dosdevices"

# The program's whole run normally takes well under a minute.
status=0
KAVIROS_WINE_TIMEOUT="${KAVIROS_WINE_TIMEOUT:-300}" \
KAVIROS_SIM_PEER="$peer_port" LD_PRELOAD="$preload" \
  "$here/wine-run.sh" --prefix "$prefix" "$@" || status=$?
exit "$status"
