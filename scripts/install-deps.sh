#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the Windows builds
# (cross compilers and Wine) and the benchmarks need. Safe to run again.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# Wine needs the 32-bit architecture for its loader, even for 64-bit programs.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
  build-essential cmake ninja-build pkg-config git file ca-certificates \
  clang clang-format libclang-rt-14-dev \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  wine wine64 \
  valgrind strace libmodbus-dev \
  dpkg-dev groff-base \
  >/dev/null
echo "install-deps: done"
