#!/usr/bin/env bash
# Builds the benchmarks in Release and prints every figure as `name: value`:
# the machine; micro-benchmarks of the driver on port doubles (ns per
# operation); exchanges on a line paced at 9600 baud 8E1 by the simulator,
# as a ratio to their line time, with the thread's wake-ups; one 16-bit read
# against a libmodbus read on unpaced pseudo-terminals; and the system calls
# of each kind of exchange, counted by strace, on the paced line and on an
# unpaced one.
#
# Usage: scripts/bench.sh [--runs N]
#   --runs N   run everything N times and print the median of each figure
#
# Needs what scripts/install-deps.sh installs (libbenchmark-dev,
# libmodbus-dev, strace). Builds in build/bench, or $KAVIROS_BENCH_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; }
runs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="${2:-}"; shift 2 || { usage >&2; exit 2; } ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
case "$runs" in ''|*[!0-9]*|0) echo "bench: --runs takes a number from 1" >&2; exit 2 ;; esac

for tool in cmake ninja strace; do
  command -v "$tool" >/dev/null ||
    { echo "bench: $tool is missing; run scripts/install-deps.sh" >&2; exit 1; }
done

build="${KAVIROS_BENCH_BUILD:-build/bench}"
bin="$build/bin"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
       -DKAVIROS_WINDOWS_BUILDS=OFF >"$work/build.log" 2>&1 ||
   ! grep -q kaviros_bench_peer "$build/build.ninja"; then
  cat "$work/build.log" >&2
  echo "bench: the benchmarks need libbenchmark-dev and libmodbus-dev;" \
       "run scripts/install-deps.sh" >&2
  exit 1
fi
if ! cmake --build "$build" -j "$(nproc)" --target kaviros_bench_micro \
       kaviros_bench_micro_fake kaviros_bench_line kaviros_bench_peer \
       >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  exit 1
fi

# System calls per exchange: strace follows the main thread alone (no -f),
# which makes every call of the driver (or of libmodbus); the threads of the
# simulator and of the responders are not traced. The programs mark where
# the exchanges of a kind begin and end with
# access("/kaviros-bench/<kind>/<begin|end>/<count>").
# Usage: syscalls <figure prefix> <detail: 1 per system call, 0 total>
#        <program and its arguments...>
syscalls() {
  local prefix="$1" detail="$2"
  shift 2
  strace -qq -o "$work/strace.txt" "$@" >/dev/null
  awk -v prefix="$prefix" -v detail="$detail" '
    /^access\("\/kaviros-bench\// {
      split($0, part, "/")
      if (part[4] == "begin") {
        kind = part[3]; per[kind] = part[5] + 0; order[++kinds] = kind
      } else {
        kind = ""
      }
      next
    }
    kind == "" || !match($0, /^[a-z_0-9]+\(/) { next }
    {
      name = substr($0, 1, RLENGTH - 1)
      if (name == "ioctl") {
        request = $0
        sub(/^ioctl\([0-9]+, /, "", request)
        sub(/[,)].*/, "", request)
        sub(/.* /, "", request)  # "SNDCTL_TMR_START or TCSETS"
        name = "ioctl_" request
      }
      if (!((kind, name) in count)) names[kind] = names[kind] " " name
      count[kind, name]++
      total[kind]++
    }
    END {
      for (k = 1; k <= kinds; k++) {
        kind = order[k]
        printf "%s.%s: %.2f\n", prefix, kind, total[kind] / per[kind]
        if (!detail) continue
        n = split(names[kind], list, " ")
        for (i = 1; i <= n; i++) {
          printf "%s.%s.%s: %.2f\n", prefix, kind, list[i], \
                 count[kind, list[i]] / per[kind]
        }
      }
    }' "$work/strace.txt"
}

one_run() {
  "$bin/kaviros_bench_micro" --benchmark_min_time=0.2
  "$bin/kaviros_bench_micro_fake" --benchmark_min_time=0.2
  "$bin/kaviros_bench_line" --transactions 60
  "$bin/kaviros_bench_peer"
  syscalls syscalls 1 "$bin/kaviros_bench_line" --syscalls --transactions 20
  syscalls syscalls_unpaced 0 "$bin/kaviros_bench_line" --syscalls --baud 0 \
    --transactions 20
  syscalls syscalls_peer 1 "$bin/kaviros_bench_peer" --syscalls \
    --transactions 20
}

echo "machine.cpu: $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
echo "machine.cores: $(nproc)"
echo "machine.kernel: $(uname -r)"
echo "runs: $runs"

if [ "$runs" -eq 1 ]; then
  one_run
  exit 0
fi
for run in $(seq "$runs"); do
  echo "bench: run $run of $runs" >&2
  one_run >"$work/run$run.txt"
done
# The median of each figure over the runs, in the order of the first run.
awk -F': ' '
  { if (!($1 in n)) order[++names] = $1; value[$1, ++n[$1]] = $2 }
  END {
    for (i = 1; i <= names; i++) {
      name = order[i]; m = n[name]
      for (a = 1; a <= m; a++) v[a] = value[name, a] + 0
      for (a = 2; a <= m; a++) {
        x = v[a]
        for (b = a - 1; b >= 1 && v[b] > x; b--) v[b + 1] = v[b]
        v[b + 1] = x
      }
      median = m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
      decimals = value[name, 1]
      decimals = index(decimals, ".") ? length(decimals) - index(decimals, ".") : 0
      printf "%s: %." decimals "f\n", name, median
    }
  }' "$work"/run*.txt
