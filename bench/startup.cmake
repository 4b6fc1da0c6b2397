# Start-up benchmark (not a test; CTest does not run it): the floor programs
# and the stopwatch, run under Wine beside Quorpa.exe by
# bench/run-startup-bench.
if(WIN32)
  add_executable(startup_floor WIN32 ${CMAKE_CURRENT_LIST_DIR}/startup_floor.cpp)
  add_executable(startup_floor_manifest WIN32 ${CMAKE_CURRENT_LIST_DIR}/startup_floor.cpp
                                              ${CMAKE_CURRENT_LIST_DIR}/startup_floor.rc)
  target_include_directories(startup_floor_manifest PRIVATE ${CMAKE_BINARY_DIR}/res)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/startup_floor.rc PROPERTIES
                              OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/res/Quorpa.manifest)
  add_executable(startup_probe ${CMAKE_CURRENT_LIST_DIR}/startup_probe.cpp)
  target_link_libraries(startup_probe PRIVATE psapi)
  target_link_options(startup_probe PRIVATE -municode)
  set_target_properties(startup_floor startup_floor_manifest startup_probe PROPERTIES
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
