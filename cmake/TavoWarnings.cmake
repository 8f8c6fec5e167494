add_compile_options(-Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # gtest's typed parameters trip this one on g++ 12 without any fault of ours.
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-maybe-uninitialized>)
endif()

# tavo_add_gtest(name SOURCES ... LIBS ... [NETNS] [LABELS ...])
# One test binary; every test case becomes its own CTest test. NETNS runs each case in a private
# network namespace (the link's ports are fixed, so cases must not share a network).
function(tavo_add_gtest name)
  cmake_parse_arguments(T "NETNS" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(props TIMEOUT 300)
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_NETNS)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${TAVO_NETNS_RUN})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# tavo_add_fuzzer(name SOURCES ... LIBS ...): a libFuzzer target, built only with TAVO_FUZZ.
function(tavo_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(TAVO_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(tavo_fuzzers ${name})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endif()
endfunction()
