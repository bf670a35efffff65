// Churn: the real libvantorel-sysmon.so read from several threads while this
// test starts and ends short-lived processes by the hundred per second (some
// exit at once, some after a few milliseconds, some exec /bin/true, some
// keep a processor busy for 150 ms), all of them reaped by the test.
// Every document parses (samples of each kind are checked against the JSON
// Schemas), no list holds a pid twice, every tree holds each process once
// under its listed parent, every processor share lies within 0 to 100 times
// the logical processors, and once the storm is over and reaped no reading
// lists one of its processes (a pid the system has given to a new process
// since is that new process). Nothing asserted depends on how busy the
// machine is: every thread makes a minimum number of rounds, then goes on
// until the deadline.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "vantorel/sysmon.h"

extern char **environ;

namespace {

using json = nlohmann::json;
using steady = std::chrono::steady_clock;

constexpr int kMinRounds = 10;  // per thread, however loaded the machine

double churn_seconds() {
    const char *text = std::getenv("SYSMON_CHURN_SECONDS");
    const double seconds = text != nullptr ? std::atof(text) : 20.0;
    return seconds > 0 ? seconds : 20.0;
}

int64_t boot_ns() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Runs in a child of a threaded parent: async-signal-safe calls only.
[[noreturn]] void child_body(long pause_ms, bool busy) {
    if (busy) {
        timespec start{}, now{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        volatile unsigned long spin = 0;
        do {
            spin = spin + 1;
            clock_gettime(CLOCK_MONOTONIC, &now);
        } while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < pause_ms);
    } else if (pause_ms > 0) {
        const timespec pause{0, pause_ms * 1000000L};
        nanosleep(&pause, nullptr);
    }
    _exit(0);
}

// The kinds of children: ended at once or after a few milliseconds, started
// by vfork (cheap: hundreds per second) or by fork; /bin/true; busy 150 ms.
enum child_kind { kVfork, kVforkPause, kFork, kForkPause, kTrue, kBusy };

// What a quick storm thread starts in one round before it reaps them.
constexpr child_kind kBatch[] = {kVfork, kFork,  kVfork, kTrue, kVforkPause, kVfork,
                                 kVfork, kForkPause, kVfork, kTrue, kVforkPause, kVfork};

pid_t start_child(child_kind kind) {
    if (kind == kTrue) {
        pid_t pid = -1;
        char *argv[] = {const_cast<char *>("/bin/true"), nullptr};
        return posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) == 0 ? pid : -1;
    }
    const long pause_ms = kind == kBusy ? 150 : kind == kVforkPause ? 2 : kind == kForkPause ? 4 : 0;
    const pid_t pid = kind == kVfork || kind == kVforkPause ? vfork() : fork();
    if (pid == 0) child_body(pause_ms, kind == kBusy);
    return pid;
}

// Every pid the storm used, with the boot-clock instant of its latest reaping.
struct storm_record {
    std::mutex mutex;
    std::map<pid_t, int64_t> reaped;
    std::atomic<long> started{0};
    std::atomic<long> failed_starts{0};

    // Ends (when `kill_first`) and reaps `alive`.
    void reap(std::vector<pid_t> &alive, bool kill_first) {
        for (pid_t pid : alive) {
            if (kill_first) kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            const std::lock_guard<std::mutex> lock(mutex);
            reaped[pid] = boot_ns();
        }
        alive.clear();
    }
};

// Start time of the live process `pid` in clock ticks since boot; -1 if none.
long long start_ticks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    size_t at = close + 2;
    for (int field = 3; field < 22 && at != std::string::npos; ++field) at = stat.find(' ', at) + 1;
    return at == 0 ? -1 : std::atoll(stat.c_str() + at);
}

// Failures found by the reader threads: the first few are reported whole.
std::atomic<int> g_failures{0};
void fail(const std::string &what, const std::string &text) {
    if (++g_failures <= 10) ADD_FAILURE() << what << "\n" << text.substr(0, 4000);
}

json parse(const char *text, const char *what) {
    json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded()) fail(std::string(what) + ": not JSON", text);
    return doc;
}

// A process list: an array, no pid twice, every share finite and in range.
void check_list(const json &list, double most, const char *what) {
    if (!list.is_array()) return fail(std::string(what) + ": not an array", list.dump());
    std::set<int64_t> seen;
    for (const json &p : list) {
        if (!seen.insert(p.value("pid", int64_t{-1})).second) fail(std::string(what) + ": pid listed twice", p.dump());
        const double cpu = p.value("cpu_percent", -1.0);
        if (!std::isfinite(cpu) || cpu < 0.0 || cpu > most) fail(std::string(what) + ": share out of range", p.dump());
    }
}

// Adds every node of `level` and below to `flat`; each child's ppid is its
// parent's pid.
void flatten(const json &level, int64_t parent, json &flat) {
    for (const json &node : level) {
        if (parent >= 0 && node.value("ppid", int64_t{-1}) != parent) fail("tree: child under another parent", node.dump());
        flat.push_back(node);
        flatten(node.value("children", json::array()), node.value("pid", int64_t{-1}), flat);
    }
}

// A forest holds each pid once; with no root limit, a root's parent is 0,
// itself or not in the forest.
void check_tree(const json &forest, double most, bool whole) {
    if (!forest.is_array()) return fail("tree: not an array", forest.dump());
    json flat = json::array();
    flatten(forest, -1, flat);
    check_list(flat, most, "tree");
    if (!whole) return;
    std::set<int64_t> pids;
    for (const json &node : flat) pids.insert(node.value("pid", int64_t{-1}));
    for (const json &root : forest) {
        const int64_t ppid = root.value("ppid", int64_t{0});
        if (ppid > 0 && ppid != root.value("pid", int64_t{0}) && pids.count(ppid) != 0)
            fail("tree: a root whose parent is listed", root.dump());
    }
}

// Texts of each kind, 8 at most, for the schema check.
struct samples {
    std::mutex mutex;
    std::map<std::string, std::vector<std::string>> texts;
    void keep(const char *kind, const char *text) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (texts[kind].size() < 8) texts[kind].push_back(text);
    }
};

// Threads joined however the test ends; told to stop early when it ends
// before they are done. Declared after all that they use, so that it goes first.
struct thread_group {
    std::atomic<bool> &stop;
    std::vector<std::thread> threads;
    void join() {
        for (std::thread &t : threads)
            if (t.joinable()) t.join();
    }
    ~thread_group() {
        stop = true;
        join();
    }
};

}  // namespace

TEST(Churn, ConcurrentReadingsWhileProcessesStartAndEnd) {
    sysmon_set_process_filter(nullptr);
    sysmon_init();
    const double most = 100.0 * static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN));
    const auto begin = steady::now();
    const auto deadline = begin + std::chrono::duration<double>(churn_seconds());
    storm_record storm;
    samples kept;
    std::atomic<long> readings{0};
    std::atomic<bool> stop{false};
    auto go_on = [&](int round) { return !stop && (round < kMinRounds || steady::now() < deadline); };
    // A storm thread starts its batch of children, reaps them all, pauses,
    // and again.
    auto storm_thread = [&](std::vector<child_kind> batch, int pause_ms) {
        std::vector<pid_t> alive;
        for (int round = 0; go_on(round); ++round) {
            for (child_kind kind : batch) {
                const pid_t pid = start_child(kind);
                if (pid > 0) alive.push_back(pid);
                else ++storm.failed_starts;
            }
            storm.started += static_cast<long>(alive.size());
            storm.reap(alive, stop);  // cut short when the test is ending
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        }
    };
    // Readers: each owns its function, so no other thread overwrites its text.
    static constexpr int kLimits[] = {0, 1, 5, 50};
    const std::function<void(int)> readers[] = {
        [&](int i) {
            const int limit = kLimits[i % 4];
            const char *text = sysmon_processes(limit, i % 5);
            // Samples at the limit of 50, every sort key, for the schema check
            // (whole lists are checked above, whatever the machine holds).
            if (i % 8 == 3) kept.keep("processes", text);
            const json list = parse(text, "processes");
            check_list(list, most, "processes");
            if (limit > 0 && list.size() > static_cast<size_t>(limit)) fail("processes: over the limit", text);
        },
        [&](int i) {
            const char *text = sysmon_process_tree(i % 3 == 0 ? 0 : i % 7);
            if (i % 8 == 0) kept.keep("process_tree", text);
            check_tree(parse(text, "tree"), most, i % 3 == 0);
        },
        [&](int i) {
            const char *text = sysmon_snapshot();
            if (i % 8 == 0) kept.keep("snapshot", text);
            const json snap = parse(text, "snapshot");
            if (!snap.is_object() || !snap.contains("processes")) return fail("snapshot: no processes", text);
            check_list(snap["processes"], most, "snapshot");
        },
        [&](int i) {
            const char *filters[] = {nullptr, "true", "churn", "", "no-such-process"};
            sysmon_set_process_filter(filters[i % 5]);
        },
    };
    {
        thread_group group{stop, {}};
        // Two quick storm threads, and one that keeps a busy child going.
        group.threads.emplace_back(storm_thread, std::vector<child_kind>(std::begin(kBatch), std::end(kBatch)), 2);
        group.threads.emplace_back(storm_thread, std::vector<child_kind>(std::rbegin(kBatch), std::rend(kBatch)), 2);
        group.threads.emplace_back(storm_thread, std::vector<child_kind>{kBusy}, 100);
        for (const auto &r : readers)
            group.threads.emplace_back([&] {
                for (int round = 0; go_on(round); ++round) {
                    try {
                        r(round);
                    } catch (const std::exception &e) {
                        fail("a document of the wrong shape", e.what());
                    }
                    ++readings;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        group.join();
    }
    const double seconds = std::chrono::duration<double>(steady::now() - begin).count();
    std::printf("churn: %ld processes started and reaped in %.1f s (%.0f per second), %ld readings\n",
                storm.started.load(), seconds, storm.started / seconds, readings.load());
    EXPECT_EQ(storm.failed_starts.load(), 0);
    EXPECT_GE(storm.started.load(), kMinRounds * static_cast<long>(2 * std::size(kBatch) + 1));

    // Nothing stale: every child is reaped, so none may be listed; a storm pid
    // that is listed belongs to a process started after that pid was reaped.
    sysmon_set_process_filter(nullptr);
    sysmon_processes(0, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    json listed = parse(sysmon_processes(0, 2), "processes");
    flatten(parse(sysmon_process_tree(0), "tree"), -1, listed);
    const json snapshot = parse(sysmon_snapshot(), "snapshot");
    ASSERT_TRUE(snapshot.is_object());
    for (const json &p : snapshot.value("processes", json::array())) listed.push_back(p);
    const long tick_ns = 1000000000L / sysconf(_SC_CLK_TCK);
    bool self_listed = false;
    for (const json &p : listed) {
        const pid_t pid = p["pid"].get<pid_t>();
        self_listed = self_listed || pid == getpid();
        EXPECT_NE(p.value("ppid", 0), getpid()) << "a reaped child is still listed: " << p.dump();
        const auto it = storm.reaped.find(pid);
        const long long started = it != storm.reaped.end() ? start_ticks(pid) : -1;
        if (started >= 0) {
            EXPECT_GE(started, it->second / tick_ns) << "a reaped child is still listed: " << p.dump();
        }
    }
    EXPECT_TRUE(self_listed);

    // Samples of every kind validated against the JSON Schemas.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("sysmon-churn-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    for (const auto &[kind, texts] : kept.texts) {
        std::string command = "/usr/bin/python3 " SYSMON_SCHEMA_DIR "/validate.py " + kind;
        for (size_t i = 0; i < texts.size(); ++i) {
            const std::filesystem::path file = dir / (kind + std::to_string(i) + ".json");
            std::ofstream(file, std::ios::binary) << texts[i];
            command += " " + file.string();
        }
        const std::filesystem::path errors = dir / "errors.txt";
        command += " 2>" + errors.string();
        if (std::system(command.c_str()) != 0) {
            std::ifstream in(errors);
            const std::string why((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            ADD_FAILURE() << command << "\n" << why.substr(0, 4000);
        }
    }
    std::filesystem::remove_all(dir);
    sysmon_cleanup();
}
