# The TLS and AUTH tests send through a real submission server: a private
# postfix instance with STARTTLS, TLS from the first byte and SASL, relaying
# into smtp-sink (tests/support/SubmissionServer.sh). The test run starts it
# once, as the fixture "submission_server"; its tests find it through
# QUORPA_SUBMISSION_DIR (its file "env" names ports, account, CA and sink).
# Native tests also get SSL_CERT_FILE pointing at the test CA, so that
# OpenSSL trusts it and nothing else; under Wine the fixture
# "submission_ca" trusts it in the build's own Wine prefix while they run
# (the robot's trustca and untrustca tools), never in the machine's store.
#
# A test joins with
#   quorpa_use_submission_server(TESTS name...)      tests made by add_test
#   quorpa_use_submission_server(GTEST target...)    the discovered cases of
#                                                    quorpa_add_gtest targets
# Where postfix cannot run (not installed, or not root: its master must be),
# the fixture is left out with a note, and the tests see no
# QUORPA_SUBMISSION_DIR and skip.
# What only Windows does (SChannel's seams, fetching an intermediate the
# server leaves out) is tested where it runs.
if(TARGET smtp_test)
  target_compile_definitions(smtp_test PRIVATE QUORPA_TEST_SCHANNEL_SIDE=$<BOOL:${WIN32}>)
endif()

set(QUORPA_SUBMISSION_DIR ${CMAKE_BINARY_DIR}/submission)
set(submission_script ${CMAKE_CURRENT_LIST_DIR}/support/SubmissionServer.sh)

find_program(QUORPA_POSTFIX_MASTER master PATHS /usr/lib/postfix/sbin NO_DEFAULT_PATH)
find_program(QUORPA_SMTP_SINK smtp-sink PATHS /usr/sbin /usr/lib/postfix/sbin)
find_program(QUORPA_SASLPASSWD2 saslpasswd2 PATHS /usr/sbin)
find_program(QUORPA_OPENSSL openssl)
execute_process(COMMAND id -u OUTPUT_VARIABLE submission_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(submission_missing "")
foreach(tool QUORPA_POSTFIX_MASTER QUORPA_SMTP_SINK QUORPA_SASLPASSWD2 QUORPA_OPENSSL)
  if(NOT ${tool})
    string(APPEND submission_missing " ${tool}")
  endif()
endforeach()
if(NOT submission_uid STREQUAL "0")
  string(APPEND submission_missing " root (postfix's master runs only as root)")
endif()

if(submission_missing)
  message(STATUS "Submission server: cannot run postfix here, missing:${submission_missing}; "
                 "the tests against it skip (scripts/setup installs postfix, sasl2-bin, openssl)")
  function(quorpa_use_submission_server)
  endfunction()
  return()
endif()

get_filename_component(postfix_daemon_dir ${QUORPA_POSTFIX_MASTER} DIRECTORY)
add_test(NAME submission_server_start COMMAND ${submission_script} start ${QUORPA_SUBMISSION_DIR})
add_test(NAME submission_server_stop COMMAND ${submission_script} stop ${QUORPA_SUBMISSION_DIR})
set_tests_properties(submission_server_start PROPERTIES FIXTURES_SETUP submission_server TIMEOUT 60
  ENVIRONMENT "SMTP_SINK=${QUORPA_SMTP_SINK};POSTFIX_DAEMON_DIR=${postfix_daemon_dir}")
set_tests_properties(submission_server_stop PROPERTIES FIXTURES_CLEANUP submission_server)

# The Windows programs see the build tree on Wine's drive Z:.
set(submission_environment "QUORPA_SUBMISSION_DIR=${QUORPA_SUBMISSION_DIR}"
                           "SSL_CERT_FILE=${QUORPA_SUBMISSION_DIR}/ca.pem")
set(submission_fixtures submission_server)
if(CMAKE_CROSSCOMPILING)
  set(submission_environment "QUORPA_SUBMISSION_DIR=Z:${QUORPA_SUBMISSION_DIR}")
  if(TARGET robot)
    set(ca_der Z:${QUORPA_SUBMISSION_DIR}/ca.der)
    add_test(NAME submission_ca_trust COMMAND robot --tool trustca ${ca_der})
    add_test(NAME submission_ca_untrust COMMAND robot --tool untrustca ${ca_der})
    # The fixture's own proof: the CA is in the prefix's Root store.
    add_test(NAME submission_ca_check COMMAND robot --tool trusted ${ca_der})
    set_tests_properties(submission_ca_trust PROPERTIES FIXTURES_SETUP submission_ca
                         FIXTURES_REQUIRED submission_server)
    set_tests_properties(submission_ca_untrust PROPERTIES FIXTURES_CLEANUP submission_ca
                         FIXTURES_REQUIRED submission_server)
    set_tests_properties(submission_ca_check PROPERTIES FIXTURES_REQUIRED "submission_server;submission_ca"
                         LABELS "${QUORPA_PLATFORM}")
    list(APPEND submission_fixtures submission_ca)
  endif()
endif()

# What Wine's SChannel cannot show, through the win32 side's test seam: the
# deliveries again with SCH_CREDENTIALS refused (the SCHANNEL_CRED fall-back)
# and an optional client certificate asked for (SEC_I_INCOMPLETE_CREDENTIALS).
if(CMAKE_CROSSCOMPILING AND TARGET smtp_test)
  add_test(NAME smtp_test.schannel_seams
           COMMAND smtp_test --gtest_filter=SubmitDelivery.DeliveredOverStartTlsAndTlsWithTheLogInTheLog)
  set_tests_properties(smtp_test.schannel_seams PROPERTIES LABELS "${QUORPA_PLATFORM}" TIMEOUT 120
    ENVIRONMENT "QUORPA_TEST_SCHANNEL=no-sch-credentials,incomplete-credentials")
  set(schannel_seam_test smtp_test.schannel_seams)
endif()

# Wine's CryptoAPI takes a CRL signed by another CA than the certificate's
# issuer, and waits for a CRL host that never answers without end (a real
# Windows stops at the chain's retrieval time-out): the windows build leaves
# that case out.
if(CMAKE_CROSSCOMPILING AND TARGET smtp_test)
  set(wine_left_out ${CMAKE_CURRENT_BINARY_DIR}/smtp_test_wine_left_out.cmake)
  file(WRITE ${wine_left_out}
    "set_tests_properties(SubmitDelivery.AForgedOrSilentCrlLetsTheMailGoInBoundedTime PROPERTIES DISABLED TRUE)\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${wine_left_out})
endif()

function(quorpa_use_submission_server)
  cmake_parse_arguments(ARG "" "" "TESTS;GTEST" ${ARGN})
  if(ARG_TESTS)
    set_property(TEST ${ARG_TESTS} APPEND PROPERTY FIXTURES_REQUIRED ${submission_fixtures})
    set_property(TEST ${ARG_TESTS} APPEND PROPERTY ENVIRONMENT ${submission_environment})
  endif()
  foreach(target ${ARG_GTEST})
    quorpa_gtest_fixtures(TARGET ${target} FIXTURES ${submission_fixtures} ENVIRONMENT ${submission_environment})
  endforeach()
endfunction()

# The fixture itself, proven with msmtp and openssl (once, in the native build).
if(NOT CMAKE_CROSSCOMPILING)
  find_program(QUORPA_MSMTP msmtp)
  if(QUORPA_MSMTP)
    add_test(NAME submission_server_check
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/support/SubmissionCheck.sh ${QUORPA_SUBMISSION_DIR})
    set_tests_properties(submission_server_check PROPERTIES TIMEOUT 60 LABELS "${QUORPA_PLATFORM}")
    quorpa_use_submission_server(TESTS submission_server_check)
  endif()
endif()
quorpa_use_submission_server(GTEST submission_server_test)

# The tests that send through it, and the TLS sessions' own.
quorpa_use_submission_server(GTEST smtp_test)
quorpa_use_submission_server(GTEST sock_test)
if(schannel_seam_test)
  quorpa_use_submission_server(TESTS ${schannel_seam_test})
endif()
if(TEST e2e.provider)
  quorpa_use_submission_server(TESTS e2e.provider)
endif()
if(TEST e2e.sender_address)
  quorpa_use_submission_server(TESTS e2e.sender_address)
endif()
