# Network device throughput against the simulator; run under scripts/netns-run (fixed ports).
add_executable(netdevice_bench ${CMAKE_CURRENT_LIST_DIR}/netdevice_bench.cpp)
target_link_libraries(netdevice_bench PRIVATE driver_core ctrlsim_lib benchmark::benchmark
                                              benchmark::benchmark_main)
