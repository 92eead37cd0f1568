// The embedded lexicon: our CMUdict-derived values, and the layout the lookup relies on.

#include "text/lexicon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMask = kLexiconSlots - 1;
constexpr size_t kWords = 124920;

std::string pron(const char *word) {
  const char *p = lexicon_lookup(word);
  return p ? p : "<miss>";
}

// A word that is not in `used`, whose hash lands in `home`.
std::string word_with_home(uint32_t home, const std::set<std::string> &used = {}) {
  for (int i = 0;; ++i) {
    std::string w = "w" + std::to_string(i);
    if ((fnv1a32(w.c_str()) & kMask) == home && !used.count(w)) return w;
  }
}

// Code points of a UTF-8 string (the generator only writes valid UTF-8).
std::vector<char32_t> code_points(const char *s) {
  std::vector<char32_t> out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p;) {
    const int n = *p >= 0xF0 ? 4 : *p >= 0xE0 ? 3 : *p >= 0xC0 ? 2 : 1;
    char32_t c = n == 1 ? *p : *p & (0x7F >> n);
    for (int i = 1; i < n; ++i) c = (c << 6) | (p[i] & 0x3F);
    out.push_back(c);
    p += n;
  }
  return out;
}

TEST(Fnv1a32, KnownValues) {
  EXPECT_EQ(fnv1a32(""), 0x811C9DC5u);
  EXPECT_EQ(fnv1a32("a"), 0xE40C292Cu);
  EXPECT_EQ(fnv1a32("foobar"), 0xBF9CF968u);
  EXPECT_EQ(fnv1a32("\xff"), (0x811C9DC5u ^ 0xFFu) * 0x01000193u);  // bytes are unsigned
}

TEST(LexiconLookup, Pronunciations) {
  EXPECT_EQ(pron("hello"), "həlˈoʊ");
  EXPECT_EQ(pron("world"), "wˈɚld");
  EXPECT_EQ(pron("a"), "ə");
  EXPECT_EQ(pron("i"), "ˈaɪ");
  EXPECT_EQ(pron("the"), "ðə");
  EXPECT_EQ(pron("don't"), "dˈoʊnt");
  EXPECT_EQ(pron("mr"), "mˈɪstɚ");
  EXPECT_EQ(pron("jump"), "d͡ʒˈʌmp");
  EXPECT_EQ(pron("church"), "t͡ʃˈɚt͡ʃ");
  EXPECT_EQ(pron("rock'n'roll"), "ɹˈɑkənɹˈoʊl");
}

TEST(LexiconLookup, Misses) {
  for (const char *word : {"Hello", "HELLO", "co-op", "x-ray", "", "hello ", "'hello'",
                           "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})
    EXPECT_EQ(lexicon_lookup(word), nullptr) << word;
  EXPECT_EQ(lexicon_lookup(nullptr), nullptr);
}

TEST(LexiconLookup, ProbeWrapsFromTheLastSlotToTheFirst) {
  // The shipped data has no run across the end, so build one: two words at
  // home 262,143, the second stored in slot 0.
  const std::string first = word_with_home(kMask);
  const std::string second = word_with_home(kMask, {first});
  const std::string absent = word_with_home(kMask, {first, second});
  const std::string text = first + '\0' + "p1" + '\0' + second + '\0' + "p2" + '\0';
  const uint32_t second_at = static_cast<uint32_t>(first.size() + 4);
  std::vector<LexiconSlot> index(kLexiconSlots, LexiconSlot{kEmptyHash, 0, 0});
  index[kMask] = {fnv1a32(first.c_str()), 0, static_cast<uint32_t>(first.size() + 1)};
  index[0] = {fnv1a32(second.c_str()), second_at,
              static_cast<uint32_t>(second_at + second.size() + 1)};

  EXPECT_STREQ(lexicon_lookup_in(index.data(), text.data(), first.c_str()), "p1");
  EXPECT_STREQ(lexicon_lookup_in(index.data(), text.data(), second.c_str()), "p2");
  EXPECT_EQ(lexicon_lookup_in(index.data(), text.data(), absent.c_str()), nullptr);

  // On the real index: a miss whose probe starts just below the end.
  ASSERT_NE(lexicon_index[kMask - 1].hash, kEmptyHash);
  ASSERT_NE(lexicon_index[kMask].hash, kEmptyHash);
  EXPECT_EQ(lexicon_lookup(word_with_home(kMask - 1).c_str()), nullptr);
}

TEST(LexiconData, RecordsAreSortedFindableWordsWithKnownCharacters) {
  const std::set<char32_t> allowed = {
      U'a', U'b', U'd', U'e', U'f', U'h', U'i', U'j', U'k', U'l', U'm', U'n', U'o',
      U'p', U's', U't', U'u', U'v', U'w', U'z', U'æ', U'ð', U'ŋ', U'ɑ', U'ɔ', U'ə',
      U'ɚ', U'ɛ', U'ɡ', U'ɪ', U'ɹ', U'ʃ', U'ʊ', U'ʌ', U'ʒ', U'\u0361', U'θ', U'ˈ', U'ˌ'};
  ASSERT_EQ(lexicon_text[lexicon_text_size - 1], '\0');
  size_t words = 0;
  const char *previous = "";
  for (const char *p = lexicon_text; p < lexicon_text + lexicon_text_size;) {
    const char *word = p;
    const char *pronunciation = word + std::strlen(word) + 1;
    ASSERT_GT(std::strlen(word), 0u);
    ASSERT_EQ(std::strspn(word, "abcdefghijklmnopqrstuvwxyz'"), std::strlen(word)) << word;
    ASSERT_LT(std::strcmp(previous, word), 0) << word;  // sorted, so also unique
    ASSERT_NE(fnv1a32(word), kEmptyHash) << word;
    ASSERT_EQ(lexicon_lookup(word), pronunciation) << word;
    for (char32_t c : code_points(pronunciation))
      ASSERT_TRUE(allowed.count(c)) << word << " has U+" << std::hex << uint32_t(c);
    previous = word;
    p = pronunciation + std::strlen(pronunciation) + 1;
    ++words;
  }
  EXPECT_EQ(words, kWords);
}

TEST(LexiconData, IndexSlotsPointAtTheirRecords) {
  size_t used = 0;
  for (uint32_t j = 0; j < kLexiconSlots; ++j) {
    const LexiconSlot &slot = lexicon_index[j];
    if (slot.hash == kEmptyHash) {
      ASSERT_EQ(slot.word_offset, 0u);
      ASSERT_EQ(slot.pron_offset, 0u);
      continue;
    }
    ++used;
    ASSERT_LT(slot.pron_offset, lexicon_text_size);
    const char *word = lexicon_text + slot.word_offset;
    ASSERT_EQ(slot.hash, fnv1a32(word)) << word;
    ASSERT_EQ(slot.pron_offset, slot.word_offset + std::strlen(word) + 1) << word;
  }
  EXPECT_EQ(used, kWords);
  EXPECT_LT(used * 2, size_t{kLexiconSlots});
}

}  // namespace
