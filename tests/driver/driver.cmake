# The driver class and its COM server.
tavo_add_gtest(driver_values_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_values_test.cpp
  LIBS driver_core)
