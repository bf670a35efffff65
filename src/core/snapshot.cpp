#include "snapshot.h"

#include <cstdlib>

#include "documents.h"
#include "process_view.h"
#include "sysmon_internal.h"

void serialize_snapshot(strbuf *sb) {
    strbuf_append(sb, "{\"cpu\":");
    serialize_cpu(sb);
    strbuf_append(sb, ",\"memory\":");
    serialize_mem(sb);
    strbuf_append(sb, ",\"disks\":");
    serialize_disks(sb, s_disks_count);
    strbuf_append(sb, ",\"network\":");
    serialize_nets(sb, s_nets_count);

    const int32_t n = procs_copy_all();
    std::qsort(s_procs_scratch, static_cast<size_t>(n), sizeof s_procs_scratch[0], cmp_proc_cpu);
    const int32_t listed = n < SYSMON_SNAPSHOT_TOP_PROCS ? n : SYSMON_SNAPSHOT_TOP_PROCS;
    strbuf_append(sb, ",\"processes\":[");
    for (int32_t k = 0; k < listed; ++k) {
        if (k > 0) strbuf_append(sb, ",");
        strbuf_append(sb, "{");
        serialize_proc_fields(sb, &s_procs_scratch[k]);
        strbuf_append(sb, "}");
    }
    strbuf_append(sb, "]");

    strbuf_append(sb, ",\"gpu\":");
    serialize_gpu(sb);
    strbuf_append(sb, ",\"battery\":");
    serialize_bat(sb);
    strbuf_append(sb, ",\"system\":");
    serialize_sys(sb);
    strbuf_append(sb, "}");
}
