#pragma once
// Output loudness: the largest magnitude brought to 0.95.

#include <cstdint>

// Scales `samples` so that the largest magnitude (NaN never wins) becomes 0.95
// and returns the gain; output whose peak is 0.01 or less is left alone (gain 1).
float normalise_peak(float *samples, int64_t count);
