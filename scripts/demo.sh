#!/usr/bin/env bash
# Installs what is needed, builds, and shows the driver at work through the
# melbax host tool.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null
bin=build/release/bin

echo "== melbax info"
"$bin/melbax" info
