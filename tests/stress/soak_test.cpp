// A soak: 100 000 mixed calls with clean-up/initialisation churn. The
// library's live heap blocks (counted through its allocator seam) stay flat:
// nothing but the twelve response buffers is ever held, and clean-up
// releases them all. Under the sanitize preset LeakSanitizer checks the
// process as a whole at exit.
#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "vantorel/sysmon.h"

namespace {

int live_blocks() { return g_fake_alloc.allocs - g_fake_alloc.frees; }

TEST(Soak, HundredThousandMixedCallsKeepTheHeapFlat) {
    sysmon_cleanup();
    fake_hooks_restore();
    fake_platform_reset();
    fake_clock_install();
    fake_alloc_install();
    for (int i = 0; i < 200; ++i)
        g_fake.procs.push_back(fake_process(i + 1, i / 2, i % 3 == 0 ? "long name process" : "p", i % 50, 4096u * i));
    g_fake.cores.resize(16);
    g_fake.nets.assign(4, sysmon_net_info{});
    const std::string filter(200, 'p');

    int peak_at_checkpoint = -1;
    for (int call = 0; call < 100000; ++call) {
        fake_clock_advance_ns(37000000);
        switch (call % 16) {
            case 0: sysmon_snapshot(); break;
            case 1: sysmon_cpu(); break;
            case 2: sysmon_memory(); break;
            case 3: sysmon_disks(); break;
            case 4: sysmon_network(); break;
            case 5: sysmon_processes(call % 40, call % 4); break;
            case 6: sysmon_process_tree(call % 7); break;
            case 7: sysmon_gpu(); sysmon_system(); sysmon_battery(); break;
            case 8: sysmon_history(call % 8, 300); break;
            case 9: sysmon_cpu_core_history(300); break;
            case 10: sysmon_set_process_filter(call % 3 == 0 ? nullptr : call % 3 == 1 ? "" : filter.c_str()); break;
            case 11: sysmon_kill_process(-call); break;
            case 12: (void)sysmon_last_error(); sysmon_set_interval(call % 2000); break;
            case 13: if (call % 1024 == 13) sysmon_cleanup(); break;
            case 14: if (call % 2048 == 14) sysmon_init(); break;
            default: sysmon_snapshot(); break;
        }
        ASSERT_LE(live_blocks(), 12) << "after call " << call;
        if (call % 10000 == 9999) {
            // At each checkpoint the library is initialised and holds exactly
            // its response buffers.
            sysmon_init();
            if (peak_at_checkpoint < 0) peak_at_checkpoint = live_blocks();
            EXPECT_EQ(live_blocks(), peak_at_checkpoint) << "after call " << call;
        }
    }
    EXPECT_EQ(peak_at_checkpoint, 12);
    sysmon_cleanup();
    EXPECT_EQ(live_blocks(), 0);
    sysmon_set_process_filter(nullptr);
    fake_hooks_restore();
    fake_platform_reset();
}

}  // namespace
