add_executable(reactor_bench ${CMAKE_CURRENT_LIST_DIR}/reactor_bench.cpp)
target_link_libraries(reactor_bench PRIVATE platform benchmark::benchmark benchmark::benchmark_main)
