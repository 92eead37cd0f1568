/* korva.h seen by a C compiler: it must compile as strict C99 without warnings,
 * and the calls that need no voice must behave as documented. */
#include "korva.h"
#include "korva.h" /* the include guard holds */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

int main(void) {
  int count = 12345;
  Manifest *none = NULL;

  check(KORVA_VERSION_MAJOR >= 0 && KORVA_VERSION_MINOR >= 0, "version macros");
  check(manifest_count(none) == -1, "manifest_count(NULL) == -1");
  manifest_close(none);
  check(manifest_open(NULL) == NULL, "manifest_open(NULL) == NULL");
  check(korva_tts("hello", &count, 1.0f) == NULL, "korva_tts before korva_load");
  check(count == 12345, "sample count untouched when not loaded");
  check(korva_tts_to_file("hello", "never.wav", 1.0f) == -1, "korva_tts_to_file before load");
  korva_unload();

  {
    korva_options options;
    korva_voice_info info;
    check(korva_options_default(&options, sizeof options) == 0, "korva_options_default");
    check(options.size == sizeof options && options.speed == 1.0f &&
              options.seed == KORVA_SEED_NEXT && options.normalize == 1 &&
              options.speaker_name == NULL && options.on_timing == NULL,
          "korva_options_default fills the defaults");
    check(korva_options_default(NULL, sizeof options) == -1, "korva_options_default(NULL)");
    check(korva_options_default(&options, 1) == -1, "korva_options_default: size too small");
    check(korva_synthesize("hello", &options, NULL, NULL) == -1, "korva_synthesize before load");
    check(strcmp(korva_last_error(), "Not loaded") == 0, "korva_last_error names the reason");
    korva_unload();
    check(korva_last_error()[0] == '\0', "korva_last_error is cleared by the next call");
    check(korva_get_voice_info(&info, sizeof info) == -1, "korva_get_voice_info before load");
    check(korva_speaker_name(0) == NULL, "korva_speaker_name before load");
  }

  if (failures == 0) printf("c header: all checks passed\n");
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
