/*
 * korva — English text-to-speech as a small C library.
 *
 * Usage:
 *
 *     if (korva_load("voice.pt", "/usr/lib/x86_64-linux-gnu/espeak-ng-data") != 0) fail();
 *     int n = 0;
 *     float *samples = korva_tts("Hello, world!", &n, 1.0f);   // 48 kHz mono
 *     ...
 *     free(samples);
 *     korva_tts_to_file("Goodbye.", "bye.wav", 1.0f);          // 16-bit PCM WAV
 *     korva_unload();
 *
 *     Manifest *m = manifest_open("voice.pt");                  // inspect an archive
 *     printf("%d tensors\n", manifest_count(m));
 *     manifest_close(m);
 *
 * One voice per process. Every function may be called from any thread, but the
 * calls are serialised: the engine is process-wide state, not a handle. The
 * intra-op threads are the machine's physical cores, or OMP_NUM_THREADS when set.
 * Failures return -1 or NULL; the reason is written to standard error
 * ("[korva] ERROR: ...", or a line tagged with its area).
 */
#ifndef KORVA_H
#define KORVA_H

#define KORVA_VERSION_MAJOR 0
#define KORVA_VERSION_MINOR 2

#if defined(_WIN32)
#  define KORVA_API __declspec(dllexport)
#else
#  define KORVA_API __attribute__((visibility("default")))
#endif

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Handle of an opened weights archive; released with manifest_close. */
typedef struct Manifest Manifest;

/*
 * Loads the voice in the weights archive `weights_path` and initialises
 * espeak-ng from `espeak_data_path` (NULL: espeak-ng's default location).
 * Returns 0 on success, -1 on failure (also when a voice is already loaded:
 * call korva_unload first).
 */
KORVA_API int korva_load(const char *weights_path, const char *espeak_data_path);

/*
 * Synthesises `input_text` (UTF-8 English) at the speaking rate `speed`
 * (1 normal, 2 twice as fast; 0 or less: a slightly slow default).
 * Returns a malloc'ed buffer of *sample_count mono float samples at 48 000 Hz,
 * peak-normalised to 0.95; the caller releases it with free(). Returns NULL on
 * failure (no voice loaded, NULL argument, synthesis error).
 */
KORVA_API float *korva_tts(const char *input_text, int *sample_count, float speed);

/*
 * Like korva_tts, but writes the samples as a 16-bit PCM mono WAV file at
 * `wav_path`. Returns 0 on success, -1 on failure.
 */
KORVA_API int korva_tts_to_file(const char *input_text, const char *wav_path, float speed);

/* Releases the voice and espeak-ng. Does nothing when no voice is loaded. */
KORVA_API void korva_unload(void);

/*
 * Receives successive chunks of audio from korva_tts_stream: `count` mono float
 * samples at 48 000 Hz, valid only during the call. Return 0 to go on, non-zero
 * to stop the synthesis early. The engine is busy while the callback runs: any
 * korva_ function called from inside it fails (NULL / -1) with an error.
 */
typedef int (*korva_audio_cb)(const float *samples, int count, void *user);

/*
 * Synthesises `input_text` like korva_tts, handing the audio to `callback` (with
 * `user`) chunk by chunk as it is decoded, so that playback can start long
 * before the end of a long text. The samples are the raw decoder output in
 * [-1, 1], NOT peak-normalised (the peak is not known until the end):
 * concatenated, they are korva_tts's samples before its normalisation.
 * Returns 0 when the text was spoken or the callback stopped it, -1 on failure.
 */
KORVA_API int korva_tts_stream(const char *input_text, float speed, korva_audio_cb callback,
                               void *user);

#define KORVA_PRECISION_FP32 0 /* default: float32 throughout */
#define KORVA_PRECISION_BF16 1 /* decoder convolutions in bfloat16: about twice as fast */

/*
 * Chooses the arithmetic of the waveform decoder for later syntheses, loaded
 * voice or not (it stays until changed). bfloat16 needs a CPU that runs it
 * natively (AVX512_BF16 or AMX-BF16) and changes the samples slightly (about
 * 40 dB or more below the signal). Returns 0, or -1 for an unknown value or a
 * CPU without native bfloat16 (the precision is then unchanged).
 */
KORVA_API int korva_set_precision(int precision);

/* ---- Requests with options ------------------------------------------------
 *
 *     korva_options options;
 *     korva_options_default(&options, sizeof options);
 *     options.speaker = 3;
 *     options.native_rate = 1;
 *     korva_synthesize("Hello, world!", &options, on_audio, user);
 *
 * The options struct only ever grows at its end: `size` tells the library which
 * fields the caller knows, and the fields beyond it keep their defaults.
 */

/* korva_options.seed: the next value of the process-wide request counter. */
#define KORVA_SEED_NEXT (-1)

#define KORVA_TIMING_WORD 0    /* a word of the input text */
#define KORVA_TIMING_PHONEME 1 /* one phoneme of a word */

/* Where one word or phoneme of a request lies in its audio. */
typedef struct korva_timing {
  int kind;                /* KORVA_TIMING_WORD or KORVA_TIMING_PHONEME */
  const char *text;        /* the word as written, or the phoneme; UTF-8, valid during the call */
  int text_offset;         /* byte offset in the request's text (a phoneme: that of its word) */
  int text_length;         /* bytes of the request's text it covers */
  long long start_sample;  /* first sample, at the output rate, from the request's start */
  long long end_sample;    /* one past the last */
} korva_timing;

/* Receives timings in order of the audio; return 0 to go on, non-zero to stop. */
typedef int (*korva_timing_cb)(const korva_timing *timing, void *user);

typedef struct korva_options {
  size_t size;                /* sizeof(korva_options) as the caller knows it */
  float speed;                /* speaking rate: 1 normal (default), 2 twice as fast */
  float length_scale;         /* > 0: duration scale, overriding speed; 0 (default): the
                                 voice's length scale / speed */
  float noise_scale;          /* prior noise; < 0 (default): the voice's own */
  float noise_scale_w;        /* duration noise; < 0 (default): the voice's own */
  int speaker;                /* speaker id, 0 (default) .. n_speakers - 1 */
  const char *speaker_name;   /* NULL (default), or a name of the voice's, overriding speaker */
  long long seed;             /* >= 0: seed of the first utterance (later ones count up);
                                 KORVA_SEED_NEXT (default): the process-wide counter */
  int native_rate;            /* 0 (default): 48 000 Hz; 1: the voice's own sample rate */
  int normalize;              /* 1 (default): numbers, symbols, abbreviations read aloud */
  int ssml;                   /* 1: the text is SSML (the README lists the subset); 0 (default) */
  int split_sentences;        /* 1 (default): one utterance per sentence; 0: the whole text as
                                 one utterance where it fits, sentence by sentence otherwise */
  float sentence_silence;     /* seconds of silence between sentences; < 0 (default): the
                                 voice's own (0.2 unless the voice gives another) */
  korva_timing_cb on_timing;  /* NULL (default), or called with each word's and phoneme's span */
  void *timing_user;          /* passed to on_timing */
} korva_options;

/*
 * Fills the first `size` bytes of *options with the defaults and sets
 * options->size = size. Pass sizeof(korva_options). Returns 0, or -1 for a
 * NULL pointer or a size smaller than the `size` field.
 */
KORVA_API int korva_options_default(korva_options *options, size_t size);

/*
 * Synthesises `text` with `options` (NULL: the defaults), handing the audio to
 * `callback` chunk by chunk as korva_tts_stream does: mono float samples at
 * 48 000 Hz or the voice's own rate, not peak-normalised. Returns 0 when the
 * text was spoken or a callback stopped it, -1 on failure (a bad option
 * included; the engine stays usable).
 */
KORVA_API int korva_synthesize(const char *text, const korva_options *options,
                               korva_audio_cb callback, void *user);

/*
 * Like korva_synthesize, but from `n_ids` token ids already framed as the
 * voice's front-end frames them (the front-end and the text options are
 * skipped): for exact work against other implementations of a voice.
 * Returns 0 or -1 (an id outside the voice's vocabulary included).
 */
KORVA_API int korva_synthesize_ids(const int32_t *ids, int n_ids, const korva_options *options,
                                   korva_audio_cb callback, void *user);

/* ---- The ids a voice is fed ----------------------------------------------
 *
 *     korva_text_ids *t = korva_text_to_ids("Hello, world!", NULL);
 *     for (int i = 0; t && i < t->n_utterances; ++i)
 *       printf("%s: %d ids\n", t->utterances[i].phonemes, t->utterances[i].n_ids);
 *     korva_text_ids_free(t);
 */

/* One utterance of a text as the voice's front-end reads it. */
typedef struct korva_utterance_ids {
  const char *phonemes; /* UTF-8: the phonemes (or letters) as the front-end wrote them */
  const int32_t *ids;   /* the framed token ids the model is fed, as korva_synthesize_ids takes them */
  int n_ids;
} korva_utterance_ids;

typedef struct korva_text_ids {
  int n_utterances;
  const korva_utterance_ids *utterances; /* in the order they would be spoken */
} korva_text_ids;

/*
 * Reads `text` with the loaded voice's front-end as korva_synthesize would
 * with `options` (NULL: the defaults; normalisation, SSML, sentences and the
 * speaker are honoured, nothing is synthesised) and returns its utterances.
 * Returns a result owned by the caller, released with korva_text_ids_free, or
 * NULL on failure (no voice loaded, NULL text, a bad option, a text of nothing
 * the voice can say).
 */
KORVA_API korva_text_ids *korva_text_to_ids(const char *text, const korva_options *options);

/* Releases a result of korva_text_to_ids; NULL is ignored. */
KORVA_API void korva_text_ids_free(korva_text_ids *ids);

/* What the loaded voice is. */
typedef struct korva_voice_info {
  size_t size;            /* sizeof(korva_voice_info) as the caller knows it */
  int sample_rate;        /* the voice's own rate, Hz */
  int n_speakers;         /* 1 for a voice of one speaker */
  const char *front_end;  /* "korva", "espeak", "piper" or "characters"; valid until korva_unload */
  float noise_scale;      /* the voice's defaults */
  float noise_scale_w;
  float length_scale;
} korva_voice_info;

/*
 * Fills the first `size` bytes of *info (pass sizeof(korva_voice_info)) for
 * the loaded voice. Returns 0, or -1 when no voice is loaded or info is NULL.
 */
KORVA_API int korva_get_voice_info(korva_voice_info *info, size_t size);

/*
 * The name of speaker `speaker` of the loaded voice, or NULL when it has none
 * (or no voice is loaded). Valid until korva_unload.
 */
KORVA_API const char *korva_speaker_name(int speaker);

/*
 * Why the last korva_ call of this thread failed: the text of its
 * "[korva] ERROR: ..." line, or "" when it reported no error. Owned by the
 * library; valid until this thread's next korva_ call.
 */
KORVA_API const char *korva_last_error(void);

/*
 * Opens a weights archive and reads its table of tensors, without loading the
 * voice. Returns a handle to release with manifest_close, or NULL on failure.
 */
KORVA_API Manifest *manifest_open(const char *path);

/* Number of tensors listed in the archive; -1 for a NULL handle. */
KORVA_API int manifest_count(Manifest *handle);

/* Releases a handle from manifest_open; NULL is ignored. */
KORVA_API void manifest_close(Manifest *handle);

#ifdef __cplusplus
}
#endif

#endif /* KORVA_H */
