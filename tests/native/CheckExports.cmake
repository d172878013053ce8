# Compares the dynamic symbols a shared library defines with a list of names,
# one a line, and checks that the library binds its own exported functions
# (no dynamic relocation names one, so another library's copy cannot take its
# place). Run as:
# cmake -DLIBRARY=... -DEXPECTED=... -DNM=... -DOBJDUMP=... -P CheckExports.cmake
execute_process(
  COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(actual "")
set(functions "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ ]+) ([A-Za-z])")
    list(APPEND actual "${CMAKE_MATCH_1}")
    if(CMAKE_MATCH_2 STREQUAL "T")
      list(APPEND functions "${CMAKE_MATCH_1}")
    endif()
  endif()
endforeach()
list(SORT actual)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT actual STREQUAL expected)
  list(JOIN actual "\n  " a)
  list(JOIN expected "\n  " e)
  message(FATAL_ERROR "exported symbols of ${LIBRARY} differ\nexported:\n  ${a}\nexpected:\n  ${e}")
endif()
execute_process(
  COMMAND ${OBJDUMP} --dynamic-reloc ${LIBRARY}
  OUTPUT_VARIABLE relocations
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()
foreach(function IN LISTS functions)
  if(relocations MATCHES "[ \t]${function}(@|\n|\\+)")
    message(FATAL_ERROR "${LIBRARY} binds ${function} at run time; another library's ${function} could take its place")
  endif()
endforeach()
list(LENGTH actual count)
message(STATUS "${count} exported symbols, as expected")
