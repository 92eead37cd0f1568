#include "text/ssml.h"

#include <expat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace {

// Pause per <break strength>, milliseconds; medium is also a bare <break/>.
const std::map<std::string, int> kBreakStrengths = {{"none", 0},     {"x-weak", 100},
                                                    {"weak", 200},   {"medium", 400},
                                                    {"strong", 700}, {"x-strong", 1000}};

const std::map<std::string, float> kRates = {
    {"x-slow", 0.5f}, {"slow", 0.75f}, {"medium", 1.0f}, {"fast", 1.25f}, {"x-fast", 1.5f}};

// Longest <break> read: a minute; all the breaks of a document together: ten.
// A few bytes of markup must not ask for hours of silence.
constexpr double kMaxBreakMs = 60000.0;
constexpr int64_t kMaxTotalBreakMs = 600000;

// Bounds of a speaking rate, one element's and that of nested elements multiplied.
constexpr double kSlowestRate = 0.2;
constexpr double kFastestRate = 5.0;

const char *attribute(const XML_Char **attributes, const char *name) {
  for (size_t i = 0; attributes[i]; i += 2)
    if (std::strcmp(attributes[i], name) == 0) return attributes[i + 1];
  return nullptr;
}

// "300ms", "1.5s" -> milliseconds, or -1.
int break_time(const std::string &value) {
  char *end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || !std::isfinite(number) || number < 0.0) return -1;
  const std::string unit(end);
  const double ms = unit == "ms" ? number : unit == "s" ? number * 1000.0 : -1.0;
  return ms < 0.0 || ms > kMaxBreakMs ? -1 : static_cast<int>(std::lround(ms));
}

// "fast", "150%", "1.5" -> a speaking rate, or 0.
float prosody_rate(const std::string &value) {
  const auto named = kRates.find(value);
  if (named != kRates.end()) return named->second;
  char *end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || !std::isfinite(number)) return 0.0f;
  const std::string unit(end);
  const double rate = unit == "%" ? number / 100.0 : unit.empty() ? number : 0.0;
  return rate >= kSlowestRate && rate <= kFastestRate ? static_cast<float>(rate) : 0.0f;
}

std::string rate_text(float rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(rate));
  return text;
}

class SsmlReader {
 public:
  SsmlReader(std::string_view document, std::vector<std::string> *warnings)
      : document_(document), warnings_(warnings), parser_(XML_ParserCreate("UTF-8")) {}
  ~SsmlReader() { XML_ParserFree(parser_); }
  SsmlReader(const SsmlReader &) = delete;
  SsmlReader &operator=(const SsmlReader &) = delete;

  std::optional<std::vector<SsmlPart>> read(std::string *error) {
    if (!parser_) {
      *error = "SSML: out of memory";
      return std::nullopt;
    }
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &SsmlReader::on_start, &SsmlReader::on_end);
    XML_SetCharacterDataHandler(parser_, &SsmlReader::on_text);
    XML_SetEntityDeclHandler(parser_, &SsmlReader::on_entity_declaration);
    const auto ok = XML_Parse(parser_, document_.data(), static_cast<int>(document_.size()), 1);
    if (ok == XML_STATUS_ERROR && error_.empty()) {
      error_ = "SSML: line " + std::to_string(XML_GetCurrentLineNumber(parser_)) + ", column " +
               std::to_string(XML_GetCurrentColumnNumber(parser_) + 1) + ": " +
               XML_ErrorString(XML_GetErrorCode(parser_));
    }
    if (!error_.empty()) {
      *error = error_;
      return std::nullopt;
    }
    close_part();
    return std::move(parts_);
  }

 private:
  // What an open element does to the text inside it.
  struct Open {
    std::string name;
    float rate = 1.0f;
    std::string say_as;     // interpret-as, lower-case
    bool replaced = false;  // <sub> and <phoneme>: their text is not read
    size_t start = 0;       // byte of its start tag
    std::string alias_or_ph;
    std::string words;  // <phoneme>: the text its phonemes replace
  };

  static void XMLCALL on_start(void *self, const XML_Char *name, const XML_Char **attributes) {
    static_cast<SsmlReader *>(self)->start(name, attributes);
  }
  static void XMLCALL on_end(void *self, const XML_Char *name) {
    static_cast<SsmlReader *>(self)->end(name);
  }
  static void XMLCALL on_text(void *self, const XML_Char *text, int length) {
    static_cast<SsmlReader *>(self)->text(std::string_view(text, static_cast<size_t>(length)));
  }
  // Entities are how a few hundred bytes of markup become megabytes of text
  // (each expanding to ten of the one before): none is read, so a document's
  // text is at most twice its bytes (a <say-as> spelling out adds a space per
  // character).
  static void XMLCALL on_entity_declaration(void *self, const XML_Char *name, int, const XML_Char *,
                                            int, const XML_Char *, const XML_Char *,
                                            const XML_Char *, const XML_Char *) {
    static_cast<SsmlReader *>(self)->fail(std::string("<!ENTITY ") + name +
                                          ">: entity declarations are not read");
  }

  void fail(const std::string &message) {
    if (error_.empty())
      error_ = "SSML: line " + std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " + message;
    XML_StopParser(parser_, XML_FALSE);
  }

  bool inside_replaced() const { return !open_.empty() && open_.back().replaced; }
  float rate() const { return open_.empty() ? 1.0f : open_.back().rate; }

  // The text part being filled, started anew where the rate changes or a sentence starts.
  SsmlPart &text_part() {
    if (parts_.empty() || parts_.back().kind != SsmlPart::Kind::kText ||
        parts_.back().rate != rate() || sentence_pending_) {
      parts_.push_back({});
      parts_.back().rate = rate();
      parts_.back().new_sentence = sentence_pending_;
      sentence_pending_ = false;
    }
    return parts_.back();
  }

  void close_part() { sentence_pending_ = true; }

  void start(const char *name, const XML_Char **attributes) {
    Open open;
    open.name = name;
    open.rate = rate();
    open.start = static_cast<size_t>(XML_GetCurrentByteIndex(parser_));
    if (!open_.empty()) {
      open.say_as = open_.back().say_as;
      open.replaced = open_.back().replaced;
    }
    const std::string element = name;
    if (element == "speak") {
    } else if (element == "p" || element == "s") {
      close_part();
    } else if (element == "break") {
      add_break(attributes);
    } else if (element == "say-as") {
      const char *kind = attribute(attributes, "interpret-as");
      open.say_as = kind ? kind : "";
      if (!known_say_as(open.say_as)) {
        warn("<say-as interpret-as=\"" + open.say_as +
             "\"> is not read: its text is spoken as it is");
        open.say_as.clear();
      }
    } else if (element == "sub") {
      const char *alias = attribute(attributes, "alias");
      if (!alias) return fail("<sub> needs an alias attribute");
      open.replaced = true;
      open.alias_or_ph = alias;
    } else if (element == "phoneme") {
      const char *alphabet = attribute(attributes, "alphabet");
      const char *ph = attribute(attributes, "ph");
      if (!ph) return fail("<phoneme> needs a ph attribute");
      if (alphabet && std::strcmp(alphabet, "ipa") != 0)
        return fail(std::string("<phoneme alphabet=\"") + alphabet + "\">: only ipa is read");
      open.replaced = true;
      open.alias_or_ph = ph;
    } else if (element == "prosody") {
      if (const char *value = attribute(attributes, "rate")) {
        const float r = prosody_rate(value);
        if (r == 0.0f)
          return fail(std::string("<prosody rate=\"") + value +
                      "\">: a rate is x-slow, slow, medium, fast, x-fast, a percentage or a "
                      "factor from 0.2 to 5");
        open.rate = rate() * r;
        if (open.rate < kSlowestRate || open.rate > kFastestRate)
          return fail(std::string("<prosody rate=\"") + value +
                      "\"> inside the rates around it makes " + rate_text(open.rate) +
                      ": together they must stay from 0.2 to 5");
      }
    } else {
      warn("unknown element <" + element + ">: its text is spoken");
    }
    open_.push_back(std::move(open));
  }

  void end(const char *name) {
    if (open_.empty()) return;
    const Open open = open_.back();
    open_.pop_back();
    const std::string element = name;
    const size_t end = static_cast<size_t>(XML_GetCurrentByteIndex(parser_)) +
                       static_cast<size_t>(std::max(XML_GetCurrentByteCount(parser_), 0));
    const TextSpan whole{open.start, end - open.start};
    if (element == "sub" && !inside_replaced()) {
      text_part().text.append_standing_for(" " + open.alias_or_ph + " ", whole);
    } else if (element == "phoneme" && !inside_replaced()) {
      SsmlPart part;
      part.kind = SsmlPart::Kind::kPhonemes;
      part.phonemes = open.alias_or_ph;
      part.rate = open.rate;
      // The words, for a front-end that cannot read the phonemes and for the timings.
      const bool no_words = open.words.find_first_not_of(" \t\r\n") == std::string::npos;
      part.text.append_standing_for(no_words ? open.alias_or_ph : open.words, whole);
      parts_.push_back(std::move(part));
    } else if (element == "p" || element == "s") {
      close_part();
    }
  }

  void add_break(const XML_Char **attributes) {
    int ms = kBreakStrengths.at("medium");
    if (const char *time = attribute(attributes, "time")) {
      ms = break_time(time);
      if (ms < 0)
        return fail(std::string("<break time=\"") + time +
                    "\">: a time is like 300ms or 1.5s, at most 60s");
    } else if (const char *strength = attribute(attributes, "strength")) {
      const auto found = kBreakStrengths.find(strength);
      if (found == kBreakStrengths.end())
        return fail(std::string("<break strength=\"") + strength +
                    "\">: a strength is none, x-weak, weak, medium, strong or x-strong");
      ms = found->second;
    }
    total_break_ms_ += ms;
    if (total_break_ms_ > kMaxTotalBreakMs)
      return fail("the breaks add up to more than 10 minutes");
    SsmlPart part;
    part.kind = SsmlPart::Kind::kBreak;
    part.break_ms = ms;
    parts_.push_back(std::move(part));
  }

  static bool known_say_as(const std::string &kind) {
    for (const char *known :
         {"characters", "spell-out", "cardinal", "ordinal", "digits", "date", "time", "telephone"})
      if (kind == known) return true;
    return false;
  }

  void text(std::string_view data) {
    if (!open_.empty() && open_.back().replaced) {
      for (auto open = open_.rbegin(); open != open_.rend(); ++open) {
        if (open->name == "phoneme") {
          open->words += data;
          break;
        }
      }
      return;
    }
    const size_t at = static_cast<size_t>(XML_GetCurrentByteIndex(parser_));
    const size_t count = static_cast<size_t>(std::max(XML_GetCurrentByteCount(parser_), 0));
    const std::string say_as = open_.empty() ? "" : open_.back().say_as;
    SourcedText &out = text_part().text;
    if (say_as == "characters" || say_as == "spell-out" || say_as == "digits" ||
        say_as == "telephone") {
      // One character at a time, each its own word.
      for (size_t i = 0; i < data.size(); ++i) {
        const TextSpan source = count == data.size() ? TextSpan{at + i, 1} : TextSpan{at, count};
        out.append_standing_for(std::string(1, data[i]), source);
        if ((static_cast<unsigned char>(data[i]) & 0xC0) != 0x80 &&
            (i + 1 == data.size() || (static_cast<unsigned char>(data[i + 1]) & 0xC0) != 0x80))
          out.append_standing_for(" ", source);
      }
    } else if (count == data.size()) {
      out.append_verbatim(data, at);
    } else {
      out.append_standing_for(data, {at, count});  // an entity or a normalised line end
    }
  }

  void warn(const std::string &message) {
    warnings_->push_back("SSML: line " + std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " +
                         message);
  }

  std::string_view document_;
  std::vector<std::string> *warnings_;
  XML_Parser parser_;
  std::vector<Open> open_;
  std::vector<SsmlPart> parts_;
  bool sentence_pending_ = true;
  int64_t total_break_ms_ = 0;
  std::string error_;
};

}  // namespace

std::optional<std::vector<SsmlPart>> parse_ssml(std::string_view document, std::string *error,
                                                std::vector<std::string> *warnings) {
  SsmlReader reader(document, warnings);
  return reader.read(error);
}
