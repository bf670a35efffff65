// The terminal view uses ncurses, which Windows builds do not have.
#include <cstdio>

#include "top_command.h"

namespace sysmon_cli {

int run_top(const TopOptions &) {
  std::fprintf(stderr, "sysmon top: this build has no terminal view\n");
  return 1;
}

}  // namespace sysmon_cli
