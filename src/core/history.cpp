#include "history.h"

#include <cstring>

history_ring s_history[SYSMON_HISTORY_METRICS];
namespace {
history_ring s_core_history_initial[SYSMON_MAX_CORES];
}  // namespace
record_list<history_ring> s_core_history{s_core_history_initial, 0, SYSMON_MAX_CORES, 0};

void ring_push(history_ring *ring, double value) {
    if (ring->count > SYSMON_HISTORY_LEN - 1) {
        ring->samples[ring->head] = value;
        ring->head = (ring->head + 1) % SYSMON_HISTORY_LEN;
        ring->count = SYSMON_HISTORY_LEN;
    } else {
        ring->samples[ring->count] = value;
        ring->count += 1;
    }
}

int32_t ring_get_samples(const history_ring *ring, int32_t n, double *dest) {
    if (n <= 0 || ring->count <= 0) return 0;
    if (n > ring->count) n = ring->count;
    const int32_t first = ring->count <= SYSMON_HISTORY_LEN - 1
                              ? ring->count - n
                              : (ring->head + SYSMON_HISTORY_LEN - n) % SYSMON_HISTORY_LEN;
    for (int32_t k = 0; k < n; ++k) dest[k] = ring->samples[(first + k) % SYSMON_HISTORY_LEN];
    return n;
}

void history_clear() {
    std::memset(s_history, 0, sizeof s_history);
    record_list_release(&s_core_history, s_core_history_initial, SYSMON_MAX_CORES);
}

void history_note_processors(int32_t processors) {
    if (processors < 0) processors = 0;
    record_list_reserve(&s_core_history, processors);
    s_core_history.count = processors < s_core_history.capacity ? processors : s_core_history.capacity;
}

namespace {

// Sums a per-second rate over list entries, wrapping as unsigned 64-bit.
template <typename Entry>
double sum_rate(const Entry *entries, int32_t count, int32_t capacity,
                uint64_t Entry::*field) {
    uint64_t sum = 0;
    if (count > capacity) count = capacity;
    for (int32_t i = 0; i < count; ++i) sum += entries[i].*field;
    return static_cast<double>(sum);
}

void append_samples(strbuf *sb, const history_ring *ring, int32_t n) {
    double samples[SYSMON_HISTORY_LEN];
    const int32_t m = ring_get_samples(ring, n, samples);
    strbuf_append_lit(sb, "[");
    for (int32_t k = 0; k < m; ++k) {
        if (k > 0) strbuf_append_lit(sb, ",");
        strbuf_append_fixed(sb, samples[k], 2);
    }
    strbuf_append_lit(sb, "]");
}

}  // namespace

void history_record_snapshot() {
    ring_push(&s_history[SYSMON_METRIC_CPU], s_cpu.total_usage);
    const double memory_percent =
        s_mem.total == 0 ? 0.0
                         : static_cast<double>(s_mem.used) * 100.0 / static_cast<double>(s_mem.total);
    ring_push(&s_history[SYSMON_METRIC_MEMORY], memory_percent);
    ring_push(&s_history[SYSMON_METRIC_NET_DOWN],
              sum_rate(s_nets.items, s_nets.count, s_nets.capacity, &sysmon_net_info::down_bytes_sec));
    ring_push(&s_history[SYSMON_METRIC_NET_UP],
              sum_rate(s_nets.items, s_nets.count, s_nets.capacity, &sysmon_net_info::up_bytes_sec));
    ring_push(&s_history[SYSMON_METRIC_DISK_READ],
              sum_rate(s_disks.items, s_disks.count, s_disks.capacity, &sysmon_disk_info::read_bytes_sec));
    ring_push(&s_history[SYSMON_METRIC_DISK_WRITE],
              sum_rate(s_disks.items, s_disks.count, s_disks.capacity, &sysmon_disk_info::write_bytes_sec));
    ring_push(&s_history[SYSMON_METRIC_GPU], s_gpu.usage_percent);
    ring_push(&s_history[SYSMON_METRIC_CPU_TEMPERATURE], s_cpu.temperature_c);

    const int32_t listed = s_cores.count < s_cores.capacity ? s_cores.count : s_cores.capacity;
    history_note_processors(listed);
    for (int32_t i = 0; i < s_core_history.count; ++i) ring_push(&s_core_history.items[i], s_cores.items[i].usage);
}

void serialize_metric_history(strbuf *sb, int32_t metric, int32_t n) {
    if (static_cast<uint32_t>(metric) > SYSMON_HISTORY_METRICS - 1 || n <= 0) {
        strbuf_append_lit(sb, "[]");
        return;
    }
    append_samples(sb, &s_history[metric], n);
}

void serialize_core_history(strbuf *sb, int32_t n) {
    int32_t rings = s_core_history.count;
    if (rings > s_core_history.capacity) rings = s_core_history.capacity;
    if (rings <= 0) rings = 1;
    strbuf_append_lit(sb, "[");
    for (int32_t i = 0; i < rings; ++i) {
        if (i > 0) strbuf_append_lit(sb, ",");
        append_samples(sb, &s_core_history.items[i], n);
    }
    strbuf_append_lit(sb, "]");
}
