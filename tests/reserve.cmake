# Reservation tests: the time zone is pinned per system.
target_sources(quorpa_test_support PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/support/${QUORPA_PLATFORM}/TimeZone.cpp)
