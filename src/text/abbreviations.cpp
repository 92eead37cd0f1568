#include "text/abbreviations.h"

#include <string_view>
#include <unordered_map>

#include "text/ascii.h"

namespace {

enum class Place {
  kTitle,         // before a name; without its period only before a capitalised word;
                  // its period never ends a sentence
  kEnding,        // may end a sentence
  kInner,         // always followed by more of the sentence; period optional
  kBeforeNumber,  // an abbreviation only before a number ("No. 5"), else a word
};

struct Abbreviation {
  std::string_view written;  // without its period
  std::string_view said;
  Place place;
};

constexpr Abbreviation kAbbreviations[] = {
    {"Mr", "mister", Place::kTitle},
    {"Mrs", "missus", Place::kTitle},
    {"Ms", "miz", Place::kTitle},
    {"Prof", "professor", Place::kTitle},
    {"Gen", "general", Place::kTitle},
    {"Capt", "captain", Place::kTitle},
    {"Lt", "lieutenant", Place::kTitle},
    {"Sgt", "sergeant", Place::kTitle},
    {"Rev", "reverend", Place::kTitle},
    {"Gov", "governor", Place::kTitle},
    {"Sen", "senator", Place::kTitle},
    {"Rep", "representative", Place::kTitle},
    {"Pres", "president", Place::kTitle},
    {"Mt", "Mount", Place::kTitle},
    {"Ft", "Fort", Place::kTitle},
    {"Col", "colonel", Place::kTitle},
    {"Maj", "major", Place::kTitle},
    {"Hon", "honorable", Place::kTitle},
    {"Jr", "junior", Place::kEnding},
    {"Sr", "senior", Place::kEnding},
    {"Esq", "esquire", Place::kEnding},
    {"etc", "et cetera", Place::kEnding},
    {"approx", "approximately", Place::kEnding},
    {"Inc", "incorporated", Place::kEnding},
    {"Ltd", "limited", Place::kEnding},
    {"Corp", "corporation", Place::kEnding},
    {"Co", "company", Place::kEnding},
    {"Bros", "brothers", Place::kEnding},
    {"Ave", "Avenue", Place::kEnding},
    {"Blvd", "Boulevard", Place::kEnding},
    {"Rd", "Road", Place::kEnding},
    {"Dept", "department", Place::kEnding},
    {"Univ", "university", Place::kEnding},
    {"esp", "especially", Place::kEnding},
    {"misc", "miscellaneous", Place::kEnding},
    {"e.g", "for example", Place::kInner},
    {"E.g", "for example", Place::kInner},
    {"i.e", "that is", Place::kInner},
    {"I.e", "that is", Place::kInner},
    {"vs", "versus", Place::kInner},
    {"cf", "compare", Place::kInner},
    {"viz", "namely", Place::kInner},
    {"No", "number", Place::kBeforeNumber},
    {"no", "number", Place::kBeforeNumber},
    {"Nos", "numbers", Place::kBeforeNumber},
    {"p", "page", Place::kBeforeNumber},
    {"pp", "pages", Place::kBeforeNumber},
    {"pg", "page", Place::kBeforeNumber},
    {"Vol", "volume", Place::kBeforeNumber},
    {"vol", "volume", Place::kBeforeNumber},
    {"Ch", "chapter", Place::kBeforeNumber},
    {"ch", "chapter", Place::kBeforeNumber},
    {"Fig", "figure", Place::kBeforeNumber},
    {"fig", "figure", Place::kBeforeNumber},
    {"ca", "circa", Place::kBeforeNumber},
    {"c", "circa", Place::kBeforeNumber},
};

// Every chunk is looked up: hashed, not scanned.
const Abbreviation *find(std::string_view written) {
  static const std::unordered_map<std::string_view, const Abbreviation *> index = [] {
    std::unordered_map<std::string_view, const Abbreviation *> map;
    for (const Abbreviation &a : kAbbreviations) map.emplace(a.written, &a);
    return map;
  }();
  const auto found = index.find(written);
  return found == index.end() ? nullptr : found->second;
}

bool starts_number(const Chunk *chunk) {
  return chunk && !chunk->core.empty() && (is_digit(chunk->core[0]) || chunk->core[0] == '#');
}

// The chunk's closing punctuation ends a sentence.
bool ends_sentence(const Chunk &chunk) {
  return chunk.trail.find_first_of(".!?") != chunk.trail.npos;
}

// After a street's name or a house number ("Main St.", "42 St."), not at the
// start of a sentence where every word is capitalised.
bool after_street_name(const Cursor &cursor) {
  const Chunk *previous = cursor.peek(-1);
  if (!previous || previous->core.empty() || ends_sentence(*previous)) return false;
  if (is_digit(previous->core[0])) return true;
  const Chunk *before = cursor.peek(-2);
  return starts_upper(*previous) && before && !ends_sentence(*before) &&
         !cursor.chunk().new_paragraph;
}

}  // namespace

Taken read_abbreviation(const Cursor &cursor, Spoken &out) {
  const Chunk &chunk = cursor.chunk();
  const bool period = !chunk.trail.empty() && chunk.trail[0] == '.';
  const Chunk *next = cursor.peek(1);
  const bool name_follows = next && starts_upper(*next) && (period || open_ended(chunk));
  // Without a period only titles before a name and the inner ones are read.
  if (!period && !name_follows && chunk.core != "vs" && chunk.core != "cf" && chunk.core != "viz") {
    return {};
  }

  if (chunk.core == "St" || chunk.core == "Dr") {
    const bool saint = chunk.core == "St";
    // "St." before no name is a street; "Dr." before none is still a doctor.
    const bool street = after_street_name(cursor) || (saint && !name_follows);
    if (street) {
      out.add(saint ? "Street" : "Drive");
    } else {
      out.add(saint ? "Saint" : "doctor");
      if (name_follows) return {1, period};
    }
    return period ? took_period(cursor, 1, out) : Taken{1, false};
  }

  const Abbreviation *a = find(chunk.core);
  if (!a) return {};
  switch (a->place) {
    case Place::kTitle:
      break;
    case Place::kEnding:
      if (!period) return {};
      out.add(a->said);
      return took_period(cursor, 1, out);
    case Place::kInner:
      break;
    case Place::kBeforeNumber:
      if (!period || !starts_number(next)) return {};
      break;
  }
  out.add(a->said);
  return {1, period};
}
