// korva normalise: the text normaliser alone, without a voice.

#include <cstdio>
#include <string>

#include "cli-error.h"
#include "command.h"
#include "input-text.h"
#include "text/normalise.h"

namespace {

constexpr const char *kHelp =
    "usage: korva normalise [TEXT ...]\n"
    "\n"
    "Prints the spoken form of TEXT (the words joined by spaces; standard input\n"
    "when none is given) on one line: numbers, amounts, dates, times, units,\n"
    "abbreviations, initialisms, symbols and addresses written out as words.\n"
    "\n"
    "  -h, --help             this text\n"
    "      --version          the version\n";

int run_normalise(const ParsedArgs &args) {
  const std::string spoken = normalise_text(input_text(args.operands));
  std::printf("%s\n", spoken.c_str());
  if (std::fflush(stdout) != 0) throw CommandError("cannot write to standard output");
  return 0;
}

}  // namespace

const Command &normalise_command() {
  static const Command command{"normalise", "print text as it is read aloud (words only)", kHelp,
                               {}, run_normalise};
  return command;
}
