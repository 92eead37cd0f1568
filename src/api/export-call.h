#pragma once
// One exported call, as the C boundary runs it: nothing thrown crosses it,
// korva_last_error is set by its failure and cleared by its success, and a call
// made from inside a callback of another (a stream's audio, timings, the log)
// is refused rather than run inside it. Calls on different threads run at once.

#include <exception>
#include <new>

#include "api/error-report.h"

// Held for the life of one exported call. While held, the call's large tensors
// come from the engine's block pool (model/large-blocks.h), whose unused blocks
// go back when the last call running ends.
class ExportCall {
 public:
  ExportCall();
  ~ExportCall();
  ExportCall(const ExportCall &) = delete;
  ExportCall &operator=(const ExportCall &) = delete;

  // A call made from inside another's callback on this thread: reported here.
  bool refused() const;

 private:
  bool outermost_;
};

// Whether an export may run from inside a callback of another call: those that
// touch no voice (the archive inspection) may.
enum class Nesting { kRefused, kAllowed };

// Runs `body` as an export whose failure result is `failed`: "Out of memory"
// or the exception's text for whatever it throws.
template <typename Result, typename Body>
Result run_export(Result failed, Body body, Nesting nesting = Nesting::kRefused) {
  const ExportCall call;
  if (nesting == Nesting::kRefused && call.refused()) return failed;
  try {
    const Result result = body();
    if (result != failed) clear_last_error();
    return result;
  } catch (const std::bad_alloc &) {
    record_error("Out of memory");
  } catch (const std::exception &e) {
    record_error("%s", e.what());
  } catch (...) {
    record_error("Unknown error");
  }
  return failed;
}

// The same for an export without a result.
template <typename Body>
void run_void_export(Body body, Nesting nesting = Nesting::kRefused) {
  run_export(
      -1,
      [&] {
        body();
        return 0;
      },
      nesting);
}
