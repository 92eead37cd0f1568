#include "text/tokenizer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>

#include "log/log.h"
#include "text/log-echo.h"

namespace {

// Keys are views of string literals, so the tables own no memory.
const std::unordered_map<std::string_view, int32_t> symbol_ids = [] {
  static constexpr std::string_view kSymbols[] = {
      "a", "b", "d", "e", "f", "h", "i", "j", "k", "l", "m", "n", "o", "p", "s", "t", "u",
      "v", "w", "z", "æ", "ð", "ŋ", "ɑ", "ɔ", "ə", "ɚ", "ɛ", "ɡ", "ɪ", "ɹ", "ʃ", "ʊ", "ʌ",
      "ʒ", "\u0361", "θ", "…", " ", "!", ",", ".", ":", ";", "?"};
  std::unordered_map<std::string_view, int32_t> ids;
  int32_t id = 4;
  for (std::string_view s : kSymbols) ids.emplace(s, id++);
  return ids;
}();

const std::unordered_map<std::string_view, std::string_view> symbol_aliases = {
    {"g", "ɡ"}, {"r", "ɹ"}, {"ɒ", "ɑ"}, {"ɜ", "ɚ"}};

// Stress, length, flap, combining tilde and two stray letters: dropped silently.
constexpr std::string_view ignored_symbols[] = {"ˈ", "ˌ", "ː", "ɾ", "\u0303", "è", "ø"};

bool is_ignored(std::string_view c) {
  for (std::string_view s : ignored_symbols)
    if (c == s) return true;
  return false;
}

constexpr int32_t kIgnored = -1;
constexpr int32_t kUnknown = -2;

// The id of one character, kIgnored or kUnknown.
int32_t symbol_id(std::string_view c) {
  if (is_ignored(c)) return kIgnored;
  if (auto alias = symbol_aliases.find(c); alias != symbol_aliases.end()) c = alias->second;
  const auto id = symbol_ids.find(c);
  return id == symbol_ids.end() ? kUnknown : id->second;
}

// Length of the character at `p` from its lead byte, cut short at a NUL.
// Continuation bytes are not validated; stray ones count as one byte.
size_t char_length(const char *p) {
  const unsigned char lead = static_cast<unsigned char>(*p);
  const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  size_t n = 1;
  while (n < want && p[n] != '\0') ++n;
  return n;
}

// Unknown characters warned about one by one; the rest are counted.
constexpr int kMaxWarnings = 10;

void warn_unknown(std::string_view c) {
  if (!log_enabled(LogLevel::kWarning)) return;
  std::string line = "[tokenize] WARN: unknown char '";
  line += log_echo(std::string(c).c_str());
  line += "' (";
  char hex[3];
  for (unsigned char b : c) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    line += hex;
  }
  line += ") \u2014 skipping";
  log_text(LogLevel::kWarning, line);
}

void print_summary(const int32_t *ids, int count) {
  if (!log_enabled(LogLevel::kInfo)) return;
  std::string line = "[tokenize] " + std::to_string(count) + " tokens:";
  const int shown = count < 20 ? count : 20;
  for (int i = 0; i < shown; ++i) line += " " + std::to_string(ids[i]);
  if (count > 20) line += ",...";
  log_text(LogLevel::kInfo, line);
}

// Writes the framed sequence into `out` up to `capacity` ids, but walks the
// whole string so that every unknown character is still reported.
class IdWriter {
 public:
  IdWriter(int32_t *out, int capacity) : out_(out), capacity_(capacity) {}
  void push(int32_t id) {
    if (count_ < capacity_) out_[count_++] = id;
  }
  int count() const { return count_; }

 private:
  int32_t *out_;
  int capacity_;
  int count_ = 0;
};

}  // namespace

int tokenize(const char *phonemes, int32_t *out, int capacity) {
  const int count = tokenize_quietly(phonemes, out, capacity);
  if (phonemes && capacity >= 0 && (out || capacity == 0)) print_summary(out, count);
  return count;
}

int tokenize_quietly(const char *phonemes, int32_t *out, int capacity) {
  if (!phonemes || capacity < 0 || (!out && capacity > 0)) return 0;
  IdWriter ids(out, capacity);
  int unknown = 0;
  ids.push(kTokenStart);
  for (const char *p = phonemes; *p;) {
    std::string_view c(p, char_length(p));
    p += c.size();
    const int32_t id = symbol_id(c);
    if (id >= 0) {
      ids.push(kTokenBlank);
      ids.push(id);
    } else if (id == kUnknown && ++unknown <= kMaxWarnings) {
      warn_unknown(c);
    }
  }
  if (unknown > kMaxWarnings) {
    const std::string line = "[tokenize] WARN: " + std::to_string(unknown - kMaxWarnings) +
                             " more unknown chars skipped";
    log_text(LogLevel::kWarning, line);
  }
  ids.push(kTokenBlank);
  ids.push(kTokenEnd);
  return ids.count();
}

int32_t *tokenize_to_array(const char *phonemes, int *count) {
  int32_t ids[kMaxTokens];
  const int n = tokenize(phonemes, ids, kMaxTokens);
  int32_t *block = n > 0 ? static_cast<int32_t *>(std::malloc(sizeof(int32_t) * n)) : nullptr;
  if (block) std::copy(ids, ids + n, block);
  if (count) *count = block ? n : 0;
  return block;
}

std::vector<std::string_view> token_symbols(std::string_view phonemes) {
  std::vector<std::string_view> symbols;
  const std::string text(phonemes);  // char_length stops at a NUL
  for (size_t at = 0; at < text.size();) {
    const size_t n = char_length(text.c_str() + at);
    if (symbol_id(phonemes.substr(at, n)) >= 0) symbols.push_back(phonemes.substr(at, n));
    at += n;
  }
  return symbols;
}
