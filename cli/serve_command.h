// `sysmon serve`: the Prometheus exporter and the read-only JSON API.
#pragma once

#include <cstddef>
#include <string>

namespace sysmon_cli {

struct ServeOptions {
  std::string listen = "127.0.0.1:9101";
  int interval_ms = 1000;          // sampling interval
  std::string web_config_file;     // "" for plain HTTP without authentication
  bool no_api = false;             // /metrics and the landing page only
  std::size_t top_processes = 10;  // per-process series; 0 for none
};

// Serves until SIGINT or SIGTERM; returns the exit status.
int run_serve(const ServeOptions &options);

}  // namespace sysmon_cli
