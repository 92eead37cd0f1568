#pragma once
// A text's framed ids in utterances the model accepts, for the front-ends
// that read a text whole (espeak, characters): a text whose ids are too many
// is cut in two at the clause mark nearest its middle, else at the space
// nearest it, else at the character nearest it, and each half is read again,
// until every piece fits. Nothing of the text is left out.

#include <cstdint>
#include <string_view>
#include <vector>

#include "text/front-end.h"

// The framed ids of each piece of `text`, in order, each at most `max_ids`
// long. Pieces with nothing the voice's table holds are passed over; none at
// all for such a text. Throws std::runtime_error when a single character's
// ids exceed `max_ids`.
std::vector<std::vector<int32_t>> fitting_ids(const FrontEnd &front_end, std::string_view text,
                                              size_t max_ids);
