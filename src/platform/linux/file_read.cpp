#include "file_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "text_scan.h"

int64_t read_open_file(int fd, char *buffer, size_t size, bool short_read_ends) {
    size_t total = 0;
    bool failed = false;
    while (total < size - 1) {
        const size_t asked = size - 1 - total;
        const ssize_t n = read(fd, buffer + total, asked);
        if (n < 0) {
            if (errno == EINTR) continue;
            failed = total == 0;
            break;
        }
        if (n == 0) break;
        total += static_cast<size_t>(n);
        if (short_read_ends && static_cast<size_t>(n) < asked) break;
    }
    buffer[total] = '\0';
    return failed ? -1 : static_cast<int64_t>(total);
}

int64_t read_file_at(int dir_fd, const char *path, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) return -1;
    buffer[0] = '\0';
    const int fd = openat(dir_fd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    const int64_t n = read_open_file(fd, buffer, size, false);
    close(fd);
    return n;
}

int64_t read_file(const char *path, char *buffer, size_t size) {
    return read_file_at(AT_FDCWD, path, buffer, size);
}

bool join_path(char *out, size_t size, const char *a, const char *b, const char *c) {
    const int n = c != nullptr ? std::snprintf(out, size, "%s/%s/%s", a, b, c)
                               : std::snprintf(out, size, "%s/%s", a, b);
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool read_u64_file(const char *path, uint64_t *value) {
    char text[64];
    const int64_t n = read_file(path, text, sizeof text);
    if (n <= 0) return false;
    const char *p = scan_space(text, text + n);
    return scan_u64(&p, text + n, value);
}

bool read_i64_file(const char *path, int64_t *value) {
    char text[64];
    const int64_t n = read_file(path, text, sizeof text);
    if (n <= 0) return false;
    const char *p = scan_space(text, text + n);
    return scan_i64(&p, text + n, value);
}

bool read_line_file(const char *path, char *out, size_t size) {
    if (size == 0) return false;
    char text[256];
    const int64_t n = read_file(path, text, sizeof text);
    if (n < 0) {
        out[0] = '\0';
        return false;
    }
    const char *p = text;
    text_span line{text, text};
    scan_line(&p, text + n, &line);
    line = span_trim(line);
    size_t len = line.size();
    if (len > size - 1) len = size - 1;
    std::memcpy(out, line.begin, len);
    out[len] = '\0';
    return true;
}
