# The driver through the host's Invoke against simulated controllers (loopback; run it in a
# private network namespace: scripts/netns-run build/bench/driver/driver_bench).
add_executable(driver_bench ${CMAKE_CURRENT_LIST_DIR}/driver_bench.cpp)
target_link_libraries(driver_bench PRIVATE driver_test_harness benchmark::benchmark)
add_dependencies(driver_bench morvikrk4400ip)
