// Writers of the per-domain JSON documents. Each appends to the buffer it is
// given (never empties it) and reads the static record of its domain; the
// caller holds the global lock. No whitespace is written anywhere.
#ifndef VANTOREL_DOCUMENTS_H
#define VANTOREL_DOCUMENTS_H

#include <cstdint>

#include "strbuf.h"
#include "sysmon_internal.h"

void serialize_cpu(strbuf *sb);
void serialize_mem(strbuf *sb);
// Arrays of the first `count` entries; a count of 0 or less gives "[]", a
// count above the array's capacity is cut to it.
void serialize_disks(strbuf *sb, int32_t count);
void serialize_nets(strbuf *sb, int32_t count);
// The primary adapter (s_gpu), its source and the adapters (gpu_document.cpp).
void serialize_gpu(strbuf *sb);
void serialize_sys(strbuf *sb);
void serialize_bat(strbuf *sb);
// The members of one process object, without the enclosing braces.
void serialize_proc_fields(strbuf *sb, const sysmon_proc_info *proc);

#endif  // VANTOREL_DOCUMENTS_H
