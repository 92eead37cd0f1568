#include "text/fitting-utterances.h"

#include <stdexcept>
#include <string>

namespace {

bool is_clause_mark(char c) {
  return c == ',' || c == ';' || c == ':' || c == '.' || c == '!' || c == '?';
}
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte at which the piece after a cut begins: one after the best mark of
// the kind `is_cut_after` accepts, nearest the middle; 0 when there is none.
template <typename Accept>
size_t cut_nearest_middle(std::string_view text, Accept is_cut_after) {
  const size_t middle = text.size() / 2;
  const auto distance = [middle](size_t at) { return at > middle ? at - middle : middle - at; };
  size_t best = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (is_cut_after(text, i) && (best == 0 || distance(i + 1) < distance(best))) best = i + 1;
  return best;
}

size_t cut_of(std::string_view text) {
  if (size_t at = cut_nearest_middle(text, [](std::string_view t, size_t i) {
        return is_clause_mark(t[i]) && is_space(t[i + 1]);
      }))
    return at;
  if (size_t at = cut_nearest_middle(text, [](std::string_view t, size_t i) {
        return is_space(t[i]) && !is_space(t[i + 1]);
      }))
    return at;
  return cut_nearest_middle(text, [](std::string_view t, size_t i) {
    return !is_continuation(t[i + 1]);
  });
}

bool has_text(std::string_view text) {
  for (const char c : text)
    if (!is_space(c)) return true;
  return false;
}

bool fits(const std::vector<Utterance> &utterances, size_t max_ids) {
  for (const Utterance &u : utterances)
    if (u.ids.size() > max_ids) return false;
  return true;
}

// `text` starts at byte `offset` of the text its utterances' words point into;
// `cut` when it is the second half of a longer piece, whose sentence it goes on.
void append_fitting(const FrontEnd &front_end, std::string_view text, size_t offset, bool cut,
                    size_t max_ids, DroppedSymbols &dropped, std::vector<Utterance> *out) {
  if (!has_text(text)) return;
  const bool read = !too_long_to_read_whole(text, max_ids);
  std::vector<Utterance> utterances;
  if (read) utterances = front_end.utterances(text, dropped);
  if (read && fits(utterances, max_ids)) {
    if (cut && !utterances.empty()) utterances.front().starts_sentence = false;
    for (Utterance &u : utterances) {
      for (UtteranceWord &word : u.words) word.offset += offset;
      out->push_back(std::move(u));
    }
    return;
  }
  const size_t at = cut_of(text);
  if (at == 0)
    throw std::runtime_error("one character of the text gives more token ids than an utterance holds");
  append_fitting(front_end, text.substr(0, at), offset, cut, max_ids, dropped, out);
  append_fitting(front_end, text.substr(at), offset + at, true, max_ids, dropped, out);
}

}  // namespace

bool too_long_to_read_whole(std::string_view text, size_t max_ids) {
  return text.size() > 4 * max_ids;
}

std::vector<Utterance> fitting_utterances(const FrontEnd &front_end, std::string_view text,
                                          size_t max_ids, DroppedSymbols &dropped) {
  std::vector<Utterance> out;
  append_fitting(front_end, text, 0, false, max_ids, dropped, &out);
  return out;
}
