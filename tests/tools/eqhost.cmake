# The host program's value mapping, callback object and request handling (no process, no network).
if(TARGET eqhost_lib)
  tavo_add_gtest(eqhost_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/eqhost_mapping_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/eqhost_callback_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/eqhost_session_test.cpp
    LIBS eqhost_lib)
endif()
