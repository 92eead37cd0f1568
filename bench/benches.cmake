korva_bench(frontend-bench korva_text)
