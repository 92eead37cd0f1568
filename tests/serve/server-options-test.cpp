// The server's command line: voices, the rule on addresses beyond this
// machine, the API key and its check.
#include "server-options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "api-key.h"
#include "cli-error.h"

namespace {

ServerOptions options_of(std::vector<std::string> args, const char *key = nullptr) {
  return server_options(parse_args(args, server_option_specs()), key);
}

std::string usage_error(std::vector<std::string> args, const char *key = nullptr) {
  try {
    options_of(std::move(args), key);
  } catch (const UsageError &error) {
    return error.what();
  }
  return "";
}

}  // namespace

TEST(ServerOptions, VoicesAreNamedPairsArchivesOrDirectories) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("korva-voices-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const char *file : {"b.pt", "a.pt", "notes.txt"}) std::ofstream(dir / file) << "x";
  const ServerOptions options =
      options_of({"-m", "ljs=/v/ljs.pt", "--model", "/v/amy-medium.pt", "-m", dir.string()});
  ASSERT_EQ(options.voices.size(), 4u);
  EXPECT_EQ(options.voices[0].name, "ljs");
  EXPECT_EQ(options.voices[0].path, "/v/ljs.pt");
  EXPECT_EQ(options.voices[1].name, "amy-medium");
  EXPECT_EQ(options.voices[2].name, "a");
  EXPECT_EQ(options.voices[2].path, (dir / "a.pt").string());
  EXPECT_EQ(options.voices[3].name, "b");
  EXPECT_NE(usage_error({"-m", "a=/x.pt", "-m", dir.string()}).find("two voices are called 'a'"),
            std::string::npos);
  fs::remove(dir / "a.pt");
  fs::remove(dir / "b.pt");
  EXPECT_NE(usage_error({"-m", dir.string()}).find("holds no voice"), std::string::npos);
  fs::remove_all(dir);
  EXPECT_NE(usage_error({"-m", "a b=/x.pt"}).find("a voice's name"), std::string::npos);
  EXPECT_NE(usage_error({"-m", "=/x.pt"}).find("a voice's name"), std::string::npos);
  EXPECT_NE(usage_error({}).find("no voice given"), std::string::npos);
}

TEST(ServerOptions, BeyondLoopbackNeedsAKeyUnlessToldOtherwise) {
  EXPECT_NE(usage_error({"-m", "v.pt", "--host", "0.0.0.0"}).find("--api-key"),
            std::string::npos);
  EXPECT_NE(usage_error({"-m", "v.pt", "--host", "192.168.1.5", "--api-key", ""}).find("--api-key"),
            std::string::npos);
  EXPECT_EQ(options_of({"-m", "v.pt", "--host", "0.0.0.0", "--api-key", "k"}).api_key, "k");
  EXPECT_EQ(options_of({"-m", "v.pt", "--host", "::"}, "from-env").api_key, "from-env");
  EXPECT_EQ(options_of({"-m", "v.pt", "--host", "0.0.0.0", "--insecure-no-auth"}).api_key, "");
  EXPECT_EQ(options_of({"-m", "v.pt", "--api-key", "k"}, "env").api_key, "k");  // the option wins
  for (const char *host : {"127.0.0.1", "127.1.2.3", "::1", "localhost"}) {
    EXPECT_TRUE(is_loopback(host)) << host;
    EXPECT_NO_THROW(options_of({"-m", "v.pt", "--host", host}));
  }
  for (const char *host : {"0.0.0.0", "::", "10.0.0.1", "128.0.0.1", "example.org"}) {
    EXPECT_FALSE(is_loopback(host)) << host;
  }
  // Wyoming has no key: it listens on loopback unless given an address.
  const ServerOptions wyoming = options_of({"-m", "v.pt", "--wyoming-port", "0"});
  EXPECT_EQ(wyoming.wyoming_port, 0);
  EXPECT_EQ(wyoming.wyoming_host, "127.0.0.1");
  EXPECT_EQ(options_of({"-m", "v.pt"}).wyoming_port, -1);
}

TEST(ServerOptions, NumbersAreCheckedAgainstTheirRanges) {
  const ServerOptions options = options_of({"-m", "v.pt", "--workers", "3", "--max-audio", "12.5",
                                            "--request-timeout", "4", "--max-client-connections",
                                            "2"});
  EXPECT_EQ(options.workers, 3);
  EXPECT_DOUBLE_EQ(options.max_audio, 12.5);
  EXPECT_EQ(options.request_timeout, 4);
  EXPECT_EQ(options.max_client_connections, 2);
  for (const std::vector<std::string> &bad :
       {std::vector<std::string>{"--workers", "0"}, {"--max-audio", "0"}, {"--max-audio", "nan"},
        {"--max-audio", "43201"},
        {"--request-timeout", "-1"}, {"--max-client-connections", "0"}, {"--wyoming-port", "70000"}}) {
    std::vector<std::string> args{"-m", "v.pt"};
    args.insert(args.end(), bad.begin(), bad.end());
    EXPECT_NE(usage_error(args).find("--" + bad[0].substr(2)), std::string::npos) << bad[0];
  }
}

TEST(ApiKey, OnlyTheBearerOfTheWholeKeyIsAdmitted) {
  const ApiKey key("s3cret");
  EXPECT_TRUE(key.required());
  EXPECT_TRUE(key.admits("Bearer s3cret"));
  EXPECT_TRUE(key.admits("bearer s3cret"));
  for (const char *wrong : {"", "s3cret", "Bearer ", "Bearer s3cre", "Bearer s3cret2",
                            "Bearer S3cret", "Basic s3cret", "Bearer  s3cret"}) {
    EXPECT_FALSE(key.admits(wrong)) << wrong;
  }
  const ApiKey none("");
  EXPECT_FALSE(none.required());
  EXPECT_TRUE(none.admits(""));
}
