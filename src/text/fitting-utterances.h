#pragma once
// A text's utterances, each short enough for the model: where the front-end
// gives a longer one, the text is cut in two at the clause mark nearest its
// middle, else at the space nearest it, else at the character nearest it, and
// each half is read again, until every piece fits. Nothing of the text is left
// out. (The korva front-end cuts its own utterances; its pieces always fit.)

#include <string_view>
#include <vector>

#include "text/front-end.h"

// The utterances of `text`, in order, each at most `max_ids` framed ids, their
// words pointing into `text`. Pieces with nothing the voice's table holds are
// passed over; none at all for such a text. Throws std::runtime_error when a
// single character's ids exceed `max_ids`.
std::vector<Utterance> fitting_utterances(const FrontEnd &front_end, std::string_view text,
                                          size_t max_ids, DroppedSymbols &dropped);

// Whether `text` is long enough to be cut without reading it first: 4 bytes a
// framed id. Such a text fits `max_ids` only when it is mostly marks or spaces
// that say nothing, and reading it whole costs more than the text (espeak-ng
// slows down on long clauses).
bool too_long_to_read_whole(std::string_view text, size_t max_ids);
