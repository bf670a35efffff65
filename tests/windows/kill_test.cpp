// Process termination through the real DLL, on a child this program starts,
// and the messages of the error slot.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>

#include "host_library.h"
#include "json_checks.h"
#include "process_checks.h"

namespace {

// A copy of this program that only sleeps. Ended (if a test has not done so)
// when the object goes, so no sleeper outlives the test.
struct sleeping_child {
    PROCESS_INFORMATION info{};
    bool started = false;

    sleeping_child() {
        std::string command = "\"" + own_exe_path() + "\" " SYSMON_SLEEP_CHILD_ARG;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &info) != 0;
    }
    ~sleeping_child() {
        if (!started) return;
        if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info.hProcess, 99);
            WaitForSingleObject(info.hProcess, INFINITE);
        }
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    sleeping_child(const sleeping_child &) = delete;
    sleeping_child &operator=(const sleeping_child &) = delete;
    int32_t pid() const { return static_cast<int32_t>(info.dwProcessId); }
};

// A pid that no process has: the platform itself refuses to open it.
int32_t unused_pid(DWORD *open_error) {
    for (DWORD pid = 0x3FFFFFFC; pid > 0x3FFF0000; pid -= 4) {
        HANDLE handle = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
        if (handle == nullptr) {
            *open_error = GetLastError();
            return static_cast<int32_t>(pid);
        }
        CloseHandle(handle);
    }
    return 0;
}

}  // namespace

TEST(KillProcess, EndsAChildWithExitCodeOne) {
    sleeping_child child;
    ASSERT_TRUE(child.started) << "CreateProcess failed: " << GetLastError();
    int32_t self = static_cast<int32_t>(GetCurrentProcessId());

    // The child is listed, with this program as its parent, in the list and
    // in the tree.
    ordered_json list = parse_document(api().processes(0, 2));
    const ordered_json *entry = find_process(list, child.pid());
    ASSERT_NE(entry, nullptr) << "child " << child.pid() << " not listed";
    EXPECT_EQ((*entry)["ppid"].get<int32_t>(), self);
    const ordered_json *self_entry = find_process(list, self);
    ASSERT_NE(self_entry, nullptr);
    EXPECT_EQ((*entry)["name"], (*self_entry)["name"]);
    std::vector<tree_node> nodes;
    ASSERT_TRUE(flatten_tree(parse_document(api().process_tree(0)), &nodes));
    const tree_node *node = find_node(nodes, child.pid());
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->parent_pid, self);

    // Success leaves an earlier message in place.
    ASSERT_EQ(api().kill_process(0), -1);
    ASSERT_EQ(api().kill_process(child.pid()), 0) << api().last_error();
    EXPECT_STREQ(api().last_error(), "Invalid pid: 0");

    ASSERT_EQ(WaitForSingleObject(child.info.hProcess, 60000), WAIT_OBJECT_0)
        << "the child did not end";
    DWORD exit_code = 0;
    ASSERT_TRUE(GetExitCodeProcess(child.info.hProcess, &exit_code));
    EXPECT_EQ(exit_code, 1u);
}

TEST(KillProcess, RejectsPidsBelowOne) {
    EXPECT_EQ(api().kill_process(0), -1);
    EXPECT_STREQ(api().last_error(), "Invalid pid: 0");
    EXPECT_EQ(api().kill_process(-5), -1);
    EXPECT_STREQ(api().last_error(), "Invalid pid: -5");
    EXPECT_EQ(api().kill_process(INT32_MIN), -1);
    EXPECT_STREQ(api().last_error(), "Invalid pid: -2147483648");
}

TEST(KillProcess, ReportsAPidWithoutProcess) {
    DWORD open_error = 0;
    int32_t pid = unused_pid(&open_error);
    ASSERT_NE(pid, 0) << "every probed pid can be opened";
    EXPECT_EQ(api().kill_process(pid), -1);
    std::string expected =
        "OpenProcess(" + std::to_string(pid) + ") failed: " + std::to_string(open_error);
    EXPECT_EQ(api().last_error(), expected);
    // The platform's answer for a pid that does not exist.
    EXPECT_EQ(open_error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(KillProcess, MessageIsVisibleFromEveryThread) {
    ASSERT_EQ(api().kill_process(-7), -1);
    std::string seen_elsewhere;
    std::thread reader([&] {
        const char *text = api().last_error();
        seen_elsewhere = text != nullptr ? text : "(null)";
    });
    reader.join();
    EXPECT_EQ(seen_elsewhere, "Invalid pid: -7");

    std::thread writer([] { api().kill_process(-8); });
    writer.join();
    ASSERT_NE(api().last_error(), nullptr);
    EXPECT_STREQ(api().last_error(), "Invalid pid: -8");
}
