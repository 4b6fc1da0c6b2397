# Mail delivery benchmark (not a test; CTest does not run it): the native
# program mail_bench, driven by bench/run-mail-bench against smtp-sink and
# compared with msmtp.
if(NOT CMAKE_CROSSCOMPILING)
  add_executable(mail_bench ${CMAKE_CURRENT_LIST_DIR}/mail_bench.cpp)
  target_link_libraries(mail_bench PRIVATE quorpa_core)
endif()
