// korva-serve: the speech server on its own (also reached as `korva serve`).

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "cli-error.h"
#include "korva.h"
#include "server-options.h"
#include "server.h"

int main(int argc, char **argv) {
  try {
    const ParsedArgs args =
        parse_args(std::vector<std::string>(argv + 1, argv + argc), server_option_specs());
    if (args.help) {
      std::printf("%s", kServerHelp);
      return 0;
    }
    if (args.version) {
      std::printf("korva-serve %d.%d\n", KORVA_VERSION_MAJOR, KORVA_VERSION_MINOR);
      return 0;
    }
    korva_set_log_level(args.verbose ? KORVA_LOG_INFO : KORVA_LOG_WARNING);
    return run_server(server_options(args, std::getenv("KORVA_API_KEY")));
  } catch (const UsageError &error) {
    std::fprintf(stderr, "korva-serve: %s (see korva-serve --help)\n", error.what());
    return 2;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "korva-serve: %s\n", error.what());
    return 1;
  }
}
