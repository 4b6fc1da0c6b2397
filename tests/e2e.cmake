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
target_link_libraries(robot PRIVATE ole32 uuid shell32 user32 gdi32)
set_target_properties(robot PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
