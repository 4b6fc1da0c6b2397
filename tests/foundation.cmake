# Foundation tests with rules of their own.

# Starting and waiting for other processes, and interrupting a call, differ
# per system.
target_sources(quorpa_test_support PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/support/${QUORPA_PLATFORM}/Process.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/${QUORPA_PLATFORM}/HostName.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/${QUORPA_PLATFORM}/Interrupts.cpp)

# The second process of the lock tests: lock_test starts it from its own
# directory (natively, or as lock_peer.exe under Wine).
add_executable(lock_peer ${CMAKE_CURRENT_SOURCE_DIR}/lock_peer.cpp)
target_link_libraries(lock_peer PRIVATE quorpa_core)
add_dependencies(lock_test lock_peer)
