#include "text/fitting-ids.h"

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

void append_fitting(const FrontEnd &front_end, std::string_view text, size_t max_ids,
                    std::vector<std::vector<int32_t>> *out) {
  if (!has_text(text)) return;
  std::vector<int32_t> ids;
  try {
    ids = front_end.ids(std::string(text).c_str());
  } catch (const std::runtime_error &) {
    return;  // nothing the table holds: the front-end has warned of each symbol
  }
  if (ids.size() <= max_ids) {
    out->push_back(std::move(ids));
    return;
  }
  const size_t cut = cut_of(text);
  if (cut == 0)
    throw std::runtime_error("one character of the text gives more token ids than an utterance holds");
  append_fitting(front_end, text.substr(0, cut), max_ids, out);
  append_fitting(front_end, text.substr(cut), max_ids, out);
}

}  // namespace

std::vector<std::vector<int32_t>> fitting_ids(const FrontEnd &front_end, std::string_view text,
                                              size_t max_ids) {
  std::vector<std::vector<int32_t>> out;
  append_fitting(front_end, text, max_ids, &out);
  return out;
}
