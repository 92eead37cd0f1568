#pragma once
// Any UTF-8 -> ASCII for the readers: letters with diacritics and letters of
// other scripts become plain Latin letters, typographic quotes (guillemets
// too), apostrophes, dashes and ellipses their plain forms, compatibility
// characters (ligatures, full-width digits, fractions) their ASCII spelling.

#include <string>
#include <string_view>

// The symbols the readers say, kept as they are (UTF-8) rather than folded.
constexpr std::string_view kKeptSymbols[] = {"€", "£", "¥", "°", "µ"};

// Folds every run of non-ASCII bytes of `utf8`. A long dash becomes " -- " (a
// pause, unlike the hyphen of a range); emoji, other symbols, control
// characters, invalid UTF-8 and letters that have no Latin form each become
// one space, so words on either side stay apart; line breaks are kept.
std::string fold_to_ascii(std::string_view utf8);
