// System collector: uname, os-release, /proc/uptime and the boot time of
// /proc/stat.
#include <ctime>
#include <cstring>

#include "file_read.h"
#include "linux_sources.h"
#include "proc_stat_parse.h"
#include "sysmon_internal.h"
#include "system_facts_parse.h"
#include "text_utf8.h"

int32_t sysmon_collect_system(sysmon_system_info *sys) {
    if (sys == nullptr) return -1;
    std::memset(sys, 0, sizeof *sys);
    const linux_sources &src = linux_sources_current();

    linux_system_names names{};
    if (src.system_names(&names) == 0) {
        utf8_set(sys->hostname, names.nodename);
        utf8_set(sys->kernel, names.release);
    }
    utf8_set(sys->cpu_arch, linux_arch_name(names.machine));

    static char text[256 * 1024];
    int64_t n = read_file(src.os_release, text, sizeof text);
    if (n < 0 || !parse_os_release_pretty_name(text, static_cast<size_t>(n), sys->os, sizeof sys->os)) {
        n = read_file(src.os_release_fallback, text, sizeof text);
        if (n < 0 || !parse_os_release_pretty_name(text, static_cast<size_t>(n), sys->os, sizeof sys->os))
            utf8_set(sys->os, "Linux");
    }

    char path[LINUX_PATH_SIZE];
    n = join_path(path, sizeof path, src.proc_root, "uptime") ? read_file(path, text, sizeof text) : -1;
    uint64_t uptime = 0;
    if (n > 0 && parse_uptime_seconds(text, static_cast<size_t>(n), &uptime)) sys->uptime_seconds = uptime;

    n = join_path(path, sizeof path, src.proc_root, "stat") ? read_file(path, text, sizeof text) : -1;
    static proc_stat_reading stat;
    parse_proc_stat(text, n > 0 ? static_cast<size_t>(n) : 0, &stat);
    int64_t boot = 0;
    if (stat.has_btime && stat.btime <= static_cast<uint64_t>(INT64_MAX))
        boot = static_cast<int64_t>(stat.btime);
    else if (sys->uptime_seconds <= static_cast<uint64_t>(INT64_MAX))
        boot = static_cast<int64_t>(std::time(nullptr)) - static_cast<int64_t>(sys->uptime_seconds);
    format_utc_instant(boot, sys->boot_time, sizeof sys->boot_time);
    return 0;
}
