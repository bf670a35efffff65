// The error slot and process termination: messages, the 511-character cut,
// survival across clean-up, and race-free access without the global lock.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "library_fixture.h"
#include "sysmon_internal.h"

namespace {

using ErrorSlotTest = LibraryTest;

TEST_F(ErrorSlotTest, InvalidIdentifiersAreRejectedWithoutThePlatform) {
    EXPECT_EQ(sysmon_kill_process(0), -1);
    EXPECT_STREQ(sysmon_last_error(), "Invalid pid: 0");
    EXPECT_EQ(sysmon_kill_process(-5), -1);
    EXPECT_STREQ(sysmon_last_error(), "Invalid pid: -5");
    EXPECT_EQ(sysmon_kill_process(INT32_MIN), -1);
    EXPECT_STREQ(sysmon_last_error(), "Invalid pid: -2147483648");
    EXPECT_TRUE(g_fake.terminated.empty());
}

TEST_F(ErrorSlotTest, PlatformFailuresAreReportedWithTheirCodes) {
    g_fake.terminate_result = SYSMON_TERMINATE_OPEN_FAILED;
    g_fake.terminate_error = 87;
    EXPECT_EQ(sysmon_kill_process(99999), -1);
    EXPECT_STREQ(sysmon_last_error(), "OpenProcess(99999) failed: 87");

    g_fake.terminate_result = SYSMON_TERMINATE_REFUSED;
    g_fake.terminate_error = 5;
    EXPECT_EQ(sysmon_kill_process(4), -1);
    EXPECT_STREQ(sysmon_last_error(), "TerminateProcess(4) failed: 5");

    g_fake.terminate_error = 4294967295ul;
    EXPECT_EQ(sysmon_kill_process(INT32_MAX), -1);
    EXPECT_STREQ(sysmon_last_error(), "TerminateProcess(2147483647) failed: 4294967295");
    g_fake.terminate_result = SYSMON_TERMINATE_SIGNAL_FAILED;
    g_fake.terminate_error = 3;
    EXPECT_EQ(sysmon_kill_process(4242), -1);
    EXPECT_STREQ(sysmon_last_error(), "kill(4242) failed: 3 (fake error 3)");
    EXPECT_EQ(g_fake.terminated, (std::vector<int32_t>{99999, 4, INT32_MAX, 4242}));
}

TEST_F(ErrorSlotTest, SuccessNeitherClearsTheMessageNorInitialises) {
    sysmon_kill_process(-1);
    g_fake.terminate_result = SYSMON_TERMINATE_OK;
    EXPECT_EQ(sysmon_kill_process(1234), 0);
    EXPECT_STREQ(sysmon_last_error(), "Invalid pid: -1");
    EXPECT_TRUE(g_fake.calls.empty());  // the library was not initialised
}

TEST_F(ErrorSlotTest, MessageSurvivesQueriesAndCleanup) {
    sysmon_kill_process(-77);
    sysmon_snapshot();
    sysmon_processes(0, 0);
    sysmon_cleanup();
    sysmon_init();
    EXPECT_STREQ(sysmon_last_error(), "Invalid pid: -77");
}

TEST_F(ErrorSlotTest, LongMessagesAreCutTo511Characters) {
    const std::string long_text(2000, 'm');
    sysmon_set_error("%s", long_text.c_str());
    EXPECT_EQ(std::string(sysmon_last_error()), std::string(511, 'm'));
    sysmon_set_error("%s!", std::string(510, 'n').c_str());
    EXPECT_EQ(std::string(sysmon_last_error()), std::string(510, 'n') + "!");
}

TEST_F(ErrorSlotTest, ReturnedTextIsNeverNullAndStablePerThread) {
    const char *first = sysmon_last_error();
    ASSERT_NE(first, nullptr);
    sysmon_kill_process(-2);
    EXPECT_EQ(sysmon_last_error(), first);
    const char *other_thread_text = nullptr;
    std::thread([&] { other_thread_text = sysmon_last_error(); }).join();
    EXPECT_NE(other_thread_text, nullptr);
}

// Writers and readers on several threads: every text a reader gets is one
// complete message, never a mix of two. The reader keeps reading until both
// writers have written many times, so the reads overlap the writes however
// the threads are scheduled.
TEST_F(ErrorSlotTest, ConcurrentWritesAndReadsNeverTear) {
    sysmon_kill_process(-1);  // the slot holds a whole message from the start
    std::atomic<bool> stop{false};
    std::atomic<int> written[2] = {0, 0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 1; !stop.load(); ++i) {
                sysmon_kill_process(w == 0 ? -i : -1000000000 - i);
                written[w].fetch_add(1);
            }
        });
    }
    const std::regex whole("Invalid pid: -[0-9]+");
    int checked = 0;
    bool torn = false;
    std::string torn_text;
    auto enough_written = [&] { return written[0].load() >= 2000 && written[1].load() >= 2000; };
    for (int after = 0; after < 5000 && !torn;) {
        const std::string seen = sysmon_last_error();
        if (!std::regex_match(seen, whole)) {
            torn = true;
            torn_text = seen;
        }
        ++checked;
        if (enough_written()) ++after;
    }
    stop = true;
    for (auto &t : writers) t.join();
    EXPECT_FALSE(torn) << torn_text;
    EXPECT_GE(checked, 5000);
    EXPECT_TRUE(std::regex_match(std::string(sysmon_last_error()), whole));
}

// Termination and the error slot never wait for a reading that holds the
// global lock.
TEST_F(ErrorSlotTest, KillDoesNotWaitForARunningQuery) {
    std::mutex m;
    std::condition_variable cv;
    bool collecting = false;
    bool release = false;
    g_fake.on_collect = [&](fake_domain d) {
        if (d != fake_domain::processes) return;
        std::unique_lock<std::mutex> lock(m);
        collecting = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
    };
    {
        std::unique_lock<std::mutex> lock(m);
        release = true;  // let the initialisation's own collection through
    }
    sysmon_init();
    {
        std::unique_lock<std::mutex> lock(m);
        release = false;
        collecting = false;
    }
    std::thread query([] { sysmon_processes(0, 0); });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return collecting; });
    }
    // The query now holds the global lock inside its collector.
    EXPECT_EQ(sysmon_kill_process(-9), -1);
    EXPECT_STREQ(sysmon_last_error(), "Invalid pid: -9");
    g_fake.terminate_result = SYSMON_TERMINATE_OK;
    EXPECT_EQ(sysmon_kill_process(31337), 0);
    sysmon_set_interval(700);
    EXPECT_EQ(sysmon_platform(), 1);
    {
        std::unique_lock<std::mutex> lock(m);
        release = true;
        cv.notify_all();
    }
    query.join();
    g_fake.on_collect = nullptr;
}

}  // namespace
