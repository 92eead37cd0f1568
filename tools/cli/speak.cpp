// korva speak: text to a WAV file or to raw PCM on standard output, through
// the public C API only.

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/pcm16.h"
#include "audio/peak.h"
#include "audio/wav-writer.h"
#include "cli-error.h"
#include "command.h"
#include "input-text.h"
#include "loaded-voice.h"
#include "timing-files.h"
#include "speak-options.h"
#include "korva.h"

namespace {

constexpr const char *kDefaultOutput = "out.wav";

constexpr const char *kHelp =
    "usage: korva speak [-m VOICE.pt] [-o OUT] [--speed S] [--stream] [--precision P]\n"
    "                   [--espeak-data DIR] [--raw-text] [--ssml] [--sentence-silence S]\n"
    "                   [--timings F.json] [--subtitles F.vtt] [--speaker N|NAME] [--seed N]\n"
    "                   [--rate R] [--noise-scale X] [--noise-scale-w X] [--length-scale X]\n"
    "                   [--format F] [--ids 0,12,0,... | TEXT ...]\n"
    "\n"
    "Speaks TEXT (the words joined by spaces; standard input when none is given)\n"
    "with the voice in the weights archive VOICE.pt.\n"
    "\n"
    "  -m, --model VOICE.pt   weights archive of the voice (default: the constructed\n"
    "                         voice, " KORVA_DEFAULT_VOICE
    ")\n"
    "  -o, --output OUT       16-bit 48 kHz mono WAV file to write (default out.wav);\n"
    "                         '-' writes raw 16-bit little-endian PCM to standard output\n"
    "      --speed S          speaking rate, a positive number: 2 is twice as fast (default 1.0)\n"
    "      --stream           with -o -: write each piece of audio as soon as it is decoded;\n"
    "                         the samples are not peak-normalised, so they sound quieter\n"
    "      --precision P      fp32 (default) or bf16: decoder convolutions in bfloat16, about\n"
    "                         twice as fast where the CPU supports it\n"
    "      --espeak-data DIR  espeak-ng data directory (default: espeak-ng's own)\n"
    "      --raw-text         read the text as written: no numbers, symbols or\n"
    "                         abbreviations read aloud\n"
    "      --ssml             the text is SSML (the README lists the elements read)\n"
    "      --sentence-silence SECONDS\n"
    "                         silence between sentences (default: the voice's own, 0.2\n"
    "                         unless it gives another)\n"
    "      --timings F.json   write each word's and phoneme's start and end sample\n"
    "      --subtitles F.vtt  write the words as WebVTT subtitle cues\n"
    "      --speaker N|NAME   speaker of a voice of several, by id or by name (default 0)\n"
    "      --ids 0,12,0,...   token ids, framed as the voice frames them, instead of text\n"
    "      --seed N           seed of this request (default: the process-wide counter)\n"
    "      --noise-scale X    prior noise (default: the voice's own)\n"
    "      --noise-scale-w X  duration noise (default: the voice's own)\n"
    "      --length-scale X   duration scale, overriding --speed (default: the voice's own)\n"
    "      --rate R           48000 (default) or native: the voice's own sample rate\n"
    "      --format F         wav (default), or f32: raw little-endian float32 samples of the\n"
    "                         decoder output, not normalised, written to -o\n"
    "  -h, --help             this text\n"
    "      --version          the version\n"
    "\n"
    "  -v, --verbose          also the library's progress lines and statistics\n"
    "\n"
    "Warnings and errors go to standard error; with -v everything the library logs.\n";

// Writes each chunk as raw PCM to standard output as soon as it is decoded.
int write_chunk(const float *samples, int count, void *user) {
  if (write_pcm16(stdout, samples, count) && std::fflush(stdout) == 0) return 0;
  *static_cast<bool *>(user) = true;
  return 1;  // nobody is listening: stop synthesising
}

int collect_chunk(const float *samples, int count, void *user) {
  auto *all = static_cast<std::vector<float> *>(user);
  all->insert(all->end(), samples, samples + count);
  return 0;
}

// Raw PCM to standard output, chunk by chunk as the library decodes it.
void stream_to_stdout(const std::string &text, const korva_options &options) {
  // A closed pipe should end in a message, not a silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);
  bool write_failed = false;
  if (korva_synthesize(text.c_str(), &options, write_chunk, &write_failed) != 0)
    throw CommandError(std::string("synthesis failed: ") + korva_last_error());
  if (write_failed) throw CommandError("cannot write the audio to standard output");
}

// The whole utterance, from the text or (when there are any) from the ids, as
// the decoder made it.
std::vector<float> synthesise(const std::string &text, const std::vector<int32_t> &ids,
                              const korva_options &options) {
  std::vector<float> samples;
  int status = 0;
  if (!ids.empty()) {
    status = korva_synthesize_ids(ids.data(), static_cast<int>(ids.size()), &options,
                                  collect_chunk, &samples);
  } else {
    status = korva_synthesize(text.c_str(), &options, collect_chunk, &samples);
  }
  if (status != 0) throw CommandError(std::string("synthesis failed: ") + korva_last_error());
  return samples;
}

// Raw little-endian float32, whatever the host's byte order.
void write_f32(const std::string &path, const std::vector<float> &samples) {
  std::vector<unsigned char> bytes(samples.size() * 4);
  for (size_t i = 0; i < samples.size(); ++i) {
    uint32_t bits = 0;
    std::memcpy(&bits, &samples[i], sizeof bits);
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<unsigned char>(bits >> (8 * b));
  }
  FILE *file = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (!file) throw CommandError("cannot write '" + path + "'");
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = path == "-" ? std::fflush(file) == 0 : std::fclose(file) == 0;
  if (!written || !closed) throw CommandError("cannot write '" + path + "'");
}

void write_to_stdout(const std::vector<float> &samples) {
  std::signal(SIGPIPE, SIG_IGN);
  if (!write_pcm16(stdout, samples.data(), static_cast<int>(samples.size())) ||
      std::fflush(stdout) != 0) {
    throw CommandError("cannot write the audio to standard output");
  }
}

void write_wav_file(const std::string &path, const std::vector<float> &samples, int rate) {
  const AudioBuffer buffer =
      make_audio_buffer(samples.data(), static_cast<int>(samples.size()), rate, 1);
  if (write_wav(path.c_str(), &buffer) != 0) throw CommandError("cannot speak into '" + path + "'");
}

// The sample rate of what korva_synthesize hands out for `options`.
int output_rate(const korva_options &options) {
  korva_voice_info info;
  if (!options.native_rate || korva_get_voice_info(&info, sizeof info) != 0) return 48000;
  return info.sample_rate;
}

float parse_silence(const std::string &text) {
  const char *begin = text.c_str();
  char *end = nullptr;
  const float seconds = std::strtof(begin, &end);
  if (end == begin || *end != '\0' || !std::isfinite(seconds) || seconds < 0.0f || seconds > 60.0f)
    throw UsageError("--sentence-silence needs 0 to 60 seconds, got '" + text + "'");
  return seconds;
}

// The text options and the timing callback, on top of speak_request's.
void add_text_options(const ParsedArgs &args, korva_options &options,
                      std::vector<TimedWord> *timings) {
  options.normalize = args.value("raw-text") ? 0 : 1;
  options.ssml = args.value("ssml") ? 1 : 0;
  if (args.value("sentence-silence"))
    options.sentence_silence = parse_silence(*args.value("sentence-silence"));
  if (args.value("timings") || args.value("subtitles")) {
    options.on_timing = collect_timing;
    options.timing_user = timings;
  }
}

// --timings and --subtitles, once the audio is written.
void write_timing_files(const ParsedArgs &args, const std::vector<TimedWord> &timings, int rate,
                        const std::string &text) {
  if (const auto path = args.value("timings")) write_timings_json(*path, timings, rate);
  if (const auto path = args.value("subtitles"))
    write_subtitles_vtt(*path, timings, rate, text, args.value("ssml").has_value());
}

// A file the run will write, checked before any work: the synthesis may be long.
void check_writable(const std::string &path) {
  const std::filesystem::path file(path);
  const std::filesystem::path directory = file.parent_path().empty() ? "." : file.parent_path();
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error))
    throw CommandError("cannot write '" + path + "': there is no directory '" +
                       directory.string() + "'");
  if (std::filesystem::is_directory(file, error))
    throw CommandError("cannot write '" + path + "': it is a directory");
}

int parse_precision(const std::string &text) {
  if (text == "fp32") return KORVA_PRECISION_FP32;
  if (text == "bf16") return KORVA_PRECISION_BF16;
  throw UsageError("--precision is fp32 or bf16, got '" + text + "'");
}

// The constructed default voice installed with this executable (a path relative
// to its directory), whichever prefix the tree was installed under.
std::string installed_voice() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (self.parent_path() / KORVA_INSTALLED_VOICE).lexically_normal().string();
}

// A voice as an ONNX model (Piper's downloads) is converted once, not loaded:
// the refusal names the command that does it.
void refuse_onnx_model(const std::string &path) {
  const std::filesystem::path model(path);
  std::string extension = model.extension().string();
  for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != ".onnx") return;
  const std::string archive = std::filesystem::path(model).replace_extension(".pt").string();
  throw CommandError("'" + path +
                     "' is an ONNX model: convert it once with `korva-export --from-onnx " + path +
                     " --out " + archive + "` (its .onnx.json beside it), then use -m " + archive);
}

// The voice given with -m, else the constructed default voice: the installed
// one, or the one where the build put it.
std::string voice_path(const ParsedArgs &args) {
  if (const auto given = args.value("model")) {
    refuse_onnx_model(*given);
    return *given;
  }
  const std::string installed = installed_voice();
  if (!installed.empty() && access(installed.c_str(), R_OK) == 0) return installed;
  if (access(KORVA_DEFAULT_VOICE, R_OK) != 0) {
    throw CommandError("no voice given and no default voice at " KORVA_DEFAULT_VOICE
                       ": build it with tools/voice/korva-voice --out " KORVA_DEFAULT_VOICE
                       " (scripts/demo does), or pass -m VOICE.pt");
  }
  return KORVA_DEFAULT_VOICE;
}

int run_speak(const ParsedArgs &args) {
  std::vector<TimedWord> timings;
  korva_options options = speak_request(args);
  add_text_options(args, options, &timings);
  const SpeakFormat format = speak_format(args);
  const bool from_ids = args.value("ids").has_value();
  const std::vector<int32_t> ids =
      from_ids ? parse_ids(*args.value("ids")) : std::vector<int32_t>();
  const std::string output = args.value("output").value_or(kDefaultOutput);
  const auto espeak_data = args.value("espeak-data");
  const bool stream = args.value("stream").has_value();
  const int precision =
      args.value("precision") ? parse_precision(*args.value("precision")) : KORVA_PRECISION_FP32;
  if (stream && output != "-") {
    throw UsageError("--stream writes raw PCM to standard output: use it with -o -");
  }
  if (stream && (format != SpeakFormat::kWav || from_ids)) {
    throw UsageError("--stream speaks text as 16-bit PCM: not with --ids or --format f32");
  }
  if (from_ids && !args.operands.empty()) {
    throw UsageError("give either TEXT or --ids, not both");
  }
  if (output == "-" && isatty(STDOUT_FILENO)) {
    throw UsageError("refusing to write raw audio to a terminal: redirect it or use -o FILE.wav");
  }
  if (korva_set_precision(precision) != 0) {
    throw CommandError(
        "--precision bf16 needs a CPU with AVX512_BF16 or AMX-BF16, and this one has neither: "
        "use fp32");
  }

  for (const char *file : {"output", "timings", "subtitles"}) {
    if (const auto path = args.value(file); path && *path != "-") check_writable(*path);
  }
  const std::string voice = voice_path(args);
  const std::string text = from_ids ? std::string() : input_text(args.operands);
  LoadedVoice loaded(voice, espeak_data ? espeak_data->c_str() : nullptr);
  if (stream) {
    stream_to_stdout(text, options);
    write_timing_files(args, timings, output_rate(options), text);
    return 0;
  }
  std::vector<float> samples = synthesise(text, ids, options);
  if (format == SpeakFormat::kF32) {
    write_f32(output, samples);
    write_timing_files(args, timings, output_rate(options), text);
    return 0;
  }
  // Peak-normalised, as korva_tts normalises it.
  normalise_peak(samples.data(), static_cast<int64_t>(samples.size()));
  if (output == "-") {
    write_to_stdout(samples);
  } else {
    write_wav_file(output, samples, output_rate(options));
  }
  write_timing_files(args, timings, output_rate(options), text);
  return 0;
}

}  // namespace

const Command &speak_command() {
  static const Command command{"speak",
                               "speak text into a WAV file or raw PCM",
                               kHelp,
                               {{"model", 'm'},
                                {"output", 'o'},
                                {"speed", 0},
                                {"stream", 0, true},
                                {"precision", 0},
                                {"espeak-data", 0},
                                {"raw-text", 0, true},
                                {"ssml", 0, true},
                                {"sentence-silence", 0},
                                {"timings", 0},
                                {"subtitles", 0},
                                {"speaker", 0},
                                {"ids", 0},
                                {"seed", 0},
                                {"noise-scale", 0},
                                {"noise-scale-w", 0},
                                {"length-scale", 0},
                                {"rate", 0},
                                {"format", 0}},
                               run_speak};
  return command;
}
