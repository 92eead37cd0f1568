/* speak.c: say a sentence with a korva voice.
 *   cc -Iinclude speak.c -Lbuild/src -lkorva -lm -o speak
 *   LD_LIBRARY_PATH=build/src ./speak voice.pt goodbye.wav */
#include <korva.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s VOICE.pt OUT.wav\n", argv[0]);
    return 1;
  }
  /* NULL: espeak-ng's default data directory */
  if (korva_load(argv[1], NULL) != 0) return 1;

  int n = 0;
  float *samples = korva_tts("Hello, world!", &n, 1.0f); /* 48 kHz mono */
  if (samples == NULL) {
    korva_unload();
    return 1;
  }
  float peak = 0.0f;
  for (int i = 0; i < n; ++i) peak = fmaxf(peak, fabsf(samples[i]));
  printf("%d samples (%.2f s), peak %.2f\n", n, n / 48000.0f, peak);
  free(samples);

  int status = korva_tts_to_file("Goodbye.", argv[2], 1.0f); /* 16-bit WAV */
  korva_unload();
  return status == 0 ? 0 : 1;
}
