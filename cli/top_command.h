// `sysmon top`: the live full-screen view.
#pragma once

namespace sysmon_cli {

struct TopOptions {
  int interval_ms = 1000;
};

// Runs until q, Ctrl-C or SIGTERM; returns the exit status. The terminal is
// restored on every way out.
int run_top(const TopOptions &options);

}  // namespace sysmon_cli
