#!/usr/bin/env bash
# Runs the 64-bit Windows melbax.exe under Wine against r2600-sim, the way
# the Windows end-to-end tests do, for trying the Windows product by hand:
#   wine-melbax.sh [--build DIR] [--sim "SIM OPTIONS"] MELBAX ARGUMENTS...
# e.g. wine-melbax.sh --sim "--stations 01,02" read 0110 01F0
#      wine-melbax.sh monitor 01F0:block --count 5
# The simulator serves COM9 of the build's serial-test Wine prefix and
# stops when melbax.exe ends. DIR is a build of this tree with the Windows
# builds (default: build/default).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$here/../build/default"
sim_options=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --sim) sim_options="$2"; shift 2 ;;
    *) break ;;
  esac
done
build="$(cd "$build" && pwd)"
melbax="$build/windows-x86_64/bin/melbax.exe"
sim="$build/bin/r2600-sim"
preload="$build/lib/libkaviros_wine_pty_port.so"
for file in "$melbax" "$sim" "$preload"; do
  [ -e "$file" ] || { echo "$file not found: build $build first" >&2; exit 2; }
done
prefix="$build/wineprefix-serial"
# shellcheck source=scripts/wine-line-lib.sh
. "$here/wine-line-lib.sh"
wine_line_tools

exec 8>"$prefix.serial.lock"
flock 8
wine_line_prefix

work="$(mktemp -d)"
server_pid=""
sim_pid=""
cleanup() {
  wine_line_server_stop
  exec 9>&- 2>/dev/null || true
  if [ -n "$sim_pid" ]; then
    timeout 30 tail --pid="$sim_pid" -f /dev/null 2>/dev/null ||
      kill "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

wine_line_server_start
# The simulator stops when its standard input, our descriptor 9, closes.
mkfifo "$work/sim-input"
# shellcheck disable=SC2086  # the simulator's options are words
"$sim" --quiet --exit-on-eof --link "$prefix/dosdevices/com9" $sim_options \
  <"$work/sim-input" >"$work/sim-port" &
sim_pid=$!
exec 9>"$work/sim-input"
for _ in $(seq 200); do
  [ -s "$work/sim-port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "r2600-sim did not start" >&2; exit 1; }
  sleep 0.05
done

status=0
LD_PRELOAD="$preload" "$here/wine-run.sh" --prefix "$prefix" \
  "$melbax" --port COM9 "$@" || status=$?
exit "$status"
