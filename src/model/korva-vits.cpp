#include "model/korva-vits.h"

#include <torch/torch.h>

#include <cstdio>

KorvaVITSImpl::KorvaVITSImpl() {
  enc_p = register_module("enc_p", TextEncoder());
  dp = register_module("dp", StochasticDurationPredictor());
  flow = register_module("flow", Flow(192, 192, 11, 1, 8, 4));
  dec = register_module("dec", Decoder());
}

void KorvaVITSImpl::skip_identity_layers(bool skip) {
  const int layers = flow->skip_identity_layers(skip);
  const int steps = dec->skip_identity_steps(skip);
  fprintf(stderr, "[korva] Identity layers skipped: %d coupling layers, %d residual steps\n",
          layers, steps);
}
