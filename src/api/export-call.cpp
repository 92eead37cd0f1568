#include "api/export-call.h"

#include "model/large-blocks.h"

namespace {

thread_local bool this_thread_calls = false;

}  // namespace

ExportCall::ExportCall() : outermost_(!this_thread_calls) {
  if (!outermost_) return;
  clear_last_error();
  this_thread_calls = true;
  large_blocks_open();
}

ExportCall::~ExportCall() {
  if (!outermost_) return;
  large_blocks_close();
  this_thread_calls = false;
}

bool ExportCall::refused() const {
  if (!outermost_)
    record_error(
        "Called from inside a callback of another korva call on this thread (its audio, "
        "timings or log): the engine is busy with that call");
  return !outermost_;
}
