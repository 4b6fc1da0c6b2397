# End-to-end tests: the real Quorpa.exe under Wine, driven by the UI robot
# (tests/robot/), against a real smtp-sink on a loopback port. Windows build
# only. The driver tests/e2e/run.py starts each case in a fresh folder.
if(NOT CMAKE_CROSSCOMPILING OR NOT WIN32)
  return()
endif()

# The robot: every .cpp in tests/robot/ is one of its parts (commands and
# tools register themselves).
file(GLOB robot_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/robot/*.cpp)
add_executable(robot WIN32 ${robot_sources})
target_link_libraries(robot PRIVATE ole32 uuid shell32 user32 gdi32 crypt32 quorpa_core)
set_target_properties(robot PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The framework's Windows part that the end-to-end cases cannot reach (the
# Winsock start-up message) or that is shared by several windows (the text
# converters, the executable's path, the message pump), with the program's
# own resources.
quorpa_add_gtest(afx_win32_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e/afx_win32_test.cpp $<TARGET_OBJECTS:quorpa_res>
  LIBS quorpa_afx_win32 quorpa_test_support)

# One CTest test per case of the driver. The cases share the screen (the
# robot tells icons apart by their pixels), so they run one at a time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(e2e_driver ${CMAKE_CURRENT_LIST_DIR}/e2e/run.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${e2e_driver}
             ${CMAKE_CURRENT_LIST_DIR}/support/harness.py)
execute_process(COMMAND ${Python3_EXECUTABLE} ${e2e_driver} --list
                OUTPUT_VARIABLE e2e_cases OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
foreach(case ${e2e_cases})
  add_test(NAME e2e.${case}
           COMMAND ${Python3_EXECUTABLE} ${e2e_driver} --source ${CMAKE_SOURCE_DIR}
                   --build ${CMAKE_BINARY_DIR} --case ${case})
  set_tests_properties(e2e.${case} PROPERTIES
    LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 300 RESOURCE_LOCK quorpa_screen)
endforeach()

# The cases of everyday use (tests/e2e/everyday.py), of the history of
# reservation mails (tests/e2e/history.py), of today's guide files
# (tests/e2e/guidefiles.py), of the per-user installer
# (tests/e2e/installer.py) and of a first week outside Kanto
# (tests/e2e/stations.py), on run.py's helpers.
foreach(driver everyday history realpc guidefiles installer stations)
  set(e2e_script ${CMAKE_CURRENT_LIST_DIR}/e2e/${driver}.py)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${e2e_script})
  execute_process(COMMAND ${Python3_EXECUTABLE} ${e2e_script} --list
                  OUTPUT_VARIABLE e2e_script_cases OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  foreach(case ${e2e_script_cases})
    add_test(NAME e2e.${case}
             COMMAND ${Python3_EXECUTABLE} ${e2e_script} --source ${CMAKE_SOURCE_DIR}
                     --build ${CMAKE_BINARY_DIR} --case ${case})
    set_tests_properties(e2e.${case} PROPERTIES
      LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 300 RESOURCE_LOCK quorpa_screen)
  endforeach()
endforeach()
