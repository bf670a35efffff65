#include "linux_sources.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

int32_t live_file_system_space(const char *mount_point, uint64_t *total, uint64_t *free_bytes) {
    struct statvfs vfs;
    if (statvfs(mount_point, &vfs) != 0) return -1;
    const uint64_t unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    *total = static_cast<uint64_t>(vfs.f_blocks) * unit;
    *free_bytes = static_cast<uint64_t>(vfs.f_bfree) * unit;
    return 0;
}

int32_t live_interfaces(linux_if_facts *facts, int32_t capacity) {
    struct ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    int32_t count = 0;
    for (struct ifaddrs *a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_name == nullptr) continue;
        linux_if_facts *f = nullptr;
        for (int32_t i = 0; i < count; ++i) {  // a handful of interfaces, once per collection
            if (std::strncmp(facts[i].name, a->ifa_name, sizeof facts[i].name) == 0) {
                f = &facts[i];
                break;
            }
        }
        if (f == nullptr) {
            if (count >= capacity) continue;
            f = &facts[count++];
            std::memset(f, 0, sizeof *f);
            std::snprintf(f->name, sizeof f->name, "%s", a->ifa_name);
        }
        f->flags |= a->ifa_flags;
        if (!f->has_ipv4 && a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET) {
            const struct sockaddr_in *in = reinterpret_cast<const struct sockaddr_in *>(a->ifa_addr);
            if (inet_ntop(AF_INET, &in->sin_addr, f->ipv4, sizeof f->ipv4) != nullptr)
                f->has_ipv4 = 1;
        }
    }
    freeifaddrs(list);
    return count;
}

int32_t live_system_names(linux_system_names *names) {
    struct utsname u;
    if (uname(&u) != 0) return -1;
    std::snprintf(names->nodename, sizeof names->nodename, "%s", u.nodename);
    std::snprintf(names->release, sizeof names->release, "%s", u.release);
    std::snprintf(names->machine, sizeof names->machine, "%s", u.machine);
    return 0;
}

int32_t live_user_name(uint32_t uid, char *out, size_t size) {
    // Name look-ups are rare (the callers cache them per uid), so a buffer
    // on the stack is enough.
    char buffer[4096];
    struct passwd entry;
    struct passwd *found = nullptr;
    if (getpwuid_r(static_cast<uid_t>(uid), &entry, buffer, sizeof buffer, &found) != 0 ||
        found == nullptr || found->pw_name == nullptr)
        return -1;
    std::snprintf(out, size, "%s", found->pw_name);
    return 0;
}

linux_sources make_live() {
    linux_sources s{};
    std::snprintf(s.proc_root, sizeof s.proc_root, "/proc");
    std::snprintf(s.sys_root, sizeof s.sys_root, "/sys");
    std::snprintf(s.os_release, sizeof s.os_release, "/etc/os-release");
    std::snprintf(s.os_release_fallback, sizeof s.os_release_fallback, "/usr/lib/os-release");
    s.file_system_space = live_file_system_space;
    s.interfaces = live_interfaces;
    s.system_names = live_system_names;
    s.user_name = live_user_name;
    std::snprintf(s.pci_ids, sizeof s.pci_ids, "/usr/share/misc/pci.ids");
    std::snprintf(s.pci_ids_fallback, sizeof s.pci_ids_fallback, "/usr/share/hwdata/pci.ids");
    std::snprintf(s.nvml_library, sizeof s.nvml_library, "libnvidia-ml.so.1");
    return s;
}

linux_sources s_sources = make_live();
uint32_t s_generation = 1;

}  // namespace

const linux_sources &linux_sources_current() { return s_sources; }

linux_sources linux_sources_live() { return make_live(); }

void linux_sources_set(const linux_sources *sources) {
    s_sources = sources != nullptr ? *sources : make_live();
    const linux_sources live = make_live();
    if (s_sources.file_system_space == nullptr) s_sources.file_system_space = live.file_system_space;
    if (s_sources.interfaces == nullptr) s_sources.interfaces = live.interfaces;
    if (s_sources.system_names == nullptr) s_sources.system_names = live.system_names;
    if (s_sources.user_name == nullptr) s_sources.user_name = live.user_name;
    ++s_generation;
}

uint32_t linux_sources_generation() { return s_generation; }
