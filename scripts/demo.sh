#!/usr/bin/env bash
# The README's first command: installs what is needed, builds the release
# tree, starts the controller simulator r2600-sim on a pseudo-terminal and
# takes a short tour of the driver with the melbax tool. The simulator is
# stopped at the end, also after an error or Ctrl-C: nothing keeps running.
#
# KAVIROS_BUILD_DIR builds somewhere else than build/release.
set -euo pipefail
cd "$(dirname "$0")/.."

heading() { printf '\n== %s\n' "$*"; }
note() { printf '\n'; printf '   %s\n' "$@"; }

heading "Installing what is needed (Debian packages)"
./scripts/install-deps.sh

heading "Building the driver, melbax and r2600-sim (release)"
build="${KAVIROS_BUILD_DIR:-build/release}"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target kaviros melbax_tool r2600-sim \
  >/dev/null
bin="$build/bin"
echo "done: $bin/melbax, $bin/r2600-sim, $build/lib/libkaviros.so"

work="$(mktemp -d)"
sim_pid=""
stop_simulator() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=""
}
finish() {
  stop_simulator
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

heading "Starting the simulator"
# Two controllers, stations 01 and 02, on one line at 9600 baud; their
# setpoints ramp at 60 degC per minute (PI 02 = 600), so values move.
"$bin/r2600-sim" --stations 01,02 --set 02=600 --baud 9600 \
  >"$work/port" 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
port="$(head -n 1 "$work/port")"
if [ -z "$port" ]; then
  echo "demo: the simulator did not start:" >&2
  cat "$work/sim.log" >&2
  exit 1
fi
head -n 1 "$work/sim.log"

# Each step shows the command as you would type it, then its output.
melbax() {
  printf '\n$ melbax --port %s %s\n' "$port" "$*"
  "$bin/melbax" --port "$port" "$@"
}

heading "The driver"
printf '\n$ melbax info\n'
"$bin/melbax" info

heading "Reads of each kind"
note "Addresses are hexadecimal: SSPP is parameter PP of station SS, SSPPBB" \
  "bit BB of it; F0-F3 are the cycle values, F5 the equipment status."
note "0110: a 16-bit parameter   0135: an 8-bit parameter" \
  "0121: the 32-bit operating-seconds counter   013502: bit 2 of 0135" \
  "01F0: actual temperature (0.1 degC)   01F2: controller output (%)"
melbax read 0110 0135 0121:int32 013502 01F0 01F2
note "Station 02 on the same line, its setpoint and serial number:"
melbax read 0200 0264

heading "A value write: the setpoint of station 01 to 90.0 degC"
melbax write 0100 900
melbax read 0100

heading "A bit write: bit 1 of parameter 35"
melbax write 013501 1
melbax read 0135 013501

heading "A block read: the four cycle values in one exchange"
note "F0 actual temperature, F1 setpoint on its ramp, F2 output, F3 deviation"
melbax block 01F0

heading "The equipment status"
melbax status 01

heading "What goes over the line (--trace)"
melbax --trace read 0110

heading "Watching values move: a few seconds of monitor"
note "On a terminal a table updated in place; into a pipe, CSV lines."
melbax monitor 01F0:block 0100 --interval 500 --duration 4

heading "Stopping the simulator"
stop_simulator
tail -n 1 "$work/sim.log"
echo
echo "Next: '$bin/r2600-sim' in one terminal, then"
echo "'$bin/melbax --port <the port it prints> --help' in another."
