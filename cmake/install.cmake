# What `cmake --install` puts where: the driver library, the host library
# with its headers, the public C header, melbax and r2600-sim, their man
# pages, pkg-config files and the documentation. The Windows builds install
# the same way; their programs and DLLs land in bin/.

# On Debian the libraries go to the multiarch folder under every prefix,
# /usr/local included, so that the build and the package agree.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE AND
   EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH
      "Object code libraries (lib)")
endif()
include(GNUInstallDirs)

# The public header must stay a C header: compile it alone as C99, C11,
# C++11 and C++20, with the strictest warnings, in every build (the 32-bit
# Windows one included, where its calling-convention branches are live).
set(kaviros_header_check ${PROJECT_SOURCE_DIR}/tests/package/header_check.c)
foreach(standard 99 11)
  add_library(kaviros_header_c${standard} OBJECT ${kaviros_header_check})
  set_target_properties(kaviros_header_c${standard} PROPERTIES
    C_STANDARD ${standard} C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  target_include_directories(kaviros_header_c${standard} PRIVATE
    ${PROJECT_SOURCE_DIR}/include)
  target_compile_options(kaviros_header_c${standard} PRIVATE
    -Wall -Wextra -Wpedantic -Werror -Wshadow -Wconversion
    -Wsign-conversion -Wstrict-prototypes -Wmissing-prototypes
    -Wc++-compat -Wundef)
endforeach()
foreach(standard 11 20)
  add_library(kaviros_header_cxx${standard} OBJECT
    ${PROJECT_SOURCE_DIR}/tests/package/header_check.cpp)
  set_target_properties(kaviros_header_cxx${standard} PROPERTIES
    CXX_STANDARD ${standard} CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_include_directories(kaviros_header_cxx${standard} PRIVATE
    ${PROJECT_SOURCE_DIR}/include)
  target_compile_options(kaviros_header_cxx${standard} PRIVATE
    -Wall -Wextra -Wpedantic -Werror -Wshadow -Wconversion -Wsign-conversion
    -Wold-style-cast -Wzero-as-null-pointer-constant -Wundef)
endforeach()

# The driver is loaded by path, beside libmelbax, so it carries no version
# in its name. The host library is linked by programs: it gets a soname.
if(TARGET melbax)
  get_target_property(kaviros_melbax_type melbax TYPE)
  if(kaviros_melbax_type STREQUAL "SHARED_LIBRARY")
    set_target_properties(melbax PROPERTIES
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
endif()
# melbax finds libmelbax, and through it the driver, from wherever the tree
# was installed or unpacked.
if(TARGET melbax_tool AND NOT WIN32)
  file(RELATIVE_PATH kaviros_bin_to_lib
       /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(melbax_tool PROPERTIES
    INSTALL_RPATH "$ORIGIN/${kaviros_bin_to_lib}")
endif()

install(TARGETS kaviros
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/include/kaviros/kaviros.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kaviros)

if(TARGET melbax)
  install(TARGETS melbax
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/include/melbax
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    FILES_MATCHING PATTERN "*.h")
endif()
# Windows: MELBAX.dll, whose err the driver imports, goes beside the tools.
if(TARGET melbax_dll)
  install(TARGETS melbax_dll
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)
endif()
foreach(program melbax_tool r2600-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Man pages, compressed as Debian wants them (no time stamp, so the same
# page always gives the same bytes).
find_program(KAVIROS_GZIP gzip)
set(kaviros_man_pages "")
foreach(page melbax.1 r2600-sim.1)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page})
  if(KAVIROS_GZIP)
    set(packed ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${KAVIROS_GZIP} -9 -n -c ${source} > ${packed}
      DEPENDS ${source}
      COMMENT "Compressing man page ${page}")
    list(APPEND kaviros_man_pages ${packed})
  else()
    list(APPEND kaviros_man_pages ${source})
  endif()
endforeach()
add_custom_target(kaviros_man_pages ALL DEPENDS ${kaviros_man_pages})
install(FILES ${kaviros_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# pkg-config files, written at install time so that they name the prefix
# the files really went to (CPack installs under its own prefix).
foreach(pc kaviros melbax)
  if(WIN32 OR (pc STREQUAL "melbax" AND NOT TARGET melbax))
    continue()
  endif()
  set(template ${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in)
  install(CODE "
    set(KAVIROS_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(KAVIROS_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(KAVIROS_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(KAVIROS_PC_VERSION \"${PROJECT_VERSION}\")
    set(pc_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/${pc}.pc\")
    message(STATUS \"Installing: \${pc_file}\")
    configure_file(\"${template}\" \"\${pc_file}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${pc_file}\")
  ")
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}
  PATTERN "man" EXCLUDE)
