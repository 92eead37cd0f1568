// korva serve: the speech server of tools/serve, run in this process.

#include "command.h"
#include "server-options.h"
#include "server.h"

namespace {

int run_serve(const ParsedArgs &args) { return run_server(server_options(args)); }

}  // namespace

const Command &serve_command() {
  static const Command command{"serve", "speak over HTTP (a speech server)", kServerHelp,
                               server_option_specs(), run_serve};
  return command;
}
