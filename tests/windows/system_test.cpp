// The system document against the platform's own answers. This suite also
// runs under copies of the program for which Wine reports other Windows
// versions (--expect-os), to show that the product name follows the version.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <regex>
#include <string>

#include "host_library.h"
#include "json_checks.h"

namespace {

struct kernel_version {
    bool known;
    unsigned long major, minor, build;
};

// The true version numbers, as the native version query reports them (the
// compatibility layer behind GetVersionEx may lie).
kernel_version native_version() {
    using rtl_get_version_fn = LONG(WINAPI *)(OSVERSIONINFOEXW *);
    kernel_version version{};
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return version;
    FARPROC proc = GetProcAddress(ntdll, "RtlGetVersion");
    if (proc == nullptr) return version;
    auto rtl_get_version =
        reinterpret_cast<rtl_get_version_fn>(reinterpret_cast<void (*)(void)>(proc));
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtl_get_version(&info) != 0) return version;
    version = {true, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
    return version;
}

}  // namespace

TEST(SystemDocument, HostNameIsTheComputerName) {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    ordered_json system = parse_document(api().system());
    EXPECT_EQ(system["hostname"].get<std::string>(), name);
}

TEST(SystemDocument, ProductNameAndKernelFollowTheKernelVersion) {
    kernel_version version = native_version();
    ASSERT_TRUE(version.known);
    const char *text = api().system();
    ordered_json system = parse_document(text);
    char kernel[128];
    std::snprintf(kernel, sizeof kernel, "%lu.%lu.%lu", version.major, version.minor,
                  version.build);
    EXPECT_EQ(system["kernel"].get<std::string>(), kernel) << text;
    EXPECT_EQ(system["os"].get<std::string>(),
              expected_product_name(version.major, version.minor, version.build))
        << text;
    if (!required_os().empty()) {
        // This run was set up to report a particular version: make sure it
        // did, so that the comparison above covered that row of the table.
        EXPECT_EQ(system["os"].get<std::string>(), required_os()) << text;
    }
}

TEST(SystemDocument, ArchitectureIsTheNativeOne) {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    const char *expected = "unknown";
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64: expected = "x86_64"; break;
        case PROCESSOR_ARCHITECTURE_ARM64: expected = "aarch64"; break;
        case PROCESSOR_ARCHITECTURE_INTEL: expected = "x86"; break;
        default: break;
    }
    ordered_json system = parse_document(api().system());
    EXPECT_EQ(system["cpu_arch"].get<std::string>(), expected);
}

TEST(SystemDocument, UptimeAndBootTimeLieWithinTheCall) {
    // Bounds taken around the call: no assumption about how long it takes.
    __time64_t now_before = _time64(nullptr);
    uint64_t uptime_before = GetTickCount64() / 1000;
    std::string text = api().system();
    uint64_t uptime_after = GetTickCount64() / 1000;
    __time64_t now_after = _time64(nullptr);

    ordered_json system = parse_document(text.c_str());
    uint64_t uptime = system["uptime_seconds"].get<uint64_t>();
    EXPECT_GE(uptime, uptime_before) << text;
    EXPECT_LE(uptime, uptime_after) << text;

    std::string boot = system["boot_time"].get<std::string>();
    ASSERT_TRUE(std::regex_match(boot, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")))
        << boot;
    struct tm fields {};
    ASSERT_EQ(std::sscanf(boot.c_str(), "%d-%d-%dT%d:%d:%dZ", &fields.tm_year, &fields.tm_mon,
                          &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec),
              6);
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    __time64_t boot_instant = _mkgmtime64(&fields);
    EXPECT_GE(boot_instant, now_before - static_cast<__time64_t>(uptime_after)) << boot;
    EXPECT_LE(boot_instant, now_after - static_cast<__time64_t>(uptime_before)) << boot;
}
