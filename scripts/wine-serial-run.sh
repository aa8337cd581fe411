#!/usr/bin/env bash
# Runs a 64-bit Windows test program of the serial layer under Wine with two
# COM ports, \\.\COM41 and \\.\COM42, each a pseudo-terminal whose far end
# the Linux peer (kaviros_pty_peer) drives at the program's request.
#   wine-serial-run.sh --prefix DIR --peer PEER --preload LIB program.exe [args]
# LIB is tests/wine/pty_port_preload.c built: Wine reads every
# pseudo-terminal as RTS enabled, whatever its attributes (CRTSCTS too),
# and the driver's lineFlags rule would make that RTS toggle, which Wine
# refuses; preloaded, Wine reads RTS low and the rule gives handshake.
# wine-line-lib.sh has the details. One run at a time uses the prefix.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
prefix=""
peer=""
preload=""
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --peer) peer="$2"; shift 2 ;;
    --preload) preload="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || [ -z "$peer" ] || [ -z "$preload" ] || [ $# -eq 0 ]; then
  echo "usage: $0 --prefix DIR --peer PEER --preload LIB program.exe [args...]" >&2
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
  wine_line_server_stop
  wine_line_peer_stop
  rm -rf "$work"
}
trap cleanup EXIT

wine_line_server_start
wine_line_peer_start "$peer" \
  "$prefix/dosdevices/com41" "$prefix/dosdevices/com42"

# The program's whole run normally takes well under a minute.
status=0
KAVIROS_WINE_TIMEOUT="${KAVIROS_WINE_TIMEOUT:-300}" \
KAVIROS_LINE_PEER="$peer_port" \
KAVIROS_LINE_PORTS='\\.\COM41;\\.\COM42' \
LD_PRELOAD="$preload" \
  "$here/wine-run.sh" --prefix "$prefix" "$@" || status=$?
exit "$status"
