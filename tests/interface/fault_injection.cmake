# Faults injected into whole method calls: the k-th allocation of a call failing, for every k, and
# Abort at random moments of every worker family. Its own program, because it replaces the global
# operator new.
kx_add_test(fault_injection_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/counting_allocator.cpp
    ${CMAKE_CURRENT_LIST_DIR}/interface_test_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection_test.cpp
  LIBS kx_component_core
  LABELS "sanitize;threads")
# Names in the stacks that KX_FAULT_TRACE=1 prints.
target_link_options(fault_injection_test PRIVATE -rdynamic)
