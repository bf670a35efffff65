// Initialisation, clean-up and calls from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host_library.h"
#include "json_checks.h"

TEST(Lifecycle, InitAndCleanupMayBeRepeated) {
    EXPECT_EQ(api().init(), 0);
    EXPECT_EQ(api().init(), 0);
    api().cleanup();
    api().cleanup();
    // A query after clean-up initialises again.
    EXPECT_EQ(keys_of(parse_document(api().memory())), MEMORY_KEYS);
    api().cleanup();
    EXPECT_EQ(api().init(), 0);
    EXPECT_EQ(keys_of(parse_document(api().cpu())), CPU_KEYS);
    EXPECT_EQ(api().platform(), 1);
}

TEST(Lifecycle, QueriesFromSeveralThreadsAllGetWholeDocuments) {
    api().cleanup();  // the threads race for the lazy initialisation too
    const int rounds = 25;
    std::atomic<int> bad{0};
    std::vector<std::string> failures(6);
    auto check = [&](int slot, const char *text, const std::vector<std::string> *keys) {
        // Each thread calls its own query, so its text is only replaced by
        // its own next call.
        try {
            ordered_json doc = ordered_json::parse(text);
            if (keys != nullptr && keys_of(doc) != *keys) throw std::runtime_error("members");
            if (keys == nullptr && !doc.is_array()) throw std::runtime_error("not an array");
        } catch (const std::exception &e) {
            ++bad;
            failures[slot] = std::string(e.what()) + ": " + text;
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) check(0, api().snapshot(), &SNAPSHOT_KEYS);
    });
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) check(1, api().processes(0, i % 4), nullptr);
    });
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) check(2, api().process_tree(i % 3), nullptr);
    });
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
            check(3, api().cpu(), &CPU_KEYS);
            check(3, api().system(), &SYSTEM_KEYS);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
            check(4, api().history(i % 8, 50), nullptr);
            check(4, api().cpu_core_history(10), nullptr);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
            api().set_process_filter(i % 2 == 0 ? "exe" : nullptr);
            api().kill_process(-i);
            if (api().last_error() == nullptr) {
                ++bad;
                failures[5] = "last_error returned null";
            }
        }
    });
    for (std::thread &t : threads) t.join();
    api().set_process_filter(nullptr);
    EXPECT_EQ(bad.load(), 0);
    for (const std::string &failure : failures) EXPECT_EQ(failure, "");
}
