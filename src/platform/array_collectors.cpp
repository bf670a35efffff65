// The list collectors of a platform whose collectors still fill arrays of a
// fixed capacity: each list is handed over at the size it has, so it never
// grows and lists at most that many entries.
#include "sysmon_internal.h"

int32_t sysmon_collect_disks(sysmon_disk_info *disks, int32_t *count, int32_t capacity,
                             const sysmon_window *window);
int32_t sysmon_collect_network(sysmon_net_info *nets, int32_t *count, int32_t capacity,
                               const sysmon_window *window);
int32_t sysmon_collect_processes(sysmon_proc_info *procs, int32_t *count, int32_t capacity,
                                 const sysmon_window *window, uint64_t memory_total);

int32_t sysmon_collect_disks(record_list<sysmon_disk_info> *disks, const sysmon_window *window) {
    if (disks == nullptr) return -1;
    return sysmon_collect_disks(disks->items, &disks->count, disks->capacity, window);
}

int32_t sysmon_collect_network(record_list<sysmon_net_info> *nets, const sysmon_window *window) {
    if (nets == nullptr) return -1;
    return sysmon_collect_network(nets->items, &nets->count, nets->capacity, window);
}

int32_t sysmon_collect_processes(record_list<sysmon_proc_info> *procs, const sysmon_window *window,
                                 uint64_t memory_total) {
    if (procs == nullptr) return -1;
    return sysmon_collect_processes(procs->items, &procs->count, procs->capacity, window, memory_total);
}
