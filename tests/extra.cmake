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
korva_reuse_torch_pch(manifest_dump)
add_test(NAME exporter COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/export/exporter-test.py)
set_tests_properties(exporter PROPERTIES LABELS unit
  ENVIRONMENT KORVA_MANIFEST_DUMP=$<TARGET_FILE:manifest_dump>)

# The constructed default voice (tools/voice), built once per test run where the
# command-line tool looks for it, and tested through the engine's networks.
add_test(NAME make_default_voice
  COMMAND ${KORVA_PYTHON} ${CMAKE_SOURCE_DIR}/tools/voice/korva-voice --out ${KORVA_DEFAULT_VOICE}
          --periods ${CMAKE_BINARY_DIR}/voices/periods)
set_tests_properties(make_default_voice PROPERTIES FIXTURES_SETUP default_voice LABELS model)
add_executable(test_voice ${CMAKE_CURRENT_SOURCE_DIR}/voice/constructed-voice-test.cpp)
target_link_libraries(test_voice PRIVATE korva_core GTest::gtest GTest::gtest_main)
korva_reuse_torch_pch(test_voice)
target_compile_definitions(test_voice PRIVATE KORVA_DEFAULT_VOICE="${KORVA_DEFAULT_VOICE}"
  KORVA_DEFAULT_VOICE_PERIODS="${CMAKE_BINARY_DIR}/voices/periods")
gtest_discover_tests(test_voice DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS model FIXTURES_REQUIRED default_voice)

# Its intelligibility, scored by a real recogniser on spoken digits.
add_executable(speak_lines ${CMAKE_CURRENT_SOURCE_DIR}/voice/speak-lines.c)
target_link_libraries(speak_lines PRIVATE korva)
add_test(NAME voice_intelligibility
  COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/voice/intelligibility-test.py
          --speak-lines $<TARGET_FILE:speak_lines> --voice ${KORVA_DEFAULT_VOICE})
set_tests_properties(voice_intelligibility PROPERTIES LABELS model FIXTURES_REQUIRED default_voice
  SKIP_RETURN_CODE 77)

# The library's exported symbols: the seven C functions only.
add_test(NAME exports COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/api/exports-test.sh $<TARGET_FILE:korva>)
set_tests_properties(exports PROPERTIES LABELS unit)

# The voice description record (src/voice): parsing and checks, no weights.
add_executable(test_voice_description ${CMAKE_CURRENT_SOURCE_DIR}/voice/voice-json-test.cpp)
target_link_libraries(test_voice_description PRIVATE korva_voice GTest::gtest GTest::gtest_main)
gtest_discover_tests(test_voice_description DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

# The converters of trained voices (tools/export), on checkpoints of the shared
# generator made once per run; skipped without ../shared.
add_test(NAME converters COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/export/converters-test.py)
set_tests_properties(converters PROPERTIES LABELS unit SKIP_RETURN_CODE 77
  ENVIRONMENT KORVA_MANIFEST_DUMP=$<TARGET_FILE:manifest_dump>)

# Voices as ONNX models (tools/export --from-onnx): the shared golden Piper voices
# converted and spoken, the same voices as other exporters write them, and the
# files it refuses. About half a minute; skipped without ../shared.
add_test(NAME onnx_import COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/export/onnx-import-test.py)
set_tests_properties(onnx_import PROPERTIES LABELS unit SKIP_RETURN_CODE 77
  ENVIRONMENT "KORVA_MANIFEST_DUMP=$<TARGET_FILE:manifest_dump>;KORVA_CLI=$<TARGET_FILE:korva_cli>")

# `cmake --install` into a fresh prefix, used from there by a C program built
# with find_package(korva) and with pkg-config, and by the installed tools.
add_test(NAME install
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install/install-test.sh ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR}
          ${CMAKE_CURRENT_SOURCE_DIR}/api/c-header-test.c)
set_tests_properties(install PROPERTIES LABELS install)

# The Python package (python/korva) on the built library, speaking with the default voice.
add_test(NAME python
  COMMAND ${KORVA_PYTHON} -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_SOURCE_DIR}/python)
set_tests_properties(python PROPERTIES LABELS python FIXTURES_REQUIRED default_voice
  ENVIRONMENT "KORVA_LIBRARY=$<TARGET_FILE:korva>;KORVA_TEST_VOICE=${KORVA_DEFAULT_VOICE};PYTHONPATH=${CMAKE_SOURCE_DIR}/python;PYTHONDONTWRITEBYTECODE=1")

# The speech server (tools/serve): its parts that need no voice, then the whole
# server with real HTTP and Wyoming clients on loopback.
file(GLOB serve_test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/serve/*-test.cpp
     ${CMAKE_CURRENT_SOURCE_DIR}/serve/fake-shelf.cpp ${CMAKE_SOURCE_DIR}/tools/cli/args.cpp)
add_executable(test_serve ${serve_test_srcs})
target_link_libraries(test_serve PRIVATE korva_serve_core GTest::gtest GTest::gtest_main)
gtest_discover_tests(test_serve DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
add_test(NAME serve
  COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/serve/serve-test.py
          --server $<TARGET_FILE:korva_serve> --korva $<TARGET_FILE:korva_cli>
          --archive ${KORVA_GOLDEN_ARCHIVE} --voice2 ${KORVA_DEFAULT_VOICE}
          --work ${CMAKE_CURRENT_BINARY_DIR}/serve)
set_tests_properties(serve PROPERTIES LABELS model FIXTURES_REQUIRED "golden;default_voice"
  SKIP_RETURN_CODE 77
  ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
# Its page at / in headless Chromium (skipped without it).
add_test(NAME serve_page
  COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/serve/page-test.py
          --server $<TARGET_FILE:korva_serve> --archive ${KORVA_GOLDEN_ARCHIVE}
          --work ${CMAKE_CURRENT_BINARY_DIR}/serve-page)
set_tests_properties(serve_page PROPERTIES LABELS model FIXTURES_REQUIRED golden SKIP_RETURN_CODE 77
  ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)

# Fuzz targets, in a build of their own configured with clang (scripts/fuzz).
if(KORVA_FUZZ)
  include(${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz.cmake)
endif()

# Word timings on the constructed voice, through the C API.
add_executable(test_word_timings ${CMAKE_CURRENT_SOURCE_DIR}/voice/word-timings-test.cpp)
target_link_libraries(test_word_timings PRIVATE korva GTest::gtest GTest::gtest_main)
target_compile_definitions(test_word_timings PRIVATE KORVA_DEFAULT_VOICE="${KORVA_DEFAULT_VOICE}")
gtest_discover_tests(test_word_timings DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS model FIXTURES_REQUIRED default_voice)

# Every shape of the shared VITS golden cases, converted and spoken through
# `korva speak --ids ... --rate native --format f32`; the checkpoints are made
# once per run. About a minute; skipped without ../shared.
add_test(NAME vits_cases
  COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/cli/vits-cases-test.py
          --korva $<TARGET_FILE:korva_cli> --export ${CMAKE_SOURCE_DIR}/tools/export/korva-export
          --work ${CMAKE_CURRENT_BINARY_DIR}/vits-cases --golden ${KORVA_GOLDEN_DIR})
set_tests_properties(vits_cases PROPERTIES LABELS model SKIP_RETURN_CODE 77)

# A tiny voice of a whole-text front-end reading real text: a sentence over the
# id limit spoken whole, normalised words reaching the voice. A few seconds.
add_test(NAME whole_text_voice
  COMMAND ${KORVA_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/cli/whole-text-voice-test.py
          --korva $<TARGET_FILE:korva_cli> --work ${CMAKE_CURRENT_BINARY_DIR}/whole-text-voice)
set_tests_properties(whole_text_voice PROPERTIES LABELS unit)
