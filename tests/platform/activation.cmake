# Test server libraries for the activation and module tests, loaded at run time by path.
add_library(tavo_test_server SHARED ${CMAKE_CURRENT_LIST_DIR}/activation_server.cpp)
target_link_libraries(tavo_test_server PRIVATE platform)
# Exported inline variables would become unique symbols, which keep a library from ever unloading.
set_target_properties(tavo_test_server PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
add_library(tavo_test_broken_server SHARED ${CMAKE_CURRENT_LIST_DIR}/activation_broken_server.cpp)
# Uses the platform's headers without linking the library.
target_include_directories(tavo_test_broken_server PRIVATE ${PROJECT_SOURCE_DIR})
add_dependencies(platform_tests tavo_test_server tavo_test_broken_server)
target_compile_definitions(platform_tests PRIVATE
  TAVO_TEST_SERVER_PATH="$<TARGET_FILE:tavo_test_server>"
  TAVO_TEST_BROKEN_SERVER_PATH="$<TARGET_FILE:tavo_test_broken_server>"
  TAVO_PLATFORM_LIBRARY_PATH="$<TARGET_FILE:platform>")
