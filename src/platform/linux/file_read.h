// Reading whole small files of /proc and /sys into caller buffers.
#ifndef VANTOREL_LINUX_FILE_READ_H
#define VANTOREL_LINUX_FILE_READ_H

#include <cstddef>
#include <cstdint>

// Reads open descriptor `fd` from its current offset into `buffer` (at most
// size - 1 bytes, size > 0) and NUL-terminates it. Reading stops at the end
// of the file, or, with `short_read_ends`, at the first read that returns
// less than asked: /proc produces a process's files whole on the first read,
// so no further call is needed to see the end. Returns the bytes read, or -1
// when the first read fails.
int64_t read_open_file(int fd, char *buffer, size_t size, bool short_read_ends);

// Reads the file at `path`, relative to directory descriptor `dir_fd` (or
// absolute), into `buffer` (at most size - 1 bytes) and NUL-terminates it.
// Returns the bytes read, or -1 when the file cannot be opened or read.
// A file longer than the buffer is cut.
int64_t read_file_at(int dir_fd, const char *path, char *buffer, size_t size);
// The same for a path alone.
int64_t read_file(const char *path, char *buffer, size_t size);
// Writes "<a>/<b>" (or "<a>/<b>/<c>" when c is not null) into out; false
// when it does not fit.
bool join_path(char *out, size_t size, const char *a, const char *b, const char *c = nullptr);
// Reads a file holding one unsigned decimal number (like sysfs attributes).
bool read_u64_file(const char *path, uint64_t *value);
// Reads a file holding one signed decimal number.
bool read_i64_file(const char *path, int64_t *value);
// Reads a one-line text file into out, without the trailing newline and
// surrounding white space. Returns false when it cannot be read.
bool read_line_file(const char *path, char *out, size_t size);

#endif  // VANTOREL_LINUX_FILE_READ_H
