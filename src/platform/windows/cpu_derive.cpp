#include "cpu_derive.h"

#include <cstring>

#include "counter_rates.h"
#include "text_fields.h"

double derive_cpu_load(uint64_t prev_idle, uint64_t prev_kernel,
                       uint64_t prev_user, uint64_t idle, uint64_t kernel,
                       uint64_t user) {
    const uint64_t idle_diff = counter_growth(idle, prev_idle);
    const uint64_t kernel_diff = counter_growth(kernel, prev_kernel);
    const uint64_t user_diff = counter_growth(user, prev_user);
    const uint64_t total = kernel_diff + user_diff;
    if (total == 0 || total < idle_diff) return 0.0;
    const double load =
        (1.0 - static_cast<double>(idle_diff) / static_cast<double>(total)) *
        100.0;
    return load < 0.0 ? 0.0 : load;
}

void cpu_times_seconds(const idle_kernel_user_times &t, double *busy, double *idle) {
    *busy = static_cast<double>(counter_growth(t.kernel + t.user, t.idle)) * 1e-7;
    *idle = static_cast<double>(t.idle) * 1e-7;
}

namespace {

void copy_core_counters(record_list<idle_kernel_user_times> *to, const idle_kernel_user_times *from,
                        int32_t count) {
    if (count < 0) count = 0;
    record_list_reserve(to, count);
    to->count = count < to->capacity ? count : to->capacity;
    if (to->count > 0) std::memcpy(to->items, from, sizeof *from * static_cast<size_t>(to->count));
}

}  // namespace

void cpu_counters_copy(cpu_counters *to, const cpu_counters *from) {
    if (to == from) return;
    to->has_times = from->has_times;
    to->times = from->times;
    copy_core_counters(&to->cores, from->cores.items, from->cores.count);
}

void derive_cpu(sysmon_cpu_info *cpu, record_list<sysmon_core_info> *processors_listed,
                const cpu_readings *readings, const cpu_counters *prev, cpu_counters *next) {
    record_list<sysmon_core_info> &listed = *processors_listed;
    std::memset(cpu, 0, sizeof *cpu);
    if (listed.items != nullptr && listed.capacity > 0)
        std::memset(listed.items, 0, sizeof *listed.items * static_cast<size_t>(listed.capacity));
    listed.count = 0;

    const uint32_t processors = readings->logical_processors;
    cpu->threads = processors > INT32_MAX ? INT32_MAX
                                          : static_cast<int32_t>(processors);
    const uint32_t cores = readings->physical_cores;
    cpu->cores = cores == 0 ? cpu->threads
                            : cores > INT32_MAX ? INT32_MAX : static_cast<int32_t>(cores);

    if (readings->has_name) {
        // Only plain spaces lead the name in the registry; other white space
        // is kept as it is.
        size_t start = 0;
        while (start < SYSMON_CPU_NAME_BUFFER_SIZE && readings->name[start] == ' ')
            ++start;
        text_field_copy(cpu->name, sizeof cpu->name, readings->name + start,
                        SYSMON_CPU_NAME_BUFFER_SIZE - start);
    }
    if (cpu->name[0] == '\0') text_field_set(cpu->name, "Generic CPU");

    if (readings->has_frequency)
        cpu->frequency_mhz = static_cast<double>(readings->frequency_mhz);

    if (readings->has_times && prev->has_times) {
        const idle_kernel_user_times &a = prev->times;
        const idle_kernel_user_times &b = readings->times;
        cpu->total_usage = derive_cpu_load(a.idle, a.kernel, a.user, b.idle, b.kernel, b.user);
    }

    if (readings->has_times) cpu_times_seconds(readings->times, &cpu->busy_seconds, &cpu->idle_seconds);

    // The processors whose times were read are listed, as many as fit.
    int32_t read = readings->cores != nullptr ? readings->core_count : 0;
    if (read < 0) read = 0;
    record_list_reserve(&listed, read);
    listed.count = read < listed.capacity ? read : listed.capacity;
    for (int32_t i = 0; i < listed.count; ++i) {
        sysmon_core_info &core = listed.items[i];
        cpu_times_seconds(readings->cores[i], &core.busy_seconds, &core.idle_seconds);
        if (i < prev->cores.count) {
            const idle_kernel_user_times &a = prev->cores.items[i];
            const idle_kernel_user_times &b = readings->cores[i];
            core.usage = derive_cpu_load(a.idle, a.kernel, a.user, b.idle, b.kernel, b.user);
        }
    }

    // What was read replaces the stored counters; what was not keeps them,
    // so the next reading spans both collections.
    cpu_counters_copy(next, prev);
    if (readings->has_times) {
        next->has_times = 1;
        next->times = readings->times;
    }
    if (read > 0) copy_core_counters(&next->cores, readings->cores, read);
}

uint32_t derive_cpu_core_records(const void *block, size_t size) {
    const auto *bytes = static_cast<const unsigned char *>(block);
    uint32_t cores = 0;
    size_t at = 0;
    while (bytes != nullptr && at <= size && size - at >= 8) {
        uint32_t relationship, record_size;
        std::memcpy(&relationship, bytes + at, sizeof relationship);
        std::memcpy(&record_size, bytes + at + 4, sizeof record_size);
        if (record_size < 8 || record_size > size - at) break;
        if (relationship == 0) ++cores;
        at += record_size;
    }
    return cores;
}
