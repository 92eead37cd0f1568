// korva serve: the speech server of tools/serve, run in this process.

#include <cstdlib>

#include "command.h"
#include "server-options.h"
#include "server.h"

namespace {

int run_serve(const ParsedArgs &args) {
  return run_server(server_options(args, std::getenv("KORVA_API_KEY")));
}

}  // namespace

const Command &serve_command() {
  static const Command command{"serve", "speak over HTTP and Wyoming (a speech server)", kServerHelp,
                               server_option_specs(), run_serve};
  return command;
}
