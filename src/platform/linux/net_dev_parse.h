// /proc/net/dev: per-interface byte counters.
#ifndef VANTOREL_LINUX_NET_DEV_PARSE_H
#define VANTOREL_LINUX_NET_DEV_PARSE_H

#include <cstddef>
#include <cstdint>

struct net_dev_row {
    char name[64];
    uint64_t recv_bytes;
    uint64_t sent_bytes;
};

// Parses one row ("  eth0: <8 receive columns> <8 transmit columns>");
// false for the two header lines and anything else without that shape.
bool parse_net_dev_line(const char *line, size_t len, net_dev_row *out);

#endif  // VANTOREL_LINUX_NET_DEV_PARSE_H
