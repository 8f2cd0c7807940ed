# Native (Linux) build of the settings reader: its tests under AddressSanitizer
# and UndefinedBehaviorSanitizer, and a libFuzzer target.
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(settings_reader PRIVATE ${SANITIZE} -fsanitize=fuzzer-no-link)
target_link_options(settings_reader PUBLIC ${SANITIZE})

add_executable(settings_reader_tests tests/native/settings_reader_test.cpp tests/settings_cases.cpp)
target_link_libraries(settings_reader_tests PRIVATE settings_reader gtest_main)
target_compile_options(settings_reader_tests PRIVATE ${SANITIZE})
project_warnings(settings_reader_tests)
add_test(NAME settings_reader_sanitized COMMAND settings_reader_tests)

add_executable(settings_fuzzer fuzz/settings_fuzzer.cpp)
target_link_libraries(settings_fuzzer PRIVATE settings_reader)
target_compile_options(settings_fuzzer PRIVATE ${SANITIZE} -fsanitize=fuzzer)
target_link_options(settings_fuzzer PRIVATE -fsanitize=fuzzer)
project_warnings(settings_fuzzer)
# A short bounded run that starts from the checked-in seeds; new inputs go to
# a corpus in the build tree. Longer campaigns: README.
set(FUZZ_CORPUS ${CMAKE_BINARY_DIR}/fuzz-corpus)
file(MAKE_DIRECTORY ${FUZZ_CORPUS})
add_test(NAME settings_fuzz_short
  COMMAND settings_fuzzer -max_total_time=60 -max_len=4096 -timeout=10 -print_final_stats=1
          -artifact_prefix=${CMAKE_BINARY_DIR}/ ${FUZZ_CORPUS} ${CMAKE_SOURCE_DIR}/fuzz/seeds)
