// Library state and lifecycle, the query frame, the rate windows, the error
// slot and the exported functions. Each reading is thin: frame, collector, writer.
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "documents.h"
#include "gpu_document.h"
#include "history.h"
#include "process_view.h"
#include "runtime_hooks.h"
#include "snapshot.h"
#include "sysmon_internal.h"
#include "vantorel/sysmon.h"

// ---- Metric records (shared with the writers) ------------------------------

sysmon_cpu_info s_cpu;
sysmon_mem_info s_mem;
namespace {
// The lists' first storage; a list that outgrows it moves to the heap until
// clean-up gives it back.
sysmon_core_info s_cores_initial[SYSMON_MAX_CORES];
sysmon_disk_info s_disks_initial[SYSMON_MAX_DISKS];
sysmon_net_info s_nets_initial[SYSMON_MAX_NETS];
sysmon_proc_info s_procs_initial[SYSMON_MAX_PROCS];
}  // namespace
record_list<sysmon_core_info> s_cores{s_cores_initial, 0, SYSMON_MAX_CORES, 0};
record_list<sysmon_disk_info> s_disks{s_disks_initial, 0, SYSMON_MAX_DISKS, 0};
record_list<sysmon_net_info> s_nets{s_nets_initial, 0, SYSMON_MAX_NETS, 0};
record_list<sysmon_proc_info> s_procs{s_procs_initial, 0, SYSMON_MAX_PROCS, 0};
sysmon_gpu_info s_gpu;
sysmon_gpu_info s_gpus[SYSMON_MAX_GPUS];
int32_t s_gpus_count;
sysmon_battery_info s_bat;
sysmon_system_info s_sys;

// ---- Response buffers, one per reading -------------------------------------
// Absent until the first initialisation; released by clean-up.

strbuf s_buf_snapshot;
strbuf s_buf_cpu;
strbuf s_buf_mem;
strbuf s_buf_disks;
strbuf s_buf_nets;
strbuf s_buf_procs;
strbuf s_buf_tree;
strbuf s_buf_gpu;
strbuf s_buf_sys;
strbuf s_buf_bat;
strbuf s_buf_history;
strbuf s_buf_core_history;

namespace {

struct response_buffer {
    strbuf *buffer;
    size_t initial_capacity;
};

// In the order initialisation allocates and clean-up releases them.
const response_buffer kResponseBuffers[] = {
    {&s_buf_snapshot, 65536}, {&s_buf_cpu, 4096},     {&s_buf_mem, 1024},
    {&s_buf_disks, 4096},     {&s_buf_nets, 4096},    {&s_buf_procs, 32768},
    {&s_buf_tree, 32768},     {&s_buf_gpu, 1024},     {&s_buf_sys, 1024},
    {&s_buf_bat, 1024},       {&s_buf_history, 4096}, {&s_buf_core_history, 16384},
};

// ---- Library-wide state ------------------------------------------------------

// Serialises initialisation, clean-up, the filter and every reading, and
// guards every record, buffer, ring and collector static.
pthread_mutex_t s_mutex = PTHREAD_MUTEX_INITIALIZER;
int32_t s_initialized = 0;
// Stands in for the missing window of each collector's first collection
// after an initialisation; set without the lock, hence atomic.
std::atomic<int32_t> s_interval_ms{1000};
// The baselines of every collector that derives from counter growth: each
// one's rates span its own window.
rate_window s_window_cpu;
rate_window s_window_disks;
rate_window s_window_net;
rate_window s_window_procs;
rate_window s_window_gpu;

// The error slot has a lock of its own so that sysmon_kill_process and
// sysmon_last_error never wait for a running reading.
pthread_mutex_t s_error_mutex = PTHREAD_MUTEX_INITIALIZER;
char s_last_error[SYSMON_ERROR_LEN];

// Reads the clock and plans the window of a collection that starts now,
// first waiting out the rest of the 100 ms after an initialisation's
// collection (a wait cut short by a signal is resumed, a few times at most).
sysmon_window plan_window(rate_window *w) {
    sysmon_instant now{};
    s_hooks.monotonic_now(&now);
    for (int tries = 0; tries < 4; ++tries) {
        const int64_t wait = rate_window_wait_ns(w, now);
        if (wait <= 0) break;
        s_hooks.sleep_ns(wait);
        s_hooks.monotonic_now(&now);
    }
    return rate_window_plan(w, now, s_interval_ms.load(std::memory_order_relaxed));
}

// The whole-machine load is the mean of the loads of the processors listed,
// so that the two never disagree (the platform's own total may count other
// ticks, and a list cut short by a failed growth leaves processors out).
void collect_cpu() {
    const sysmon_window window = plan_window(&s_window_cpu);
    sysmon_collect_cpu(&s_cpu, &s_cores, &window);
    const int32_t n = s_cores.count < s_cores.capacity ? s_cores.count : s_cores.capacity;
    if (n <= 0) return;
    double sum = 0.0;
    // A load that is not a number is written as 0 and counts as 0.
    for (int32_t i = 0; i < n; ++i) {
        const double usage = s_cores.items[i].usage;
        sum += std::isfinite(usage) ? usage : 0.0;
    }
    s_cpu.total_usage = sum / n;
}

void collect_disks() {
    const sysmon_window window = plan_window(&s_window_disks);
    sysmon_collect_disks(&s_disks, &window);
}

void collect_network() {
    const sysmon_window window = plan_window(&s_window_net);
    sysmon_collect_network(&s_nets, &window);
}

// The process share of memory uses the latest memory total collected. A
// processor share is at most every logical processor kept busy: a collector
// reads a process's counters during its sweep, a little apart from the
// instants that the window spans, and in whole clock ticks, so a process
// that keeps every processor busy could otherwise read a few percent more.
void collect_processes() {
    const sysmon_window window = plan_window(&s_window_procs);
    sysmon_collect_processes(&s_procs, &window, s_mem.total);
    const double most = 100.0 * s_cpu.threads;
    if (!(most > 0.0)) return;
    // Only entries the list holds, whatever count a collector left behind.
    const int32_t n = s_procs.count < s_procs.capacity ? s_procs.count : s_procs.capacity;
    for (int32_t i = 0; i < n; ++i)
        if (s_procs.items[i].cpu_percent > most) s_procs.items[i].cpu_percent = most;
}

// The adapters, and the primary (or the placeholder) in s_gpu.
void collect_gpu() {
    const sysmon_window window = plan_window(&s_window_gpu);
    sysmon_collect_gpu(s_gpus, &s_gpus_count, SYSMON_MAX_GPUS, &window);
    gpu_primary_from_adapters(&s_gpu, s_gpus, s_gpus_count);
}

// Collects every domain once, in the fixed order shared by initialisation and
// the snapshot.
void collect_all_domains() {
    collect_cpu();
    sysmon_collect_mem(&s_mem);
    collect_disks();
    collect_network();
    collect_processes();
    collect_gpu();
    sysmon_collect_battery(&s_bat);
    sysmon_collect_system(&s_sys);
}

// Initialisation, run with s_mutex held (and kept held, so that no clean-up
// can slip in between it and the query that triggered it).
void initialise_locked() {
    for (const response_buffer &rb : kResponseBuffers) strbuf_init(rb.buffer, rb.initial_capacity);
    history_clear();
    rate_window_reset(&s_window_cpu);
    rate_window_reset(&s_window_disks);
    rate_window_reset(&s_window_net);
    rate_window_reset(&s_window_procs);
    rate_window_reset(&s_window_gpu);
    sysmon_platform_init();
    collect_all_domains();
    s_initialized = 1;
    history_note_processors(s_cores.count);
}

// The query frame: take the lock, initialising first when needed ...
void frame_enter() {
    pthread_mutex_lock(&s_mutex);
    if (s_initialized == 0) initialise_locked();
}

// ... and release it, handing out the buffer's text, or the fallback when
// the buffer is absent or the document could not be written whole (a
// growth that failed midway would otherwise hand out broken JSON).
const char *frame_leave(const strbuf *own_buffer, const char *fallback) {
    const char *result =
        own_buffer->data != nullptr && !own_buffer->incomplete ? own_buffer->data : fallback;
    pthread_mutex_unlock(&s_mutex);
    return result;
}

}  // namespace

// ---- Error slot ---------------------------------------------------------------

void sysmon_set_error(const char *fmt, ...) {
    // Format outside the lock; the lock only covers the copy, so a reader
    // never sees half a message.
    char message[SYSMON_ERROR_LEN];
    va_list args;
    va_start(args, fmt);
    const int r = std::vsnprintf(message, sizeof message, fmt, args);
    va_end(args);
    if (r < 0) return;
    message[sizeof message - 1] = '\0';
    pthread_mutex_lock(&s_error_mutex);
    std::memcpy(s_last_error, message, sizeof message);
    pthread_mutex_unlock(&s_error_mutex);
}

// ---- Exported functions ----------------------------------------------------

extern "C" {

int32_t sysmon_init(void) {
    pthread_mutex_lock(&s_mutex);
    if (s_initialized == 0) initialise_locked();
    pthread_mutex_unlock(&s_mutex);
    return 0;
}

void sysmon_cleanup(void) {
    pthread_mutex_lock(&s_mutex);
    if (s_initialized != 0) {
        for (const response_buffer &rb : kResponseBuffers) strbuf_free(rb.buffer);
        history_clear();
        record_list_release(&s_cores, s_cores_initial, SYSMON_MAX_CORES);
        record_list_release(&s_disks, s_disks_initial, SYSMON_MAX_DISKS);
        record_list_release(&s_nets, s_nets_initial, SYSMON_MAX_NETS);
        record_list_release(&s_procs, s_procs_initial, SYSMON_MAX_PROCS);
        sysmon_platform_shutdown();
        s_initialized = 0;
    }
    pthread_mutex_unlock(&s_mutex);
}

void sysmon_set_interval(int32_t interval_ms) {
    if (interval_ms > 0) s_interval_ms.store(interval_ms, std::memory_order_relaxed);
}

void sysmon_set_process_filter(const char *filter) {
    pthread_mutex_lock(&s_mutex);
    process_filter_set(filter);
    pthread_mutex_unlock(&s_mutex);
}

const char *sysmon_snapshot(void) {
    frame_enter();
    collect_all_domains();
    history_record_snapshot();
    strbuf_reset(&s_buf_snapshot);
    serialize_snapshot(&s_buf_snapshot);
    return frame_leave(&s_buf_snapshot, "{}");
}

const char *sysmon_cpu(void) {
    frame_enter();
    collect_cpu();
    strbuf_reset(&s_buf_cpu);
    serialize_cpu(&s_buf_cpu);
    return frame_leave(&s_buf_cpu, "{}");
}

const char *sysmon_memory(void) {
    frame_enter();
    sysmon_collect_mem(&s_mem);
    strbuf_reset(&s_buf_mem);
    serialize_mem(&s_buf_mem);
    return frame_leave(&s_buf_mem, "{}");
}

const char *sysmon_disks(void) {
    frame_enter();
    collect_disks();
    strbuf_reset(&s_buf_disks);
    serialize_disks(&s_buf_disks, s_disks.count);
    return frame_leave(&s_buf_disks, "[]");
}

const char *sysmon_network(void) {
    frame_enter();
    collect_network();
    strbuf_reset(&s_buf_nets);
    serialize_nets(&s_buf_nets, s_nets.count);
    return frame_leave(&s_buf_nets, "[]");
}

const char *sysmon_processes(int32_t limit, int32_t sort_by) {
    frame_enter();
    collect_processes();
    strbuf_reset(&s_buf_procs);
    serialize_process_list(&s_buf_procs, limit, sort_by);
    return frame_leave(&s_buf_procs, "[]");
}

const char *sysmon_process_tree(int32_t limit) {
    frame_enter();
    collect_processes();
    strbuf_reset(&s_buf_tree);
    serialize_process_tree(&s_buf_tree, limit);
    return frame_leave(&s_buf_tree, "[]");
}

const char *sysmon_gpu(void) {
    frame_enter();
    collect_gpu();
    strbuf_reset(&s_buf_gpu);
    serialize_gpu(&s_buf_gpu);
    return frame_leave(&s_buf_gpu, "{}");
}

const char *sysmon_system(void) {
    frame_enter();
    sysmon_collect_system(&s_sys);
    strbuf_reset(&s_buf_sys);
    serialize_sys(&s_buf_sys);
    return frame_leave(&s_buf_sys, "{}");
}

const char *sysmon_battery(void) {
    frame_enter();
    sysmon_collect_battery(&s_bat);
    strbuf_reset(&s_buf_bat);
    serialize_bat(&s_buf_bat);
    return frame_leave(&s_buf_bat, "{}");
}

const char *sysmon_history(int32_t metric, int32_t count) {
    frame_enter();
    strbuf_reset(&s_buf_history);
    serialize_metric_history(&s_buf_history, metric, count);
    return frame_leave(&s_buf_history, "[]");
}

const char *sysmon_cpu_core_history(int32_t count) {
    frame_enter();
    strbuf_reset(&s_buf_core_history);
    serialize_core_history(&s_buf_core_history, count);
    return frame_leave(&s_buf_core_history, "[]");
}

int32_t sysmon_kill_process(int32_t pid) {
    if (pid <= 0) {
        sysmon_set_error("Invalid pid: %d", pid);
        return -1;
    }
    unsigned long error_code = 0;
    switch (sysmon_platform_terminate(pid, &error_code)) {
        case SYSMON_TERMINATE_OK:
            return 0;
        case SYSMON_TERMINATE_OPEN_FAILED:
            sysmon_set_error("OpenProcess(%d) failed: %lu", pid, error_code);
            return -1;
        case SYSMON_TERMINATE_SIGNAL_FAILED: {
            char reason[256] = "";
            sysmon_platform_error_text(error_code, reason, sizeof reason);
            sysmon_set_error("kill(%d) failed: %lu (%s)", pid, error_code, reason);
            return -1;
        }
        case SYSMON_TERMINATE_REFUSED:
        default:
            sysmon_set_error("TerminateProcess(%d) failed: %lu", pid, error_code);
            return -1;
    }
}

const char *sysmon_last_error(void) {
    // Each thread gets its own copy, so a message being written by another
    // thread can never tear the text a caller is reading.
    static thread_local char copy[SYSMON_ERROR_LEN];
    pthread_mutex_lock(&s_error_mutex);
    std::memcpy(copy, s_last_error, sizeof copy);
    pthread_mutex_unlock(&s_error_mutex);
    return copy;
}

int32_t sysmon_platform(void) { return sysmon_platform_code(); }

}  // extern "C"
