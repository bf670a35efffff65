#include "gpu_document.h"

#include <cstring>

#include "documents.h"

namespace {

template <size_t N>
void set_text(char (&field)[N], const char *text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}

template <size_t N>
void append_field(strbuf *sb, const char (&field)[N]) {
    strbuf_append_escaped_json_bounded(sb, field, N);
}

}  // namespace

void gpu_primary_from_adapters(sysmon_gpu_info *primary, const sysmon_gpu_info *adapters,
                               int32_t count) {
    if (primary == nullptr) return;
    if (adapters != nullptr && count > 0) {
        *primary = adapters[0];
        return;
    }
    std::memset(primary, 0, sizeof *primary);
    set_text(primary->name, "unknown");
    set_text(primary->driver, "unknown");
    set_text(primary->source, "none");
}

void serialize_gpu_members(strbuf *sb, const sysmon_gpu_info *gpu, bool with_bus_id) {
    if (gpu == nullptr) return;
    strbuf_append_lit(sb, "\"name\":\"");
    append_field(sb, gpu->name);
    strbuf_append_lit(sb, "\",\"usage_percent\":");
    strbuf_append_fixed(sb, gpu->usage_percent, 2);
    strbuf_append_lit(sb, ",\"vram_total\":");
    strbuf_append_uint(sb, gpu->vram_total);
    strbuf_append_lit(sb, ",\"vram_used\":");
    strbuf_append_uint(sb, gpu->vram_used);
    strbuf_append_lit(sb, ",\"temperature_c\":");
    strbuf_append_fixed(sb, gpu->temperature_c, 1);
    strbuf_append_lit(sb, ",\"driver\":\"");
    append_field(sb, gpu->driver);
    strbuf_append_lit(sb, "\",\"power_watts\":");
    strbuf_append_fixed(sb, gpu->power_watts, 1);
    strbuf_append_lit(sb, ",\"source\":\"");
    append_field(sb, gpu->source);
    strbuf_append_lit(sb, "\"");
    if (with_bus_id) {
        strbuf_append_lit(sb, ",\"bus_id\":\"");
        append_field(sb, gpu->bus_id);
        strbuf_append_lit(sb, "\"");
    }
}

void serialize_gpu_adapters(strbuf *sb, const sysmon_gpu_info *adapters, int32_t count) {
    const int32_t n = adapters == nullptr || count < 0 ? 0 : count > SYSMON_MAX_GPUS ? SYSMON_MAX_GPUS : count;
    strbuf_append_lit(sb, "[");
    for (int32_t i = 0; i < n; ++i) {
        if (i > 0) strbuf_append_lit(sb, ",");
        strbuf_append_lit(sb, "{");
        serialize_gpu_members(sb, &adapters[i], true);
        strbuf_append_lit(sb, "}");
    }
    strbuf_append_lit(sb, "]");
}

void serialize_gpu(strbuf *sb) {
    strbuf_append_lit(sb, "{");
    serialize_gpu_members(sb, &s_gpu, false);
    strbuf_append_lit(sb, ",\"adapters\":");
    serialize_gpu_adapters(sb, s_gpus, s_gpus_count);
    strbuf_append_lit(sb, "}");
}
