// The state of a freshly loaded library, captured before any test runs (a
// later test can no longer see it: nothing ever clears the error slot).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "history.h"
#include "process_view.h"
#include "sysmon_internal.h"
#include "vantorel/sysmon.h"

namespace {

struct initial_state {
    bool captured = false;
    std::string last_error = "<not captured>";
    bool last_error_null = true;
    int32_t platform = 0;
    bool buffers_absent = false;
    bool records_zero = false;
    std::string filter = "<not captured>";
};

initial_state g_initial;

template <typename T>
bool all_zero(const T &object) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(&object);
    for (size_t i = 0; i < sizeof object; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

// A list holds nothing: count 0 and every entry of its initial storage zero.
template <typename T>
bool all_zero(const record_list<T> &list) {
    for (int32_t i = 0; i < list.capacity; ++i)
        if (!all_zero(list.items[i])) return false;
    return list.count == 0 && list.on_heap == 0;
}

class InitialStateProbe : public ::testing::Environment {
public:
    void SetUp() override {
        const char *error = sysmon_last_error();
        g_initial.last_error_null = error == nullptr;
        if (error != nullptr) g_initial.last_error = error;
        g_initial.platform = sysmon_platform();
        g_initial.buffers_absent = s_buf_snapshot.data == nullptr && s_buf_cpu.data == nullptr &&
                                   s_buf_core_history.data == nullptr && s_buf_procs.capacity == 0;
        g_initial.records_zero = all_zero(s_cpu) && all_zero(s_cores) && all_zero(s_mem) && all_zero(s_disks) &&
                                 all_zero(s_nets) && all_zero(s_procs) && all_zero(s_gpu) &&
                                 all_zero(s_bat) && all_zero(s_sys) && s_disks.count == 0 &&
                                 s_nets.count == 0 && s_procs.count == 0 && all_zero(s_history) &&
                                 all_zero(s_core_history);
        g_initial.filter = s_process_filter;
        g_initial.captured = true;
    }
};

[[maybe_unused]] ::testing::Environment *const g_probe =
    ::testing::AddGlobalTestEnvironment(new InitialStateProbe);

TEST(InitialStateTest, FreshLibraryHasNoErrorNoBuffersAndZeroRecords) {
    ASSERT_TRUE(g_initial.captured);
    EXPECT_FALSE(g_initial.last_error_null);
    EXPECT_EQ(g_initial.last_error, "");
    EXPECT_EQ(g_initial.platform, 1);
    EXPECT_TRUE(g_initial.buffers_absent);
    EXPECT_TRUE(g_initial.records_zero);
    EXPECT_EQ(g_initial.filter, "");
}

}  // namespace
