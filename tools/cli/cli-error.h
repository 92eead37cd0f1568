#pragma once
// The two ways a korva command fails; main() prints the reason as one line.

#include <stdexcept>
#include <string>

// The command line itself is wrong: exit status 2, with a pointer to --help.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The command was understood but could not be carried out: exit status 1.
struct CommandError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
