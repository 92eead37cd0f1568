// Hostile input through the C API: each call fails cleanly or speaks, says
// why when it fails, and leaves the engine usable. Texts are streamed and
// stopped at their first chunk: the front-end sees all of the text, and the
// model's work is what one short word costs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine-fixture.h"
#include "korva.h"

namespace {

int first_chunk_only(const float *, int count, void *user) {
  *static_cast<int *>(user) += count;
  return 1;
}

// Streams `text`; the status, with the log in *log.
int stream(const std::string &text, float speed, std::string *log) {
  int delivered = 0;
  testing::internal::CaptureStderr();
  const int status = korva_tts_stream(text.c_str(), speed, first_chunk_only, &delivered);
  *log = testing::internal::GetCapturedStderr();
  return status;
}

// The engine still speaks a plain sentence.
void expect_usable() {
  std::string log;
  EXPECT_EQ(stream("Still here.", 1.0f, &log), 0) << log;
}

}  // namespace

TEST_F(Engine, HostileTextsAreSpokenOrRefusedAndTheLogStaysShort) {
  load();
  const std::string texts[] = {
      "caf\xc3 na\xefve \xed\xa0\x80 \xf4\x90\x80\x80 \xff\xfe word",  // broken UTF-8
      "?!.,;: ... !!! ???",                                            // only punctuation
      "\x01\x02\x1b[2J\x1b]0;title\x07\x7f",                           // only control bytes
      std::string(100'000, 'q'),                                       // one huge word
      [] {  // 10 MB of words the lexicon has
        std::string text;
        while (text.size() < 10'000'000) text += "the cat sat. ";
        return text;
      }(),
  };
  for (const std::string &text : texts) {
    SCOPED_TRACE(text.substr(0, 40));
    std::string log;
    const int status = stream(text, 1.0f, &log);
    if (status != 0) {
      EXPECT_NE(std::string(korva_last_error()), "");
    }
    EXPECT_LT(log.size(), 64u * 1024u) << "log of " << log.size() << " bytes";
    EXPECT_EQ(log.find('\x1b'), std::string::npos) << "raw escape byte in the log";
    expect_usable();
  }
}

TEST_F(Engine, SpeedsOfTheSpeedOnlyExports) {
  load();
  std::string log;
  // NaN, 0 and negatives keep the documented slow default.
  for (const float speed : {NAN, 0.0f, -1.0f, -INFINITY, 100.0f, 0.01f})
    EXPECT_EQ(stream("Hi.", speed, &log), 0) << speed << "\n" << log;
  // The length scales korva_options refuses: 0 (no speech at all) and those
  // outside 0.01 to 100 (a frame a token whatever the text, or minutes a word).
  for (const float speed : {INFINITY, 1e30f, 101.0f, 0.0099f}) {
    EXPECT_EQ(stream("Hi.", speed, &log), -1) << speed;
    EXPECT_EQ(std::string(korva_last_error()).rfind("Bad speed: speed ", 0), 0u)
        << korva_last_error();
    EXPECT_NE(std::string(korva_last_error()).find(", outside 0.010000 to 100.000000"),
              std::string::npos)
        << korva_last_error();
    int n = 5;
    EXPECT_EQ(korva_tts("Hi.", &n, speed), nullptr);
  }
  expect_usable();
}

TEST_F(Engine, NullPointersInEveryArgument) {
  load();
  testing::internal::CaptureStderr();
  int n = 0;
  EXPECT_EQ(korva_tts(nullptr, &n, 1.0f), nullptr);
  EXPECT_EQ(korva_tts("Hi.", nullptr, 1.0f), nullptr);
  EXPECT_EQ(korva_tts_to_file(nullptr, "x.wav", 1.0f), -1);
  EXPECT_EQ(korva_tts_to_file("Hi.", nullptr, 1.0f), -1);
  EXPECT_EQ(korva_tts_stream(nullptr, 1.0f, first_chunk_only, &n), -1);
  EXPECT_EQ(korva_tts_stream("Hi.", 1.0f, nullptr, nullptr), -1);
  EXPECT_EQ(korva_synthesize(nullptr, nullptr, first_chunk_only, &n), -1);
  EXPECT_EQ(korva_synthesize("Hi.", nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(korva_synthesize_ids(nullptr, 3, nullptr, first_chunk_only, &n), -1);
  EXPECT_EQ(korva_options_default(nullptr, sizeof(korva_options)), -1);
  EXPECT_EQ(korva_get_voice_info(nullptr, sizeof(korva_voice_info)), -1);
  EXPECT_EQ(manifest_open(nullptr), nullptr);
  EXPECT_EQ(manifest_count(nullptr), -1);
  manifest_close(nullptr);
  EXPECT_EQ(korva_load(nullptr, nullptr), -1);  // already loaded
  testing::internal::GetCapturedStderr();
  expect_usable();
}

TEST_F(Engine, WavPathsThatCannotBeWritten) {
  load();
  const std::string directory = std::filesystem::temp_directory_path().string();
  for (const std::string &path : {directory, std::string("/nonexistent-dir/x.wav"),
                                  std::string("/dev/full")}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(korva_tts_to_file("Hi.", path.c_str(), 1.0f), -1) << path;
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("[audio_io] Cannot "), std::string::npos) << log;
    EXPECT_EQ(std::string(korva_last_error()), "Write WAV failed");
  }
  expect_usable();
}
