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
 * calls are serialised: the engine is process-wide state, not a handle.
 * Failures return -1 or NULL; the reason is written to standard error
 * ("[korva] ERROR: ...", or a line tagged with its area).
 */
#ifndef KORVA_H
#define KORVA_H

#define KORVA_VERSION_MAJOR 0
#define KORVA_VERSION_MINOR 1

#if defined(_WIN32)
#  define KORVA_API __declspec(dllexport)
#else
#  define KORVA_API __attribute__((visibility("default")))
#endif

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
