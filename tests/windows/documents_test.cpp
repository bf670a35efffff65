// The domain documents of the real DLL: their exact shape, and their figures
// against what Win32 reports to this program directly.
#include <gtest/gtest.h>

// windows.h first: iphlpapi.h relies on its types.
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "host_library.h"
#include "json_checks.h"

namespace {

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

uint32_t processor_count() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

}  // namespace

TEST(LoadedLibrary, IsTheDllBesideThisProgram) {
    const sysmon_load_facts &facts = load_facts();
    std::string dir = facts.dll_path.substr(0, facts.dll_path.find_last_of("\\/"));
    EXPECT_EQ(lower(dir), lower(own_exe_dir())) << facts.dll_path;
    EXPECT_TRUE(facts.missing.empty()) << facts.missing;
}

TEST(LoadedLibrary, AnswersPlatformAndLastErrorBeforeInitialisation) {
    const sysmon_load_facts &facts = load_facts();
    EXPECT_EQ(facts.first_platform, 1);
    EXPECT_FALSE(facts.last_error_was_null);
    EXPECT_EQ(facts.first_last_error, "");
    EXPECT_EQ(api().platform(), 1);
    ASSERT_NE(api().last_error(), nullptr);
}

TEST(Documents, EveryDocumentHasItsMembersInOrderAndWellFormedNumbers) {
    struct object_doc {
        const char *name;
        const char *(*query)(void);
        const std::vector<std::string> *keys;
    };
    const object_doc objects[] = {
        {"cpu", api().cpu, &CPU_KEYS},          {"memory", api().memory, &MEMORY_KEYS},
        {"gpu", api().gpu, &GPU_KEYS},          {"system", api().system, &SYSTEM_KEYS},
        {"battery", api().battery, &BATTERY_KEYS},
    };
    for (const object_doc &doc : objects) {
        SCOPED_TRACE(doc.name);
        const char *text = doc.query();
        ordered_json parsed = parse_document(text);
        EXPECT_EQ(keys_of(parsed), *doc.keys) << text;
        EXPECT_TRUE(well_formed_document(text));
    }

    struct array_doc {
        const char *name;
        const char *(*query)(void);
        const std::vector<std::string> *keys;
    };
    const array_doc arrays[] = {
        {"disks", api().disks, &DISK_KEYS},
        {"network", api().network, &NET_KEYS},
    };
    for (const array_doc &doc : arrays) {
        SCOPED_TRACE(doc.name);
        const char *text = doc.query();
        ordered_json parsed = parse_document(text);
        ASSERT_TRUE(parsed.is_array()) << text;
        for (const auto &entry : parsed) EXPECT_EQ(keys_of(entry), *doc.keys) << text;
        EXPECT_TRUE(well_formed_document(text));
    }
}

TEST(Documents, SnapshotEmbedsEveryDomainInOrder) {
    const char *text = api().snapshot();
    ordered_json snapshot = parse_document(text);
    ASSERT_EQ(keys_of(snapshot), SNAPSHOT_KEYS) << text;
    EXPECT_TRUE(well_formed_document(text));
    EXPECT_EQ(keys_of(snapshot["cpu"]), CPU_KEYS);
    EXPECT_EQ(keys_of(snapshot["memory"]), MEMORY_KEYS);
    EXPECT_EQ(keys_of(snapshot["gpu"]), GPU_KEYS);
    EXPECT_EQ(keys_of(snapshot["battery"]), BATTERY_KEYS);
    EXPECT_EQ(keys_of(snapshot["system"]), SYSTEM_KEYS);
    ASSERT_TRUE(snapshot["disks"].is_array());
    for (const auto &disk : snapshot["disks"]) EXPECT_EQ(keys_of(disk), DISK_KEYS);
    ASSERT_TRUE(snapshot["network"].is_array());
    for (const auto &net : snapshot["network"]) EXPECT_EQ(keys_of(net), NET_KEYS);
    ASSERT_TRUE(snapshot["processes"].is_array());
    for (const auto &proc : snapshot["processes"]) EXPECT_EQ(keys_of(proc), PROCESS_KEYS);
}

TEST(Documents, TextsOfDifferentQueriesAreIndependent) {
    std::string cpu_before = api().cpu();
    const char *cpu = api().cpu();
    const char *memory = api().memory();
    const char *system = api().system();
    // Each text lives in its own buffer: later queries of other kinds leave
    // the earlier texts intact.
    EXPECT_EQ(keys_of(parse_document(cpu)), CPU_KEYS);
    EXPECT_EQ(keys_of(parse_document(memory)), MEMORY_KEYS);
    EXPECT_EQ(keys_of(parse_document(system)), SYSTEM_KEYS);
    EXPECT_EQ(keys_of(parse_document(cpu_before.c_str())), CPU_KEYS);
}

TEST(Processor, CountsMatchGetNativeSystemInfo) {
    const char *text = api().cpu();
    ordered_json cpu = parse_document(text);
    uint32_t processors = processor_count();
    EXPECT_EQ(cpu["cores"].get<int64_t>(), processors) << text;
    EXPECT_EQ(cpu["threads"].get<int64_t>(), processors) << text;
    ASSERT_TRUE(cpu["per_core"].is_array());
    EXPECT_EQ(cpu["per_core"].size(), std::min<uint32_t>(processors, 512)) << text;
    EXPECT_FALSE(cpu["name"].get<std::string>().empty());
    double total = cpu["total_usage"].get<double>();
    EXPECT_GE(total, 0.0);
    EXPECT_LE(total, 100.0);
    // Windows gives no load per processor: each entry repeats the total.
    // A load of 0 would hide a wrong entry, so give the machine a moment
    // until some load shows (the check runs either way).
    std::string raw = text;
    for (int attempt = 0; attempt < 20 && raw_member(raw, "total_usage") == "0.00"; ++attempt) {
        Sleep(100);
        raw = api().cpu();
    }
    std::string per_core = raw_member(raw, "per_core");
    std::string total_text = raw_member(raw, "total_usage");
    for (size_t start = 1; start < per_core.size(); start += total_text.size() + 1) {
        EXPECT_EQ(per_core.compare(start, total_text.size(), total_text), 0) << raw;
    }
    EXPECT_GE(cpu["frequency_mhz"].get<double>(), 0.0);
}

TEST(Memory, TotalMatchesGlobalMemoryStatusEx) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    const char *text = api().memory();
    ordered_json memory = parse_document(text);
    EXPECT_EQ(memory["total"].get<uint64_t>(), status.ullTotalPhys) << text;
    EXPECT_EQ(memory["swap_total"].get<uint64_t>(), status.ullTotalPageFile) << text;
    // used and available come from one reading: they add up to the total.
    EXPECT_EQ(memory["used"].get<uint64_t>() + memory["available"].get<uint64_t>(),
              memory["total"].get<uint64_t>())
        << text;
    EXPECT_LE(memory["swap_used"].get<uint64_t>(), memory["swap_total"].get<uint64_t>());
}

TEST(Disks, ListTheSystemDriveAndOnlyLocalVolumes) {
    char windows_dir[MAX_PATH] = {};
    ASSERT_GT(GetSystemWindowsDirectoryA(windows_dir, MAX_PATH), 2u);
    std::string drive(windows_dir, 2);  // "C:"
    std::string root = drive + "\\";
    ULARGE_INTEGER caller_free{}, total{}, total_free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(root.c_str(), &caller_free, &total, &total_free));

    const char *text = api().disks();
    ordered_json disks = parse_document(text);
    ASSERT_TRUE(disks.is_array()) << text;
    bool found = false;
    for (const auto &disk : disks) {
        std::string mount = disk["mount"].get<std::string>();
        SCOPED_TRACE(mount);
        UINT type = GetDriveTypeA(mount.c_str());
        EXPECT_TRUE(type == DRIVE_FIXED || type == DRIVE_REMOVABLE) << "drive type " << type;
        EXPECT_EQ(disk["name"].get<std::string>(), mount.substr(0, 2));
        EXPECT_EQ(disk["used"].get<uint64_t>(),
                  disk["total"].get<uint64_t>() - disk["free"].get<uint64_t>());
        // The file-system name as the volume reports it, "NTFS" when it
        // cannot be asked.
        char fs[32] = {};
        bool fs_known = GetVolumeInformationA(mount.c_str(), nullptr, 0, nullptr, nullptr,
                                              nullptr, fs, sizeof fs) != 0;
        EXPECT_EQ(disk["fs"].get<std::string>(), fs_known ? fs : "NTFS");
        if (lower(mount) == lower(root)) {
            found = true;
            EXPECT_EQ(disk["total"].get<uint64_t>(), total.QuadPart);
        }
    }
    EXPECT_TRUE(found) << root << " missing from " << text;
}

TEST(Network, ListsNoLoopbackInterface) {
    ULONG size = 0;
    ASSERT_EQ(GetIfTable(nullptr, &size, FALSE), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<unsigned char> block(size);
    auto *table = reinterpret_cast<MIB_IFTABLE *>(block.data());
    ASSERT_EQ(GetIfTable(table, &size, FALSE), static_cast<DWORD>(NO_ERROR));
    std::set<std::string> loopback, other;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IFROW &row = table->table[i];
        std::string descr(reinterpret_cast<const char *>(row.bDescr),
                          strnlen(reinterpret_cast<const char *>(row.bDescr), row.dwDescrLen));
        (row.dwType == IF_TYPE_SOFTWARE_LOOPBACK ? loopback : other).insert(descr.substr(0, 63));
    }

    const char *text = api().network();
    ordered_json nets = parse_document(text);
    ASSERT_TRUE(nets.is_array()) << text;
    EXPECT_LE(nets.size(), 64u);
    for (const auto &net : nets) {
        std::string name = net["name"].get<std::string>();
        EXPECT_EQ(loopback.count(name), 0u) << "loopback interface listed: " << name;
        EXPECT_EQ(other.count(name), 1u) << name << " is not an interface of GetIfTable";
        EXPECT_EQ(net["ip"].get<std::string>(), "0.0.0.0");
    }
}

TEST(Gpu, ReportsThePlaceholderValues) {
    const char *text = api().gpu();
    EXPECT_STREQ(text,
                 "{\"name\":\"unknown\",\"usage_percent\":0.00,\"vram_total\":0,\"vram_used\":0,"
                 "\"temperature_c\":0.0,\"driver\":\"unknown\",\"power_watts\":0.0}");
}

TEST(Battery, FollowsGetSystemPowerStatus) {
    SYSTEM_POWER_STATUS power{};
    ASSERT_TRUE(GetSystemPowerStatus(&power));
    const char *text = api().battery();
    ordered_json battery = parse_document(text);
    if (power.BatteryFlag == 128 || power.BatteryFlag == 255) {
        EXPECT_STREQ(text,
                     "{\"present\":false,\"percent\":0,\"status\":\"AC_Power\","
                     "\"time_remaining_min\":0,\"power_draw_watts\":0.00,\"health_percent\":0}");
    } else {
        EXPECT_TRUE(battery["present"].get<bool>()) << text;
        EXPECT_EQ(battery["status"].get<std::string>(),
                  power.ACLineStatus == 1 ? "Charging" : "Discharging");
        EXPECT_EQ(battery["health_percent"].get<int>(), 100);
        EXPECT_LE(battery["percent"].get<int>(), 100);
    }
}
