// /proc/self/mountinfo lines and /proc/diskstats rows.
#ifndef VANTOREL_LINUX_MOUNTINFO_PARSE_H
#define VANTOREL_LINUX_MOUNTINFO_PARSE_H

#include <cstddef>
#include <cstdint>

// One mount, its texts decoded (mountinfo writes space, tab, newline and
// backslash as \040, \011, \012 and \134). Texts are cut to their fields.
struct mount_entry {
    uint32_t major;
    uint32_t minor;
    char mount_point[1024];
    char fs_type[64];
    char source[256];
    char root[1024];           // the part of the file system mounted there
    char super_options[256];   // per-superblock options (cgroup controllers)
};

// Parses one line; false when it does not have the mountinfo shape.
bool parse_mountinfo_line(const char *line, size_t len, mount_entry *out);

// Decodes the octal escapes of a mountinfo field into out (NUL-terminated,
// cut to size - 1 bytes). Returns the bytes written.
size_t decode_mount_escapes(const char *text, size_t len, char *out, size_t size);

// One row of /proc/diskstats.
struct diskstats_row {
    uint32_t major;
    uint32_t minor;
    char name[64];
    uint64_t sectors_read;
    uint64_t sectors_written;
};

// Parses one row; false when it does not have the diskstats shape.
bool parse_diskstats_line(const char *line, size_t len, diskstats_row *out);

#endif  // VANTOREL_LINUX_MOUNTINFO_PARSE_H
