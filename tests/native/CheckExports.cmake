# Compares the dynamic symbols a shared library defines with a list of names,
# one a line. Run as: cmake -DLIBRARY=... -DEXPECTED=... -DNM=... -P CheckExports.cmake
execute_process(
  COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(actual "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ ]+) ")
    list(APPEND actual "${CMAKE_MATCH_1}")
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
list(LENGTH actual count)
message(STATUS "${count} exported symbols, as expected")
