#include "snapshot.h"

#include "documents.h"
#include "process_view.h"
#include "sysmon_internal.h"

void serialize_snapshot(strbuf *sb) {
    strbuf_append_lit(sb, "{\"cpu\":");
    serialize_cpu(sb);
    strbuf_append_lit(sb, ",\"memory\":");
    serialize_mem(sb);
    strbuf_append_lit(sb, ",\"disks\":");
    serialize_disks(sb, s_disks.count);
    strbuf_append_lit(sb, ",\"network\":");
    serialize_nets(sb, s_nets.count);

    // The records are not copied: their indexes are sorted, busiest first.
    int32_t n = 0;
    const int32_t *order = procs_sorted(false, 0, &n);
    const int32_t listed = n < SYSMON_SNAPSHOT_TOP_PROCS ? n : SYSMON_SNAPSHOT_TOP_PROCS;
    strbuf_append_lit(sb, ",\"processes\":[");
    for (int32_t k = 0; k < listed; ++k) {
        if (k > 0) strbuf_append_lit(sb, ",");
        strbuf_append_lit(sb, "{");
        serialize_proc_fields(sb, &s_procs.items[order[k]]);
        strbuf_append_lit(sb, "}");
    }
    strbuf_append_lit(sb, "]");

    strbuf_append_lit(sb, ",\"gpu\":");
    serialize_gpu(sb);
    strbuf_append_lit(sb, ",\"battery\":");
    serialize_bat(sb);
    strbuf_append_lit(sb, ",\"system\":");
    serialize_sys(sb);
    strbuf_append_lit(sb, "}");
}
