#!/usr/bin/env bash
# The shared library exports the C API and nothing else.
#   exports-test.sh LIBKORVA
set -euo pipefail
expected="korva_get_voice_info korva_last_error korva_load korva_options_default korva_set_precision korva_speaker_name korva_synthesize korva_synthesize_ids korva_text_ids_free korva_text_to_ids korva_tts korva_tts_stream korva_tts_to_file korva_unload manifest_close manifest_count manifest_open"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exports differ:"; echo "  expected: $expected"; echo "  actual:   $actual"
  exit 1
fi
echo "exports: $actual"
