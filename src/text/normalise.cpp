#include "text/normalise.h"

#include "text/abbreviations.h"
#include "text/ascii.h"
#include "text/chunks.h"
#include "text/core-reader.h"
#include "text/dates.h"
#include "text/initialisms.h"
#include "text/money.h"
#include "text/number-forms.h"
#include "text/reader.h"
#include "text/roman-numerals.h"
#include "text/spoken.h"
#include "text/telephone.h"
#include "text/times.h"
#include "text/unicode-fold.h"

namespace {

// The one mark a chunk's closing punctuation stands for, if any. An ellipsis
// before a lower-case word is a pause inside the sentence.
char trail_mark(std::string_view trail, const Chunk *next) {
  if (trail.find('?') != std::string_view::npos) return '?';
  if (trail.find('!') != std::string_view::npos) return '!';
  if (trail.find("..") != std::string_view::npos) {
    return next && !next->core.empty() && next->core[0] >= 'a' && next->core[0] <= 'z' ? ',' : '.';
  }
  for (char c : {'.', ';', ':', ','}) {
    if (trail.find(c) != std::string_view::npos) return c;
  }
  // Words in brackets are set off by pauses.
  return trail.find_first_of(")]") != std::string_view::npos ? ',' : 0;
}

// A dash standing alone ("--", " - ") is a pause.
bool is_dash(std::string_view core) {
  return !core.empty() && core.find_first_not_of('-') == core.npos;
}

// Readers of what may span chunks or use the chunk's closing period, in the
// order they are tried; a chunk none of them takes is read on its own.
using PhraseReader = Taken (*)(const Cursor &, Spoken &);
constexpr PhraseReader kPhraseReaders[] = {
    read_abbreviation,          read_named_date,    read_year_phrase,   read_time_phrase,
    read_telephone_phrase,      read_money_phrase,  read_measure_phrase,
    read_mixed_fraction_phrase, read_dotted_phrase, read_roman_numeral};

Taken read_chunk(const Cursor &cursor, Spoken &out) {
  const Chunk &chunk = cursor.chunk();
  if (is_dash(chunk.core)) {
    // "5 - 10" is a range; any other dash alone a pause.
    const Chunk *previous = cursor.peek(-1);
    const Chunk *next = cursor.peek(1);
    if (chunk.core.size() == 1 && previous && next && !previous->core.empty() &&
        is_digit(previous->core.back()) && previous->trail.empty() && !next->core.empty() &&
        is_digit(next->core[0])) {
      out.add("to");
    } else {
      out.mark(',');
    }
    return {1, false};
  }
  for (PhraseReader reader : kPhraseReaders) {
    const Taken taken = reader(cursor, out);
    if (taken.chunks) return taken;
  }
  read_core(chunk.core, out);
  return {1, false};
}

}  // namespace

std::string normalise_text(std::string_view utf8) {
  const std::string text = fold_to_ascii(utf8);
  const std::vector<Chunk> chunks = split_chunks(text);
  Spoken out;
  for (size_t i = 0; i < chunks.size();) {
    if (chunks[i].new_paragraph) out.mark('.');
    if (chunks[i].lead.find_first_of("([") != std::string_view::npos) out.mark(',');
    const Cursor cursor{chunks, i};
    const Taken taken = read_chunk(cursor, out);
    i += taken.chunks;
    const Chunk &last = chunks[i - 1];
    std::string_view trail = last.trail;
    if (taken.period) trail.remove_prefix(1);
    if (const char mark = trail_mark(trail, i < chunks.size() ? &chunks[i] : nullptr)) {
      out.mark(mark);
    }
  }
  return out.take();
}
