#pragma once
// The speech server: listens, loads the voice, answers until SIGTERM or
// SIGINT, then lets the running answer finish. Returns the exit status (0);
// throws CommandError when it cannot listen or load the voice.

#include "server-options.h"

int run_server(const ServerOptions &options);
