# Cost of the method frame: a call through IKvQuantorb next to the bare model function.
add_executable(interface_bench ${CMAKE_CURRENT_LIST_DIR}/interface_bench.cpp)
target_link_libraries(interface_bench PRIVATE kx_component_core benchmark::benchmark
                      benchmark::benchmark_main)
