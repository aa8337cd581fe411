#!/usr/bin/env bash
# Runs one fuzzer for a bounded time, starting from the repository's seeds
# in a scratch corpus (the seeds stay as they are). Fails on any crash, leak
# or slow input; the input that did it is kept in the working folder as
# crash-*, leak-* or timeout-* and shown in hex.
#
#   run-fuzzer.sh FUZZER SEED_FOLDER [libFuzzer options...]
#
# KAVIROS_FUZZ_SECONDS sets the time (default: KAVIROS_FUZZ_DEFAULT_SECONDS
# from CTest, else 60).
set -euo pipefail
fuzzer=$1
seeds=$2
shift 2
seconds=${KAVIROS_FUZZ_SECONDS:-${KAVIROS_FUZZ_DEFAULT_SECONDS:-60}}

work=$(mktemp -d "${TMPDIR:-/tmp}/kaviros-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp "$seeds"/* "$work/corpus/"

status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/" "$@" "$work/corpus" \
  >"$work/log" 2>&1 || status=$?

echo "$(basename "$fuzzer"): ${seconds} s from $(ls "$seeds" | wc -l) seeds"
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::' "$work/log" || true
if [ "$status" -ne 0 ]; then
  tail -n 80 "$work/log"
  for found in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* \
               "$work"/slow-unit-*; do
    [ -e "$found" ] || continue
    cp "$found" .
    echo "input kept as $(pwd)/$(basename "$found"):"
    od -An -tx1 "$found" | head -n 20
  done
  echo "$(basename "$fuzzer"): FAILED (exit $status)"
fi
exit "$status"
