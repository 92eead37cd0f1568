#include "args.h"

#include "cli-error.h"

namespace {

const OptionSpec *find_long(const std::vector<OptionSpec> &specs, const std::string &name) {
  for (const OptionSpec &spec : specs) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

const OptionSpec *find_short(const std::vector<OptionSpec> &specs, char letter) {
  for (const OptionSpec &spec : specs) {
    if (spec.letter != 0 && spec.letter == letter) return &spec;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> ParsedArgs::value(const std::string &name) const {
  const auto it = options.find(name);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

ParsedArgs parse_args(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs) {
  ParsedArgs parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--") {
      parsed.operands.insert(parsed.operands.end(), args.begin() + i + 1, args.end());
      break;
    }
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    if (arg == "--version") {
      parsed.version = true;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      parsed.operands.push_back(arg);
      continue;
    }

    const OptionSpec *spec = nullptr;
    std::optional<std::string> inline_value;
    if (arg[1] == '-') {
      const size_t eq = arg.find('=');
      spec = find_long(specs, arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
      if (eq != std::string::npos) inline_value = arg.substr(eq + 1);
    } else {
      spec = find_short(specs, arg[1]);
      if (arg.size() > 2) inline_value = arg.substr(2);  // "-oout.wav"
    }
    if (spec == nullptr) throw UsageError("unknown option '" + arg + "'");

    if (inline_value) {
      parsed.options[spec->name] = *inline_value;
    } else if (i + 1 < args.size()) {
      parsed.options[spec->name] = args[++i];
    } else {
      throw UsageError("option '" + arg + "' needs a value");
    }
  }
  return parsed;
}
