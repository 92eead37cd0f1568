// Where a benchmark's figures come from: CPU, libtorch, BLAS, threads, commit.
#pragma once

// Prints the facts as a markdown table. Call it after the libraries are
// loaded, so that the BLAS library found is the one in use.
void print_system_header();
