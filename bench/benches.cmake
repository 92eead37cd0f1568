# Timing, memory and system facts shared by the benchmarks on libtorch.
add_library(korva_bench_support STATIC bench-support.cpp system-header.cpp)
# korva_model for the CPU feature probe alone (cpu-features.cpp is all that gets linked from it).
target_link_libraries(korva_bench_support PUBLIC ${TORCH_LIBRARIES} PRIVATE korva_model)
target_compile_definitions(korva_bench_support PRIVATE KORVA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

korva_bench(frontend-bench korva_text)
korva_bench(normalise-bench korva_text)
korva_bench(decoder-bench korva_nn korva_bench_support)
korva_bench(bind-bench korva_weights korva_bench_support)
korva_bench(synthesis-bench korva korva_bench_support)
target_sources(synthesis-bench PRIVATE child-process.cpp fresh-process-measures.cpp
                                       in-process-measures.cpp stage-profile.cpp
                                       synthesis-request.cpp)
korva_bench(long-text-bench korva korva_bench_support)
target_sources(long-text-bench PRIVATE child-process.cpp)

korva_bench(soak-bench korva korva_bench_support)

korva_bench(parallel-bench korva korva_bench_support)
