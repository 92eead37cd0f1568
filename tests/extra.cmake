# The command-line tool, driven as a user would (tests/cli), and the public
# header seen from C (tests/api/*.c), including the README's example program.

foreach(name c-header-test readme-example)
  string(REPLACE "-" "_" target ${name})
  add_executable(${target} ${CMAKE_CURRENT_SOURCE_DIR}/api/${name}.c)
  target_link_libraries(${target} PRIVATE korva m)
  set_target_properties(${target} PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wpedantic)
endforeach()
add_test(NAME c_header COMMAND c_header_test)
set_tests_properties(c_header PROPERTIES LABELS unit)

set(cli_driver ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli-test.py)
add_test(NAME cli_unit
  COMMAND ${cli_driver} unit --korva $<TARGET_FILE:korva_cli> --work ${CMAKE_CURRENT_BINARY_DIR}/cli-unit)
set_tests_properties(cli_unit PROPERTIES LABELS unit)
add_test(NAME cli_model
  COMMAND ${cli_driver} model --korva $<TARGET_FILE:korva_cli> --work ${CMAKE_CURRENT_BINARY_DIR}/cli-model
          --archive ${KORVA_GOLDEN_ARCHIVE} --readme-example $<TARGET_FILE:readme_example>)
set_tests_properties(cli_model PROPERTIES LABELS model FIXTURES_REQUIRED golden SKIP_RETURN_CODE 77)

# The archive exporter (tools/export), with a helper that reads its archives
# back through korva's own reader.
add_executable(manifest_dump ${CMAKE_CURRENT_SOURCE_DIR}/weights/manifest-dump.cpp)
target_link_libraries(manifest_dump PRIVATE korva_weights)
target_precompile_headers(manifest_dump REUSE_FROM korva_pch)
add_test(NAME exporter COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/export/exporter-test.py)
set_tests_properties(exporter PROPERTIES LABELS unit
  ENVIRONMENT KORVA_MANIFEST_DUMP=$<TARGET_FILE:manifest_dump>)
