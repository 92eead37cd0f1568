#pragma once
// One subcommand of the korva tool: its options, its --help text and its body.

#include <vector>

#include "args.h"

struct Command {
  const char *name;
  const char *summary;  // one line for "korva --help"
  const char *help;     // the whole "korva NAME --help" text
  std::vector<OptionSpec> options;
  // Runs the command; returns the exit status or throws UsageError / CommandError.
  int (*run)(const ParsedArgs &args);
};

const Command &speak_command();
const Command &phonemize_command();
const Command &inspect_command();
const Command &normalise_command();
