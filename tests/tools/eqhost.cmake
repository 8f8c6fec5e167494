# The host program's value mapping, callback object and request handling (no process, no network).
if(TARGET eqhost_lib)
  tavo_add_gtest(eqhost_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/eqhost_mapping_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/eqhost_callback_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/eqhost_session_test.cpp
    LIBS eqhost_lib)
endif()

# The program itself over its standard input and output, with the real driver library.
if(TARGET eqhost AND TARGET morvikrk4400ip)
  find_package(nlohmann_json REQUIRED)
  tavo_add_gtest(eqhost_process_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/eqhost_process_test.cpp
    LIBS nlohmann_json::nlohmann_json)
  target_compile_definitions(eqhost_process_tests PRIVATE
    TAVO_EQHOST="$<TARGET_FILE:eqhost>" TAVO_DRIVER_LIBRARY="$<TARGET_FILE:morvikrk4400ip>")
  add_dependencies(eqhost_process_tests eqhost morvikrk4400ip)
endif()

if(TARGET eqhost_lib)
  tavo_add_fuzzer(fuzz_eqhost_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_eqhost_json.cpp LIBS eqhost_lib)
endif()
