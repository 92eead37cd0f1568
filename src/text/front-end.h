#pragma once
// Text -> framed token ids for one voice: the front-end its description names,
// with the symbol table and framing the description gives. One file per
// front-end: korva-front-end.cpp (lexicon + espeak-ng, the constructed voice's
// table), espeak-front-end.cpp (espeak-ng IPA, as the public VITS voices were
// trained), characters-front-end.cpp (letters as they are written).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "voice/voice-description.h"

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Framed ids of `text`. Throws std::runtime_error with the reason when it
  // cannot make any.
  virtual std::vector<int32_t> ids(const char *text) const = 0;
};

// The front-end `table` names. korva and espeak need espeak-ng initialised
// (phonemizer_init); espeak switches it to the table's language.
std::unique_ptr<FrontEnd> make_front_end(const FrontEndTable &table);

// Symbol ids s1 .. sn as the table frames them: [start] blank s1 blank ... sn blank [end],
// each part only where the table has it.
std::vector<int32_t> frame_symbols(const std::vector<int32_t> &symbols, const FrontEndTable &table);

// The id of each code point of `text`; code points outside the table are
// dropped with a "[frontend] WARN" line.
std::vector<int32_t> table_ids(const std::string &text, const FrontEndTable &table);

// table_ids of `text`, framed; throws std::runtime_error when no symbol is in the table.
std::vector<int32_t> framed_table_ids(const std::string &text, const FrontEndTable &table);

// One constructor per front-end file.
std::unique_ptr<FrontEnd> make_korva_front_end();
std::unique_ptr<FrontEnd> make_espeak_front_end(const FrontEndTable &table);
std::unique_ptr<FrontEnd> make_characters_front_end(const FrontEndTable &table);

// Length in bytes of the UTF-8 character starting at text[i] (1 for a stray byte).
size_t utf8_length(const std::string &text, size_t i);
