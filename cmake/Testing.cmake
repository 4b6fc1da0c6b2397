# GoogleTest from Debian's sources, built with the project's own compiler, so
# the same tests build natively and with mingw (then run under Wine).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
# Debian's googletest must not inherit the project's CP932 literal encoding
# flags' warnings as errors; it builds as it is.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  # Every test of the windows build runs under Wine in this build's own prefix.
  set(QUORPA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run ${QUORPA_WINEPREFIX})
endif()

# quorpa_add_gtest(NAME SOURCES... [LIBS libs...])
# One test executable per unit; every test case becomes one CTest test.
function(quorpa_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest gtest_main)
  if(CMAKE_CROSSCOMPILING)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 180
    PROPERTIES LABELS "${QUORPA_PLATFORM}")
endfunction()

# quorpa_gtest_fixtures(TARGET name FIXTURES fixtures... [ENVIRONMENT NAME=VALUE...])
# Every discovered case of the quorpa_add_gtest target needs the fixtures and
# gets the environment entries. Calls for the same target add up: the cases
# exist only when CTest runs, and there a test's property can only be set,
# not added to, so one file per target, read after the discovered list,
# sets the union.
function(quorpa_gtest_fixtures)
  cmake_parse_arguments(ARG "" "TARGET" "FIXTURES;ENVIRONMENT" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY quorpa_fixtures_${ARG_TARGET} ${ARG_FIXTURES})
  set_property(GLOBAL APPEND PROPERTY quorpa_environment_${ARG_TARGET} ${ARG_ENVIRONMENT})
  get_property(fixtures GLOBAL PROPERTY quorpa_fixtures_${ARG_TARGET})
  get_property(environment GLOBAL PROPERTY quorpa_environment_${ARG_TARGET})
  set(properties ${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}_fixtures.cmake)
  file(WRITE ${properties}
    "foreach(test IN LISTS ${ARG_TARGET}_TESTS)\n"
    "  set_tests_properties(\"\${test}\" PROPERTIES FIXTURES_REQUIRED \"${fixtures}\"\n"
    "    ENVIRONMENT \"${environment}\")\n"
    "endforeach()\n")
  get_property(includes DIRECTORY PROPERTY TEST_INCLUDE_FILES)
  if(NOT properties IN_LIST includes)
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties})
  endif()
endfunction()
