/* speak-lines: loads a voice once and speaks each line of standard input into
 * OUTDIR/<line number>.wav (1.wav, 2.wav, ...), so that many short utterances
 * cost one load. Usage: speak-lines VOICE.pt OUTDIR SPEED < lines */
#include <korva.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s VOICE.pt OUTDIR SPEED < lines\n", argv[0]);
    return 2;
  }
  const float speed = strtof(argv[3], NULL);
  if (korva_load(argv[1], NULL) != 0) return 1;
  char line[1024];
  char path[4096];
  int number = 0;
  int status = 0;
  while (status == 0 && fgets(line, sizeof line, stdin) != NULL) {
    line[strcspn(line, "\n")] = '\0';
    snprintf(path, sizeof path, "%s/%d.wav", argv[2], ++number);
    status = korva_tts_to_file(line, path, speed);
  }
  korva_unload();
  return status == 0 ? 0 : 1;
}
