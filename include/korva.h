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
 * Several voices at once, each a handle (korva_voice_open below); the functions
 * above speak with one process-wide voice. Every function may be called from
 * any thread, and requests run in parallel, on one voice or on several: a voice
 * handle may be shared between threads. Each request's tensor operators run on
 * threads of its own (korva_voice_config.intra_op_threads). Failures return -1
 * or NULL; the reason is logged ("[korva] ERROR: ...", or a line tagged with
 * its area) and korva_last_error() returns it.
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

/* Releases the voice and espeak-ng. Does nothing when no voice is loaded.
 * Requests still running on it keep it until they end. */
KORVA_API void korva_unload(void);

/*
 * Receives successive chunks of audio from korva_tts_stream: `count` mono float
 * samples at 48 000 Hz, valid only during the call. Return 0 to go on, non-zero
 * to stop the synthesis early. Any korva_ function called from inside it fails
 * (NULL / -1) with an error: the calling thread is busy with that request.
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

/* korva_options.seed: the next value of the voice's request counter (for the
 * process-wide voice: 0, 1, 2, ... in the order the process makes requests).
 * Give a seed for audio that does not depend on the requests made beside it. */
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
                                 KORVA_SEED_NEXT (default): the voice's counter, one value
                                 per utterance */
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
 * NULL pointer or a size smaller than the `size` field (which every call
 * taking options refuses too).
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
 * skipped): for exact work against other implementations of a voice. They are
 * one utterance, so at most KORVA_MAX_IDS of them (the length at which the text
 * path cuts its utterances); more are refused, not split.
 * Returns 0 or -1 (an id outside the voice's vocabulary included).
 */
#define KORVA_MAX_IDS 4096
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
 * the loaded voice. Returns 0, or -1 when no voice is loaded, info is NULL or
 * `size` smaller than its `size` field (korva_last_error says which).
 */
KORVA_API int korva_get_voice_info(korva_voice_info *info, size_t size);

/*
 * The name of speaker `speaker` of the loaded voice, or NULL when it has none
 * (or no voice is loaded). Valid until korva_unload.
 */
KORVA_API const char *korva_speaker_name(int speaker);

/*
 * Why the last korva_ call of this thread failed: the text of its
 * "[korva] ERROR: ..." line (also when the log is off), or "" when it
 * succeeded. Owned by the library; valid until this thread's next korva_ call.
 */
KORVA_API const char *korva_last_error(void);

/* ---- Voices as handles -----------------------------------------------------
 *
 *     korva_voice *a = korva_voice_open("a.pt", NULL);      // NULL: the defaults
 *     korva_voice *b = korva_voice_open("b.pt", NULL);
 *     korva_options options;
 *     korva_options_default(&options, sizeof options);
 *     korva_voice_synthesize(a, "Hello.", &options, on_audio, user);  // any thread
 *     korva_voice_synthesize(b, "Hi.", &options, on_audio, user);     // at the same time
 *     korva_voice_close(a);
 *     korva_voice_close(b);
 *
 * Any number of voices may be open, apart from the process-wide one of
 * korva_load, and closing one never disturbs another. Requests run in parallel,
 * on different voices and on the same one: a request's audio depends only on
 * its voice, text, options and seed (give one: KORVA_SEED_NEXT takes the
 * voice's counter, whose order depends on the other requests). espeak-ng is one
 * per process: voices share its data directory and take turns at it.
 */

/* A loaded voice; released with korva_voice_close. */
typedef struct korva_voice korva_voice;

typedef struct korva_voice_config {
  size_t size;             /* sizeof(korva_voice_config) as the caller knows it */
  const char *espeak_data; /* espeak-ng's data directory; NULL (default): its default
                              location, or the directory the other voices use */
  int intra_op_threads;    /* threads of each request's tensor operators; 0 (default): the
                              physical cores (or OMP_NUM_THREADS) shared among the requests
                              running when one starts, at least 1 each */
  int precision;           /* KORVA_PRECISION_FP32 (default) or KORVA_PRECISION_BF16 */
} korva_voice_config;

/*
 * Fills the first `size` bytes of *config with the defaults and sets
 * config->size = size. Pass sizeof(korva_voice_config). Returns 0, or -1 for a
 * NULL pointer or a size smaller than the `size` field.
 */
KORVA_API int korva_voice_config_default(korva_voice_config *config, size_t size);

/*
 * Loads the voice in the weights archive `path` with `config` (NULL: the
 * defaults). Returns a handle to release with korva_voice_close, or NULL on
 * failure, also for an espeak-ng data directory other than the one the open
 * voices use.
 */
KORVA_API korva_voice *korva_voice_open(const char *path, const korva_voice_config *config);

/*
 * Releases a handle; NULL is ignored. Requests still running on it keep the
 * voice until they end, but the handle may not be used again.
 */
KORVA_API void korva_voice_close(korva_voice *voice);

/* korva_synthesize on `voice`. */
KORVA_API int korva_voice_synthesize(korva_voice *voice, const char *text,
                                     const korva_options *options, korva_audio_cb callback,
                                     void *user);

/* korva_synthesize_ids on `voice`. */
KORVA_API int korva_voice_synthesize_ids(korva_voice *voice, const int32_t *ids, int n_ids,
                                         const korva_options *options, korva_audio_cb callback,
                                         void *user);

/*
 * korva_set_precision for `voice` alone: waits for the requests running on it,
 * then changes the arithmetic of its later ones. Returns 0 or -1.
 */
KORVA_API int korva_voice_set_precision(korva_voice *voice, int precision);

/* korva_text_to_ids on `voice`; the result is released with korva_text_ids_free. */
KORVA_API korva_text_ids *korva_voice_text_to_ids(korva_voice *voice, const char *text,
                                                  const korva_options *options);

/* korva_get_voice_info of `voice`; the strings stay valid until korva_voice_close. */
KORVA_API int korva_voice_get_info(korva_voice *voice, korva_voice_info *info, size_t size);

/*
 * The name of speaker `speaker` of `voice`, or NULL when it has none (or
 * `voice` is NULL). Valid until korva_voice_close.
 */
KORVA_API const char *korva_voice_speaker_name(korva_voice *voice, int speaker);

/* ---- Logs ------------------------------------------------------------------
 *
 * The library writes its progress, statistics, warnings and errors as lines on
 * standard error, each beginning with a bracketed tag ("[korva]", "[manifest]",
 * ...). A host chooses how much of that it wants, and where it goes.
 */

#define KORVA_LOG_OFF 0     /* nothing */
#define KORVA_LOG_ERROR 1   /* failures only */
#define KORVA_LOG_WARNING 2 /* failures and warnings */
#define KORVA_LOG_INFO 3    /* everything: progress and statistics (the default) */

/*
 * Writes lines of `level` and below from now on, for every voice of the
 * process. Below KORVA_LOG_INFO the statistics of each request are not even
 * computed. Returns 0, or -1 for an unknown level (the level is then unchanged).
 */
KORVA_API int korva_set_log_level(int level);

/*
 * Receives each line the library writes: its KORVA_LOG_ level and its text,
 * without the newline, valid only during the call. May be called from any
 * thread that runs a korva_ call, several at once; a korva_ call made from
 * inside it fails.
 */
typedef void (*korva_log_cb)(int level, const char *line, void *user);

/*
 * Hands every line to `callback` (with `user`) instead of standard error;
 * NULL: standard error again. Returns once no line is being handed to the
 * previous callback, so that its `user` may be released then. Returns 0, or -1
 * when called from inside the log callback.
 */
KORVA_API int korva_set_log_callback(korva_log_cb callback, void *user);

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
