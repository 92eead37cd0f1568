// 16-bit PCM WAV files: header bytes, sample conversion, channel handling, refusals.

#include "audio/wav-writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string temp_path(const std::string &name) { return testing::TempDir() + name; }

Bytes read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string &path) { return std::ifstream(path).good(); }

uint32_t u32_at(const Bytes &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

uint16_t u16_at(const Bytes &b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// Writes `samples` and returns the file's bytes; the log line goes to `log`.
Bytes write(const std::vector<float> &samples, int32_t rate, int32_t channels,
            std::string *log = nullptr) {
  const std::string path = temp_path("korva-wav-test.wav");
  const AudioBuffer buffer =
      make_audio_buffer(samples.data(), int32_t(samples.size()), rate, channels);
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_wav(path.c_str(), &buffer), 0);
  const std::string text = testing::internal::GetCapturedStderr();
  if (log) *log = text;
  Bytes file = read_file(path);
  std::remove(path.c_str());
  return file;
}

std::vector<int16_t> pcm(const Bytes &file) {
  std::vector<int16_t> out;
  for (size_t at = 44; at + 1 < file.size(); at += 2) out.push_back(int16_t(u16_at(file, at)));
  return out;
}

TEST(WavWriter, HeaderIsByteExact) {
  const Bytes file = write({0.0f, 1.0f}, 22050, 1);
  const Bytes expected = {'R', 'I', 'F', 'F', 40, 0, 0, 0,       'W', 'A', 'V', 'E',
                          'f', 'm', 't', ' ', 16, 0, 0, 0,       1,   0,   1,   0,
                          0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0,    2,   0,   16,  0,
                          'd', 'a', 't', 'a', 4, 0, 0, 0,        0,   0,   0xFF, 0x7F};
  EXPECT_EQ(file, expected);
}

TEST(WavWriter, OneSecondAt48kHz) {
  std::string log;
  const std::string path = temp_path("korva-wav-test.wav");
  const Bytes file = write(std::vector<float>(48000, 0.25f), 48000, 1, &log);
  ASSERT_EQ(file.size(), 96044u);
  EXPECT_EQ(u32_at(file, 4), 96036u);
  EXPECT_EQ(u32_at(file, 40), 96000u);
  EXPECT_EQ(pcm(file).back(), 8191);
  EXPECT_EQ(log, "[audio_io] Wrote " + path + ": 48000 frames, 48000 Hz, 1 ch\n");
}

TEST(WavWriter, SamplesAreClampedScaledAndTruncated) {
  const Bytes file = write({1.5f, -2.0f, 1.0f, -1.0f, 0.5f, -0.5f, 0.99999f, NAN, INFINITY,
                            -INFINITY, 1e-6f},
                           48000, 1);
  EXPECT_EQ(pcm(file), (std::vector<int16_t>{32767, -32767, 32767, -32767, 16383, -16383, 32766,
                                             0, 32767, -32767, 0}));
}

TEST(WavWriter, ChannelCounts) {
  std::string log;
  const std::string path = temp_path("korva-wav-test.wav");
  const Bytes stereo = write({0.1f, 0.2f, 0.3f, 0.4f}, 44100, 2, &log);
  EXPECT_EQ(u16_at(stereo, 22), 2);
  EXPECT_EQ(u32_at(stereo, 28), 44100u * 4);
  EXPECT_EQ(u16_at(stereo, 32), 4);
  EXPECT_EQ(u32_at(stereo, 40), 8u);
  EXPECT_EQ(log, "[audio_io] Wrote " + path + ": 2 frames, 44100 Hz, 2 ch\n");

  // Sizes follow the sample count even when it does not fill the last frame.
  const Bytes odd = write({0.1f, 0.2f, 0.3f}, 8000, 2, &log);
  EXPECT_EQ(u32_at(odd, 40), 6u);
  EXPECT_EQ(odd.size(), 50u);
  EXPECT_EQ(log, "[audio_io] Wrote " + path + ": 1 frames, 8000 Hz, 2 ch\n");

  const AudioBuffer none = make_audio_buffer(nullptr, 6, 16000, 0);
  EXPECT_EQ(none.channels, 1);
  EXPECT_EQ(none.frames, 6);
  const Bytes mono = write({0.1f, 0.2f}, 16000, -3, &log);
  EXPECT_EQ(u16_at(mono, 22), 1);
  EXPECT_EQ(u16_at(mono, 32), 2);
}

TEST(WavWriter, LongBuffersKeepEverySample) {
  std::vector<float> ramp(10000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = float(i) / 32767.0f;
  const std::vector<int16_t> out = pcm(write(ramp, 48000, 1));
  ASSERT_EQ(out.size(), ramp.size());
  for (size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(out[i], int(i), 1) << i;
}

TEST(WavWriter, RefusesBadArgumentsWithoutAFile) {
  const std::string path = temp_path("korva-wav-refused.wav");
  std::remove(path.c_str());
  const float samples[2] = {0.0f, 0.0f};
  const AudioBuffer ok = make_audio_buffer(samples, 2, 48000, 1);
  const AudioBuffer no_samples = make_audio_buffer(nullptr, 2, 48000, 1);
  const AudioBuffer empty = make_audio_buffer(samples, 0, 48000, 1);
  const AudioBuffer negative = make_audio_buffer(samples, -4, 48000, 1);

  testing::internal::CaptureStderr();
  EXPECT_EQ(write_wav(nullptr, &ok), -1);
  for (const AudioBuffer *b : {static_cast<const AudioBuffer *>(nullptr), &no_samples, &empty,
                               &negative})
    EXPECT_EQ(write_wav(path.c_str(), b), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(exists(path));

  const std::string unwritable = temp_path("no-such-dir/out.wav");
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_wav(unwritable.c_str(), &ok), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[audio_io] Cannot create: " + unwritable + "\n");
}

TEST(WavWriter, AFullDiskOrADirectoryIsAFailure) {
  // Both the header alone (caught only at close) and a long write (caught while writing).
  for (const size_t count : {size_t{1}, size_t{1} << 20}) {
    const std::vector<float> samples(count, 0.25f);
    const AudioBuffer buffer =
        make_audio_buffer(samples.data(), static_cast<int32_t>(count), 48000, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_wav("/dev/full", &buffer), -1) << count;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[audio_io] Cannot write /dev/full: No space left on device\n");
  }
  const float one = 0.0f;
  const AudioBuffer buffer = make_audio_buffer(&one, 1, 48000, 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_wav(testing::TempDir().c_str(), &buffer), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[audio_io] Cannot create: " + testing::TempDir() + "\n");
}

TEST(WavWriter, TruncatesAnExistingFile) {
  write(std::vector<float>(1000, 0.0f), 48000, 1);
  EXPECT_EQ(write({0.0f}, 48000, 1).size(), 46u);
}

}  // namespace
