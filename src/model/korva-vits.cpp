#include "model/korva-vits.h"

#include <torch/torch.h>

KorvaVITSImpl::KorvaVITSImpl() {
  enc_p = register_module("enc_p", TextEncoder());
  dp = register_module("dp", StochasticDurationPredictor());
  flow = register_module("flow", Flow(192, 192, 11, 1, 8, 4));
  dec = register_module("dec", Decoder());
}
