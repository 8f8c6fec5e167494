# The network device against simulated controllers (each case in its own network namespace).
tavo_add_gtest(netdevice_tests NETNS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/netdevice_connect_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/netdevice_commands_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/netdevice_receive_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/netdevice_journal_test.cpp
  LIBS driver_core ctrlsim_lib)
tavo_add_gtest(netdevice_load_tests NETNS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/netdevice_load_test.cpp
  LIBS driver_core ctrlsim_lib
  LABELS load)
tavo_add_gtest(netdevice_slow_tests NETNS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/netdevice_slow_test.cpp
  LIBS driver_core ctrlsim_lib
  LABELS slow)
