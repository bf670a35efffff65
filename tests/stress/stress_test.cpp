// Eight threads mixing all nineteen exports for a bounded time, with
// clean-up/initialisation churn, filter changes and kills through the fake
// termination. Built for ThreadSanitizer (the tsan preset) and the other
// sanitizers: any report is the library's, because each thread parses only
// the texts of queries that no other thread calls, and clean-up (which
// releases every text) waits until no thread is reading one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "vantorel/sysmon.h"

namespace {

using nlohmann::json;
using clock_type = std::chrono::steady_clock;

// Every thread makes at least this many rounds, however loaded the machine,
// and goes on until the deadline.
constexpr int kMinRounds = 20;

double stress_seconds() {
    const char *text = std::getenv("SYSMON_STRESS_SECONDS");
    const double seconds = text != nullptr ? std::atof(text) : 3.0;
    return seconds > 0 ? seconds : 3.0;
}

void fill_fakes() {
    fake_platform_reset();
    g_fake.cpu.cores = 4;
    g_fake.cpu.threads = 8;
    g_fake.cores.resize(8);
    g_fake.mem.total = 1 << 30;
    g_fake.mem.used = 1 << 29;
    for (int i = 0; i < 300; ++i)
        g_fake.procs.push_back(fake_process(i + 1, i / 3, i % 7 == 0 ? "worker" : "svc", i % 13, 1000u * i));
    sysmon_disk_info disk{};
    disk.total = 100;
    g_fake.disks.assign(3, disk);
    g_fake.nets.assign(2, sysmon_net_info{});
}

TEST(Stress, EightThreadsMixEveryExport) {
    fake_hooks_restore();  // the real clock and allocator: the fake clock is not thread-safe
    fill_fakes();
    g_fake.terminate_result = SYSMON_TERMINATE_OK;

    const auto deadline = clock_type::now() + std::chrono::duration<double>(stress_seconds());
    std::shared_mutex texts;  // shared: reading a text; exclusive: clean-up
    std::atomic<long> parsed{0};
    std::atomic<int> failures{0};

    auto parse = [&](const char *text, bool array) {
        json doc = json::parse(text, nullptr, false);
        if (doc.is_discarded() || doc.is_array() != array) ++failures;
        ++parsed;
    };
    // Each reader owns its queries: their texts change only by its own calls.
    std::vector<std::function<void(int)>> readers = {
        [&](int) { parse(sysmon_snapshot(), false); },
        [&](int i) { parse(sysmon_processes(i % 20, i % 5), true); },
        [&](int i) { parse(sysmon_process_tree(i % 4), true); },
        [&](int) {
            parse(sysmon_cpu(), false);
            parse(sysmon_memory(), false);
            parse(sysmon_gpu(), false);
        },
        [&](int) {
            parse(sysmon_disks(), true);
            parse(sysmon_network(), true);
            parse(sysmon_system(), false);
            parse(sysmon_battery(), false);
        },
        [&](int i) {
            parse(sysmon_history(i % 9 - 1, i % 310), true);
            parse(sysmon_cpu_core_history(i % 301), true);
        },
    };
    std::vector<std::thread> threads;
    for (size_t r = 0; r < readers.size(); ++r) {
        threads.emplace_back([&, r] {
            for (int i = 0; i < kMinRounds || clock_type::now() < deadline; ++i) {
                std::shared_lock<std::shared_mutex> lock(texts);
                readers[r](i);
            }
        });
    }
    // Control calls that take no lock or only the library's.
    threads.emplace_back([&] {
        const std::string long_filter(5000, 'w');
        const char *filters[] = {nullptr, "", "svc", "WORKER", long_filter.c_str()};
        for (int i = 0; i < kMinRounds || clock_type::now() < deadline; ++i) {
            sysmon_set_process_filter(filters[i % 5]);
            sysmon_set_interval(i % 3 == 0 ? -1 : 100 + i % 900);
            if (sysmon_kill_process(i % 2 == 0 ? 4242 : -i) == -1 && sysmon_last_error()[0] == '\0') ++failures;
            if (sysmon_platform() != 1) ++failures;
        }
    });
    // Clean-up and initialisation churn.
    threads.emplace_back([&] {
        for (int i = 0; i < kMinRounds || clock_type::now() < deadline; ++i) {
            {
                std::unique_lock<std::shared_mutex> lock(texts);
                sysmon_cleanup();
                if (i % 2 == 0) sysmon_init();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    for (std::thread &t : threads) t.join();
    sysmon_set_process_filter(nullptr);
    sysmon_cleanup();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(parsed.load(), static_cast<long>(kMinRounds * readers.size()));
}

}  // namespace
