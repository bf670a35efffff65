// A plain implementation of the sampler: one thread reads every document once
// per interval and publishes them as one Sample.
//
// The exporter's own handlers still read the library directly, and the
// library's texts are shared per function between threads. So that the two
// never copy the same text at once, the background thread starts with the
// first call of latest() (the dashboard's first request) rather than at
// construction; the first sample is taken before the server listens.
#include "sampler.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>
#include <vantorel/sysmon.h>

namespace sysmon_cli {

struct Sampler::State {
  int interval_ms = 1000;
  mutable std::mutex mutex;
  std::condition_variable wake;
  std::shared_ptr<const Sample> latest;
  bool stopping = false;
  bool started = false;
  std::thread thread;
  std::mutex library;  // one reader of the library's texts at a time

  std::shared_ptr<const Sample> take(std::uint64_t sequence) {
    auto sample = std::make_shared<Sample>();
    sample->sequence = sequence;
    const auto begin = std::chrono::steady_clock::now();
    {
      // The snapshot last: it records the histories, so they hold this
      // sample's figures only a moment before it is published.
      std::lock_guard<std::mutex> lock(library);
      sample->processes = sysmon_processes(0, SYSMON_SORT_CPU);
      sample->tree = sysmon_process_tree(0);
      sample->snapshot = sysmon_snapshot();
    }
    // The single documents are the snapshot's members, so that they agree
    // with it and with the histories it recorded.
    const auto snapshot = nlohmann::json::parse(sample->snapshot, nullptr, false);
    auto member = [&](const char *name) {
      return snapshot.is_object() && snapshot.contains(name) ? snapshot[name].dump() : "null";
    };
    sample->cpu = member("cpu");
    sample->memory = member("memory");
    sample->disks = member("disks");
    sample->network = member("network");
    sample->gpu = member("gpu");
    sample->battery = member("battery");
    sample->system = member("system");
    sample->duration_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // When the sample is complete: its figures are the newest from then on.
    sample->taken_unix =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    return sample;
  }

  void run() {
    std::unique_lock<std::mutex> lock(mutex);
    auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_ms);
    while (!wake.wait_until(lock, next, [this] { return stopping; })) {
      const std::uint64_t sequence = latest->sequence + 1;
      lock.unlock();
      auto sample = take(sequence);
      lock.lock();
      latest = std::move(sample);
      next += std::chrono::milliseconds(interval_ms);
      // After a stall (a suspended machine), start a fresh rhythm from now.
      const auto now = std::chrono::steady_clock::now();
      if (next < now) next = now + std::chrono::milliseconds(interval_ms);
    }
  }
};

Sampler::Sampler(int interval_ms) : state_(std::make_unique<State>()) {
  state_->interval_ms = interval_ms;
  state_->latest = state_->take(1);
}

Sampler::~Sampler() { stop(); }

std::shared_ptr<const Sample> Sampler::latest() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->started && !state_->stopping) {
    state_->started = true;
    state_->thread = std::thread([state = state_.get()] { state->run(); });
  }
  return state_->latest;
}

int Sampler::interval_ms() const { return state_->interval_ms; }

void Sampler::stop() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  if (state_->thread.joinable()) state_->thread.join();
}

std::string Sampler::history(int metric, int count) const {
  std::lock_guard<std::mutex> lock(state_->library);
  return metric < 0 ? sysmon_cpu_core_history(count) : sysmon_history(metric, count);
}

}  // namespace sysmon_cli
