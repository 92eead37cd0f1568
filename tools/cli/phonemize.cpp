// korva phonemize: the text front-end alone. Without a voice, the constructed
// voice's front-end; with -m, the front-end of that voice as the library reads
// text for it, utterance by utterance.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli-error.h"
#include "command.h"
#include "input-text.h"
#include "korva.h"
#include "loaded-voice.h"
#include "text/phonemizer.h"
#include "text/tokenizer.h"

namespace {

constexpr const char *kHelp =
    "usage: korva phonemize [-m VOICE.pt [--raw-text] [--ssml]] [--espeak-data DIR] [TEXT ...]\n"
    "\n"
    "Prints the IPA phonemes of TEXT (the words joined by spaces; standard input\n"
    "when none is given) on one line and the model's token ids on the next.\n"
    "With -m, reads the text as `korva speak -m VOICE.pt` would: normalised and\n"
    "sentence by sentence, through that voice's own front-end, and prints the two\n"
    "lines for each utterance the voice would speak.\n"
    "\n"
    "  -m, --model VOICE.pt   weights archive of the voice whose front-end reads the text\n"
    "      --raw-text         with -m: read the text as written (no normalisation)\n"
    "      --ssml             with -m: the text is SSML\n"
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

void print_utterance(const char *phonemes, const int32_t *ids, int count) {
  std::printf("%s\n", phonemes);
  for (int i = 0; i < count; ++i) std::printf(i == 0 ? "%d" : " %d", ids[i]);
  std::printf("\n");
}

void phonemize_for_constructed_voice(const std::string &text, const char *espeak_data) {
  Phonemizer phonemizer(espeak_data);
  std::unique_ptr<char, decltype(&std::free)> ipa(phonemize(text.c_str()), &std::free);
  if (!ipa) throw CommandError("phonemizing failed");
  int count = 0;
  std::unique_ptr<int32_t, decltype(&std::free)> ids(tokenize_to_array(ipa.get(), &count),
                                                     &std::free);
  // Even empty text has its three framing ids, so no ids means no memory.
  if (!ids) throw CommandError("tokenizing failed");
  print_utterance(ipa.get(), ids.get(), count);
}

void phonemize_for_voice(const std::string &text, const std::string &voice,
                         const ParsedArgs &args, const char *espeak_data) {
  const LoadedVoice loaded(voice, espeak_data);
  korva_options options;
  korva_options_default(&options, sizeof options);
  options.normalize = args.value("raw-text") ? 0 : 1;
  options.ssml = args.value("ssml") ? 1 : 0;
  std::unique_ptr<korva_text_ids, decltype(&korva_text_ids_free)> read(
      korva_text_to_ids(text.c_str(), &options), &korva_text_ids_free);
  if (!read) throw CommandError(std::string("cannot read the text: ") + korva_last_error());
  for (int i = 0; i < read->n_utterances; ++i) {
    const korva_utterance_ids &u = read->utterances[i];
    print_utterance(u.phonemes, u.ids, u.n_ids);
  }
}

int run_phonemize(const ParsedArgs &args) {
  const auto espeak_data = args.value("espeak-data");
  const auto voice = args.value("model");
  if (!voice && (args.value("raw-text") || args.value("ssml")))
    throw UsageError("--raw-text and --ssml need a voice (-m)");
  const std::string text = input_text(args.operands);
  const char *data = espeak_data ? espeak_data->c_str() : nullptr;
  if (voice) {
    phonemize_for_voice(text, *voice, args, data);
  } else {
    phonemize_for_constructed_voice(text, data);
  }
  if (std::fflush(stdout) != 0) throw CommandError("cannot write to standard output");
  return 0;
}

}  // namespace

const Command &phonemize_command() {
  static const Command command{
      "phonemize", "print the IPA phonemes and token ids of text", kHelp,
      {{"espeak-data", 0}, {"model", 'm'}, {"raw-text", 0, true}, {"ssml", 0, true}},
      run_phonemize};
  return command;
}
