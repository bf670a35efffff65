/*
 * sysmon-demo: a tiny host for vantorel-sysmon (vantorel-sysmon.dll on
 * Windows, libvantorel-sysmon.so.1 on Linux). It loads the library at run
 * time, as any host would, calls one query and prints its JSON document.
 *
 *   sysmon-demo [options] [command [arguments]]     (see usage() below)
 */
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#endif

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int32_t (*fn_int_void)(void);
typedef void (*fn_void_void)(void);
typedef void (*fn_void_text)(const char *);
typedef const char *(*fn_text_void)(void);
typedef const char *(*fn_text_int)(int32_t);
typedef const char *(*fn_text_int_int)(int32_t, int32_t);
typedef int32_t (*fn_int_int)(int32_t);

struct library {
    fn_int_void init;
    fn_void_void cleanup;
    fn_void_text set_process_filter;
    fn_text_void snapshot, cpu, memory, disks, network, gpu, system, battery, last_error;
    fn_text_int_int processes, history;
    fn_text_int process_tree, cpu_core_history;
    fn_int_int kill_process;
    fn_int_void platform;
};

static void usage(FILE *out) {
    fputs("usage: sysmon-demo [options] [command [arguments]]\n"
          "\n"
          "commands (default: snapshot):\n"
          "  snapshot                  every domain at once, with the 50 busiest processes\n"
          "  cpu | memory | disks | network | gpu | system | battery\n"
          "  processes [limit [sort]]  limit < 1: all; sort 0 cpu, 1 memory, 2 pid, 3 name\n"
          "  tree [limit]              process tree, at most `limit` roots (< 1: all)\n"
          "  history <metric> [count]  metric 0 cpu, 1 memory, 2 net down, 3 net up,\n"
          "                            4 disk read, 5 disk write, 6 gpu, 7 cpu temperature\n"
          "  core-history [count]      per-processor load history\n"
          "  kill <pid>                end a process (exit code 1)\n"
          "  platform                  the library's platform code\n"
          "\n"
          "options:\n"
          "  --filter TEXT             show only processes whose name or command contains TEXT\n"
          "  --samples N               take N snapshots first, to fill the histories\n"
          "                            (default 0; 3 for history and core-history)\n"
          "  --interval MS             pause between readings (default 1000): loads and\n"
          "                            rates cover the time between two readings\n"
          "  --help                    this text\n",
          out);
}

/* Parses a whole decimal int32; returns 0 on success. */
static int parse_int(const char *text, int32_t *value) {
    char *end = NULL;
    long long parsed;
    errno = 0;
    parsed = strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) {
        return -1;
    }
    *value = (int32_t)parsed;
    return 0;
}

#ifdef _WIN32
#define SYSMON_LIBRARY_NAME "vantorel-sysmon.dll"
typedef HMODULE module_handle;

static void (*find_symbol(module_handle module, const char *name))(void) {
    /* FARPROC to a plain function pointer without -Wcast-function-type noise. */
    return (void (*)(void))GetProcAddress(module, name);
}

static module_handle open_library(void) {
    HMODULE module = LoadLibraryA(SYSMON_LIBRARY_NAME);
    if (module == NULL) {
        fprintf(stderr, "sysmon-demo: cannot load " SYSMON_LIBRARY_NAME " (error %lu)\n",
                (unsigned long)GetLastError());
    }
    return module;
}

static void pause_ms(int32_t ms) { Sleep((DWORD)ms); }
#else
/* Found through the dynamic loader's search path (LD_LIBRARY_PATH, the
 * demo's run path, the system directories). */
#define SYSMON_LIBRARY_NAME "libvantorel-sysmon.so.1"
typedef void *module_handle;

static void (*find_symbol(module_handle module, const char *name))(void) {
    void (*fn)(void) = NULL;
    void *symbol = dlsym(module, name);
    /* POSIX guarantees that a data pointer from dlsym converts to a function
     * pointer; copying the bytes says so without a cast warning. */
    memcpy(&fn, &symbol, sizeof fn);
    return fn;
}

static module_handle open_library(void) {
    void *module = dlopen(SYSMON_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) {
        const char *reason = dlerror();
        fprintf(stderr, "sysmon-demo: cannot load " SYSMON_LIBRARY_NAME " (%s)\n",
                reason != NULL ? reason : "unknown error");
    }
    return module;
}

static void pause_ms(int32_t ms) {
    struct timespec delay;
    delay.tv_sec = ms / 1000;
    delay.tv_nsec = (long)(ms % 1000) * 1000000L;
    while (nanosleep(&delay, &delay) != 0) {
    }
}
#endif

static void (*lookup(module_handle module, const char *name, int *missing))(void) {
    void (*fn)(void) = find_symbol(module, name);
    if (fn == NULL) {
        fprintf(stderr, "sysmon-demo: %s is not exported by " SYSMON_LIBRARY_NAME "\n", name);
        *missing = 1;
    }
    return fn;
}

#define LOOKUP(lib, field, type, name) ((lib)->field = (type)lookup(module, name, &missing))

static int load_library(struct library *lib) {
    int missing = 0;
    module_handle module = open_library();
    if (module == NULL) return -1;
    LOOKUP(lib, init, fn_int_void, "sysmon_init");
    LOOKUP(lib, cleanup, fn_void_void, "sysmon_cleanup");
    LOOKUP(lib, set_process_filter, fn_void_text, "sysmon_set_process_filter");
    LOOKUP(lib, snapshot, fn_text_void, "sysmon_snapshot");
    LOOKUP(lib, cpu, fn_text_void, "sysmon_cpu");
    LOOKUP(lib, memory, fn_text_void, "sysmon_memory");
    LOOKUP(lib, disks, fn_text_void, "sysmon_disks");
    LOOKUP(lib, network, fn_text_void, "sysmon_network");
    LOOKUP(lib, gpu, fn_text_void, "sysmon_gpu");
    LOOKUP(lib, system, fn_text_void, "sysmon_system");
    LOOKUP(lib, battery, fn_text_void, "sysmon_battery");
    LOOKUP(lib, last_error, fn_text_void, "sysmon_last_error");
    LOOKUP(lib, processes, fn_text_int_int, "sysmon_processes");
    LOOKUP(lib, history, fn_text_int_int, "sysmon_history");
    LOOKUP(lib, process_tree, fn_text_int, "sysmon_process_tree");
    LOOKUP(lib, cpu_core_history, fn_text_int, "sysmon_cpu_core_history");
    LOOKUP(lib, kill_process, fn_int_int, "sysmon_kill_process");
    LOOKUP(lib, platform, fn_int_void, "sysmon_platform");
    return missing ? -1 : 0;
}

/* Queries whose figures (loads, rates) depend on the previous reading. */
static int is_rate_bearing(const char *command) {
    static const char *const rate_bearing[] = {"snapshot", "cpu", "disks", "network",
                                               "processes", "tree"};
    for (size_t i = 0; i < sizeof rate_bearing / sizeof rate_bearing[0]; ++i) {
        if (strcmp(command, rate_bearing[i]) == 0) return 1;
    }
    return 0;
}

/* Optional integer argument `index` of the command, or `fallback`. */
static int optional_int(int argc, char **argv, int index, int32_t fallback, int32_t *value) {
    if (index >= argc) {
        *value = fallback;
        return 0;
    }
    return parse_int(argv[index], value);
}

static int bad_usage(const char *message, const char *detail) {
    fprintf(stderr, "sysmon-demo: %s%s%s\n\n", message, detail ? ": " : "", detail ? detail : "");
    usage(stderr);
    return 2;
}

int main(int argc, char **argv) {
    struct library lib;
    const char *filter = NULL;
    const char *command = "snapshot";
    int32_t samples = -1, interval_ms = 1000, a = 0, b = 0;
    int first = 1, rest, nargs;
    const char *text = NULL;

    /* Options. */
    while (first < argc && strncmp(argv[first], "--", 2) == 0) {
        const char *option = argv[first];
        if (strcmp(option, "--help") == 0) {
            usage(stdout);
            return 0;
        }
        if (first + 1 >= argc) return bad_usage("missing value for", option);
        if (strcmp(option, "--filter") == 0) {
            filter = argv[first + 1];
        } else if (strcmp(option, "--samples") == 0) {
            if (parse_int(argv[first + 1], &samples) != 0 || samples < 0) {
                return bad_usage("--samples needs a count of 0 or more", argv[first + 1]);
            }
        } else if (strcmp(option, "--interval") == 0) {
            if (parse_int(argv[first + 1], &interval_ms) != 0 || interval_ms < 0) {
                return bad_usage("--interval needs milliseconds, 0 or more", argv[first + 1]);
            }
        } else {
            return bad_usage("unknown option", option);
        }
        first += 2;
    }
    /* The command's arguments start after it; with no command there are none. */
    if (first < argc) command = argv[first];
    rest = first < argc ? first + 1 : argc;
    nargs = argc - rest;

    /* Check the command and its arguments before loading anything. */
    if (strcmp(command, "processes") == 0) {
        if (nargs > 2 || optional_int(argc, argv, rest, 0, &a) != 0 ||
            optional_int(argc, argv, rest + 1, 0, &b) != 0) {
            return bad_usage("processes takes [limit [sort]] as integers", NULL);
        }
    } else if (strcmp(command, "tree") == 0 || strcmp(command, "core-history") == 0) {
        if (nargs > 1 || optional_int(argc, argv, rest, strcmp(command, "tree") == 0 ? 0 : 60,
                                      &a) != 0) {
            return bad_usage(command, "takes one optional integer");
        }
    } else if (strcmp(command, "history") == 0) {
        if (nargs < 1 || nargs > 2 || parse_int(argv[rest], &a) != 0 ||
            optional_int(argc, argv, rest + 1, 60, &b) != 0) {
            return bad_usage("history takes <metric> [count] as integers", NULL);
        }
    } else if (strcmp(command, "kill") == 0) {
        if (nargs != 1 || parse_int(argv[rest], &a) != 0) {
            return bad_usage("kill takes one process id", NULL);
        }
    } else if (strcmp(command, "snapshot") == 0 || strcmp(command, "cpu") == 0 ||
               strcmp(command, "memory") == 0 || strcmp(command, "disks") == 0 ||
               strcmp(command, "network") == 0 || strcmp(command, "gpu") == 0 ||
               strcmp(command, "system") == 0 || strcmp(command, "battery") == 0 ||
               strcmp(command, "platform") == 0) {
        if (nargs != 0) return bad_usage(command, "takes no arguments");
    } else {
        return bad_usage("unknown command", command);
    }
    if (samples < 0) {
        samples = (strcmp(command, "history") == 0 || strcmp(command, "core-history") == 0) ? 3 : 0;
    }

    if (load_library(&lib) != 0) return 1;
    if (filter != NULL) lib.set_process_filter(filter);

    if (strcmp(command, "kill") != 0 && strcmp(command, "platform") != 0) {
        /* Loads and rates cover the time between two readings: the first
         * one is made by initialisation, then the demo waits. */
        lib.init();
        for (int32_t i = 0; i < samples; ++i) {
            pause_ms(interval_ms);
            lib.snapshot();
        }
        if (is_rate_bearing(command)) pause_ms(interval_ms);
    }

    if (strcmp(command, "kill") == 0) {
        if (lib.kill_process(a) != 0) {
            fprintf(stderr, "sysmon-demo: %s\n", lib.last_error());
            lib.cleanup();
            return 1;
        }
        printf("process %ld ended\n", (long)a);
        lib.cleanup();
        return 0;
    }
    if (strcmp(command, "platform") == 0) {
        printf("%ld\n", (long)lib.platform());
        return 0;
    }

    if (strcmp(command, "snapshot") == 0) text = lib.snapshot();
    else if (strcmp(command, "cpu") == 0) text = lib.cpu();
    else if (strcmp(command, "memory") == 0) text = lib.memory();
    else if (strcmp(command, "disks") == 0) text = lib.disks();
    else if (strcmp(command, "network") == 0) text = lib.network();
    else if (strcmp(command, "gpu") == 0) text = lib.gpu();
    else if (strcmp(command, "system") == 0) text = lib.system();
    else if (strcmp(command, "battery") == 0) text = lib.battery();
    else if (strcmp(command, "processes") == 0) text = lib.processes(a, b);
    else if (strcmp(command, "tree") == 0) text = lib.process_tree(a);
    else if (strcmp(command, "history") == 0) text = lib.history(a, b);
    else text = lib.cpu_core_history(a);

    puts(text);
    lib.cleanup();
    return 0;
}
