#include "args.h"

#include "cli-error.h"

namespace {

const OptionSpec *find_long(const std::vector<OptionSpec> &table, const std::string &name) {
  for (const OptionSpec &entry : table) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

const OptionSpec *find_short(const std::vector<OptionSpec> &table, char letter) {
  for (const OptionSpec &entry : table) {
    if (entry.letter != 0 && entry.letter == letter) return &entry;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> ParsedArgs::value(const std::string &name) const {
  const auto it = options.find(name);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> ParsedArgs::values(const std::string &name) const {
  const auto it = repeated.find(name);
  return it == repeated.end() ? std::vector<std::string>{} : it->second;
}

ParsedArgs parse_args(const std::vector<std::string> &args, const std::vector<OptionSpec> &table) {
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
    if (arg == "-v" || arg == "--verbose") {
      parsed.verbose = true;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      parsed.operands.push_back(arg);
      continue;
    }

    const OptionSpec *entry = nullptr;
    std::optional<std::string> inline_value;
    if (arg[1] == '-') {
      const size_t eq = arg.find('=');
      entry = find_long(table, arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
      if (eq != std::string::npos) inline_value = arg.substr(eq + 1);
    } else {
      entry = find_short(table, arg[1]);
      if (arg.size() > 2) inline_value = arg.substr(2);  // "-oout.wav"
    }
    if (entry == nullptr) throw UsageError("unknown option '" + arg + "'");

    std::string value;
    if (entry->flag) {
      if (inline_value) throw UsageError("option '" + arg + "' takes no value");
    } else if (inline_value) {
      value = *inline_value;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw UsageError("option '" + arg + "' needs a value");
    }
    parsed.options[entry->name] = value;
    parsed.repeated[entry->name].push_back(value);
  }
  return parsed;
}
