# kx_stress (tests/stress): one object called from many threads with every family and Abort, for a
# wall time; a program, not a test. scripts/stress.sh runs it for a minute; the suite runs it for
# two seconds (ThreadSanitizer too).
add_executable(kx_stress ${PROJECT_SOURCE_DIR}/tests/stress/stress_main.cpp)
target_link_libraries(kx_stress PRIVATE kx_component_core)
add_test(NAME kx_stress_short COMMAND kx_stress --seconds 2 --threads 8 --watchdog 240)
set_tests_properties(kx_stress_short PROPERTIES LABELS "sanitize;threads" TIMEOUT 600)
