# Frame handling per datagram and the journal's append at its default capacity.
add_executable(driver_link_bench ${CMAKE_CURRENT_LIST_DIR}/link_bench.cpp)
target_link_libraries(driver_link_bench PRIVATE driver_core benchmark::benchmark benchmark::benchmark_main)
