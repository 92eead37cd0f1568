#pragma once
// Intra-op threads for the tensor library: all physical cores, unless the
// host chose a number through OMP_NUM_THREADS. Returns the count in use.
int configure_threads();
