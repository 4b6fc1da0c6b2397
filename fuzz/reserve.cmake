# libFuzzer target for the reservation code: iEPG extraction, the split of
# files with several programmes, number conversion, the times, the station
# table and the mail the file makes. The sources it tests are compiled into
# it, so that libFuzzer's coverage instrumentation sees them.
#   cmake --preset fuzz -B build/<dir> && cmake --build build/<dir> --target reserve_fuzz
#   build/<dir>/fuzz/reserve_fuzz -max_total_time=600 fuzz/corpus/reserve_fuzz
add_executable(reserve_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/reserve_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/reserve/IepgParts.cpp
  ${CMAKE_SOURCE_DIR}/reserve/IepgText.cpp
  ${CMAKE_SOURCE_DIR}/reserve/ReserveTimes.cpp
  ${CMAKE_SOURCE_DIR}/reserve/Scan.cpp
  ${CMAKE_SOURCE_DIR}/reserve/StationTable.cpp
  ${CMAKE_SOURCE_DIR}/mail/MailComposer.cpp
  ${CMAKE_SOURCE_DIR}/mail/SmtpReply.cpp
  ${CMAKE_SOURCE_DIR}/mail/Base64.cpp
  ${CMAKE_SOURCE_DIR}/platform/common.cpp
  ${CMAKE_SOURCE_DIR}/platform/posix/file.cpp
  ${CMAKE_SOURCE_DIR}/base/system.cpp
  ${CMAKE_SOURCE_DIR}/base/Exceptions.cpp
  ${CMAKE_SOURCE_DIR}/afx/CString.cpp
  ${CMAKE_SOURCE_DIR}/platform/posix/sys.cpp)
target_compile_options(reserve_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
target_link_options(reserve_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
# clang has no code page 932 for literals: this target keeps them UTF-8. No
# check of the target depends on the bytes of a Japanese literal.
get_target_property(reserve_fuzz_options reserve_fuzz COMPILE_OPTIONS)
list(REMOVE_ITEM reserve_fuzz_options -fexec-charset=CP932)
set_target_properties(reserve_fuzz PROPERTIES COMPILE_OPTIONS "${reserve_fuzz_options}")
