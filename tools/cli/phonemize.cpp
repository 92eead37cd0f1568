// korva phonemize: the text front-end alone, without a voice.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli-error.h"
#include "command.h"
#include "input-text.h"
#include "text/phonemizer.h"
#include "text/tokenizer.h"

namespace {

constexpr const char *kHelp =
    "usage: korva phonemize [--espeak-data DIR] [TEXT ...]\n"
    "\n"
    "Prints the IPA phonemes of TEXT (the words joined by spaces; standard input\n"
    "when none is given) on one line and the model's token ids on the next.\n"
    "\n"
    "      --espeak-data DIR  espeak-ng data directory (default: espeak-ng's own)\n"
    "  -h, --help             this text\n"
    "      --version          the version\n";

// espeak-ng is initialised for the lifetime of one command.
class Phonemizer {
 public:
  explicit Phonemizer(const char *espeak_data) {
    if (phonemizer_init(espeak_data) != 0) throw CommandError("cannot initialise espeak-ng");
  }
  ~Phonemizer() { phonemizer_shutdown(); }
  Phonemizer(const Phonemizer &) = delete;
  Phonemizer &operator=(const Phonemizer &) = delete;
};

int run_phonemize(const ParsedArgs &args) {
  const auto espeak_data = args.value("espeak-data");
  const std::string text = input_text(args.operands);
  Phonemizer phonemizer(espeak_data ? espeak_data->c_str() : nullptr);

  std::unique_ptr<char, decltype(&std::free)> ipa(phonemize(text.c_str()), &std::free);
  if (!ipa) throw CommandError("phonemizing failed");
  int count = 0;
  std::unique_ptr<int32_t, decltype(&std::free)> ids(tokenize_to_array(ipa.get(), &count),
                                                     &std::free);
  // Even empty text has its three framing ids, so no ids means no memory.
  if (!ids) throw CommandError("tokenizing failed");

  std::printf("%s\n", ipa.get());
  for (int i = 0; i < count; ++i) std::printf(i == 0 ? "%d" : " %d", ids.get()[i]);
  std::printf("\n");
  if (std::fflush(stdout) != 0) throw CommandError("cannot write to standard output");
  return 0;
}

}  // namespace

const Command &phonemize_command() {
  static const Command command{"phonemize", "print the IPA phonemes and token ids of text", kHelp,
                               {{"espeak-data", 0}}, run_phonemize};
  return command;
}
