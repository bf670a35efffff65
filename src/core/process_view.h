// The host's views of the process records: the text filter, the filtered and
// sorted copy, the process list and the parent/child tree. Guarded by the
// global lock.
#ifndef VANTOREL_PROCESS_VIEW_H
#define VANTOREL_PROCESS_VIEW_H

#include <cstdint>

#include "strbuf.h"
#include "sysmon_internal.h"

// One "already written" flag per listed process of the tree, by position in
// the sorted list (as many as the last view listed).
extern int32_t *s_procs_visited;
// The process filter: at most 127 characters; empty lists everything.
extern char s_process_filter[SYSMON_FILTER_LEN];

// First place in `text` where `pattern` occurs, ignoring letter case (each
// byte folded with tolower); the text itself for an empty pattern; null
// when there is none. A direct scan; the process filter finds the same
// matches with a shift-and search (process_filter_match).
const char *vt_strcasestr(const char *text, const char *pattern);

// Stores the first 127 characters of `filter`; null or "" clears it.
void process_filter_set(const char *filter);
// Whether a record passes the filter (its name, else its command, contains
// the filter ignoring case, exactly as vt_strcasestr finds it). Linear in the
// length of the fields whatever the filter.
bool process_filter_match(const sysmon_proc_info *proc);

// qsort comparators over sysmon_proc_info.
int cmp_proc_cpu(const void *a, const void *b);  // cpu_percent desc, pid asc
int cmp_proc_mem(const void *a, const void *b);  // memory_bytes desc, pid asc
int cmp_proc_pid(const void *a, const void *b);  // pid asc
int cmp_proc_name(const void *a, const void *b); // name asc, ignoring case

// The comparator of a sort key: 1 memory, 2 pid, 3 name, else processor.
int (*process_comparator(int32_t sort_by))(const void *, const void *);

// The records of s_procs to list, as indexes into s_procs: those passing the
// filter (every record when `filtered` is false), in the order of the
// comparator of `sort_by`. The order is that of a top-down merge sort which
// splits a range at half its length (rounded down) and takes from the first
// half on a tie, applied with the comparator: records that tie keep their
// collection order, and it is the order glibc's qsort gives these
// comparators, whatever their values (NaN included). Points into a work area
// that the next call overwrites; `*count` receives the number listed.
const int32_t *procs_sorted(bool filtered, int32_t sort_by, int32_t *count);

// The process list: filtered, sorted by `sort_by`, cut to `limit` (< 1: all).
void serialize_process_list(strbuf *sb, int32_t limit, int32_t sort_by);
// The process forest: filtered, busiest first, at most `limit` roots
// (< 1: no bound), at most 65 levels deep. Each node lists as children the
// not yet written processes whose ppid is its pid (its own pid excepted), in
// list order; child lists and parent look-ups are prepared once per call.
void serialize_process_tree(strbuf *sb, int32_t limit);

#endif  // VANTOREL_PROCESS_VIEW_H
