#pragma once
// Flushes denormal floats to zero on the calling thread while in scope, and
// restores the caller's mode afterwards. Decaying signals in the decoder reach
// the denormal range, where x86 arithmetic is many times slower; audio cannot
// tell such values from zero.

#if defined(__SSE__)
#include <xmmintrin.h>

class FlushDenormals {
 public:
  FlushDenormals() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero); }
  ~FlushDenormals() { _mm_setcsr(saved_); }
  FlushDenormals(const FlushDenormals &) = delete;
  FlushDenormals &operator=(const FlushDenormals &) = delete;

 private:
  static constexpr unsigned kFlushToZero = 0x8000;
  static constexpr unsigned kDenormalsAreZero = 0x0040;
  unsigned saved_;
};
#else
class FlushDenormals {};
#endif
