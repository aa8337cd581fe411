#!/usr/bin/env bash
# One command for a release: builds the 32-bit Windows driver DLL (the
# product), the 64-bit Windows build and the Linux Debian package from this
# checkout, checks the DLLs, and puts everything with a SHA256SUMS file into
# dist/ (emptied first):
#
#   dist/kaviros-VERSION-win32/   kaviros.dll (32-bit) and kaviros.h
#   dist/kaviros-VERSION-win64/   every DLL and program the 64-bit Windows
#                                 build installs, and kaviros.h
#   dist/kaviros_VERSION_ARCH.deb the Linux package
#   dist/SHA256SUMS               check with: cd dist && sha256sum -c SHA256SUMS
#
# Usage: scripts/release.sh [--build-dir DIR] [--no-deps]
#   --build-dir DIR  where to build (default build/release-dist)
#   --no-deps        do not run scripts/install-deps.sh first
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

build=build/release-dist
deps=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir)
      [ $# -ge 2 ] || { echo "release: --build-dir needs a folder" >&2; exit 2; }
      build="$2"
      shift 2
      ;;
    --no-deps)
      deps=no
      shift
      ;;
    -h | --help)
      sed -n '2,/^set -euo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "release: unknown argument '$1' (see --help)" >&2
      exit 2
      ;;
  esac
done
fail() {
  echo "release: $*" >&2
  exit 1
}

[ "$deps" = no ] || ./scripts/install-deps.sh
for compiler in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix; do
  command -v "$compiler" >/dev/null ||
    fail "$compiler is missing: run scripts/install-deps.sh"
done

# The package installs under /usr; the Windows builds come along as
# sub-builds of the same tree.
echo "== configure $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DKAVIROS_WINDOWS_BUILDS=ON -DBUILD_TESTING=OFF \
  >/dev/null
echo "== build (Linux, 32-bit and 64-bit Windows)"
cmake --build "$build" -j "$(nproc)"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
stage="$build/release-stage"
rm -rf "$stage" dist
mkdir -p "$stage" dist

echo "== Windows files"
for arch in i686 x86_64; do
  cmake --install "$build/windows-$arch" --prefix "$stage/windows-$arch" --strip \
    >/dev/null
  ./scripts/check-dll.sh "$stage/windows-$arch/bin/kaviros.dll" "$arch"
done
win32="dist/kaviros-$version-win32"
win64="dist/kaviros-$version-win64"
mkdir -p "$win32" "$win64"
cp "$stage/windows-i686/bin/kaviros.dll" "$win32/"
shopt -s nullglob
shipped=("$stage"/windows-x86_64/bin/*.dll "$stage"/windows-x86_64/bin/*.exe)
shopt -u nullglob
cp "${shipped[@]}" "$win64/"
cp include/kaviros/kaviros.h "$win32/"
cp include/kaviros/kaviros.h "$win64/"

echo "== Debian package"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$stage/deb" \
  >"$stage/cpack.log" 2>&1 ||
  { cat "$stage/cpack.log" >&2; fail "cpack failed"; }
debs=("$stage"/deb/*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no package"
cp "${debs[0]}" dist/

(
  cd dist
  find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
    xargs sha256sum >SHA256SUMS
  sha256sum --quiet -c SHA256SUMS
)
echo "== $root/dist"
(cd dist && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs ls -l |
  awk '{printf "  %10s  %s\n", $5, $NF}')
