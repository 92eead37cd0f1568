#pragma once
// Text -> utterances of framed token ids for one voice: the front-end its
// description names, with the symbol table and framing the description gives.
// One file per front-end: korva-front-end.cpp (lexicon + espeak-ng, the
// constructed voice's table), espeak-front-end.cpp (the public VITS text
// pipeline), piper-front-end.cpp (Piper's phonemes), characters-front-end.cpp
// (letters as they are written).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/phoneme-text.h"
#include "text/spoken-form.h"
#include "text/utterances.h"
#include "voice/voice-description.h"

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // The utterances of `text`, each with its phonemes, framed ids and the words
  // of `text` its symbols say: one, or one per sentence and pause where the
  // voice's own pipeline cuts a text so (piper). Symbols the voice's table
  // lacks go to `dropped`; an utterance left with no symbol is left out, so a
  // text of nothing the voice can say has none. Throws std::runtime_error
  // when espeak-ng cannot read the text.
  virtual std::vector<Utterance> utterances(std::string_view text,
                                            DroppedSymbols &dropped) const = 0;
  // What the front-end's pipeline reads itself, for the normaliser to leave.
  virtual ReadingStyle reading_style() const { return {}; }
};

// The front-end `table` names. All but characters need espeak-ng started
// (phonemizer_init); a language espeak-ng lacks is refused here.
std::unique_ptr<FrontEnd> make_front_end(const FrontEndTable &table);

// Symbol ids s1 .. sn as the table frames them: [start] blank s1 blank ... sn blank [end],
// each part only where the table has it.
std::vector<int32_t> frame_symbols(const std::vector<int32_t> &symbols, const FrontEndTable &table);

// One constructor per front-end file.
std::unique_ptr<FrontEnd> make_korva_front_end();
std::unique_ptr<FrontEnd> make_espeak_front_end(const FrontEndTable &table);
std::unique_ptr<FrontEnd> make_piper_front_end(const FrontEndTable &table);
std::unique_ptr<FrontEnd> make_characters_front_end(const FrontEndTable &table);

// The korva front-end's framed ids of `text` read whole, cut at kMaxTokens,
// with its log lines: the seven functions' single utterance. Throws
// std::runtime_error when the text cannot be read.
std::vector<int32_t> korva_whole_text_ids(const char *text);

// Length in bytes of the UTF-8 character starting at text[i] (1 for a stray byte).
size_t utf8_length(std::string_view text, size_t i);
