# The host program's value mapping, callback object and request handling (no process, no network).
tavo_add_gtest(eqhost_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/eqhost_mapping_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/eqhost_callback_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/eqhost_session_test.cpp
  LIBS eqhost_lib)

# The program itself over its standard input and output, with the real driver library.
find_package(nlohmann_json REQUIRED)
tavo_add_gtest(eqhost_process_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/eqhost_process_test.cpp
  LIBS nlohmann_json::nlohmann_json)
target_compile_definitions(eqhost_process_tests PRIVATE
  TAVO_EQHOST="$<TARGET_FILE:eqhost>" TAVO_DRIVER_LIBRARY="$<TARGET_FILE:morvikrk4400ip>")
add_dependencies(eqhost_process_tests eqhost morvikrk4400ip)

# The installed product: `cmake --install` into a scratch prefix, then the installed host program
# registers the installed driver (which must find its platform library inside the prefix).
add_test(NAME installed_driver_registers
  COMMAND bash -c [[
    set -e
    prefix=$(mktemp -d); trap 'rm -rf "$prefix"' EXIT
    "$2" --install "$0" --prefix "$prefix" >/dev/null
    XDG_CONFIG_HOME="$prefix/config" LD_LIBRARY_PATH= "$prefix/bin/eqhost" register "$prefix/lib/tavoeq/libmorvikrk4400ip.so"
    test -f "$prefix/lib/tavoeq/help.chm" -o "$1" = 0
    grep -rq "$prefix/lib/tavoeq/libmorvikrk4400ip.so" "$prefix/config/tavoeq"
  ]] ${CMAKE_BINARY_DIR} $<BOOL:${TAVO_DIALOGS}> ${CMAKE_COMMAND})
set_tests_properties(installed_driver_registers PROPERTIES TIMEOUT 120 LABELS install)

tavo_add_fuzzer(fuzz_eqhost_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_eqhost_json.cpp LIBS eqhost_lib)
