#pragma once
// Options and operands of one korva command. An option takes a value
// ("--speed 1.5", "--speed=1.5", "-o out.wav") unless it is a flag ("--stream");
// --help, --version and -v/--verbose are known to every command; "--" ends the options, and
// "-" alone is an operand.

#include <map>
#include <optional>
#include <string>
#include <vector>

struct OptionSpec {
  std::string name;   // long form, without the dashes
  char letter;        // short form, or 0 for none
  bool flag = false;  // takes no value; present or not
};

struct ParsedArgs {
  std::map<std::string, std::string> options;  // long name -> value; the last one given wins
  std::map<std::string, std::vector<std::string>> repeated;  // long name -> every value, in order
  std::vector<std::string> operands;
  bool help = false;
  bool version = false;
  bool verbose = false;  // the library's progress lines and statistics too, not only warnings

  // The value of option `name`, if it was given (empty for a flag).
  std::optional<std::string> value(const std::string &name) const;
  // Every value given to option `name`, for an option that may be repeated.
  std::vector<std::string> values(const std::string &name) const;
};

// Parses `args` (what follows the command name). Throws UsageError naming an
// unknown option or one whose value is missing.
ParsedArgs parse_args(const std::vector<std::string> &args, const std::vector<OptionSpec> &table);
