#include "query_command.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include <vantorel/sysmon.h>

#include "json_output.h"

namespace sysmon_cli {
namespace {

void wait_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

int run_query(const QueryOptions &options) {
  const DocumentRequest &request = options.request;
  // The first collection (made by sysmon_init) gives the counters a base;
  // the reading after the interval derives its rates over that real window.
  sysmon_set_interval(options.interval_ms);
  sysmon_init();
  if (request.doc == Document::history) {
    // Only snapshots record history samples.
    for (int i = 0; i < options.samples; ++i) {
      wait_ms(options.interval_ms);
      sysmon_snapshot();
    }
  } else if (document_has_rates(request.doc)) {
    wait_ms(options.interval_ms);
  }
  print_document(read_document(request), options.pretty);
  sysmon_cleanup();
  return 0;
}

int run_kill(int pid) {
  if (sysmon_kill_process(pid) != 0) {
    std::fprintf(stderr, "sysmon kill: %s\n", sysmon_last_error());
    return 1;
  }
  return 0;
}

}  // namespace sysmon_cli
