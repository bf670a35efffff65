#include "sampler.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include <vantorel/sysmon.h>

#include "history_metric.h"
#include "raw_json.h"

namespace sysmon_cli {
namespace {

using Clock = std::chrono::steady_clock;

std::string member_or(std::string_view object, std::string_view key, const char *fallback) {
  auto raw = raw_member(object, key);
  return raw ? std::string(*raw) : std::string(fallback);
}

}  // namespace

struct Sampler::State {
  int interval_ms = 1000;
  // Serialises the calls into the library made by this object (the sampling
  // thread and history()): each function's text is shared until its next call.
  mutable std::mutex library;
  mutable std::mutex published_mutex;
  std::shared_ptr<const Sample> published;
  std::mutex stop_mutex;
  std::condition_variable stop_wake;
  bool stopping = false;
  std::thread thread;
  std::uint64_t sequence = 0;

  // One snapshot is one collection of every domain (and records the
  // histories); the single documents are its members, so they agree with
  // each other. The full process list is the second and last sweep of the
  // processes; the tree and every other process view are cut from it.
  std::shared_ptr<const Sample> take() {
    auto sample = std::make_shared<Sample>();
    const auto started = Clock::now();
    {
      std::lock_guard<std::mutex> lock(library);
      sample->snapshot = sysmon_snapshot();
      sample->processes = sysmon_processes(0, SYSMON_SORT_CPU);
    }
    sample->duration_seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const std::string_view snap = sample->snapshot;
    sample->cpu = member_or(snap, "cpu", "{}");
    sample->memory = member_or(snap, "memory", "{}");
    sample->disks = member_or(snap, "disks", "[]");
    sample->network = member_or(snap, "network", "[]");
    sample->gpu = member_or(snap, "gpu", "{}");
    sample->battery = member_or(snap, "battery", "{}");
    sample->system = member_or(snap, "system", "{}");
    auto table = std::make_shared<ProcessTable>(sample->processes);
    sample->tree = table->tree(ProcessQuery{});
    sample->process_table = std::move(table);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    sample->taken_unix = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    sample->sequence = ++sequence;
    return sample;
  }

  void publish(std::shared_ptr<const Sample> sample) {
    std::lock_guard<std::mutex> lock(published_mutex);
    published = std::move(sample);
  }

  // Samples on a fixed rhythm: each sampling is due one interval after the
  // previous one was due, so a slow sampling does not shift the ones after it
  // (unless it took longer than an interval: then the next starts at once).
  void run() {
    auto due = Clock::now();
    std::unique_lock<std::mutex> lock(stop_mutex);
    for (;;) {
      due += std::chrono::milliseconds(interval_ms);
      if (due < Clock::now()) due = Clock::now();
      if (stop_wake.wait_until(lock, due, [&] { return stopping; })) return;
      lock.unlock();
      publish(take());
      lock.lock();
    }
  }
};

Sampler::Sampler(int interval_ms) : state_(std::make_unique<State>()) {
  state_->interval_ms = interval_ms > 0 ? interval_ms : 1000;
  sysmon_set_interval(state_->interval_ms);
  // The first collection of every domain gives the first sample's rates a
  // base; the first sample follows after the shortest window the library
  // measures over (100 ms).
  sysmon_init();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  state_->publish(state_->take());
  state_->thread = std::thread([state = state_.get()] { state->run(); });
}

Sampler::~Sampler() { stop(); }

void Sampler::stop() {
  {
    std::lock_guard<std::mutex> lock(state_->stop_mutex);
    state_->stopping = true;
  }
  state_->stop_wake.notify_all();
  if (state_->thread.joinable()) state_->thread.join();
}

std::shared_ptr<const Sample> Sampler::latest() const {
  std::lock_guard<std::mutex> lock(state_->published_mutex);
  return state_->published;
}

int Sampler::interval_ms() const { return state_->interval_ms; }

std::string Sampler::history(int metric, int count) const {
  std::lock_guard<std::mutex> lock(state_->library);
  if (metric == kCoreHistory) return sysmon_cpu_core_history(count);
  return sysmon_history(metric, count);
}

}  // namespace sysmon_cli
