#pragma once
// Load-time check of the last coupling layer of the flow: its reverse step
// computed by hand from its submodules and by its own forward, on a reference
// latent read from "C:/tmp/flow_test_zp.bin" when that file exists. Prints only.

struct KorvaVITSImpl;

void flow_self_test(KorvaVITSImpl &model);
