# GoogleTest for native and cross builds, and one function that every
# component uses to declare its test program.
if(WIN32)
  # No packaged GoogleTest for the cross compilers: build it from the
  # sources that Debian's googletest package installs.
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# kaviros_add_gtest(<name> SOURCES <files...> [LIBS <targets...>])
# Native builds register each test case with CTest; cross builds register
# the whole program, run through CMAKE_CROSSCOMPILING_EMULATOR (Wine).
function(kaviros_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kaviros_test_support
                        GTest::gtest_main GTest::gmock kaviros_warnings)
  if(CMAKE_CROSSCOMPILING)
    target_link_options(${name} PRIVATE -static)
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 300)
  endif()
endfunction()
