// Memory collector: /proc/meminfo, and the memory limit of the process's
// cgroups.
#include "cgroup_limits.h"
#include "file_read.h"
#include "linux_sources.h"
#include "meminfo_parse.h"
#include "sysmon_internal.h"

int32_t sysmon_collect_mem(sysmon_mem_info *mem) {
    if (mem == nullptr) return -1;
    static char text[16 * 1024];
    char path[LINUX_PATH_SIZE];
    const int64_t n = join_path(path, sizeof path, linux_sources_current().proc_root, "meminfo")
                          ? read_file(path, text, sizeof text) : -1;
    parse_meminfo(text, n > 0 ? static_cast<size_t>(n) : 0, mem);
    mem->limit = cgroup_memory_limit(linux_sources_current(), &mem->limit_used);
    return 0;
}
