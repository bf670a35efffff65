// Reference versions of the process views and of the documents built from
// them, written the straightforward way: a filter that compares byte by byte
// at every position, records copied and sorted whole, a tree that scans the
// whole list for every node's children and every root's parent, numbers
// through printf and escaping byte by byte. Slow on purpose and easy to
// check by reading; the differential tests compare the library's writers
// with them byte for byte, and the benchmarks measure against them.
//
// They read the same records and settings as the library (s_procs,
// s_process_filter, s_cpu, the rings, ...) and use their own work areas.
// Numbers follow the C locale of the moment, like printf: call them only
// while the C locale is in force.
#ifndef VANTOREL_TESTS_ORACLE_VIEWS_H
#define VANTOREL_TESTS_ORACLE_VIEWS_H

#include <cstddef>
#include <cstdint>

#include "strbuf.h"
#include "sysmon_internal.h"

namespace oracle {

// Deliberate faults, for showing that the differential tests notice a wrong
// byte. Faults::none everywhere except in the tests that plant one.
enum class fault {
    none,
    depth_limit_63,     // the tree stops one level early
    name_ties_reversed, // records with equal names come out in reverse order
    filter_skips_command,
    round_half_up,      // "%.2f" ties rounded away from zero in history
    orphan_not_root,    // a process whose parent is not listed is not a root
};
extern fault planted;

// First place in `text` where `pattern` occurs, ignoring case (tolower of
// each byte at every comparison); the text itself for an empty pattern.
const char *strcasestr(const char *text, const char *pattern);

// The process list of sysmon_processes, from s_procs / s_procs.count and the
// filter in s_process_filter.
void process_list(strbuf *sb, int32_t limit, int32_t sort_by);
// The process forest of sysmon_process_tree.
void process_tree(strbuf *sb, int32_t limit);
// The document of sysmon_snapshot from the records as they are (nothing is
// collected or recorded).
void snapshot(strbuf *sb);
// The histories of sysmon_history and sysmon_cpu_core_history.
void metric_history(strbuf *sb, int32_t metric, int32_t n);
void core_history(strbuf *sb, int32_t n);

// Sorts `count` records with a qsort comparator: the order of a top-down
// merge sort that halves the range (first half n/2) and takes from the
// first half on ties, which is what glibc's qsort does (it sorts pointers
// with merge sort when the records are large, then moves the records).
void sort_records(sysmon_proc_info *records, size_t count,
                  int (*compare)(const void *, const void *));

// The qsort comparators, as the library had them.
int cmp_cpu(const void *a, const void *b);
int cmp_mem(const void *a, const void *b);
int cmp_pid(const void *a, const void *b);
int cmp_name(const void *a, const void *b);

}  // namespace oracle

#endif  // VANTOREL_TESTS_ORACLE_VIEWS_H
