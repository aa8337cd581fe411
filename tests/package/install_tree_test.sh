#!/usr/bin/env bash
# `cmake --install` into an empty prefix, then use what landed there as a
# user would: the tools from their install folder, a C host built against the
# installed header through pkg-config, a C++ host built against the installed
# libmelbax through pkg-config.
# Usage: install_tree_test.sh BUILD_DIR SCRATCH_DIR CC CXX TEST_SOURCE_DIR CMAKE
set -euo pipefail
build="$1" scratch="$2" cc="$3" cxx="$4" here="$5" cmake="$6"
source "$here/lib.sh"
trap stop_sim EXIT

rm -rf "$scratch"
mkdir -p "$scratch"
prefix="$scratch/prefix"
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
  { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }

driver="$(find "$prefix" -name libkaviros.so -print -quit)"
[ -n "$driver" ] || fail "no libkaviros.so installed"
libdir="$(dirname "$driver")"
case "$libdir" in
  "$prefix"/lib | "$prefix"/lib/*-linux-gnu*) ;;
  *) fail "libraries went to $libdir, not under $prefix/lib" ;;
esac
for file in bin/melbax bin/r2600-sim include/kaviros/kaviros.h \
  include/melbax/driver.h include/melbax/instance.h include/melbax/export.h \
  share/man/man1/melbax.1.gz share/man/man1/r2600-sim.1.gz \
  share/doc/kaviros/README.md share/doc/kaviros/architecture.md \
  share/doc/kaviros/protocol.md share/doc/kaviros/troubleshooting.md; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for file in libmelbax.so libmelbax.so.1 pkgconfig/kaviros.pc \
  pkgconfig/melbax.pc; do
  [ -e "$libdir/$file" ] || fail "$libdir/$file is not installed"
done
programs="$(cd "$prefix/bin" && echo *)"
[ "$programs" = "melbax r2600-sim" ] ||
  fail "bin/ must hold melbax and r2600-sim only, holds: $programs"
for page in melbax r2600-sim; do
  gzip -t "$prefix/share/man/man1/$page.1.gz" || fail "$page.1.gz is damaged"
done

echo "+ melbax info"
info="$(env -u KAVIROS_DRIVER "$prefix/bin/melbax" info)" ||
  fail "installed melbax info exited with $?"
echo "$info"
loaded="$(sed -n 's/^driver: *//p' <<<"$info")"
[ "$(realpath "$loaded")" = "$(realpath "$driver")" ] ||
  fail "installed melbax loaded $loaded, not the installed driver $driver"
read_from_sim "$prefix/bin/melbax" "$prefix/bin/r2600-sim"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion kaviros)" = "$(pkg-config --modversion melbax)" ] ||
  fail "kaviros.pc and melbax.pc disagree on the version"
[ "$(pkg-config --variable=driver kaviros)" = "$driver" ] ||
  fail "kaviros.pc names the driver $(pkg-config --variable=driver kaviros)"

echo "+ a C host against the installed header"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags kaviros) \
  "$here/c_host.c" -o "$scratch/c_host" -rdynamic -ldl
"$scratch/c_host" "$(pkg-config --variable=driver kaviros)"

echo "+ a C++ host against the installed libmelbax"
# shellcheck disable=SC2046
"$cxx" -std=c++20 -Wall -Wextra -Wpedantic -Werror \
  $(pkg-config --cflags melbax) "$here/melbax_host.cpp" -o "$scratch/melbax_host" \
  $(pkg-config --libs melbax) -Wl,-rpath,"$libdir"
output="$(env -u KAVIROS_DRIVER "$scratch/melbax_host")"
echo "$output"
loaded="$(sed -n 's/^driver //p' <<<"$output")"
[ "$(realpath "$loaded")" = "$(realpath "$driver")" ] ||
  fail "the C++ host loaded $loaded, not the driver beside libmelbax"

rm -rf "$scratch"
echo "install_tree_test: passed"
