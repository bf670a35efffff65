// Rate windows: each collector measures counter growth over its own window of
// at least 100 ms, whatever other queries run in between.
#include <gtest/gtest.h>

#include "library_fixture.h"
#include "rate_window.h"

namespace {

constexpr int64_t kMs = 1000000;

sysmon_instant at_ms(int64_t ms) {
    return sysmon_instant{100 + ms / 1000, static_cast<int32_t>((ms % 1000) * kMs)};
}

// A collector of one counter that grows by `rate` per second of clock time,
// keeping its baselines as the real collectors do.
struct counter_collector {
    rate_window window{};
    baseline_pair<double> baselines{};
    double rate_per_sec = 1000.0;

    // Collects at `ms` and returns the derived rate.
    double collect(int64_t ms) {
        const sysmon_window w = rate_window_plan(&window, at_ms(ms), 1000);
        const double counter = rate_per_sec * static_cast<double>(ms) / 1000.0;
        const double base = baselines.against(&w);
        const double rate = w.elapsed_sec > 0 ? (counter - base) / w.elapsed_sec : 0.0;
        if (w.advance != 0) {
            baselines.next() = counter;
            baselines.commit(&w);
        }
        return rate;
    }
};

TEST(RateWindowPlan, FollowsTheBaselineRules) {
    rate_window w{};
    sysmon_window p = rate_window_plan(&w, at_ms(0), 250);
    EXPECT_DOUBLE_EQ(p.elapsed_sec, 0.25);  // first collection: the interval
    EXPECT_EQ(p.baseline, SYSMON_BASELINE_NEWEST);
    EXPECT_EQ(p.advance, 1);

    p = rate_window_plan(&w, at_ms(40), 250);  // young newest, no older: best there is
    EXPECT_NEAR(p.elapsed_sec, 0.040, 1e-12);
    EXPECT_EQ(p.baseline, SYSMON_BASELINE_NEWEST);
    EXPECT_EQ(p.advance, 0);

    p = rate_window_plan(&w, at_ms(99), 250);  // still below 100 ms: nothing moves
    EXPECT_EQ(p.advance, 0);

    p = rate_window_plan(&w, at_ms(100), 250);  // exactly 100 ms: advances
    EXPECT_NEAR(p.elapsed_sec, 0.100, 1e-12);
    EXPECT_EQ(p.baseline, SYSMON_BASELINE_NEWEST);
    EXPECT_EQ(p.advance, 1);

    p = rate_window_plan(&w, at_ms(103), 250);  // young newest: the older one
    EXPECT_NEAR(p.elapsed_sec, 0.103, 1e-12);
    EXPECT_EQ(p.baseline, SYSMON_BASELINE_OLDER);
    EXPECT_EQ(p.advance, 0);

    p = rate_window_plan(&w, at_ms(1100), 250);
    EXPECT_NEAR(p.elapsed_sec, 1.0, 1e-12);
    EXPECT_EQ(p.advance, 1);

    rate_window_reset(&w);  // initialisation forgets both baselines
    p = rate_window_plan(&w, at_ms(1200), 250);
    EXPECT_DOUBLE_EQ(p.elapsed_sec, 0.25);
    EXPECT_EQ(p.advance, 1);
}

TEST(RateWindowPlan, ClockGoingBackGivesNoNegativeWindow) {
    rate_window w{};
    rate_window_plan(&w, at_ms(5000), 1000);
    rate_window_plan(&w, at_ms(6000), 1000);
    const sysmon_window p = rate_window_plan(&w, at_ms(1000), 1000);
    EXPECT_EQ(p.elapsed_sec, 0.0);
    EXPECT_EQ(p.advance, 0);
}

TEST(RateWindowPlan, DerivedRatesStayTrueWhateverTheCallPattern) {
    // Collections at irregular times, some a few milliseconds apart, as when a
    // host mixes snapshots with other rate-bearing queries: every rate after
    // the first equals the true 1000 per second.
    counter_collector c;
    c.collect(0);
    const int64_t times[] = {3, 500, 503, 1000, 1001, 1002, 1500, 2000, 2003, 2099, 2100, 3000};
    for (int64_t t : times) EXPECT_NEAR(c.collect(t), 1000.0, 1e-6) << "at " << t << " ms";
}

using RateWindowTest = LibraryTest;

const fake_collector_call &last_call_of(fake_domain domain) {
    for (auto it = g_fake.calls.rbegin(); it != g_fake.calls.rend(); ++it)
        if (it->domain == domain) return *it;
    static const fake_collector_call none{};
    ADD_FAILURE() << "no call";
    return none;
}

TEST_F(RateWindowTest, AQueryBetweenSnapshotsDoesNotShortenTheirWindows) {
    sysmon_init();
    fake_clock_advance_ns(1000 * kMs);
    sysmon_snapshot();
    fake_clock_advance_ns(500 * kMs);
    sysmon_cpu();
    sysmon_network();
    fake_clock_advance_ns(500 * kMs);
    sysmon_snapshot();
    // The processes were not collected in between: their window is 1 s.
    EXPECT_NEAR(last_call_of(fake_domain::processes).elapsed, 1.0, 1e-12);
    EXPECT_EQ(last_call_of(fake_domain::processes).baseline, SYSMON_BASELINE_NEWEST);
    // The network was: its window runs from that collection, 0.5 s.
    EXPECT_NEAR(last_call_of(fake_domain::network).elapsed, 0.5, 1e-12);
    EXPECT_NEAR(last_call_of(fake_domain::disks).elapsed, 1.0, 1e-12);
}

TEST_F(RateWindowTest, TreeRightAfterASnapshotDerivesOverTheOlderWindow) {
    sysmon_init();
    fake_clock_advance_ns(1000 * kMs);
    sysmon_snapshot();
    fake_clock_advance_ns(3 * kMs);
    sysmon_process_tree(0);
    const fake_collector_call &call = last_call_of(fake_domain::processes);
    EXPECT_NEAR(call.elapsed, 1.003, 1e-12);
    EXPECT_EQ(call.baseline, SYSMON_BASELINE_OLDER);
    EXPECT_EQ(call.advance, 0);
    // The next snapshot, 1 s after the first, still measures 1 s.
    fake_clock_advance_ns(997 * kMs);
    sysmon_snapshot();
    EXPECT_NEAR(last_call_of(fake_domain::processes).elapsed, 1.0, 1e-12);
    EXPECT_EQ(last_call_of(fake_domain::processes).advance, 1);
}

}  // namespace
