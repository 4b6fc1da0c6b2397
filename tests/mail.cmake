# The SMTP tests deliver through postfix's smtp-sink: the test run starts a
# set of servers once, as a fixture, and every smtp_test case finds them
# through QUORPA_SMTP_SINK_DIR (Wine hands the variable on to the Windows
# test program). Without smtp-sink those cases skip.
find_program(QUORPA_SMTP_SINK smtp-sink PATHS /usr/sbin /usr/lib/postfix/sbin)
if(QUORPA_SMTP_SINK)
  set(sink_dir ${CMAKE_BINARY_DIR}/smtp-sink)
  set(sink_script ${CMAKE_SOURCE_DIR}/tests/support/SmtpSink.sh)
  add_test(NAME smtp_sink_start COMMAND ${sink_script} start ${sink_dir})
  add_test(NAME smtp_sink_stop COMMAND ${sink_script} stop ${sink_dir})
  set_tests_properties(smtp_sink_start PROPERTIES FIXTURES_SETUP smtp_sink
                       ENVIRONMENT "SMTP_SINK=${QUORPA_SMTP_SINK}")
  set_tests_properties(smtp_sink_stop PROPERTIES FIXTURES_CLEANUP smtp_sink)

  # The Windows program sees the build tree on Wine's drive Z:.
  set(sink_dir_seen ${sink_dir})
  if(CMAKE_CROSSCOMPILING)
    set(sink_dir_seen "Z:${sink_dir}")
  endif()
  quorpa_gtest_fixtures(TARGET smtp_test FIXTURES smtp_sink ENVIRONMENT "QUORPA_SMTP_SINK_DIR=${sink_dir_seen}")
endif()
