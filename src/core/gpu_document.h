// The GPU document: the primary adapter's figures, where they come from, and
// every adapter found. Guarded by the global lock like every record.
#ifndef VANTOREL_GPU_DOCUMENT_H
#define VANTOREL_GPU_DOCUMENT_H

#include <cstdint>

#include "strbuf.h"
#include "sysmon_internal.h"

// The primary adapter is the first one collected; with none, the placeholder
// (name and driver "unknown", every number 0, source "none", no bus id).
void gpu_primary_from_adapters(sysmon_gpu_info *primary, const sysmon_gpu_info *adapters,
                               int32_t count);

// The members of one adapter object without its braces: the seven figures,
// then "source"; with `with_bus_id`, then "bus_id".
void serialize_gpu_members(strbuf *sb, const sysmon_gpu_info *gpu, bool with_bus_id);

// The adapters array of the first `count` entries of `adapters` (a count of
// 0 or less gives "[]", one above SYSMON_MAX_GPUS is cut to it).
void serialize_gpu_adapters(strbuf *sb, const sysmon_gpu_info *adapters, int32_t count);

#endif  // VANTOREL_GPU_DOCUMENT_H
