# libFuzzer target for the SMTP reply reader: pieces joined under the size
# cap, the end of a reply, and the capabilities of an EHLO reply.
#   build/<dir>/fuzz/smtp_fuzz -max_total_time=600 fuzz/corpus/smtp_fuzz
add_executable(smtp_fuzz ${CMAKE_CURRENT_LIST_DIR}/smtp_fuzz.cpp ${CMAKE_SOURCE_DIR}/mail/SmtpReply.cpp
  ${CMAKE_SOURCE_DIR}/mail/Base64.cpp)
target_compile_options(smtp_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
target_link_options(smtp_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
get_target_property(smtp_fuzz_options smtp_fuzz COMPILE_OPTIONS)
list(REMOVE_ITEM smtp_fuzz_options -fexec-charset=CP932)
set_target_properties(smtp_fuzz PROPERTIES COMPILE_OPTIONS "${smtp_fuzz_options}")
