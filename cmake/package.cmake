# The Debian package: everything `cmake --install` puts in place, under
# /usr. Build it with `cpack -G DEB` in a build tree (or `cmake --build
# BUILD --target package`); scripts/release.sh makes the released one.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kaviros)
set(CPACK_PACKAGE_VENDOR "KAVIROS")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "serial driver, host runtime and tools for R2600/R2601 process controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "KAVIROS reads and writes the parameters of R2600/R2601 process
controllers over a serial line (FT 1.2 framed telegrams). The package holds
the driver library libkaviros.so, the host runtime libmelbax with its C++
headers, the public C header kaviros/kaviros.h with pkg-config files, the
command-line tool melbax and the controller simulator r2600-sim, with
their man pages and the documentation.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "KAVIROS maintainers <kaviros@localhost>")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binaries link (libc6, libstdc++6, ...).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs entry for libmelbax.so.1, and ldconfig after install and removal.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
