# The registration's table (app/AssociationTable.cpp): plain C++, built
# natively and for Windows, as the installer's generator (packaging/) builds
# it on Linux.
quorpa_add_gtest(association_table_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/packaging/association_table_test.cpp ${CMAKE_SOURCE_DIR}/app/AssociationTable.cpp
  LIBS quorpa_test_support)
target_include_directories(association_table_test PRIVATE ${CMAKE_SOURCE_DIR})
