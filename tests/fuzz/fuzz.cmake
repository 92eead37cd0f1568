# libFuzzer targets (clang, -DKORVA_FUZZ=ON): each parser of outside bytes gets
# one, with its seed corpus in tests/fuzz/corpus/<target>; scripts/fuzz runs
# them. A new parser adds a line to the list below and a corpus directory.
set(korva_fuzz_targets
  "archive korva_weights"      # the archive opener and its CRC reader
  "manifest korva_weights"     # the manifest scanner and entry checks
  "tokenizer korva_text"
  "phonemizer korva_text"
  "normalise korva_text"       # the text normaliser
  "ssml korva_text"            # the SSML reader
  "front-ends korva_text"      # the espeak, piper and characters front-ends
)
foreach(entry ${korva_fuzz_targets})
  separate_arguments(entry)
  list(GET entry 0 name)
  list(GET entry 1 deps)
  add_executable(fuzz_${name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name}-fuzz.cpp)
  target_link_libraries(fuzz_${name} PRIVATE ${deps})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  if(deps MATCHES "korva_weights")
    korva_reuse_torch_pch(fuzz_${name})
  endif()
endforeach()
