# Builds the embedded lexicon: fetch the pinned dictionary package, generate the
# text and index blobs, and assemble them into read-only data with .incbin.
set(KORVA_LEXICON_DIR ${CMAKE_BINARY_DIR}/lexicon)
set(_lex_js ${KORVA_LEXICON_DIR}/cmudict/package/index.js)
set(_lex_text ${KORVA_LEXICON_DIR}/lexicon-text.bin)
set(_lex_index ${KORVA_LEXICON_DIR}/lexicon-index.bin)

add_custom_command(
  OUTPUT ${_lex_js}
  COMMAND ${CMAKE_SOURCE_DIR}/tools/lexicon/fetch-cmudict ${KORVA_LEXICON_DIR}/cmudict
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/lexicon/fetch-cmudict
  COMMENT "Fetching the pronunciation dictionary package")
add_custom_command(
  OUTPUT ${_lex_text} ${_lex_index}
  COMMAND ${KORVA_PYTHON} ${CMAKE_SOURCE_DIR}/tools/lexicon/make-lexicon ${_lex_js} ${_lex_text} ${_lex_index}
  DEPENDS ${_lex_js} ${CMAKE_SOURCE_DIR}/tools/lexicon/make-lexicon
  COMMENT "Generating the lexicon arrays")
add_custom_target(korva_lexicon_data DEPENDS ${_lex_text} ${_lex_index})

configure_file(${CMAKE_SOURCE_DIR}/cmake/lexicon-data.S.in ${KORVA_LEXICON_DIR}/lexicon-data.S @ONLY)
set(KORVA_LEXICON_OBJECT ${KORVA_LEXICON_DIR}/lexicon-data.S)
set_source_files_properties(${KORVA_LEXICON_OBJECT} PROPERTIES
  OBJECT_DEPENDS "${_lex_text};${_lex_index}")
