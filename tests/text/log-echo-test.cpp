// What of a caller's text reaches a log line.

#include "text/log-echo.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LogEcho, PrintableUtf8PassesUnchanged) {
  EXPECT_EQ(log_echo("Hello, wörld — ɐ 😀"), "Hello, wörld — ɐ 😀");
  EXPECT_EQ(log_echo(""), "");
  EXPECT_EQ(log_echo(nullptr), "(null)");
}

TEST(LogEcho, ControlBytesAndBrokenUtf8AreEscaped) {
  EXPECT_EQ(log_echo("a\x1b[2Jb\n\t\x7f"), "a\\x1b[2Jb\\x0a\\x09\\x7f");
  EXPECT_EQ(log_echo("\xc2\x9b" "31m"), "\\xc2\\x9b31m");  // the C1 escape introducer
  // Lone continuation, cut sequence, overlong form, surrogate, past U+10FFFF, 0xFF.
  EXPECT_EQ(log_echo("\x80|\xe2\x82|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xff"),
            "\\x80|\\xe2\\x82|\\xc0\\xaf|\\xed\\xa0\\x80|\\xf4\\x90\\x80\\x80|\\xff");
}

TEST(LogEcho, LongTextIsCutWithItsLength) {
  const std::string text(10'000'000, 'a');
  EXPECT_EQ(log_echo(text.c_str(), 4), "aaaa ... (10000000 bytes)");
  EXPECT_EQ(log_echo("abcd", 4), "abcd");
  // A character is never split: the cut falls after it.
  EXPECT_EQ(log_echo("aéb", 2), "aé ... (4 bytes)");
}

}  // namespace
