// korva: the command-line face of the library. Dispatches to one subcommand;
// every failure ends in one "korva: ..." line on standard error and a non-zero
// exit (1: the command failed, 2: the command line is wrong).

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli-error.h"
#include "command.h"
#include "korva.h"
#include "log/log.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const std::vector<const Command *> &commands() {
  static const std::vector<const Command *> all{&speak_command(), &phonemize_command(),
                                                &inspect_command(), &normalise_command(),
                                                &serve_command()};
  return all;
}

void print_version() {
  std::printf("korva %d.%d\n", KORVA_VERSION_MAJOR, KORVA_VERSION_MINOR);
}

void print_help() {
  std::printf("usage: korva COMMAND [OPTIONS] [ARGS]\n\nEnglish text-to-speech.\n\n");
  for (const Command *command : commands()) {
    std::printf("  %-10s %s\n", command->name, command->summary);
  }
  std::printf(
      "\n"
      "  korva COMMAND --help   options of one command\n"
      "  korva --version        the version\n");
}

const Command *find_command(const std::string &name) {
  for (const Command *command : commands()) {
    if (name == command->name) return command;
  }
  return nullptr;
}

int run(const std::vector<std::string> &args, std::string &context) {
  if (args.empty()) throw UsageError("no command given");
  const std::string &first = args[0];
  if (first == "--help" || first == "-h") {
    print_help();
    return 0;
  }
  if (first == "--version") {
    print_version();
    return 0;
  }
  const Command *command = find_command(first);
  if (command == nullptr) {
    throw UsageError((first[0] == '-' ? "unknown option '" : "unknown command '") + first + "'");
  }
  context = std::string(" ") + command->name;

  const ParsedArgs parsed = parse_args({args.begin() + 1, args.end()}, command->options);
  // Quiet unless asked: the library (libkorva) and the areas linked in here (phonemize) alike.
  const LogLevel level = parsed.verbose ? LogLevel::kInfo : LogLevel::kWarning;
  korva_set_log_level(static_cast<int>(level));
  set_log_level(level);
  if (parsed.help) {
    std::printf("%s", command->help);
    return 0;
  }
  if (parsed.version) {
    print_version();
    return 0;
  }
  return command->run(parsed);
}

}  // namespace

int main(int argc, char **argv) {
  std::string context;  // " speak" once the command is known, for the --help hint
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc), context);
  } catch (const UsageError &error) {
    std::fprintf(stderr, "korva: %s (see korva%s --help)\n", error.what(), context.c_str());
    return kUsage;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "korva: %s\n", error.what());
    return kFailed;
  }
}
