// Common set-up for tests that drive the library through its exported
// functions: a cleaned-up library, empty fake collectors, a fake clock at
// 100 s, no process filter and the default interval.
#ifndef VANTOREL_TESTS_LIBRARY_FIXTURE_H
#define VANTOREL_TESTS_LIBRARY_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "vantorel/sysmon.h"

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        sysmon_cleanup();
        fake_hooks_restore();
        fake_platform_reset();
        fake_clock_install();
        sysmon_set_process_filter(nullptr);
        sysmon_set_interval(1000);
    }
    void TearDown() override {
        sysmon_cleanup();
        fake_hooks_restore();
        fake_platform_reset();
    }
};

inline std::string text(const char *s) { return s == nullptr ? std::string("<null>") : std::string(s); }

#endif  // VANTOREL_TESTS_LIBRARY_FIXTURE_H
