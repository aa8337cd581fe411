#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: the whole
# suite under ASan+UBSan, the fuzzers for a bounded time, then the default
# build, which also cross-builds the Windows DLLs, checks them and runs the
# Windows test programs under Wine, and whose tests include the soak under
# faults and the end-to-end run under valgrind. The last line printed is
# CTest's summary of that run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs="$(nproc)"

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

# The fuzzers (clang, libFuzzer, ASan+UBSan), each for a bounded time from
# its seeds: KAVIROS_FUZZ_SECONDS, 60 by default.
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz -j "$jobs"

cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"
