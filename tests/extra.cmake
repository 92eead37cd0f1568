# The archive exporter (tools/export), with a helper that reads its archives
# back through korva's own reader.
add_executable(manifest_dump ${CMAKE_CURRENT_SOURCE_DIR}/weights/manifest-dump.cpp)
target_link_libraries(manifest_dump PRIVATE korva_weights)
target_precompile_headers(manifest_dump REUSE_FROM korva_pch)
add_test(NAME exporter COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/export/exporter-test.py)
set_tests_properties(exporter PROPERTIES LABELS unit
  ENVIRONMENT KORVA_MANIFEST_DUMP=$<TARGET_FILE:manifest_dump>)
