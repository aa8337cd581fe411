#!/usr/bin/env bash
# Static checks of the Linux driver library: it defines exactly one dynamic
# symbol, KaviMain, and leaves the host's melbax_err to the host process.
# Usage: check-so.sh path/to/libkaviros.so
set -euo pipefail
so="$1"
fail() { echo "check-so: $so: $*" >&2; exit 1; }
defined="$(nm -D --defined-only "$so" | awk '{print $NF}')"
[ "$defined" = "KaviMain" ] || fail "must define exactly KaviMain, found: $(echo $defined)"
nm -D --undefined-only "$so" | grep -qw melbax_err || fail "does not import melbax_err"
if nm -D --undefined-only "$so" | grep -qE '_Zn[wa]m|\bmalloc\b|__cxa_throw'; then
  fail "uses the heap or exceptions"
fi
echo "check-so: $so: defines KaviMain only, imports melbax_err from the host"
