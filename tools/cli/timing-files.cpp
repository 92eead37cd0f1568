#include "timing-files.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cli-error.h"

namespace {

// Words per subtitle cue at most, and the pause that ends one (seconds).
constexpr size_t kWordsPerCue = 8;
constexpr double kCuePause = 0.15;

// Bytes of the UTF-8 sequence at `at`, or 0 when it is not one.
size_t utf8_sequence(const std::string &text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                   : lead >= 0xF0 && lead < 0xF5                  ? 4
                                                                  : 0;
  if (n == 0 || at + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
  return n;
}

// JSON and WebVTT files are UTF-8: a byte of the text that is not becomes U+FFFD.
std::string valid_utf8(const std::string &text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const size_t n = utf8_sequence(text, at);
    out += n == 0 ? std::string("\xEF\xBF\xBD") : text.substr(at, n);
    at += n == 0 ? 1 : n;
  }
  return out;
}

std::string json_string(const std::string &text) {
  std::string out = "\"";
  for (const char c : valid_utf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A cue's text as WebVTT takes it: markup left out (SSML), & < > escaped (so
// no "-->" either), and on one line, since a blank line would end the cue.
std::string vtt_cue_text(const std::string &text, bool markup) {
  std::string out;
  bool in_tag = false;
  for (const char c : valid_utf8(text)) {
    if (markup && c == '<') in_tag = true;
    if (in_tag) {
      if (c == '>') in_tag = false;
      continue;
    }
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '\n' || c == '\r') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

std::string seconds(long long samples, int rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(samples) / rate);
  return text;
}

// "00:01:02.345".
std::string vtt_time(long long samples, int rate) {
  const long long ms = (samples * 1000 + rate / 2) / rate;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
}

void write_file(const std::string &path, const std::string &content) {
  std::ofstream file(path, std::ios::binary);
  file << content;
  file.close();
  if (!file) throw CommandError("cannot write '" + path + "'");
}

}  // namespace

int collect_timing(const korva_timing *timing, void *user) {
  auto *words = static_cast<std::vector<TimedWord> *>(user);
  if (timing->kind == KORVA_TIMING_WORD) {
    words->push_back({timing->text,
                      timing->text_offset,
                      timing->text_length,
                      timing->start_sample,
                      timing->end_sample,
                      {}});
  } else if (!words->empty()) {
    words->back().phonemes.push_back({timing->text, timing->start_sample, timing->end_sample});
  }
  return 0;
}

void write_timings_json(const std::string &path, const std::vector<TimedWord> &words, int rate) {
  std::ostringstream out;
  out << "{\"sample_rate\": " << rate << ", \"words\": [";
  for (size_t i = 0; i < words.size(); ++i) {
    const TimedWord &w = words[i];
    out << (i ? ",\n  " : "\n  ") << "{\"text\": " << json_string(w.text)
        << ", \"text_offset\": " << w.text_offset << ", \"text_length\": " << w.text_length
        << ", \"start\": " << w.start << ", \"end\": " << w.end
        << ", \"start_seconds\": " << seconds(w.start, rate)
        << ", \"end_seconds\": " << seconds(w.end, rate) << ", \"phonemes\": [";
    for (size_t k = 0; k < w.phonemes.size(); ++k) {
      const TimedPhoneme &p = w.phonemes[k];
      out << (k ? ", " : "") << "{\"text\": " << json_string(p.text) << ", \"start\": " << p.start
          << ", \"end\": " << p.end << "}";
    }
    out << "]}";
  }
  out << "\n]}\n";
  write_file(path, out.str());
}

void write_subtitles_vtt(const std::string &path, const std::vector<TimedWord> &words, int rate,
                         const std::string &text, bool markup) {
  std::ostringstream out;
  out << "WEBVTT\n";
  const auto pause = static_cast<long long>(kCuePause * rate);
  for (size_t first = 0; first < words.size();) {
    size_t last = first;
    // Words read from one written word ("12/09/2026") stay in one cue.
    const auto same_source = [&](size_t i) {
      return words[i + 1].text_offset == words[i].text_offset;
    };
    while (last + 1 < words.size() &&
           (same_source(last) ||
            (last + 1 - first < kWordsPerCue && words[last + 1].start - words[last].end < pause)))
      ++last;
    const size_t begin = static_cast<size_t>(words[first].text_offset);
    size_t end = static_cast<size_t>(words[last].text_offset + words[last].text_length);
    // The punctuation that follows the last word belongs to the cue.
    while (end < text.size() && std::strchr(".,;:!?\"')", text[end]) && text[end] != '\0') ++end;
    const std::string cue =
        end > begin && end <= text.size() ? text.substr(begin, end - begin) : words[first].text;
    out << "\n"
        << vtt_time(words[first].start, rate) << " --> " << vtt_time(words[last].end, rate) << "\n"
        << vtt_cue_text(cue, markup) << "\n";
    first = last + 1;
  }
  write_file(path, out.str());
}
