# Warnings are errors everywhere; the driver gets the strictest set.
add_library(kaviros_warnings INTERFACE)
target_compile_options(kaviros_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror)

add_library(kaviros_strict_warnings INTERFACE)
target_link_libraries(kaviros_strict_warnings INTERFACE kaviros_warnings)
target_compile_options(kaviros_strict_warnings INTERFACE
  -Wshadow -Wconversion -Wsign-conversion -Wcast-align -Wnull-dereference
  -Wdouble-promotion -Wformat=2 $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>)
