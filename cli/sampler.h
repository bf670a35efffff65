// `sysmon serve` samples the library at its own rhythm: one background thread
// takes every document once per interval and publishes them together, so the
// histories fill whether or not anyone is looking, and requests (scrapes, API
// calls, dashboard refreshes) only read the latest sample: any number of
// clients cost the same as one, and none of them cuts another's rate window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "process_table.h"

namespace sysmon_cli {

// The library's documents taken in one sampling, as JSON text. Immutable
// once published; readers hold it through a shared_ptr for as long as they
// need it.
struct Sample {
  std::uint64_t sequence = 0;  // 1 for the first sample, then one more each interval
  double taken_unix = 0;       // wall-clock time of the sampling, seconds since 1970
  double duration_seconds = 0; // how long the sampling's readings took
  std::string snapshot;        // sysmon_snapshot()
  std::string cpu;             // sysmon_cpu()
  std::string memory;          // sysmon_memory()
  std::string disks;           // sysmon_disks()
  std::string network;         // sysmon_network()
  std::string processes;       // sysmon_processes(SYSMON_SORT_CPU, 0): every process
  std::string tree;            // sysmon_process_tree(0): every process
  std::string gpu;             // sysmon_gpu()
  std::string battery;         // sysmon_battery()
  std::string system;          // sysmon_system_info()
  // `processes` parsed once: the process views of /api and the exporter's
  // busiest and largest processes are cut from it.
  std::shared_ptr<const ProcessTable> process_table;
};

class Sampler {
 public:
  // Takes the first sample before returning, then one every `interval_ms`
  // on a background thread until stop() or destruction.
  explicit Sampler(int interval_ms);
  ~Sampler();
  Sampler(const Sampler &) = delete;
  Sampler &operator=(const Sampler &) = delete;

  // The newest sample; never null once constructed.
  std::shared_ptr<const Sample> latest() const;
  int interval_ms() const;
  void stop();

  // sysmon_history / sysmon_cpu_core_history text (they read the rings the
  // samples filled and collect nothing).
  std::string history(int metric, int count) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace sysmon_cli
