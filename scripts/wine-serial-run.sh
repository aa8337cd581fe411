#!/usr/bin/env bash
# Runs a 64-bit Windows test program of the serial layer under Wine with two
# COM ports, \\.\COM41 and \\.\COM42, each a pseudo-terminal whose far end
# the Linux peer (kaviros_pty_peer) drives at the program's request.
#   wine-serial-run.sh --prefix DIR --peer PEER program.exe [args...]
# The prefix is the serial tests' own; one run at a time uses it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
prefix=""
peer=""
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --peer) peer="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || [ -z "$peer" ] || [ $# -eq 0 ]; then
  echo "usage: $0 --prefix DIR --peer PEER program.exe [args...]" >&2
  exit 2
fi
wine="$(command -v wine64 || true)"
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
wineserver="$(command -v wineserver || true)"
[ -n "$wineserver" ] || wineserver="$(dirname "$wine")/wineserver"

mkdir -p "$(dirname "$prefix")"
exec 8>"$prefix.serial.lock"
flock 8
# Wine makes a prefix whole only when it makes the directory itself, so the
# prefix exists before anything is linked into it.
if [ ! -f "$prefix/system.reg" ]; then
  "$here/wine-run.sh" --prefix "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true
fi

work="$(mktemp -d)"
peer_pid=""
cleanup() {
  exec 9>&- 2>/dev/null || true
  if [ -n "$peer_pid" ]; then wait "$peer_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The peer runs until its standard input, our descriptor 9, closes.
mkfifo "$work/peer-input"
"$peer" --port-file "$work/port" \
  "$prefix/dosdevices/com41" "$prefix/dosdevices/com42" \
  <"$work/peer-input" &
peer_pid=$!
exec 9>"$work/peer-input"
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  kill -0 "$peer_pid" 2>/dev/null || { echo "peer failed" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/port" ] || { echo "peer did not start" >&2; exit 1; }

status=0
KAVIROS_LINE_PEER="$(cat "$work/port")" \
KAVIROS_LINE_PORTS='\\.\COM41;\\.\COM42' \
  "$here/wine-run.sh" --prefix "$prefix" "$@" || status=$?

# The wineserver opened the first terminal without O_NOCTTY and made it its
# controlling terminal: it has to be gone before the far ends close, or the
# hang-up reaches it.
WINEPREFIX="$prefix" timeout 60 "$wineserver" -w ||
  WINEPREFIX="$prefix" "$wineserver" -k || true
exit "$status"
