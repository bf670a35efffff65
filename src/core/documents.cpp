#include "documents.h"

// Every document is written front to back from literal pieces, escaped text
// fields and locale-independent numbers.

namespace {

// Escapes a fixed-size text field, reading no further than the field even if
// its NUL is missing.
template <size_t N>
void append_field(strbuf *sb, const char (&field)[N]) {
    strbuf_append_escaped_json_bounded(sb, field, N);
}

int32_t clamp_count(int32_t count, int32_t capacity) {
    if (count < 0) return 0;
    return count > capacity ? capacity : count;
}

void append_2(strbuf *sb, double value) { strbuf_append_fixed(sb, value, 2); }
void append_1(strbuf *sb, double value) { strbuf_append_fixed(sb, value, 1); }

// `opening` then one figure of each of the first `count` processors, with
// two decimals, comma-separated.
void append_core_figures(strbuf *sb, const char *opening, int32_t count,
                         double sysmon_core_info::*figure) {
    strbuf_append(sb, opening);
    for (int32_t i = 0; i < count; ++i) {
        if (i > 0) strbuf_append_lit(sb, ",");
        append_2(sb, s_cores.items[i].*figure);
    }
}

}  // namespace

void serialize_cpu(strbuf *sb) {
    strbuf_append_lit(sb, "{\"name\":\"");
    append_field(sb, s_cpu.name);
    strbuf_append_lit(sb, "\",\"cores\":");
    strbuf_append_int(sb, s_cpu.cores);
    strbuf_append_lit(sb, ",\"threads\":");
    strbuf_append_int(sb, s_cpu.threads);
    strbuf_append_lit(sb, ",\"total_usage\":");
    append_2(sb, s_cpu.total_usage);
    strbuf_append_lit(sb, ",\"frequency_mhz\":");
    append_1(sb, s_cpu.frequency_mhz);
    const int32_t n = clamp_count(s_cores.count, s_cores.capacity);
    append_core_figures(sb, ",\"per_core\":[", n, &sysmon_core_info::usage);
    strbuf_append_lit(sb, "],\"temperature_c\":");
    append_1(sb, s_cpu.temperature_c);
    strbuf_append_lit(sb, ",\"busy_seconds\":");
    append_2(sb, s_cpu.busy_seconds);
    strbuf_append_lit(sb, ",\"idle_seconds\":");
    append_2(sb, s_cpu.idle_seconds);
    append_core_figures(sb, ",\"per_core_busy_seconds\":[", n, &sysmon_core_info::busy_seconds);
    append_core_figures(sb, "],\"per_core_idle_seconds\":[", n, &sysmon_core_info::idle_seconds);
    strbuf_append_lit(sb, "],\"limit_cpus\":");
    append_2(sb, s_cpu.limit_cpus);
    strbuf_append_lit(sb, "}");
}

void serialize_mem(strbuf *sb) {
    strbuf_append_lit(sb, "{\"total\":");
    strbuf_append_uint(sb, s_mem.total);
    strbuf_append_lit(sb, ",\"used\":");
    strbuf_append_uint(sb, s_mem.used);
    strbuf_append_lit(sb, ",\"available\":");
    strbuf_append_uint(sb, s_mem.available);
    strbuf_append_lit(sb, ",\"cached\":");
    strbuf_append_uint(sb, s_mem.cached);
    strbuf_append_lit(sb, ",\"swap_total\":");
    strbuf_append_uint(sb, s_mem.swap_total);
    strbuf_append_lit(sb, ",\"swap_used\":");
    strbuf_append_uint(sb, s_mem.swap_used);
    strbuf_append_lit(sb, ",\"limit\":");
    strbuf_append_uint(sb, s_mem.limit);
    strbuf_append_lit(sb, ",\"limit_used\":");
    strbuf_append_uint(sb, s_mem.limit_used);
    strbuf_append_lit(sb, "}");
}

void serialize_disks(strbuf *sb, int32_t count) {
    const int32_t n = clamp_count(count, s_disks.capacity);
    strbuf_append_lit(sb, "[");
    for (int32_t i = 0; i < n; ++i) {
        const sysmon_disk_info &d = s_disks.items[i];
        if (i > 0) strbuf_append_lit(sb, ",");
        strbuf_append_lit(sb, "{\"name\":\"");
        append_field(sb, d.name);
        strbuf_append_lit(sb, "\",\"mount\":\"");
        append_field(sb, d.mount);
        strbuf_append_lit(sb, "\",\"fs\":\"");
        append_field(sb, d.fs);
        strbuf_append_lit(sb, "\",\"total\":");
        strbuf_append_uint(sb, d.total);
        strbuf_append_lit(sb, ",\"used\":");
        strbuf_append_uint(sb, d.used);
        strbuf_append_lit(sb, ",\"free\":");
        strbuf_append_uint(sb, d.free);
        strbuf_append_lit(sb, ",\"read_bytes_sec\":");
        strbuf_append_uint(sb, d.read_bytes_sec);
        strbuf_append_lit(sb, ",\"write_bytes_sec\":");
        strbuf_append_uint(sb, d.write_bytes_sec);
        strbuf_append_lit(sb, ",\"total_read\":");
        strbuf_append_uint(sb, d.total_read);
        strbuf_append_lit(sb, ",\"total_written\":");
        strbuf_append_uint(sb, d.total_written);
        strbuf_append_lit(sb, ",\"available\":");
        strbuf_append_uint(sb, d.available);
        strbuf_append_lit(sb, "}");
    }
    strbuf_append_lit(sb, "]");
}

void serialize_nets(strbuf *sb, int32_t count) {
    const int32_t n = clamp_count(count, s_nets.capacity);
    strbuf_append_lit(sb, "[");
    for (int32_t i = 0; i < n; ++i) {
        const sysmon_net_info &e = s_nets.items[i];
        if (i > 0) strbuf_append_lit(sb, ",");
        strbuf_append_lit(sb, "{\"name\":\"");
        append_field(sb, e.name);
        strbuf_append_lit(sb, "\",\"ip\":\"");
        append_field(sb, e.ip);
        strbuf_append_lit(sb, "\",\"up_bytes_sec\":");
        strbuf_append_uint(sb, e.up_bytes_sec);
        strbuf_append_lit(sb, ",\"down_bytes_sec\":");
        strbuf_append_uint(sb, e.down_bytes_sec);
        strbuf_append_lit(sb, ",\"total_sent\":");
        strbuf_append_uint(sb, e.total_sent);
        strbuf_append_lit(sb, ",\"total_recv\":");
        strbuf_append_uint(sb, e.total_recv);
        strbuf_append_lit(sb, "}");
    }
    strbuf_append_lit(sb, "]");
}

void serialize_sys(strbuf *sb) {
    strbuf_append_lit(sb, "{\"hostname\":\"");
    append_field(sb, s_sys.hostname);
    strbuf_append_lit(sb, "\",\"os\":\"");
    append_field(sb, s_sys.os);
    strbuf_append_lit(sb, "\",\"kernel\":\"");
    append_field(sb, s_sys.kernel);
    strbuf_append_lit(sb, "\",\"uptime_seconds\":");
    strbuf_append_uint(sb, s_sys.uptime_seconds);
    strbuf_append_lit(sb, ",\"boot_time\":\"");
    append_field(sb, s_sys.boot_time);
    strbuf_append_lit(sb, "\",\"cpu_arch\":\"");
    append_field(sb, s_sys.cpu_arch);
    strbuf_append_lit(sb, "\"}");
}

void serialize_bat(strbuf *sb) {
    if (s_bat.present != 0)
        strbuf_append_lit(sb, "{\"present\":true,\"percent\":");
    else
        strbuf_append_lit(sb, "{\"present\":false,\"percent\":");
    strbuf_append_int(sb, s_bat.percent);
    strbuf_append_lit(sb, ",\"status\":\"");
    append_field(sb, s_bat.status);
    strbuf_append_lit(sb, "\",\"time_remaining_min\":");
    strbuf_append_int(sb, s_bat.time_remaining_min);
    strbuf_append_lit(sb, ",\"power_draw_watts\":");
    append_2(sb, s_bat.power_draw_watts);
    strbuf_append_lit(sb, ",\"health_percent\":");
    strbuf_append_int(sb, s_bat.health_percent);
    strbuf_append_lit(sb, "}");
}

void serialize_proc_fields(strbuf *sb, const sysmon_proc_info *proc) {
    if (proc == nullptr) return;
    strbuf_append_lit(sb, "\"pid\":");
    strbuf_append_int(sb, proc->pid);
    strbuf_append_lit(sb, ",\"name\":\"");
    append_field(sb, proc->name);
    strbuf_append_lit(sb, "\",\"cpu_percent\":");
    append_2(sb, proc->cpu_percent);
    strbuf_append_lit(sb, ",\"memory_bytes\":");
    strbuf_append_uint(sb, proc->memory_bytes);
    strbuf_append_lit(sb, ",\"memory_percent\":");
    append_2(sb, proc->memory_percent);
    strbuf_append_lit(sb, ",\"status\":\"");
    append_field(sb, proc->status);
    strbuf_append_lit(sb, "\",\"command\":\"");
    append_field(sb, proc->command);
    strbuf_append_lit(sb, "\",\"ppid\":");
    strbuf_append_int(sb, proc->ppid);
    strbuf_append_lit(sb, ",\"user\":\"");
    append_field(sb, proc->user);
    strbuf_append_lit(sb, "\",\"threads\":");
    strbuf_append_int(sb, proc->threads);
    strbuf_append_lit(sb, ",\"read_bytes_sec\":");
    strbuf_append_uint(sb, proc->read_bytes_sec);
    strbuf_append_lit(sb, ",\"write_bytes_sec\":");
    strbuf_append_uint(sb, proc->write_bytes_sec);
}
