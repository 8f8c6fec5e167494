# The controller link: frames, event records, controller list, UDP channel, event journal.
tavo_add_gtest(driver_link_tests NETNS
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/link_frames_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/morvik_common_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/controllers_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/udp_sync_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transact_base_test.cpp
  LIBS driver_core)
tavo_add_fuzzer(fuzz_frames SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_frames.cpp LIBS driver_core)
tavo_add_fuzzer(fuzz_controllers SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_controllers.cpp LIBS driver_core)
