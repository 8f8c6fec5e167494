# The controller simulator: its pure parts, and its link against a hand-driven driver side.
tavo_add_gtest(simulator_tests NETNS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/simulator_records_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/simulator_link_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/simulator_json_test.cpp
  LIBS ctrlsim_lib)
# The program itself: JSON requests in, JSON lines out.
add_test(NAME ctrlsim_command_line
  COMMAND ${TAVO_NETNS_RUN} bash -c
    "printf '%s\\n' '{\"cmd\":\"add\",\"address\":\"127.0.0.2\",\"announce_ms\":20}' '{\"cmd\":\"bogus\"}' '{\"cmd\":\"stats\"}' '{\"cmd\":\"quit\"}' | $<TARGET_FILE:ctrlsim>")
set_tests_properties(ctrlsim_command_line PROPERTIES TIMEOUT 30
  PASS_REGULAR_EXPRESSION "\"type\":\"error\".*\"controller\":\"127.0.0.2\".*\"type\":\"stats\"")
