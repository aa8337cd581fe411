#!/usr/bin/env bash
# Builds the Debian package with cpack, checks its control fields and
# contents, installs it, runs `melbax info` and a read against r2600-sim
# from the installed files, and removes it again.
#
# As root with dpkg (CI: a fresh Debian machine) the package is installed
# with dpkg -i and purged afterwards; a kaviros package that this test did
# not install is never touched. Otherwise the package is unpacked into a
# fresh root and run from there.
# Usage: deb_test.sh BUILD_DIR SCRATCH_DIR CPACK
set -euo pipefail
build="$1" scratch="$2" cpack="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/lib.sh"

# Left behind only when a run of this test was killed with the package in.
marker="$(dirname "$scratch")/deb_test_installed_the_package"
installed=no
cleanup() {
  stop_sim
  if [ "$installed" = yes ]; then
    dpkg --purge kaviros >"$scratch/purge.log" 2>&1 ||
      { cat "$scratch/purge.log" >&2; echo "deb_test: dpkg --purge failed" >&2; }
    rm -f "$marker"
  fi
}
trap cleanup EXIT

rm -rf "$scratch"
mkdir -p "$scratch"
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" \
  >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
debs=("$scratch"/out/*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] ||
  fail "cpack made ${#debs[@]} packages: ${debs[*]}"
deb="${debs[0]}"
echo "+ $(basename "$deb")"
dpkg-deb --field "$deb"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = kaviros ] || fail "package name $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "architecture $(field Architecture)"
depends="$(field Depends)"
for needed in libc6 libstdc++6; do
  grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

# Contents: the shipped files, and nothing from the tests.
contents="$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|')"
driver="$(grep '/libkaviros\.so$' <<<"$contents" || true)"
[ -n "$driver" ] || fail "the package has no libkaviros.so"
libdir="$(dirname "$driver")"
for file in /usr/bin/melbax /usr/bin/r2600-sim "$libdir/libmelbax.so.1" \
  "$libdir/libmelbax.so" "$libdir/pkgconfig/kaviros.pc" \
  "$libdir/pkgconfig/melbax.pc" /usr/include/kaviros/kaviros.h \
  /usr/include/melbax/instance.h /usr/share/man/man1/melbax.1.gz \
  /usr/share/man/man1/r2600-sim.1.gz /usr/share/doc/kaviros/README.md \
  /usr/share/doc/kaviros/troubleshooting.md; do
  grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
done
if grep -Ei '(_test|_tests|fake|probe|peer)[^/]*$' <<<"$contents"; then
  fail "the package holds test programs"
fi
pc="$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ".$libdir/pkgconfig/kaviros.pc")"
grep -qx 'prefix=/usr' <<<"$pc" || fail "kaviros.pc does not name /usr: $pc"

mode=unpack
if [ "$(id -u)" -eq 0 ] && command -v dpkg >/dev/null; then
  mode=dpkg
  if dpkg-query -W -f='${Status}' kaviros 2>/dev/null |
    grep -q 'ok installed'; then
    if [ -f "$marker" ]; then
      echo "+ removing the package an interrupted run of this test left"
      dpkg --purge kaviros >/dev/null
      rm -f "$marker"
    else
      echo "+ kaviros is installed on this machine: left alone, the package" \
        "is tested unpacked instead"
      mode=unpack
    fi
  fi
fi

if [ "$mode" = dpkg ]; then
  echo "+ dpkg -i $(basename "$deb")"
  touch "$marker"
  installed=yes
  dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log" >&2; fail "dpkg -i failed"; }
  dpkg-query -W -f='${Status}' kaviros | grep -q 'install ok installed' ||
    fail "dpkg does not list kaviros as installed"
  root=""
else
  echo "+ dpkg-deb -x $(basename "$deb") (a fresh root)"
  root="$scratch/root"
  dpkg-deb -x "$deb" "$root"
fi

echo "+ melbax info"
info="$(env -u KAVIROS_DRIVER "$root/usr/bin/melbax" info)" ||
  fail "melbax info exited with $?"
echo "$info"
loaded="$(sed -n 's/^driver: *//p' <<<"$info")"
[ "$(realpath "$loaded")" = "$(realpath "$root$driver")" ] ||
  fail "melbax loaded $loaded, not the packaged driver $root$driver"
read_from_sim "$root/usr/bin/melbax" "$root/usr/bin/r2600-sim"

if [ "$mode" = dpkg ]; then
  echo "+ dpkg --purge kaviros"
  dpkg --purge kaviros >"$scratch/purge.log" 2>&1 ||
    { cat "$scratch/purge.log" >&2; fail "dpkg --purge failed"; }
  installed=no
  rm -f "$marker"
  for file in /usr/bin/melbax "$driver" "$libdir/libmelbax.so.1"; do
    [ ! -e "$file" ] || fail "$file is still there after the purge"
  done
fi
rm -rf "$scratch"
echo "deb_test: passed ($mode)"
