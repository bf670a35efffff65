#include "pid_files_parse.h"

#include <cstring>

#include "text_scan.h"
#include "text_utf8.h"

#define KERNEL_COMM_CUT 15

bool parse_pid_stat(const char *text, size_t len, pid_stat *out) {
    std::memset(out, 0, sizeof *out);
    if (text == nullptr) return false;
    const char *end = text + len;
    const char *p = text;
    uint64_t pid = 0;
    if (!scan_u64(&p, end, &pid) || pid > INT32_MAX) return false;
    const void *open = std::memchr(p, '(', static_cast<size_t>(end - p));
    if (open == nullptr) return false;
    const char *name = static_cast<const char *>(open) + 1;
    const char *close = nullptr;
    for (const char *c = end; c > name;) {
        --c;
        if (*c == ')') {
            close = c;
            break;
        }
    }
    if (close == nullptr) return false;
    out->pid = static_cast<int32_t>(pid);
    size_t n = static_cast<size_t>(close - name);
    if (n > sizeof out->comm - 1) n = sizeof out->comm - 1;
    std::memcpy(out->comm, name, n);
    out->comm[n] = '\0';
    out->comm_len = n;

    p = scan_blanks(close + 1, end);
    if (p >= end || *p == '\n') return false;
    out->state = *p++;
    // Fields after the state, numbered as in proc(5): 4 ppid ... 14 utime,
    // 15 stime, 20 num_threads, 22 starttime, 24 rss.
    uint64_t fields[25] = {};
    int field = 4;
    for (; field <= 24; ++field) {
        // Signed fields (priority, nice, tpgid) may be negative; none that
        // is used here can be, so a negative value reads as 0.
        const char *q = scan_blanks(p, end);
        const bool negative = q < end && *q == '-';
        if (negative) ++q;
        uint64_t value = 0;
        if (!scan_u64(&q, end, &value)) break;
        fields[field] = negative ? 0 : value;
        p = q;
    }
    if (field <= 20) return false;  // no thread count
    out->ppid = fields[4] > INT32_MAX ? 0 : static_cast<int32_t>(fields[4]);
    out->utime = fields[14];
    out->stime = fields[15];
    out->num_threads = fields[20] > INT32_MAX ? INT32_MAX : static_cast<int32_t>(fields[20]);
    out->start_time = field > 22 ? fields[22] : 0;
    out->rss_pages = field > 24 ? fields[24] : 0;
    return true;
}

bool parse_status_real_uid(const char *text, size_t len, uint32_t *uid) {
    if (text == nullptr) return false;
    const char *p = text;
    const char *end = text + len;
    text_span line, value;
    while (scan_line(&p, end, &line)) {
        if (!span_key_value(line, "Uid", ':', &value)) continue;
        const char *q = value.begin;
        uint64_t v = 0;
        if (!scan_u64(&q, value.end, &v) || v > UINT32_MAX) return false;
        *uid = static_cast<uint32_t>(v);
        return true;
    }
    return false;
}

bool parse_pid_io(const char *text, size_t len, uint64_t *read_bytes, uint64_t *write_bytes) {
    if (text == nullptr) return false;
    bool has_read = false, has_write = false;
    const char *p = text;
    const char *end = text + len;
    text_span line, value;
    while (scan_line(&p, end, &line)) {
        const char *q;
        if (span_key_value(line, "read_bytes", ':', &value)) {
            q = value.begin;
            has_read = scan_u64(&q, value.end, read_bytes);
        } else if (span_key_value(line, "write_bytes", ':', &value)) {
            q = value.begin;
            has_write = scan_u64(&q, value.end, write_bytes);
        }
    }
    return has_read && has_write;
}

bool parse_pid_schedstat(const char *text, size_t len, pid_schedstat *out) {
    std::memset(out, 0, sizeof *out);
    if (text == nullptr) return false;
    const char *p = text;
    const char *end = text + len;
    uint64_t run = 0, wait = 0, slices = 0;
    if (!scan_u64(&p, end, &run)) return false;
    if (p >= end || (*p != ' ' && *p != '\t') || !scan_u64(&p, end, &wait)) return false;
    if (p >= end || (*p != ' ' && *p != '\t') || !scan_u64(&p, end, &slices)) return false;
    p = scan_blanks(p, end);
    if (p < end && *p != '\n') return false;
    out->run_ns = run;
    out->timeslices = slices;
    return true;
}

const char *pid_state_word(char state) {
    switch (state) {
        case 'R': return "running";
        case 'S': return "sleeping";
        case 'D': return "disk-sleep";
        case 'T': return "stopped";
        case 't': return "tracing-stop";
        case 'Z': return "zombie";
        case 'X': return "dead";
        case 'I': return "idle";
        case 'P': return "parked";
        case 'W': return "waking";
        case 'K': return "wake-kill";
        default: return "unknown";
    }
}

void pid_command_and_name(const char *comm, size_t comm_len, const char *cmdline,
                          size_t cmdline_len, char *command, size_t command_size, char *name,
                          size_t name_size) {
    // Trailing NULs (and the padding some programs leave) end the arguments.
    while (cmdline_len > 0 && cmdline[cmdline_len - 1] == '\0') --cmdline_len;

    if (cmdline_len == 0) {
        // Kernel threads and zombies: "[name]".
        if (command_size > 2) {
            command[0] = '[';
            size_t n = utf8_copy_repaired(command + 1, command_size - 2, comm, comm_len);
            command[n + 1] = ']';
            command[n + 2] = '\0';
        } else if (command_size > 0) {
            command[0] = '\0';
        }
        utf8_copy_repaired(name, name_size, comm, comm_len);
        return;
    }

    // Join the arguments: sanitise argument by argument, so a NUL between
    // them becomes a space, and never more than fits.
    size_t out = 0;
    if (command_size > 0) {
        command[0] = '\0';
        const char *p = cmdline;
        const char *end = cmdline + cmdline_len;
        bool first = true;
        while (p <= end && out < command_size - 1) {
            const void *nul = std::memchr(p, '\0', static_cast<size_t>(end - p));
            const char *arg_end = nul != nullptr ? static_cast<const char *>(nul) : end;
            if (!first) {
                command[out++] = ' ';
                command[out] = '\0';
                if (out >= command_size - 1) break;
            }
            out += utf8_copy_repaired(command + out, command_size - out, p, static_cast<size_t>(arg_end - p));
            first = false;
            if (nul == nullptr) break;
            p = arg_end + 1;
        }
    }

    // The name: the task name, or the whole base name of the first argument
    // when the kernel cut the task name.
    const void *nul0 = std::memchr(cmdline, '\0', cmdline_len);
    const char *arg0_end = nul0 != nullptr ? static_cast<const char *>(nul0) : cmdline + cmdline_len;
    const char *base = arg0_end;
    while (base > cmdline && base[-1] != '/') --base;
    const size_t base_len = static_cast<size_t>(arg0_end - base);
    if (comm_len == KERNEL_COMM_CUT && base_len > comm_len && std::memcmp(base, comm, comm_len) == 0)
        utf8_copy_repaired(name, name_size, base, base_len);
    else
        utf8_copy_repaired(name, name_size, comm, comm_len);
}
