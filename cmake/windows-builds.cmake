# The 32-bit Windows DLL (the product) and the 64-bit Windows build (whose
# programs run under Wine) are built from the same sources as sub-builds of
# this tree, then checked by tests registered here.
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

# Static checks of the driver DLLs: the one export, the imports, and on
# i686 the calling convention of KaviMain; and every record's size and
# offsets as the 32-bit compiler lays them out (records_layout.cpp, which
# the i686 build compiles too).
add_test(NAME windows_i686_record_layout
  COMMAND ${KAVIROS_MINGW_I686} -std=c++20 -fsyntax-only -Werror
          -I${PROJECT_SOURCE_DIR}/include
          ${PROJECT_SOURCE_DIR}/driver/entry/records_layout.cpp)
add_test(NAME windows_i686_dll_exports
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-dll.sh
          ${KAVIROS_WIN32_DIR}/bin/kaviros.dll i686)
add_test(NAME windows_x86_64_dll_exports
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-dll.sh
          ${KAVIROS_WIN64_DIR}/bin/kaviros.dll x86_64)
# The host of both builds: MELBAX.dll exports what the driver imports, and
# it and melbax.exe need nothing but system DLLs.
foreach(arch i686 x86_64)
  add_test(NAME windows_${arch}_host_binaries
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-host-dll.sh
            ${CMAKE_BINARY_DIR}/windows-${arch}/bin ${arch})
endforeach()

# Every test program of the 64-bit Windows build, run under Wine.
add_test(NAME windows_x86_64_suite_under_wine
  COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${KAVIROS_WIN64_DIR}
          --output-on-failure --timeout 300)
set_tests_properties(windows_x86_64_suite_under_wine PROPERTIES TIMEOUT 1800)

# Programs on real COM ports: pseudo-terminals linked into a prefix of
# their own, whose far ends Linux programs drive; Wine's processes get a
# library preloaded that makes those terminals look like serial ports
# (scripts/wine-line-lib.sh says why). The serial tests and the end-to-end
# run share the prefix, one at a time.
if(BUILD_TESTING AND TARGET kaviros_wine_pty_port)
  set(line_prefix ${CMAKE_BINARY_DIR}/wineprefix-serial)
  if(TARGET kaviros_pty_peer)
    add_test(NAME windows_x86_64_serial_lines_under_wine
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-serial-run.sh
              --prefix ${line_prefix}
              --peer $<TARGET_FILE:kaviros_pty_peer>
              --preload $<TARGET_FILE:kaviros_wine_pty_port>
              ${KAVIROS_WIN64_DIR}/bin/serial_line_tests.exe)
    set_tests_properties(windows_x86_64_serial_lines_under_wine PROPERTIES
      TIMEOUT 900)
  endif()
  # The end-to-end suite: the host code, kaviros.dll, MELBAX.dll and
  # melbax.exe against simulated controllers.
  add_test(NAME windows_x86_64_e2e_under_wine
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-e2e-run.sh
            --prefix ${line_prefix}
            --sim $<TARGET_FILE:kaviros_wine_sim>
            --preload $<TARGET_FILE:kaviros_wine_pty_port>
            ${KAVIROS_WIN64_DIR}/bin/wine_e2e_tests.exe)
  set_tests_properties(windows_x86_64_e2e_under_wine PROPERTIES TIMEOUT 900)
endif()
