#pragma once
// Large tensors of the engine's own calls, in blocks the engine maps itself.
//
// glibc serves blocks below its mmap threshold from its heap, and the threshold
// grows as large blocks are freed: after the first unload a voice's weights and
// a request's activations all share the heap, and each load/unload cycle leaves
// it laid out differently — the peak resident size of the same request drifted
// by 10 % over 200 cycles. Mapping every large block afresh keeps the peak flat
// but doubles the time of a request (a page fault for every page of every
// activation). So, while one of the engine's calls runs, blocks of 1 MiB or more
// come from a pool: a freed block is kept for the next request of its size class
// and the unused blocks go back to the system when the last call running ends
// (calls on several threads at once share the pool).
//
// The tensor library has one process-wide CPU allocator; the pool replaces it
// only when it is still the library's default, and passes every other
// allocation (small ones, other threads', the host's) to the default's memory.
//
// These two calls are torch-free so that the engine lock can make them.

// From now until large_blocks_close(), this thread's large tensors come from the
// pool. Installs the pool on first use.
void large_blocks_open();
// This thread's tensors come from the heap again; when no other call is open,
// the pool's unused blocks are returned to the system. Blocks still in use stay
// valid and are unmapped when freed.
void large_blocks_close();

// Bytes mapped by the pool now, in use or kept: for tests and benchmarks.
unsigned long long large_blocks_mapped_bytes();
