# What a real Windows PC has and Wine hides (tests/e2e/realpc.py, registered
# with the other end-to-end modules in tests/e2e.cmake): a system library
# that cannot be loaded, one planted beside the executable. Windows build only.
if(NOT CMAKE_CROSSCOMPILING OR NOT WIN32)
  return()
endif()

# The planted library: copied beside Quorpa.exe as secur32.dll and
# crypt32.dll, it marks every process that loads it.
add_library(planted_dll SHARED ${CMAKE_CURRENT_LIST_DIR}/e2e/planted_dll.cpp)
set_target_properties(planted_dll PROPERTIES OUTPUT_NAME planted PREFIX ""
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(robot planted_dll)

# The hooks of the delay-load helper, called as the helper calls them and
# through the helper with imports that cannot be had (e2e/absent/*.def).
set(absent_libs "")
foreach(name absent shell32)
  set(def ${CMAKE_CURRENT_LIST_DIR}/e2e/absent/${name}.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/libquorpa_absent_${name}.a)
  add_custom_command(OUTPUT ${lib} COMMAND ${QUORPA_DLLTOOL} --input-def ${def} --output-delaylib ${lib}
                     DEPENDS ${def} VERBATIM)
  list(APPEND absent_libs ${lib})
endforeach()
add_custom_target(quorpa_absent_libs DEPENDS ${absent_libs})
quorpa_add_gtest(libraries_win32_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e/libraries_win32_test.cpp
  LIBS quorpa_test_support ${absent_libs})
add_dependencies(libraries_win32_test quorpa_absent_libs)

# The sends through the real submission server (tests/submission.cmake, read
# after this file: its function is called once every file is read).
cmake_language(DEFER CALL quorpa_use_submission_server TESTS e2e.library_missing_tls e2e.planted_library)
