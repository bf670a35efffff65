// Entry point of the host tests: loads the DLL once, as a host would, then
// runs the suites against it. Started with SYSMON_SLEEP_CHILD_ARG it only
// sleeps (whatever further arguments follow), so that tests have a process
// of their own to end or look at; with SYSMON_BUSY_CHILD_ARG it keeps a
// processor busy and reports its own processor time; with
// SYSMON_LIMITS_CHILD_ARG it prints its documents and its job's limits.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "child_process.h"
#include "host_library.h"

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], SYSMON_SLEEP_CHILD_ARG) == 0) {
        // Ended by the test that started it, long before this runs out.
        Sleep(5 * 60 * 1000);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], SYSMON_BUSY_CHILD_ARG) == 0) return run_busy_child();
    if (argc >= 2 && std::strcmp(argv[1], SYSMON_LIMITS_CHILD_ARG) == 0) return run_limits_child();
    testing::InitGoogleTest(&argc, argv);
    const char *expect_prefix = "--expect-os=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], expect_prefix, std::strlen(expect_prefix)) == 0) {
            set_required_os(argv[i] + std::strlen(expect_prefix));
        } else {
            std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
            return 2;
        }
    }

    sysmon_api loaded{};
    sysmon_load_facts facts{};
    std::string error;
    if (!sysmon_load(&loaded, &facts, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (!facts.missing.empty()) {
        // Every later call would go through a null pointer.
        std::fprintf(stderr, "%s does not export: %s\n", facts.dll_path.c_str(),
                     facts.missing.c_str());
        return 1;
    }
    set_loaded_library(loaded, facts);
    return RUN_ALL_TESTS();
}
