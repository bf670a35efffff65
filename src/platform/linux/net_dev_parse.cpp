#include "net_dev_parse.h"

#include <cstring>

#include "text_scan.h"

bool parse_net_dev_line(const char *line, size_t len, net_dev_row *out) {
    std::memset(out, 0, sizeof *out);
    const char *end = line + len;
    const char *name = scan_blanks(line, end);
    // Interface names hold no colon, blank or slash: the first colon ends it.
    const void *colon = std::memchr(name, ':', static_cast<size_t>(end - name));
    if (colon == nullptr) return false;
    const char *name_end = static_cast<const char *>(colon);
    if (name_end == name) return false;
    for (const char *c = name; c < name_end; ++c)
        if (*c == ' ' || *c == '\t' || *c == '|') return false;
    const char *p = name_end + 1;
    uint64_t v[9] = {};
    for (uint64_t &value : v)
        if (!scan_u64(&p, end, &value)) return false;
    size_t n = static_cast<size_t>(name_end - name);
    if (n > sizeof out->name - 1) n = sizeof out->name - 1;
    std::memcpy(out->name, name, n);
    out->name[n] = '\0';
    out->recv_bytes = v[0];
    out->sent_bytes = v[8];
    return true;
}
