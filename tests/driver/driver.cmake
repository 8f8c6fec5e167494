# The driver class and its COM server.
tavo_add_gtest(driver_values_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_values_test.cpp
  LIBS driver_core)

# End to end: the shipped library registered in a private registry, created by ProgID and called
# by name as a host does, against simulated controllers on loopback (one network namespace per
# test case: the link's ports are fixed).
add_library(driver_test_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/driver_harness.cpp)
target_link_libraries(driver_test_harness PUBLIC driver_core eqhost_lib ctrlsim_lib GTest::gtest)
target_compile_definitions(driver_test_harness PUBLIC
  TAVO_DRIVER_LIBRARY="$<TARGET_FILE:morvikrk4400ip>")
tavo_add_gtest(driver_tests NETNS
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/driver_events_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/driver_uploads_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/driver_operations_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/driver_server_test.cpp
  LIBS driver_test_harness)
add_dependencies(driver_tests morvikrk4400ip)
