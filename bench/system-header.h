// Where a benchmark's figures come from: CPU, libtorch, BLAS, threads, commit.
#pragma once

#include <string>

// Prints the facts as a markdown table, with `threads` the intra-op thread
// counts the benchmark measures with. Call it after the libraries are loaded,
// so that the BLAS library found is the one in use.
void print_system_header(const std::string &threads);
