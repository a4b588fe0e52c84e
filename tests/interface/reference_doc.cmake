# docs/reference.md against the component itself: every member of its type library and every code
# of its error table must be documented there.
kx_add_test(reference_doc_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/reference_doc_test.cpp
  LIBS kx_component_core
  LABELS "sanitize")
target_compile_definitions(reference_doc_test PRIVATE
  KX_REFERENCE_DOC="${PROJECT_SOURCE_DIR}/docs/reference.md")
