/*
 * vantorel-sysmon: a small system-monitoring library with a plain C interface.
 *
 * Every reading collects fresh figures from the operating system and returns
 * JSON text.
 *
 * Rates and loads
 *   Figures derived from the growth of counters (processor loads, network and
 *   disk byte rates, process processor shares and I/O rates) span their own
 *   collector's window: the time between two collections of that domain,
 *   never shortened by other queries made in between. A window is at least
 *   100 ms: a reading taken less than 100 ms after the previous collection of
 *   its domain is derived over the window before (so a process tree right
 *   after a snapshot shows the same kind of figures as the snapshot). The
 *   first collection after an initialisation has no window yet and uses the
 *   interval set by sysmon_set_interval; a reading that comes less than
 *   100 ms after that collection waits once for the rest of those 100 ms
 *   (holding the library's lock), so that no figure is derived over less.
 *   The whole-machine load is the mean of the per-processor loads. A
 *   process's processor share is a percentage of one logical processor,
 *   not cut at 100 (200 for a process busy on two). The host sets the rhythm
 *   by how often it calls; a counter that went down gives 0.
 *
 * Numbers
 *   Numbers are written with '.' as the decimal separator and no grouping,
 *   whatever locale the host has set; a value that is not finite is written
 *   as 0.
 *
 * Returned text
 *   Every reading returns a pointer to NUL-terminated JSON text that belongs to
 *   the library. The text is valid UTF-8: names and command lines from the
 *   system are converted (Windows) or have invalid byte sequences replaced
 *   by U+FFFD (Linux), and are cut at a character boundary to fit their
 *   field. The host never frees or changes it. The text stays
 *   valid until the next call of the same function (from any thread) or until
 *   sysmon_cleanup(); texts of different functions are independent. Two
 *   threads that call the same function must not use its text concurrently.
 *   A reading never returns NULL: if its response buffer could not be
 *   allocated, or could not grow to hold the whole document, it returns the
 *   fixed text "{}" (objects) or "[]" (arrays), never a document cut short.
 *
 * Locking
 *   One global lock serialises sysmon_init, sysmon_cleanup,
 *   sysmon_set_process_filter and all twelve readings. sysmon_set_interval,
 *   sysmon_kill_process, sysmon_last_error and sysmon_platform never wait for
 *   it and may be called at any time from any thread.
 *
 * Lifecycle
 *   sysmon_init() is optional: the first reading initialises the library.
 *   sysmon_cleanup() releases the response buffers and the memory the lists
 *   grew to on a big machine, and empties the histories;
 *   a later call initialises again. The process filter, the interval and the
 *   last error message survive a clean-up.
 *
 * No function of this interface lets a C++ exception escape.
 */
#ifndef VANTOREL_SYSMON_H
#define VANTOREL_SYSMON_H

#include <stdint.h>

#if defined(SYSMON_STATIC)
#define SYSMON_API
#elif defined(_WIN32)
#if defined(SYSMON_BUILDING_LIBRARY)
#define SYSMON_API __declspec(dllexport)
#else
#define SYSMON_API __declspec(dllimport)
#endif
#else
#define SYSMON_API __attribute__((visibility("default")))
#endif

/* ---- Version -------------------------------------------------------------- */

#define SYSMON_VERSION_MAJOR 1
#define SYSMON_VERSION_MINOR 0
#define SYSMON_VERSION_PATCH 0
#define SYSMON_VERSION_STRING "1.0.0"

/* ---- Named constants --------------------------------------------------------- */

/* sort_by of sysmon_processes: processor share (busiest first; also any
 * unknown value), memory (largest first), pid (ascending), name (ascending,
 * ignoring letter case). */
#define SYSMON_SORT_CPU 0
#define SYSMON_SORT_MEMORY 1
#define SYSMON_SORT_PID 2
#define SYSMON_SORT_NAME 3

/* metric of sysmon_history. */
#define SYSMON_METRIC_CPU 0             /* processor load, percent */
#define SYSMON_METRIC_MEMORY 1          /* memory in use, percent */
#define SYSMON_METRIC_NET_DOWN 2        /* network receive rate, bytes/s */
#define SYSMON_METRIC_NET_UP 3          /* network send rate, bytes/s */
#define SYSMON_METRIC_DISK_READ 4       /* disk read rate, bytes/s */
#define SYSMON_METRIC_DISK_WRITE 5      /* disk write rate, bytes/s */
#define SYSMON_METRIC_GPU 6             /* GPU load, percent */
#define SYSMON_METRIC_CPU_TEMPERATURE 7 /* processor temperature, degrees C */

/* Results of sysmon_platform. */
#define SYSMON_PLATFORM_WINDOWS 1
#define SYSMON_PLATFORM_LINUX 2

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Lifecycle (take the global lock) ---------------------------------- */

/* Allocates the response buffers, empties the histories and makes a first
 * collection of every domain so that the first rates have a base. Calling it
 * again while initialised does nothing. Always returns 0. */
SYSMON_API int32_t sysmon_init(void);

/* Frees the response buffers (every text returned so far becomes invalid) and
 * the memory the lists grew to, and empties the histories. Harmless before
 * sysmon_init and when repeated. */
SYSMON_API void sysmon_cleanup(void);

/* ---- Configuration ----------------------------------------------------- */

/* Sets the sampling interval in milliseconds (default 1000). It is only used
 * as the window assumed by each domain's first collection after an
 * initialisation; nothing is scheduled. Values of 0 or less are ignored.
 * Takes no lock. */
SYSMON_API void sysmon_set_interval(int32_t interval_ms);

/* Narrows sysmon_processes and sysmon_process_tree to processes whose name or
 * command contains `filter`, ignoring letter case. At most the first 127
 * characters are kept. NULL or "" clears the filter. The snapshot ignores it.
 * Takes the global lock. */
SYSMON_API void sysmon_set_process_filter(const char *filter);

/* ---- Readings (take the global lock; never NULL) ----------------------- */

/* Everything at once: {"cpu":..,"memory":..,"disks":[..],"network":[..],
 * "processes":[50 busiest],"gpu":..,"battery":..,"system":..}. It is the only
 * call that records samples into the histories. Fallback "{}". */
SYSMON_API const char *sysmon_snapshot(void);

/* Processor object; it ends with the cumulative busy and idle seconds
 * (all processors, then each one) that its loads derive from, then
 * "limit_cpus": the processors the calling process may use under its cgroup
 * or job object (0 when nothing limits it). Fallback "{}". */
SYSMON_API const char *sysmon_cpu(void);

/* Memory object (byte counts); it ends with "limit" and "limit_used": the
 * memory limit of the calling process's cgroup or job object and the memory
 * counted against it (both 0 when nothing limits it). Fallback "{}". */
SYSMON_API const char *sysmon_memory(void);

/* Array of fixed and removable volumes, every one the system lists; each
 * ends with the bytes read and written since boot ("total_read",
 * "total_written") and the bytes the calling user can still write
 * ("available", as df shows it). Fallback "[]". */
SYSMON_API const char *sysmon_disks(void);

/* Array of network interfaces with byte rates. Fallback "[]". */
SYSMON_API const char *sysmon_network(void);

/* Array of the processes that pass the filter, sorted by `sort_by`
 * (1 memory, 2 pid, 3 name, anything else processor share) and cut to
 * `limit` entries (limit < 1 lists all). Fallback "[]". */
SYSMON_API const char *sysmon_processes(int32_t limit, int32_t sort_by);

/* The processes that pass the filter as a forest of nodes with a "children"
 * array each, busiest first, at most `limit` roots (limit < 1: no bound).
 * Fallback "[]". */
SYSMON_API const char *sysmon_process_tree(int32_t limit);

/* GPU object: the primary adapter's seven figures, "source" ("nvml", "amdgpu",
 * "i915", "xe", "dxgi"; "none" with placeholder figures when no adapter could
 * be read) and "adapters" (every adapter, primary first, at most 16, each with
 * the seven figures, "source" and "bus_id"). Vendor libraries are loaded and
 * initialised once per initialisation. Fallback "{}". */
SYSMON_API const char *sysmon_gpu(void);

/* System object: host name, product name, kernel, uptime, boot time,
 * architecture. Fallback "{}". */
SYSMON_API const char *sysmon_system(void);

/* Battery object. Fallback "{}". */
SYSMON_API const char *sysmon_battery(void);

/* ---- Histories (take the global lock; never NULL) ---------------------- */

/* The newest `count` samples (at most 300, oldest first) recorded by
 * sysmon_snapshot for one figure: 0 processor load, 1 memory use percent,
 * 2 network receive rate, 3 network send rate, 4 disk read rate, 5 disk write
 * rate, 6 GPU load, 7 processor temperature. An unknown metric or a count of
 * 0 or less gives "[]". Fallback "[]". */
SYSMON_API const char *sysmon_history(int32_t metric, int32_t count);

/* One array of the newest `count` samples per logical processor in use.
 * Fallback "[]". */
SYSMON_API const char *sysmon_cpu_core_history(int32_t count);

/* ---- Control and diagnostics (take no lock) ---------------------------- */

/* Asks the system to end process `pid` with exit code 1; does not wait.
 * Returns 0 on success, -1 on failure with a message for sysmon_last_error. */
SYSMON_API int32_t sysmon_kill_process(int32_t pid);

/* The last error message (at most 511 characters), or "" when no error has
 * occurred since the library was loaded. Nothing clears it. The returned text
 * is a copy private to the calling thread: it stays valid and unchanged until
 * that thread calls sysmon_last_error again. Never NULL. */
SYSMON_API const char *sysmon_last_error(void);

/* The platform code of this build: 1 Windows, 2 Linux. */
SYSMON_API int32_t sysmon_platform(void);

#ifdef __cplusplus
}
#endif

#endif /* VANTOREL_SYSMON_H */
