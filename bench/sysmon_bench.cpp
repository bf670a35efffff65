// The process list and the snapshot of the real library, side by side with
// the naive floor: a loop that opens and reads /proc/PID/stat, statm, status,
// cmdline and io for every process, as a straightforward collector would.
//
//   sysmon_bench [--extra-children=N] [benchmark options]
//
// --extra-children starts N idle processes first (and ends them by their
// pids at exit), to measure at a higher process count. Every benchmark
// reports the processes it saw ("procs") so that per-process costs can be
// derived; "allocs_per_proc" counts heap allocations in the steady state,
// "allocs_per_sweep" those of one sysmon_processes(0,0).
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "vantorel/sysmon.h"

namespace {

std::vector<pid_t> g_children;

void start_children(int count) {
    for (int i = 0; i < count; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (;;) pause();
        }
        if (pid > 0) g_children.push_back(pid);
    }
}

void end_children() {
    for (pid_t pid : g_children) kill(pid, SIGKILL);
    for (pid_t pid : g_children) waitpid(pid, nullptr, 0);
    g_children.clear();
}

size_t count_listed(const char *document) {
    size_t n = 0;
    for (const char *p = document; (p = std::strstr(p, "\"pid\":")) != nullptr; p += 6) ++n;
    return n;
}

// The naive floor: one pass over /proc reading five files per process.
size_t naive_pass() {
    static const char *const files[] = {"stat", "statm", "status", "cmdline", "io"};
    char path[300];  // "/proc/" + a directory name + "/" + a file name
    char buffer[8192];
    size_t processes = 0;
    DIR *proc = opendir("/proc");
    if (proc == nullptr) return 0;
    while (struct dirent *e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        ++processes;
        for (const char *file : files) {
            std::snprintf(path, sizeof path, "/proc/%s/%s", e->d_name, file);
            const int fd = open(path, O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
            close(fd);
        }
    }
    closedir(proc);
    return processes;
}

// Opens `files` of every process relative to the proc root, reads each once
// (nothing parsed) and hands its descriptor to `done`, which closes it;
// returns the number of processes seen.
template <size_t N, class Done>
size_t floor_pass(const char *const (&files)[N], Done &&done) {
    char path[300];  // a directory name + "/" + a file name
    char buffer[4096];
    size_t processes = 0;
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0) return 0;
    DIR *dir = fdopendir(dup(proc));
    if (dir == nullptr) {
        close(proc);
        return 0;
    }
    while (struct dirent *e = readdir(dir)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        ++processes;
        for (const char *file : files) {
            std::snprintf(path, sizeof path, "%s/%s", e->d_name, file);
            const int fd = openat(proc, path, O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            benchmark::DoNotOptimize(read(fd, buffer, sizeof buffer));
            done(fd);
        }
    }
    closedir(dir);
    close(proc);
    return processes;
}

// Every figure read afresh: stat, cmdline and io of every process, each
// closed at once.
size_t syscall_floor_pass() {
    static const char *const files[] = {"stat", "cmdline", "io"};
    return floor_pass(files, [](int fd) { close(fd); });
}

// The least a sweep asks of the kernel when every process is idle and its
// command line and io are known: schedstat (whether it ran) and stat (what
// may change without running, like its resident set), the descriptors
// closed 32 at a time with close_range. What the library adds (parsing, the
// owner of a process that ran, sorting, the document) is its overhead over
// this.
size_t idle_floor_pass() {
    static const char *const files[] = {"schedstat", "stat"};
    int fds[32];
    size_t held = 0;
    auto close_held = [&] {
        const bool run = held > 0 && fds[held - 1] - fds[0] == static_cast<int>(held) - 1;
        if (!run || syscall(SYS_close_range, fds[0], fds[held - 1], 0) != 0)
            for (size_t i = 0; i < held; ++i) close(fds[i]);
        held = 0;
    };
    const size_t processes = floor_pass(files, [&](int fd) {
        if (held == 32) close_held();
        fds[held++] = fd;
    });
    close_held();
    return processes;
}

void BM_IdleFloor(benchmark::State &state) {
    size_t processes = 0;
    for (auto _ : state) benchmark::DoNotOptimize(processes = idle_floor_pass());
    state.counters["procs"] = static_cast<double>(processes);
}

void BM_SyscallFloor(benchmark::State &state) {
    size_t processes = 0;
    for (auto _ : state) benchmark::DoNotOptimize(processes = syscall_floor_pass());
    state.counters["procs"] = static_cast<double>(processes);
}

void BM_NaiveFloor(benchmark::State &state) {
    size_t processes = 0;
    for (auto _ : state) benchmark::DoNotOptimize(processes = naive_pass());
    state.counters["procs"] = static_cast<double>(processes);
}

void BM_SysmonProcesses(benchmark::State &state) {
    sysmon_init();
    const char *doc = sysmon_processes(0, 0);
    for (auto _ : state) benchmark::DoNotOptimize(doc = sysmon_processes(0, 0));
    state.counters["procs"] = static_cast<double>(count_listed(doc));
}

void BM_SysmonSnapshot(benchmark::State &state) {
    sysmon_init();
    const char *doc = sysmon_snapshot();
    for (auto _ : state) benchmark::DoNotOptimize(doc = sysmon_snapshot());
    state.counters["procs"] = static_cast<double>(count_listed(sysmon_processes(0, 0)));
}

// Heap allocations of steady-state process lists and snapshots, per listed
// process.
void BM_AllocationsPerProcess(benchmark::State &state) {
    sysmon_init();
    size_t processes = count_listed(sysmon_processes(0, 0));
    sysmon_snapshot();
    uint64_t allocations = 0;
    uint64_t calls = 0;
    for (auto _ : state) {
        const uint64_t before = allocations_made();
        processes = count_listed(sysmon_processes(0, 0));
        sysmon_snapshot();
        allocations += allocations_made() - before;
        calls += 1;
    }
    state.counters["procs"] = static_cast<double>(processes);
    state.counters["allocs_per_call"] = static_cast<double>(allocations) / static_cast<double>(calls);
    state.counters["allocs_per_proc"] =
        static_cast<double>(allocations) / static_cast<double>(calls * (processes > 0 ? processes : 1));
}

// Heap allocations of one steady-state sysmon_processes(0,0) (the lists
// have grown to the machine already), and the cost per listed process.
void BM_ProcessesAllocations(benchmark::State &state) {
    sysmon_init();
    // The first sweeps grow what the machine needs (both baseline tables
    // among them); the count starts after them.
    for (int i = 0; i < 3; ++i) sysmon_processes(0, 0);
    size_t processes = 0;
    uint64_t allocations = 0;
    uint64_t calls = 0;
    for (auto _ : state) {
        const uint64_t before = allocations_made();
        benchmark::DoNotOptimize(sysmon_processes(0, 0));
        allocations += allocations_made() - before;
        calls += 1;
    }
    processes = count_listed(sysmon_processes(0, 0));
    state.counters["procs"] = static_cast<double>(processes);
    state.counters["allocs_per_sweep"] = static_cast<double>(allocations) / static_cast<double>(calls);
}

BENCHMARK(BM_NaiveFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SyscallFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IdleFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SysmonProcesses)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SysmonSnapshot)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProcessesAllocations)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_AllocationsPerProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace

int main(int argc, char **argv) {
    std::vector<char *> args;
    int extra = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--extra-children=", 17) == 0) extra = std::atoi(argv[i] + 17);
        else args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    start_children(extra);
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    end_children();
    sysmon_cleanup();
    return 0;
}
