# libFuzzer target for the mail composer: the template filled with any title
# and station, checked line by line and field by field (MailChecks.h).
#   build/<dir>/fuzz/composer_fuzz -max_total_time=600 fuzz/corpus/composer_fuzz
add_executable(composer_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/composer_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/mail/MailComposer.cpp
  ${CMAKE_SOURCE_DIR}/mail/SmtpReply.cpp
  ${CMAKE_SOURCE_DIR}/mail/Base64.cpp
  ${CMAKE_SOURCE_DIR}/platform/common.cpp
  ${CMAKE_SOURCE_DIR}/platform/posix/file.cpp
  ${CMAKE_SOURCE_DIR}/base/system.cpp
  ${CMAKE_SOURCE_DIR}/base/Exceptions.cpp
  ${CMAKE_SOURCE_DIR}/platform/posix/sys.cpp)
target_compile_options(composer_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
target_link_options(composer_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
get_target_property(composer_fuzz_options composer_fuzz COMPILE_OPTIONS)
list(REMOVE_ITEM composer_fuzz_options -fexec-charset=CP932)
set_target_properties(composer_fuzz PROPERTIES COMPILE_OPTIONS "${composer_fuzz_options}")
