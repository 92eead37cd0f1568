// Where the time of one synthesis request goes, from libtorch's profiler: the
// engine's "korva::" scopes (inclusive) and the tensor operators (self time).
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ScopeTime {
  std::string name;
  int depth = 0;  // number of enclosing "korva::" scopes
  double ms = 0.0;
};

struct StageProfile {
  double total_ms = 0.0;                     // wall time of the whole request
  std::vector<ScopeTime> scopes;             // "korva::" scopes in order of first entry
  std::map<std::string, double> op_self_ms;  // every other recorded function
};

// Runs `request` once with the CPU profiler on in this thread. A scope entered
// several times (a loop) is reported once with its times added up.
StageProfile profile_request(const std::function<void()> &request);

// Markdown tables of repeated profiles, one column per configuration
// (`runs[c]` are the repeats of `columns[c]`): median [min, max] ms of the
// whole request and of each scope, then the `top_ops` operators of most self time;
// the same figures as CSV rows to `csv` when it is not null.
void print_stage_tables(const std::vector<std::string> &columns,
                        const std::vector<std::vector<StageProfile>> &runs, int top_ops, FILE *csv);
