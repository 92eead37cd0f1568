#pragma once
// Serialises the exported functions: the engine, espeak-ng, the seed counter
// and the random generator are process-wide.

// Held for the life of one exported call. A thread that already holds it (a
// stream callback calling back into the library) does not wait for itself:
// refused() then reports the error, and the call returns its failure value.
// While held, the call's large tensors come from the engine's block pool
// (model/large-blocks.h), whose unused blocks go back when it is released.
class EngineLock {
 public:
  EngineLock();
  ~EngineLock();
  EngineLock(const EngineLock &) = delete;
  EngineLock &operator=(const EngineLock &) = delete;

  bool refused() const;

 private:
  bool held_;
};

// Formats into at most 2047 bytes and writes "[korva] ERROR: <text>" to stderr.
void record_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The text of the last record_error on this thread since the start of its
// last exported call; "" when that call reported nothing.
const char *last_error_text();

// Adds "; <cause>" to this thread's last error and writes "[korva]   cause: <cause>".
void add_error_cause(const char *format, ...) __attribute__((format(printf, 1, 2)));
