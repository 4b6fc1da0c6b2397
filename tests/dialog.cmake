# Settings dialog, about box and file-type registration: the real Quorpa.exe
# in setting mode under Wine, driven by the UI robot (tests/robot/, its
# dialog commands in dialog_commands.cpp) from tests/dialog/run.py, on the
# helpers it shares with the end-to-end cases (tests/support/harness.py). Windows
# build only; every case is one CTest test in a folder of its own.
if(NOT CMAKE_CROSSCOMPILING OR NOT WIN32)
  return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(dialog_driver ${CMAKE_CURRENT_LIST_DIR}/dialog/run.py)
execute_process(COMMAND ${Python3_EXECUTABLE} ${dialog_driver} --build . --source . --list
                OUTPUT_VARIABLE dialog_cases OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${dialog_driver}
             ${CMAKE_CURRENT_LIST_DIR}/support/harness.py)

foreach(case ${dialog_cases})
  add_test(NAME dialog.${case}
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-xvfb ${Python3_EXECUTABLE} ${dialog_driver}
                   --build ${CMAKE_BINARY_DIR} --source ${CMAKE_SOURCE_DIR} ${case})
  # The cases share the screen with the end-to-end cases, whose robot reads a
  # message box's icon from its pixels, and some read pixels themselves: one
  # window-showing case at a time.
  set_tests_properties(dialog.${case} PROPERTIES LABELS "win32;dialog" TIMEOUT 180
                       RESOURCE_LOCK quorpa_screen SKIP_RETURN_CODE 77)
endforeach()

# The connection test against the real submission server (tests/submission.cmake,
# read after this file: its function is called once every file is read).
cmake_language(DEFER CALL quorpa_use_submission_server TESTS dialog.mail_test_submission
                                                           dialog.mail_test_japanese_login)
