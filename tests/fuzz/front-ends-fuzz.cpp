// Text -> utterances through the espeak, piper and characters front-ends, the
// normaliser leaving marks as written before them, from arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "text/front-end.h"
#include "text/phonemizer.h"
#include "text/spoken-form.h"

namespace {

// A table of a few symbols: most of what the front-ends make is dropped, as
// with a voice of another language.
FrontEndTable table_of(FrontEndKind kind) {
  FrontEndTable table;
  table.kind = kind;
  int32_t id = 3;
  for (const char *s : {" ", ",", ".", "a", "e", "ə", "ˈ", "t"}) table.symbols[s] = id++;
  table.blank = 0;
  if (kind == FrontEndKind::kPiper) {
    table.start = 1;
    table.end = 2;
    table.phoneme_map["ə"] = {"a", "e"};
    table.phoneme_silence[","] = 0.1f;
  }
  return table;
}

std::unique_ptr<FrontEnd> front_ends[3];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (phonemizer_init(nullptr) != 0) std::abort();
  front_ends[0] = make_front_end(table_of(FrontEndKind::kEspeak));
  front_ends[1] = make_front_end(table_of(FrontEndKind::kPiper));
  front_ends[2] = make_front_end(table_of(FrontEndKind::kCharacters));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SourcedText written;
  written.append_verbatim(std::string(reinterpret_cast<const char *>(data), size), 0);
  for (const auto &front_end : front_ends) {
    const SourcedText spoken = spoken_form(written, front_end->reading_style());
    DroppedSymbols dropped;
    for (const Utterance &u : front_end->utterances(spoken.text, dropped)) {
      for (const UtteranceWord &word : u.words)
        if (word.offset + word.length > spoken.text.size() ||
            word.first_symbol + word.n_symbols > u.symbols.size())
          std::abort();
    }
  }
  return 0;
}
