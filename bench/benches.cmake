korva_bench(frontend-bench korva_text)
korva_bench(decoder-bench korva_nn)
korva_bench(bind-bench korva_weights)
korva_bench(synthesis-bench korva ${TORCH_LIBRARIES})
