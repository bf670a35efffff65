// The background sampler against the real library: samples follow each
// other at the sampler's own rhythm, and readers on several threads always
// get a whole one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "history_metric.h"
#include "sampler.h"

namespace sysmon_cli {
namespace {

TEST(Sampler, PublishesWholeSamplesToConcurrentReaders) {
  Sampler sampler(100);
  auto first = sampler.latest();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->sequence, 1u);
  EXPECT_EQ(nlohmann::json::parse(first->cpu), nlohmann::json::parse(first->snapshot)["cpu"]);
  EXPECT_EQ(first->process_table->busiest_first().size(), nlohmann::json::parse(first->processes).size());

  std::atomic<bool> failed{false};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      std::uint64_t seen = 0;
      for (int i = 0; i < 200; ++i) {
        auto s = sampler.latest();
        if (s->sequence < seen || !nlohmann::json::accept(s->snapshot) || !nlohmann::json::accept(s->tree) ||
            !nlohmann::json::accept(sampler.history(kCoreHistory, 5))) {
          failed = true;
        }
        seen = s->sequence;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  for (auto &r : readers) r.join();
  EXPECT_FALSE(failed);
  // The rhythm: more samples follow without anyone asking (within 10 s even
  // on a loaded machine).
  for (int i = 0; i < 1000 && sampler.latest()->sequence < first->sequence + 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(sampler.latest()->sequence, first->sequence + 2);
  EXPECT_EQ(sampler.interval_ms(), 100);
  sampler.stop();
  const auto last = sampler.latest()->sequence;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(sampler.latest()->sequence, last);  // stopped: nothing more is taken
}

}  // namespace
}  // namespace sysmon_cli
