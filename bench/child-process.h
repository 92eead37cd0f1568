// Re-running the benchmark's own executable for measurements that need a fresh
// process: load time, and peak memory that no earlier request has raised.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs /proc/self/exe with `args` (standard error discarded) and returns what
// it wrote to standard output, or nothing when it did not exit with status 0.
std::optional<std::string> run_self(const std::vector<std::string> &args);
