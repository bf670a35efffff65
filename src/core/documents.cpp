#include "documents.h"

namespace {

using ull = unsigned long long;

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

}  // namespace

void serialize_cpu(strbuf *sb) {
    strbuf_append(sb, "{\"name\":\"");
    append_field(sb, s_cpu.name);
    strbuf_printf(sb,
                  "\",\"cores\":%d,\"threads\":%d,\"total_usage\":%.2f,"
                  "\"frequency_mhz\":%.1f,\"per_core\":[",
                  s_cpu.cores, s_cpu.threads, s_cpu.total_usage, s_cpu.frequency_mhz);
    const int32_t n = clamp_count(s_cpu.per_core_count, SYSMON_MAX_CORES);
    for (int32_t i = 0; i < n; ++i) {
        if (i > 0) strbuf_append(sb, ",");
        strbuf_printf(sb, "%.2f", s_cpu.per_core[i]);
    }
    strbuf_printf(sb, "],\"temperature_c\":%.1f}", s_cpu.temperature_c);
}

void serialize_mem(strbuf *sb) {
    strbuf_printf(sb,
                  "{\"total\":%llu,\"used\":%llu,\"available\":%llu,\"cached\":%llu,"
                  "\"swap_total\":%llu,\"swap_used\":%llu}",
                  static_cast<ull>(s_mem.total), static_cast<ull>(s_mem.used),
                  static_cast<ull>(s_mem.available), static_cast<ull>(s_mem.cached),
                  static_cast<ull>(s_mem.swap_total), static_cast<ull>(s_mem.swap_used));
}

void serialize_disks(strbuf *sb, int32_t count) {
    const int32_t n = clamp_count(count, SYSMON_MAX_DISKS);
    strbuf_append(sb, "[");
    for (int32_t i = 0; i < n; ++i) {
        const sysmon_disk_info &d = s_disks[i];
        if (i > 0) strbuf_append(sb, ",");
        strbuf_append(sb, "{\"name\":\"");
        append_field(sb, d.name);
        strbuf_append(sb, "\",\"mount\":\"");
        append_field(sb, d.mount);
        strbuf_append(sb, "\",\"fs\":\"");
        append_field(sb, d.fs);
        strbuf_printf(sb,
                      "\",\"total\":%llu,\"used\":%llu,\"free\":%llu,"
                      "\"read_bytes_sec\":%llu,\"write_bytes_sec\":%llu}",
                      static_cast<ull>(d.total), static_cast<ull>(d.used),
                      static_cast<ull>(d.free), static_cast<ull>(d.read_bytes_sec),
                      static_cast<ull>(d.write_bytes_sec));
    }
    strbuf_append(sb, "]");
}

void serialize_nets(strbuf *sb, int32_t count) {
    const int32_t n = clamp_count(count, SYSMON_MAX_NETS);
    strbuf_append(sb, "[");
    for (int32_t i = 0; i < n; ++i) {
        const sysmon_net_info &e = s_nets[i];
        if (i > 0) strbuf_append(sb, ",");
        strbuf_append(sb, "{\"name\":\"");
        append_field(sb, e.name);
        strbuf_append(sb, "\",\"ip\":\"");
        append_field(sb, e.ip);
        strbuf_printf(sb,
                      "\",\"up_bytes_sec\":%llu,\"down_bytes_sec\":%llu,"
                      "\"total_sent\":%llu,\"total_recv\":%llu}",
                      static_cast<ull>(e.up_bytes_sec), static_cast<ull>(e.down_bytes_sec),
                      static_cast<ull>(e.total_sent), static_cast<ull>(e.total_recv));
    }
    strbuf_append(sb, "]");
}

void serialize_gpu(strbuf *sb) {
    strbuf_append(sb, "{\"name\":\"");
    append_field(sb, s_gpu.name);
    strbuf_printf(sb,
                  "\",\"usage_percent\":%.2f,\"vram_total\":%llu,\"vram_used\":%llu,"
                  "\"temperature_c\":%.1f,\"driver\":\"",
                  s_gpu.usage_percent, static_cast<ull>(s_gpu.vram_total),
                  static_cast<ull>(s_gpu.vram_used), s_gpu.temperature_c);
    append_field(sb, s_gpu.driver);
    strbuf_printf(sb, "\",\"power_watts\":%.1f}", s_gpu.power_watts);
}

void serialize_sys(strbuf *sb) {
    strbuf_append(sb, "{\"hostname\":\"");
    append_field(sb, s_sys.hostname);
    strbuf_append(sb, "\",\"os\":\"");
    append_field(sb, s_sys.os);
    strbuf_append(sb, "\",\"kernel\":\"");
    append_field(sb, s_sys.kernel);
    strbuf_printf(sb, "\",\"uptime_seconds\":%llu,\"boot_time\":\"",
                  static_cast<ull>(s_sys.uptime_seconds));
    append_field(sb, s_sys.boot_time);
    strbuf_append(sb, "\",\"cpu_arch\":\"");
    append_field(sb, s_sys.cpu_arch);
    strbuf_append(sb, "\"}");
}

void serialize_bat(strbuf *sb) {
    strbuf_printf(sb, "{\"present\":%s,\"percent\":%d,\"status\":\"",
                  s_bat.present != 0 ? "true" : "false", s_bat.percent);
    append_field(sb, s_bat.status);
    strbuf_printf(sb,
                  "\",\"time_remaining_min\":%d,\"power_draw_watts\":%.2f,"
                  "\"health_percent\":%d}",
                  s_bat.time_remaining_min, s_bat.power_draw_watts, s_bat.health_percent);
}

void serialize_proc_fields(strbuf *sb, const sysmon_proc_info *proc) {
    if (proc == nullptr) return;
    strbuf_printf(sb, "\"pid\":%d,\"name\":\"", proc->pid);
    append_field(sb, proc->name);
    strbuf_printf(sb,
                  "\",\"cpu_percent\":%.2f,\"memory_bytes\":%llu,"
                  "\"memory_percent\":%.2f,\"status\":\"",
                  proc->cpu_percent, static_cast<ull>(proc->memory_bytes),
                  proc->memory_percent);
    append_field(sb, proc->status);
    strbuf_append(sb, "\",\"command\":\"");
    append_field(sb, proc->command);
    strbuf_printf(sb, "\",\"ppid\":%d,\"user\":\"", proc->ppid);
    append_field(sb, proc->user);
    strbuf_printf(sb, "\",\"threads\":%d,\"read_bytes_sec\":%llu,\"write_bytes_sec\":%llu",
                  proc->threads, static_cast<ull>(proc->read_bytes_sec),
                  static_cast<ull>(proc->write_bytes_sec));
}
