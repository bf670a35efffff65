// Builds without an HTTP library (the Windows cross build: Debian ships
// cpp-httplib's implementation compiled for the host only) answer `serve`
// with an error.
#include <cstdio>

#include "serve_command.h"

namespace sysmon_cli {

int run_serve(const ServeOptions &) {
  std::fprintf(stderr, "sysmon serve: this build has no HTTP server\n");
  return 1;
}

}  // namespace sysmon_cli
