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
