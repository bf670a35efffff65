#include "dir_list.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>

#include "text_scan.h"

int32_t list_numbered_entries(const char *dir, const char *prefix, int32_t *numbers,
                              int32_t capacity) {
    DIR *d = opendir(dir);
    if (d == nullptr) return 0;
    const size_t prefix_len = std::strlen(prefix);
    int32_t count = 0;
    while (struct dirent *e = readdir(d)) {
        if (count >= capacity) break;
        const size_t len = std::strlen(e->d_name);
        if (len <= prefix_len || std::strncmp(e->d_name, prefix, prefix_len) != 0) continue;
        const char *p = e->d_name + prefix_len;
        const char *end = e->d_name + len;
        uint64_t n = 0;
        if (*p < '0' || *p > '9' || !scan_u64(&p, end, &n) || p != end || n > INT32_MAX) continue;
        numbers[count++] = static_cast<int32_t>(n);
    }
    closedir(d);
    std::sort(numbers, numbers + count);
    return count;
}

int32_t list_entry_names(const char *dir, char (*names)[DIR_ENTRY_NAME_SIZE], int32_t capacity) {
    DIR *d = opendir(dir);
    if (d == nullptr) return 0;
    int32_t count = 0;
    while (struct dirent *e = readdir(d)) {
        if (count >= capacity) break;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const size_t len = std::strlen(e->d_name);
        if (len >= DIR_ENTRY_NAME_SIZE) continue;
        std::memcpy(names[count], e->d_name, len + 1);
        ++count;
    }
    closedir(d);
    // Insertion sort: these directories hold a handful of entries.
    for (int32_t i = 1; i < count; ++i) {
        char held[DIR_ENTRY_NAME_SIZE];
        std::memcpy(held, names[i], sizeof held);
        int32_t j = i;
        for (; j > 0 && std::strcmp(names[j - 1], held) > 0; --j)
            std::memcpy(names[j], names[j - 1], sizeof held);
        std::memcpy(names[j], held, sizeof held);
    }
    return count;
}
