// Listing the entries of small /sys directories in a stable order.
#ifndef VANTOREL_LINUX_DIR_LIST_H
#define VANTOREL_LINUX_DIR_LIST_H

#include <cstdint>

#define DIR_ENTRY_NAME_SIZE 64

// Numbers N of the entries named "<prefix>N" in `dir`, ascending. Returns how
// many were stored (at most `capacity`); 0 when the directory is missing.
int32_t list_numbered_entries(const char *dir, const char *prefix, int32_t *numbers,
                              int32_t capacity);

// Names of the entries of `dir` (no "." or ".."; names that do not fit are
// skipped) in byte order. Returns how many were stored.
int32_t list_entry_names(const char *dir, char (*names)[DIR_ENTRY_NAME_SIZE], int32_t capacity);

#endif  // VANTOREL_LINUX_DIR_LIST_H
