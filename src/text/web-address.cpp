#include "text/web-address.h"

#include <cstring>

#include "text/ascii.h"
#include "text/initialisms.h"
#include "text/number-words.h"

namespace {

// Endings that make a bare "name.ending" an address rather than two words.
constexpr std::string_view kTopLevelDomains[] = {"com", "org", "net", "edu", "gov", "io",
                                                 "ai",  "dev", "app", "info", "co", "uk",
                                                 "de",  "fi",  "fr",  "eu",  "us", "ca"};
constexpr std::string_view kSchemes[] = {"https://", "http://", "ftp://"};

struct SaidSymbol {
  char written;
  const char *said;
};

constexpr SaidSymbol kSaidSymbols[] = {
    {'.', "dot"},  {'/', "slash"},      {'-', "dash"},     {'_', "underscore"}, {'@', "at"},
    {':', "colon"}, {'?', "question mark"}, {'=', "equals"}, {'&', "and"},      {'#', "hash"},
    {'~', "tilde"}, {'%', "percent"},   {'+', "plus"}};

bool address_byte(char c) { return is_letter(c) || is_digit(c) || std::strchr("._-", c); }

bool is_top_level_domain(std::string_view label) {
  for (std::string_view tld : kTopLevelDomains) {
    if (equals_folded(label, tld)) return true;
  }
  return false;
}

// "name.name.tld" up to the end of `s` or a '/' or ':': the host's length, or 0.
size_t host_length(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && address_byte(s[n]) && s[n] != '_') ++n;
  const std::string_view host = s.substr(0, n);
  const size_t dot = host.rfind('.');
  if (dot == host.npos || dot == 0 || !is_top_level_domain(host.substr(dot + 1))) return 0;
  return n;
}

// A name in an address: a word, or its letters when it cannot be said as one
// ("www", "bbc", "io").
void say_name(std::string_view name, Spoken &out) {
  if (lexicon_lookup_any_case(name) || (name.size() > 2 && has_vowel(name))) {
    out.add(name);
  } else {
    out.add(spelled(name));
  }
}

void say_address(std::string_view s, Spoken &out) {
  for (size_t i = 0; i < s.size();) {
    if (const size_t letters = count_letters(s.substr(i))) {
      say_name(s.substr(i, letters), out);
      i += letters;
    } else if (const size_t digits = count_digits(s.substr(i))) {
      out.add(digit_run_words(s.substr(i, digits)));
      i += digits;
    } else {
      // A closing slash is not said.
      if (!(s[i] == '/' && i + 1 == s.size())) {
        for (const SaidSymbol &symbol : kSaidSymbols) {
          if (symbol.written == s[i]) out.add(symbol.said);
        }
      }
      ++i;
    }
  }
}

}  // namespace

bool read_web_address(std::string_view core, Spoken &out) {
  if (core.find('.') == core.npos) return false;  // every address has one
  const size_t at = core.find('@');
  if (at != core.npos && at > 0) {
    const std::string_view local = core.substr(0, at);
    for (char c : local) {
      if (!address_byte(c) && c != '+') return false;
    }
    if (host_length(core.substr(at + 1)) != core.size() - at - 1) return false;
    say_address(core, out);
    return true;
  }
  std::string_view rest = core;
  bool scheme = false;
  for (std::string_view s : kSchemes) {
    if (rest.substr(0, s.size()) == s) {
      rest.remove_prefix(s.size());
      scheme = true;
    }
  }
  const size_t host = host_length(rest);
  const bool www = rest.size() > 4 && equals_folded(rest.substr(0, 4), "www.");
  if (!scheme && !www && host == 0) return false;
  if (!scheme && !www && host < rest.size() && rest[host] != '/') return false;
  say_address(rest, out);
  return true;
}
