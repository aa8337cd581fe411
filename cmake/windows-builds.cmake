# The 32-bit Windows DLL (the product) and the 64-bit Windows build (whose
# test programs run under Wine) are built from the same sources as
# sub-builds of this tree, then checked by tests registered here.
include(ExternalProject)

# Only the 64-bit build has test programs: 32-bit ones cannot run here.
set(windows_i686_testing OFF)
set(windows_x86_64_testing ON)
foreach(arch i686 x86_64)
  ExternalProject_Add(windows_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows-${arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-${arch}.cmake
      -DCMAKE_BUILD_TYPE=Release
      -DKAVIROS_WINDOWS_BUILDS=OFF
      -DBUILD_TESTING=${windows_${arch}_testing}
      -DKAVIROS_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
      -G Ninja
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
endforeach()

set(KAVIROS_WIN32_DIR ${CMAKE_BINARY_DIR}/windows-i686)
set(KAVIROS_WIN64_DIR ${CMAKE_BINARY_DIR}/windows-x86_64)

add_test(NAME windows_i686_dll_exports
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-dll.sh
          ${KAVIROS_WIN32_DIR}/bin/kaviros.dll i686)
add_test(NAME windows_x86_64_dll_exports
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-dll.sh
          ${KAVIROS_WIN64_DIR}/bin/kaviros.dll x86_64)
# Every test program of the 64-bit Windows build, run under Wine.
add_test(NAME windows_x86_64_suite_under_wine
  COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${KAVIROS_WIN64_DIR}
          --output-on-failure --timeout 300)
set_tests_properties(windows_x86_64_suite_under_wine PROPERTIES TIMEOUT 1800)

# The serial layer's Windows program on real COM ports: pseudo-terminals
# linked into a prefix of its own, whose far ends the Linux peer drives.
if(BUILD_TESTING AND TARGET kaviros_pty_peer)
  add_test(NAME windows_x86_64_serial_lines_under_wine
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-serial-run.sh
            --prefix ${CMAKE_BINARY_DIR}/wineprefix-serial
            --peer $<TARGET_FILE:kaviros_pty_peer>
            ${KAVIROS_WIN64_DIR}/bin/serial_line_tests.exe)
  set_tests_properties(windows_x86_64_serial_lines_under_wine PROPERTIES
    TIMEOUT 900)
endif()
