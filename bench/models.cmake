# Speed of the pricing models.
add_executable(models_bench ${CMAKE_CURRENT_LIST_DIR}/models_bench.cpp)
target_link_libraries(models_bench PRIVATE kx_models benchmark::benchmark benchmark::benchmark_main)
