#pragma once
// A request's text as the voice's front-end reads it, without speaking it:
// per utterance its phonemes and framed ids, in the order and cut into the
// utterances synthesis with the same options would speak.

#include "api/request.h"
#include "korva.h"

class FrontEnd;

// korva_text_to_ids on the voice of `front_end` and `voice`: one malloc'ed
// block (released with free), or nullptr after record_error ("Bad options:
// ...", or why the text cannot be read).
korva_text_ids *text_to_ids(const FrontEnd &front_end, const VoiceFacts &voice, const char *text,
                            const korva_options *options);
