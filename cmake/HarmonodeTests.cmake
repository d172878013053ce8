# One helper registers every GoogleTest target, so each test binary is built
# and discovered the same way.
find_package(GTest REQUIRED)
include(GoogleTest)

function(harmonode_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit ${ARG_PROPERTIES})
endfunction()
