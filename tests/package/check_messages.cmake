# Compares the messages the driver writes with those that
# docs/troubleshooting.md explains. A message is a string literal beginning
# with "KAVIR> " (adjacent literals joined) in the driver's sources; the page
# quotes each as a heading: ### `KAVIR> ...` (trailing blanks kept).
# Usage: cmake -DSOURCE_DIR=<repository> -P check_messages.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "give -DSOURCE_DIR=<repository>")
endif()

file(GLOB_RECURSE sources ${SOURCE_DIR}/driver/*.cpp ${SOURCE_DIR}/driver/*.h)
set(code "")
foreach(source IN LISTS sources)
  if(source MATCHES "/(tests|testing)/")
    continue()
  endif()
  file(READ ${source} text)
  string(REGEX MATCHALL "\"KAVIR> [^\"\n]*\"([ \t\r\n]*\"[^\"\n]*\")*"
         literals "${text}")
  foreach(literal IN LISTS literals)
    string(REGEX REPLACE "\"[ \t\r\n]*\"" "" joined "${literal}")
    string(REGEX REPLACE "^\"(.*)\"$" "\\1" joined "${joined}")
    list(APPEND code "${joined}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES code)
list(LENGTH code code_count)
# Far fewer means the sources moved or this scan broke, not a quiet driver.
if(code_count LESS 40)
  message(FATAL_ERROR "found only ${code_count} driver messages in "
                      "${SOURCE_DIR}/driver: the scan no longer works")
endif()

set(page ${SOURCE_DIR}/docs/troubleshooting.md)
file(STRINGS ${page} headings REGEX "^### `KAVIR> .*`$")
set(documented "")
foreach(heading IN LISTS headings)
  string(REGEX REPLACE "^### `(.*)`$" "\\1" text "${heading}")
  if(text IN_LIST documented)
    message(SEND_ERROR "explained twice in ${page}: \"${text}\"")
  endif()
  list(APPEND documented "${text}")
endforeach()

set(failed FALSE)
foreach(text IN LISTS code)
  if(NOT text IN_LIST documented)
    message(SEND_ERROR "the driver writes \"${text}\", "
                       "which ${page} does not explain")
    set(failed TRUE)
  endif()
endforeach()
foreach(text IN LISTS documented)
  if(NOT text IN_LIST code)
    message(SEND_ERROR "${page} explains \"${text}\", "
                       "which the driver does not write")
    set(failed TRUE)
  endif()
endforeach()
if(NOT failed)
  message(STATUS "${code_count} driver messages, each explained in ${page}")
endif()
