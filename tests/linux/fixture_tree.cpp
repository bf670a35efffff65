#include "fixture_tree.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

namespace {

int32_t fake_space(const char *mount_point, uint64_t *total, uint64_t *free_bytes) {
    static const std::map<std::string, std::pair<uint64_t, uint64_t>> table = {
        {"/", {1000, 400}}, {"/mnt/my disk", {2000, 2500}}, {"/data", {5000, 1000}}, {"/btr", {300, 100}}};
    const auto it = table.find(mount_point);
    if (it == table.end()) return -1;
    *total = it->second.first;
    *free_bytes = it->second.second;
    return 0;
}

int32_t fake_interfaces(linux_if_facts *facts, int32_t capacity) {
    // Flags: IFF_UP 0x1, IFF_LOOPBACK 0x8, IFF_RUNNING 0x40.
    static const linux_if_facts table[] = {
        {"lo", 0x49, 1, "127.0.0.1"},
        {"wlan0", 0x0, 0, ""},      // down, but it has counted traffic
        {"eth0", 0x41, 1, "192.168.1.20"},
        {"docker0", 0x1, 1, "172.17.0.1"},  // up, not running, no traffic
        {"tun0", 0x41, 0, ""},      // up and running, no address, no traffic
    };
    int32_t n = 0;
    for (const linux_if_facts &f : table) {
        if (n >= capacity) break;
        facts[n++] = f;
    }
    return n;
}

int32_t fake_names(linux_system_names *names) {
    std::snprintf(names->nodename, sizeof names->nodename, "%s", "fixture-host");
    std::snprintf(names->release, sizeof names->release, "%s", "6.1.0-fixture");
    std::snprintf(names->machine, sizeof names->machine, "%s", "x86_64");
    return 0;
}

int32_t fake_user(uint32_t uid, char *out, size_t size) {
    if (uid == 0) return std::snprintf(out, size, "root") > 0 ? 0 : -1;
    if (uid == 1000) return std::snprintf(out, size, "alice") > 0 ? 0 : -1;
    return -1;
}

}  // namespace

std::string fixture_dir(const std::string &tree) {
    return std::string(SYSMON_LINUX_FIXTURES) + "/" + tree;
}

fixture_sources::fixture_sources(const std::string &root) {
    linux_sources s{};
    std::snprintf(s.proc_root, sizeof s.proc_root, "%s/proc", root.c_str());
    std::snprintf(s.sys_root, sizeof s.sys_root, "%s/sys", root.c_str());
    std::snprintf(s.os_release, sizeof s.os_release, "%s/etc/os-release", root.c_str());
    std::snprintf(s.os_release_fallback, sizeof s.os_release_fallback, "%s/usr/lib/os-release",
                  root.c_str());
    std::snprintf(s.pci_ids, sizeof s.pci_ids, "%s/usr/share/misc/pci.ids", root.c_str());
    std::snprintf(s.pci_ids_fallback, sizeof s.pci_ids_fallback, "%s/usr/share/hwdata/pci.ids",
                  root.c_str());
    // No vendor library unless a test names one.
    std::snprintf(s.nvml_library, sizeof s.nvml_library, "%s/no-nvml/libnvidia-ml.so.1", root.c_str());
    s.file_system_space = fake_space;
    s.interfaces = fake_interfaces;
    s.system_names = fake_names;
    s.user_name = fake_user;
    linux_sources_set(&s);
}

fixture_sources::~fixture_sources() { linux_sources_set(nullptr); }

tree_copy::tree_copy(const std::string &tree) {
    char pattern[] = "/tmp/sysmon-tree-XXXXXX";
    root = mkdtemp(pattern);
    std::filesystem::copy(fixture_dir(tree), root, std::filesystem::copy_options::recursive);
}

tree_copy::~tree_copy() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

void tree_copy::write(const std::string &relative, const std::string &content) const {
    const std::filesystem::path path = root / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void tree_copy::remove(const std::string &relative) const { std::filesystem::remove_all(root / relative); }
