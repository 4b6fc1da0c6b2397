# Start-up benchmark (not a test; CTest does not run it): the floor program
# and the stopwatch, run under Wine beside Quorpa.exe by
# bench/run-startup-bench.
if(WIN32)
  add_executable(startup_floor WIN32 ${CMAKE_CURRENT_LIST_DIR}/startup_floor.cpp)
  add_executable(startup_probe ${CMAKE_CURRENT_LIST_DIR}/startup_probe.cpp)
  target_link_libraries(startup_probe PRIVATE psapi)
  target_link_options(startup_probe PRIVATE -municode)
  set_target_properties(startup_floor startup_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
