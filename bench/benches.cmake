korva_bench(frontend-bench korva_text)
korva_bench(bind-bench korva_weights)
