#include "mountinfo_parse.h"

#include <cstring>

#include "text_scan.h"

namespace {

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// The next blank-separated field.
bool next_field(const char **p, const char *end, text_span *field) {
    const char *q = scan_blanks(*p, end);
    const char *start = q;
    if (!scan_skip_token(&q, end)) return false;
    *field = text_span{start, q};
    *p = q;
    return true;
}

bool parse_dev(text_span field, uint32_t *major, uint32_t *minor) {
    const char *p = field.begin;
    uint64_t a = 0, b = 0;
    if (!scan_u64(&p, field.end, &a) || p >= field.end || *p != ':') return false;
    ++p;
    if (!scan_u64(&p, field.end, &b) || p != field.end) return false;
    if (a > UINT32_MAX || b > UINT32_MAX) return false;
    *major = static_cast<uint32_t>(a);
    *minor = static_cast<uint32_t>(b);
    return true;
}

}  // namespace

size_t decode_mount_escapes(const char *text, size_t len, char *out, size_t size) {
    if (size == 0) return 0;
    size_t n = 0;
    for (size_t i = 0; i < len && n < size - 1; ++i) {
        char c = text[i];
        if (c == '\\' && i + 3 < len && is_octal(text[i + 1]) && is_octal(text[i + 2]) &&
            is_octal(text[i + 3])) {
            const int value = (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            if (value > 0 && value < 256) {
                c = static_cast<char>(value);
                i += 3;
            }
        }
        out[n++] = c;
    }
    out[n] = '\0';
    return n;
}

bool parse_mountinfo_line(const char *line, size_t len, mount_entry *out) {
    std::memset(out, 0, sizeof *out);
    const char *p = line;
    const char *end = line + len;
    text_span id, parent, dev, root, mount_point, field;
    if (!next_field(&p, end, &id) || !next_field(&p, end, &parent) || !next_field(&p, end, &dev) ||
        !next_field(&p, end, &root) || !next_field(&p, end, &mount_point))
        return false;
    if (!parse_dev(dev, &out->major, &out->minor)) return false;
    // Mount options, then optional fields up to the lone "-".
    bool separator = false;
    while (next_field(&p, end, &field)) {
        if (field.size() == 1 && field.begin[0] == '-') {
            separator = true;
            break;
        }
    }
    if (!separator) return false;
    text_span fs, source;
    if (!next_field(&p, end, &fs) || !next_field(&p, end, &source)) return false;
    decode_mount_escapes(mount_point.begin, mount_point.size(), out->mount_point,
                         sizeof out->mount_point);
    decode_mount_escapes(fs.begin, fs.size(), out->fs_type, sizeof out->fs_type);
    decode_mount_escapes(source.begin, source.size(), out->source, sizeof out->source);
    decode_mount_escapes(root.begin, root.size(), out->root, sizeof out->root);
    text_span options;
    if (next_field(&p, end, &options))
        decode_mount_escapes(options.begin, options.size(), out->super_options, sizeof out->super_options);
    return true;
}

bool parse_diskstats_line(const char *line, size_t len, diskstats_row *out) {
    std::memset(out, 0, sizeof *out);
    const char *p = line;
    const char *end = line + len;
    uint64_t major = 0, minor = 0;
    if (!scan_u64(&p, end, &major) || !scan_u64(&p, end, &minor)) return false;
    if (major > UINT32_MAX || minor > UINT32_MAX) return false;
    text_span name;
    if (!next_field(&p, end, &name)) return false;
    // reads completed, reads merged, sectors read, ms reading,
    // writes completed, writes merged, sectors written
    uint64_t v[7] = {};
    for (uint64_t &value : v)
        if (!scan_u64(&p, end, &value)) return false;
    out->major = static_cast<uint32_t>(major);
    out->minor = static_cast<uint32_t>(minor);
    size_t n = name.size() < sizeof out->name - 1 ? name.size() : sizeof out->name - 1;
    std::memcpy(out->name, name.begin, n);
    out->name[n] = '\0';
    out->sectors_read = v[2];
    out->sectors_written = v[6];
    return true;
}
