#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: the whole
# suite under ASan+UBSan, then the default build, which also cross-builds
# the Windows DLLs, checks them and runs the Windows test programs under
# Wine. The last line printed is CTest's summary of that run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs="$(nproc)"

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"
