#include "stage-profile.h"

#include <torch/csrc/autograd/profiler_legacy.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "bench-support.h"

namespace {

namespace profiler = torch::autograd::profiler;

constexpr const char *kScopePrefix = "korva::";

bool is_scope(const std::string &name) { return name.rfind(kScopePrefix, 0) == 0; }

struct Open {
  const profiler::LegacyEvent *push;
  int scope;        // index in StageProfile::scopes, -1 for an operator
  int scopes_open;  // "korva::" scopes open, this one included
  double children_ms = 0.0;
};

// Index of the scope `name`, added at `depth` when it is new, so that scopes
// keep the order in which they were first entered.
int scope_index(std::vector<ScopeTime> &scopes, const std::string &name, int depth) {
  for (size_t i = 0; i < scopes.size(); ++i)
    if (scopes[i].name == name) return static_cast<int>(i);
  scopes.push_back({name, depth, 0.0});
  return static_cast<int>(scopes.size()) - 1;
}

// Pairs each pop with the innermost open push of the same thread; the legacy
// profiler records both ends on the thread that ran the function.
void add_thread(const std::vector<profiler::LegacyEvent> &events, StageProfile &profile) {
  std::vector<Open> open;
  for (const auto &event : events) {
    if (event.kind() == profiler::EventKind::PushRange) {
      int scopes_open = open.empty() ? 0 : open.back().scopes_open;
      const int scope =
          is_scope(event.name()) ? scope_index(profile.scopes, event.name(), scopes_open++) : -1;
      open.push_back({&event, scope, scopes_open});
      continue;
    }
    if (event.kind() != profiler::EventKind::PopRange || open.empty()) continue;
    const Open done = open.back();
    open.pop_back();
    const double ms = done.push->cpuElapsedUs(event) / 1000.0;
    if (!open.empty()) open.back().children_ms += ms;
    if (done.scope >= 0)
      profile.scopes[done.scope].ms += ms;
    else
      profile.op_self_ms[done.push->name()] += ms - done.children_ms;
  }
}

}  // namespace

StageProfile profile_request(const std::function<void()> &request) {
  profiler::enableProfilerLegacy(
      torch::profiler::impl::ProfilerConfig(torch::profiler::impl::ProfilerState::CPU));
  const auto start = std::chrono::steady_clock::now();
  request();
  const auto end = std::chrono::steady_clock::now();
  const auto threads = profiler::disableProfilerLegacy();

  StageProfile profile;
  profile.total_ms = std::chrono::duration<double, std::milli>(end - start).count();
  for (const auto &events : threads) add_thread(events, profile);
  return profile;
}

namespace {

void print_header(const char *first, const std::vector<std::string> &columns) {
  std::printf("| %s |", first);
  for (const auto &column : columns) std::printf(" %s, ms |", column.c_str());
  std::printf("\n|---|");
  for (size_t i = 0; i < columns.size(); ++i) std::printf("---|");
  std::printf("\n");
}

// Every scope seen in any run, in the order of the first run that has it.
std::vector<ScopeTime> all_scopes(const std::vector<std::vector<StageProfile>> &runs) {
  std::vector<ScopeTime> scopes;
  for (const auto &column : runs)
    for (const auto &run : column)
      for (const auto &scope : run.scopes)
        if (std::none_of(scopes.begin(), scopes.end(),
                         [&](const ScopeTime &seen) { return seen.name == scope.name; }))
          scopes.push_back(scope);
  return scopes;
}

double scope_ms(const StageProfile &run, const std::string &name) {
  for (const auto &scope : run.scopes)
    if (scope.name == name) return scope.ms;
  return 0.0;
}

double op_ms(const StageProfile &run, const std::string &name) {
  const auto it = run.op_self_ms.find(name);
  return it == run.op_self_ms.end() ? 0.0 : it->second;
}

// The operators among the `top_ops` slowest of any column, slowest of the first column first.
std::vector<std::string> slowest_ops(const std::vector<std::vector<StageProfile>> &runs,
                                     int top_ops) {
  std::vector<std::string> chosen;
  for (const auto &column : runs) {
    std::map<std::string, std::vector<double>> ms;
    for (const auto &run : column)
      for (const auto &op : run.op_self_ms) ms[op.first];
    std::vector<std::pair<double, std::string>> ranked;
    for (auto &op : ms) {
      for (const auto &run : column) op.second.push_back(op_ms(run, op.first));
      ranked.emplace_back(spread_of(op.second).median, op.first);
    }
    std::sort(ranked.rbegin(), ranked.rend());
    for (int i = 0; i < top_ops && i < static_cast<int>(ranked.size()); ++i)
      if (std::find(chosen.begin(), chosen.end(), ranked[i].second) == chosen.end())
        chosen.push_back(ranked[i].second);
  }
  return chosen;
}

}  // namespace

void print_stage_tables(const std::vector<std::string> &columns,
                        const std::vector<std::vector<StageProfile>> &runs, int top_ops,
                        FILE *csv) {
  const auto row = [&](const char *quantity, const std::string &label, int depth,
                       const std::function<double(const StageProfile &)> &ms_of) {
    std::printf("| %s%s |", std::string(2 * depth, ' ').c_str(), label.c_str());
    for (size_t c = 0; c < runs.size(); ++c) {
      std::vector<double> ms;
      for (const auto &run : runs[c]) ms.push_back(ms_of(run));
      const Spread spread = spread_of(ms);
      std::printf(" %s |", format_spread(spread, 1).c_str());
      write_csv_row(csv, quantity, columns[c] + " " + label, spread);
    }
    std::printf("\n");
  };

  print_header("stage (inclusive)", columns);
  row("stage ms", "whole request", 0, [](const StageProfile &run) { return run.total_ms; });
  for (const auto &scope : all_scopes(runs))
    row("stage ms", scope.name, scope.depth,
        [&](const StageProfile &run) { return scope_ms(run, scope.name); });
  row("stage ms", "outside the scopes", 0, [](const StageProfile &run) {
    double inside = 0.0;
    for (const auto &scope : run.scopes)
      if (scope.depth == 0) inside += scope.ms;
    return run.total_ms - inside;
  });
  std::printf("\n");

  print_header("operator (self)", columns);
  for (const auto &op : slowest_ops(runs, top_ops))
    row("operator self ms", op, 0, [&](const StageProfile &run) { return op_ms(run, op); });
  std::printf("\n");
}
