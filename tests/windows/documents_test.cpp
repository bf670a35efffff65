// The domain documents of the real DLL: their exact shape, and their figures
// against what Win32 reports to this program directly.
#include <gtest/gtest.h>

// windows.h first: iphlpapi.h relies on its types.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"
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

TEST(Processor, CountsMatchTheSystemsProcessorsAndCores) {
    const char *text = api().cpu();
    ordered_json cpu = parse_document(text);
    uint32_t processors = processor_count();
    EXPECT_EQ(cpu["threads"].get<int64_t>(), processors) << text;
    // Physical cores as the processor relationship records count them.
    DWORD size = 0;
    GetLogicalProcessorInformationEx(RelationProcessorCore, nullptr, &size);
    std::vector<unsigned char> block(size);
    int64_t cores = 0;
    if (size != 0 &&
        GetLogicalProcessorInformationEx(
            RelationProcessorCore,
            reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX *>(block.data()), &size)) {
        for (DWORD at = 0; at < size;) {
            const auto *record =
                reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX *>(block.data() + at);
            cores += record->Relationship == RelationProcessorCore;
            at += record->Size;
        }
    }
    EXPECT_EQ(cpu["cores"].get<int64_t>(), cores > 0 ? cores : processors) << text;
    ASSERT_TRUE(cpu["per_core"].is_array());
    EXPECT_EQ(cpu["per_core"].size(), processors) << text;
    EXPECT_FALSE(cpu["name"].get<std::string>().empty());
    double total = cpu["total_usage"].get<double>();
    EXPECT_GE(total, 0.0);
    EXPECT_LE(total, 100.0);
    for (const auto &load : cpu["per_core"]) {
        EXPECT_GE(load.get<double>(), 0.0);
        EXPECT_LE(load.get<double>(), 100.0);
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

// Each interface of GetIfTable2 by description, with the first IPv4 address
// GetAdaptersAddresses gives for its LUID.
struct interface_facts {
    bool loopback;
    std::set<std::string> addresses;  // one per interface of that description
};

std::map<std::string, interface_facts> interfaces_by_description() {
    std::map<uint64_t, std::string> first_ipv4;
    ULONG size = 64 * 1024;
    std::vector<unsigned char> block(size);
    auto *adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(block.data());
    if (GetAdaptersAddresses(AF_INET, 0, nullptr, adapters, &size) == NO_ERROR) {
        for (auto *a = adapters; a != nullptr; a = a->Next) {
            for (auto *u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
                if (u->Address.lpSockaddr->sa_family != AF_INET) continue;
                const auto *in = reinterpret_cast<const sockaddr_in *>(u->Address.lpSockaddr);
                const auto *b = reinterpret_cast<const unsigned char *>(&in->sin_addr);
                first_ipv4[a->Luid.Value] = std::to_string(b[0]) + "." + std::to_string(b[1]) +
                                            "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
                break;
            }
        }
    }
    std::map<std::string, interface_facts> facts;
    MIB_IF_TABLE2 *table = nullptr;
    if (GetIfTable2(&table) != NO_ERROR) return facts;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2 &row = table->Table[i];
        // The name field holds 63 bytes, cut before a character that would
        // not fit whole.
        std::string descr = utf8_of(row.Description);
        size_t cut = std::min<size_t>(descr.size(), 63);
        while (cut < descr.size() && cut > 0 && (static_cast<unsigned char>(descr[cut]) & 0xC0) == 0x80)
            --cut;
        interface_facts &f = facts[descr.substr(0, cut)];
        f.loopback |= row.Type == IF_TYPE_SOFTWARE_LOOPBACK;
        auto address = first_ipv4.find(row.InterfaceLuid.Value);
        f.addresses.insert(address != first_ipv4.end() ? address->second : "0.0.0.0");
    }
    FreeMibTable(table);
    return facts;
}

TEST(Network, InterfacesOfTheSystemWithTheirAddressesAndNoLoopback) {
    const auto facts = interfaces_by_description();
    const char *text = api().network();
    ordered_json nets = parse_document(text);
    ASSERT_TRUE(nets.is_array()) << text;
    EXPECT_LE(nets.size(), 64u);
    for (const auto &net : nets) {
        std::string name = net["name"].get<std::string>();
        SCOPED_TRACE(name);
        auto it = facts.find(name);
        ASSERT_NE(it, facts.end()) << name << " is not an interface of GetIfTable2";
        EXPECT_FALSE(it->second.loopback) << "loopback interface listed";
        EXPECT_EQ(it->second.addresses.count(net["ip"].get<std::string>()), 1u)
            << net["ip"] << " is not the interface's first IPv4 address";
    }
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
