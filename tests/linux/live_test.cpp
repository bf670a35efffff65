// The real libvantorel-sysmon.so on this machine, linked like any host and
// called through the public interface only, checked against independent
// sources: sysconf, sysinfo, statvfs, uname, the test's own identity and
// children it starts with known command lines and states.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <sstream>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "vantorel/sysmon.h"

namespace {

using json = nlohmann::json;

#define SLEEP_CHILD_ARG "--sleep-child"
#define BUSY_CHILD_ARG "--busy-child"  // followed by the number of busy threads
#define LIMITS_CHILD_ARG "--limits-child"  // prints the memory and cpu documents
#define REWRITE_CHILD_ARG "--rewrite-child"

std::string g_self_path;  // this program's executable
std::string g_argv0;      // as it was started

json parse(const char *text) {
    try {
        return json::parse(text);
    } catch (const std::exception &e) {
        ADD_FAILURE() << e.what() << "\n" << text;
        return json();
    }
}

const json *find_pid(const json &list, int pid) {
    for (const json &p : list)
        if (p["pid"] == pid) return &p;
    return nullptr;
}

// Lists the processes until `pred` holds for `pid` (a child that has just
// been started needs a moment to exec or change state); the last list is
// returned either way. Waiting is bounded and never part of what is checked.
json wait_for_process(int pid, const std::function<bool(const json &)> &pred) {
    json list;
    for (int attempt = 0; attempt < 500; ++attempt) {
        list = parse(sysmon_processes(0, 2));
        const json *p = find_pid(list, pid);
        if (p != nullptr && pred(*p)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return list;
}

// A child process, killed and reaped when the object goes.
struct child {
    pid_t pid = -1;
    bool reaped = false;
    explicit child(const std::vector<std::string> &argv) {
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            execv(args[0], args.data());
            _exit(127);
        }
    }
    child() {}
    ~child() {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    child(const child &) = delete;
    child &operator=(const child &) = delete;
};

std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(LiveLibrary, PlatformCodeIsLinux) { EXPECT_EQ(sysmon_platform(), 2); }

TEST(LiveLibrary, ProcessorCountsMatchSysconf) {
    sysmon_init();
    const json cpu = parse(sysmon_cpu());
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    EXPECT_EQ(cpu["threads"], online);
    EXPECT_EQ(cpu["per_core"].size(), static_cast<size_t>(online));
    EXPECT_GE(cpu["cores"].get<int>(), 1);
    EXPECT_LE(cpu["cores"].get<int>(), online);
    EXPECT_FALSE(cpu["name"].get<std::string>().empty());
    for (const json &load : cpu["per_core"]) {
        EXPECT_GE(load.get<double>(), 0.0);
        EXPECT_LE(load.get<double>(), 100.0);
    }
}

TEST(LiveLibrary, MemoryTotalMatchesSysinfo) {
    struct sysinfo info;
    ASSERT_EQ(sysinfo(&info), 0);
    const json mem = parse(sysmon_memory());
    EXPECT_EQ(mem["total"].get<uint64_t>(), static_cast<uint64_t>(info.totalram) * info.mem_unit);
    EXPECT_EQ(mem["swap_total"].get<uint64_t>(), static_cast<uint64_t>(info.totalswap) * info.mem_unit);
    EXPECT_EQ(mem["used"].get<uint64_t>() + mem["available"].get<uint64_t>(), mem["total"].get<uint64_t>());
}

TEST(LiveLibrary, OwnProcessIdentityUserAndThreads) {
    // Two extra threads held until the list has been taken.
    std::atomic<bool> release{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&release] {
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    const json list = parse(sysmon_processes(0, 2));
    size_t tasks = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/task")) ++tasks;
    release = true;
    for (std::thread &t : threads) t.join();

    const json *self = find_pid(list, getpid());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ((*self)["ppid"], getppid());
    EXPECT_EQ((*self)["threads"].get<size_t>(), tasks);
    EXPECT_EQ((*self)["status"], "running");
    const struct passwd *pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ((*self)["user"], pw->pw_name);
    // The kernel cuts the task name of this long-named program to 15
    // characters; the list shows the whole program name.
    const std::string program = std::filesystem::path(g_self_path).filename();
    ASSERT_GT(program.size(), 15u);
    EXPECT_EQ((*self)["name"], program);
    EXPECT_EQ((*self)["command"].get<std::string>().substr(0, g_argv0.size()), g_argv0);
    EXPECT_GT((*self)["memory_bytes"].get<uint64_t>(), 0u);
}

TEST(LiveLibrary, OwnProcessorShareAndWrites) {
    sysmon_processes(0, 2);
    // Busy for a while, and write a file through to the disk.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    volatile uint64_t spin = 0;
    while (std::chrono::steady_clock::now() < until) spin = spin + 1;
    const std::string path = "sysmon-live-write.tmp";
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    std::vector<char> block(1 << 20, 'x');
    ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
    fsync(fd);
    close(fd);
    unlink(path.c_str());
    const json list = parse(sysmon_processes(0, 2));
    const json *self = find_pid(list, getpid());
    ASSERT_NE(self, nullptr);
    EXPECT_GT((*self)["cpu_percent"].get<double>(), 0.0);
    EXPECT_LE((*self)["cpu_percent"].get<double>(), 100.0 * static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN)));
    if (access("/proc/self/io", R_OK) == 0) {
        EXPECT_GT((*self)["write_bytes_sec"].get<uint64_t>(), 0u);
    }
}

TEST(LiveLibrary, ChildWithAKnownCommandLine) {
    child sleeper({"/bin/sleep", "1000"});
    ASSERT_GT(sleeper.pid, 0);
    const json list = wait_for_process(sleeper.pid, [](const json &p) { return p["name"] == "sleep"; });
    const json *p = find_pid(list, sleeper.pid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ((*p)["name"], "sleep");
    EXPECT_EQ((*p)["command"], "/bin/sleep 1000");
    EXPECT_EQ((*p)["ppid"], getpid());
    EXPECT_EQ((*p)["status"], "sleeping");
    EXPECT_EQ((*p)["threads"], 1);

    // The process tree holds it under this process.
    const json tree = parse(sysmon_process_tree(0));
    std::function<const json *(const json &)> find_in = [&](const json &nodes) -> const json * {
        for (const json &n : nodes) {
            if (n["pid"] == getpid()) {
                for (const json &c : n["children"])
                    if (c["pid"] == sleeper.pid) return &c;
            }
            if (const json *hit = find_in(n["children"])) return hit;
        }
        return nullptr;
    };
    EXPECT_NE(find_in(tree), nullptr);
}

// A sleeping single-threaded process is listed from what was read before
// while it does not run; once it has run and rewritten its own arguments,
// the new command line shows.
TEST(LiveLibrary, ACommandLineRewrittenInPlaceShows) {
    child rewriter({g_self_path, REWRITE_CHILD_ARG, "before"});
    ASSERT_GT(rewriter.pid, 0);
    const std::string before = g_self_path + " " REWRITE_CHILD_ARG " before";
    json list = wait_for_process(rewriter.pid, [&](const json &p) {
        return p["command"] == before && p["status"] == "sleeping";
    });
    for (int i = 0; i < 3; ++i) list = parse(sysmon_processes(0, 0));
    ASSERT_NE(find_pid(list, rewriter.pid), nullptr);
    EXPECT_EQ((*find_pid(list, rewriter.pid))["command"], before);
    EXPECT_EQ((*find_pid(list, rewriter.pid))["threads"], 1);
    ASSERT_EQ(kill(rewriter.pid, SIGUSR1), 0);
    list = wait_for_process(rewriter.pid, [](const json &p) { return p["command"] == "rewritten"; });
    ASSERT_NE(find_pid(list, rewriter.pid), nullptr);
    EXPECT_EQ((*find_pid(list, rewriter.pid))["command"], "rewritten");
}

TEST(LiveLibrary, CommandLineBytesThatAreNotUtf8) {
    child copy({g_self_path, SLEEP_CHILD_ARG, "caf\xc3\xa9", "\xff\xfe"});
    ASSERT_GT(copy.pid, 0);
    const std::string expected = g_self_path + " " SLEEP_CHILD_ARG " caf\xc3\xa9 \xEF\xBF\xBD\xEF\xBF\xBD";
    const json list = wait_for_process(copy.pid, [&](const json &p) { return p["command"] == expected; });
    const json *p = find_pid(list, copy.pid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ((*p)["command"], expected);
    // The whole text parses as strict UTF-8 (parse() above would have failed).
    EXPECT_EQ((*p)["name"], std::filesystem::path(g_self_path).filename().string());
}

// Processor time of process `pid` in seconds, from its stat file.
double process_seconds(pid_t pid) {
    const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0.0;
    std::vector<std::string> fields;
    std::string field;
    for (size_t i = close + 2; i <= stat.size(); ++i) {
        if (i == stat.size() || stat[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += stat[i];
        }
    }
    if (fields.size() < 13) return 0.0;  // utime and stime are fields 14 and 15
    return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST(LiveLibrary, ThousandsOfChildrenAreAllListedAndTheBusyOneRanksAboveThem) {
    std::vector<pid_t> sleepers;
    for (int i = 0; i < 3000; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (;;) pause();
        }
        if (pid < 0) break;
        sleepers.push_back(pid);
    }
    ASSERT_EQ(sleepers.size(), 3000u);
    child busy({g_self_path, BUSY_CHILD_ARG, "1"});
    sysmon_processes(0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const json list = parse(sysmon_processes(0, 0));
    std::map<int64_t, size_t> place;
    for (size_t i = 0; i < list.size(); ++i) place[list[i]["pid"].get<int64_t>()] = i;
    size_t missing = 0;
    size_t first_sleeper = list.size();
    for (pid_t pid : sleepers) {
        const auto it = place.find(pid);
        if (it == place.end()) ++missing;
        else first_sleeper = std::min(first_sleeper, it->second);
    }
    EXPECT_EQ(missing, 0u);
    ASSERT_EQ(place.count(busy.pid), 1u);
    EXPECT_GT(list[place[busy.pid]]["cpu_percent"].get<double>(), 0.0);
    EXPECT_LT(place[busy.pid], first_sleeper);  // sleepers use no processor time
    for (pid_t pid : sleepers) kill(pid, SIGKILL);
    for (pid_t pid : sleepers) waitpid(pid, nullptr, 0);
}

// The sweep closes its descriptors in batches, by ranges of numbers: the
// host's own descriptors, in and around those ranges and opened by another
// thread while it runs, are never closed, and none of the sweep's is left.
TEST(LiveLibrary, ProcessSweepsCloseOnlyTheirOwnDescriptors) {
    auto open_now = [] {
        std::vector<int> fds;
        for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
            fds.push_back(std::stoi(e.path().filename().string()));
        std::sort(fds.begin(), fds.end());
        return fds;
    };
    sysmon_processes(0, 0);  // the library's own lasting descriptors, if any, are open now
    std::vector<int> held;
    for (int i = 0; i < 8; ++i) held.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    close(held[1]);  // holes the sweep's descriptors fill first
    close(held[4]);
    held.erase(held.begin() + 4);
    held.erase(held.begin() + 1);
    const std::vector<int> before = open_now();

    std::atomic<bool> done{false};
    std::atomic<int> lost{0};
    std::thread other([&] {
        while (!done.load()) {
            const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            struct stat st;
            if (fd < 0 || fstat(fd, &st) != 0 || close(fd) != 0) lost.fetch_add(1);
        }
    });
    for (int i = 0; i < 5; ++i) parse(sysmon_processes(0, 0));
    done.store(true);
    other.join();

    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(open_now(), before);
    for (int fd : held) {
        struct stat st;
        EXPECT_EQ(fstat(fd, &st), 0) << fd;
        close(fd);
    }
}

// A host with few descriptors to spare: when the sweep's batch cannot grow,
// it is closed and the open tried again, so no process is missed for it.
TEST(LiveLibrary, FewDescriptorsToSpareStillListEveryProcess) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int entries = 0;
        for (const auto &e : std::filesystem::directory_iterator("/proc"))
            if (std::isdigit(static_cast<unsigned char>(e.path().filename().string()[0]))) ++entries;
        // Room for the standard streams, the library's proc root and a few more.
        const struct rlimit few = {12, 12};
        if (setrlimit(RLIMIT_NOFILE, &few) != 0) _exit(2);
        const char *doc = sysmon_processes(0, 0);
        int listed = 0;
        for (const char *at = doc; (at = std::strstr(at, "\"pid\":")) != nullptr; ++at) ++listed;
        // Processes come and go meanwhile; a sweep that lost its opens lists a handful.
        _exit(listed * 2 >= entries ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(LiveLibrary, TwoThreadShareIsNotCutAt100) {
    using clock = std::chrono::steady_clock;
    const auto seconds = [](clock::duration d) { return std::chrono::duration<double>(d).count(); };
    child busy({g_self_path, BUSY_CHILD_ARG, "2"});
    wait_for_process(busy.pid, [](const json &p) { return p["threads"] == 2; });
    // Past the shortest window, so that the first sweep below becomes the
    // baseline the second one derives against.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    // The library reads the child's counters somewhere inside each sweep, so
    // its window and growth lie between what the test reads around them.
    const auto ta = clock::now();
    const double a = process_seconds(busy.pid);
    sysmon_processes(0, 0);
    const double b = process_seconds(busy.pid);
    const auto tb = clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto tc = clock::now();
    const double c = process_seconds(busy.pid);
    const json list = parse(sysmon_processes(0, 0));
    const double d = process_seconds(busy.pid);
    const auto td = clock::now();
    const json *p = find_pid(list, busy.pid);
    ASSERT_NE(p, nullptr);
    const double share = (*p)["cpu_percent"].get<double>();
    // Counters come in clock ticks: a tick either way at each end.
    const double lowest = (c - b - 0.02) / seconds(td - ta) * 100.0;
    const double highest = (d - a + 0.02) / seconds(tc - tb) * 100.0;
    // Within 20 % of what its own counters give over the same window,
    // whatever else the machine is doing.
    EXPECT_GE(share, 0.8 * lowest) << lowest << ".." << highest;
    EXPECT_LE(share, 1.2 * highest) << lowest << ".." << highest;
    if (lowest > 120.0) {
        EXPECT_GT(share, 100.0);
    }
}

TEST(LiveLibrary, StoppedAndZombieChildren) {
    child stopped;
    stopped.pid = fork();
    if (stopped.pid == 0) {
        for (;;) pause();
    }
    ASSERT_GT(stopped.pid, 0);
    ASSERT_EQ(kill(stopped.pid, SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(waitpid(stopped.pid, &status, WUNTRACED), stopped.pid);
    ASSERT_TRUE(WIFSTOPPED(status));

    child zombie;
    zombie.pid = fork();
    if (zombie.pid == 0) _exit(0);
    ASSERT_GT(zombie.pid, 0);
    // Wait for its end without reaping it: it stays a zombie.
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(zombie.pid), &info, WEXITED | WNOWAIT), 0);

    const json list = parse(sysmon_processes(0, 2));
    const json *s = find_pid(list, stopped.pid);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ((*s)["status"], "stopped");
    const json *z = find_pid(list, zombie.pid);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ((*z)["status"], "zombie");
    EXPECT_EQ((*z)["command"], "[" + (*z)["name"].get<std::string>() + "]");
    EXPECT_EQ((*z)["memory_bytes"], 0);
}

// This process's cgroup limits as the test reads them itself: for each
// hierarchy holding `controller` (or the unified one), the directory of the
// process's cgroup and its ancestors up to the mount point.
std::vector<std::vector<std::string>> cgroup_paths(const std::string &controller) {
    struct mount {
        std::string root, point, type, options;
    };
    std::vector<mount> mounts;
    std::istringstream mi(read_text("/proc/self/mountinfo"));
    for (std::string line; std::getline(mi, line);) {
        std::istringstream f(line);
        std::string id, parent, dev, root, point, opts, word;
        f >> id >> parent >> dev >> root >> point >> opts;
        while (f >> word && word != "-") {}
        std::string type, source, super;
        f >> type >> source >> super;
        if (type == "cgroup" || type == "cgroup2") mounts.push_back({root, point, type, "," + super + ","});
    }
    std::vector<std::vector<std::string>> out;
    std::istringstream cg(read_text("/proc/self/cgroup"));
    for (std::string line; std::getline(cg, line);) {
        const size_t a = line.find(':'), b = line.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        const std::string controllers = "," + line.substr(a + 1, b - a - 1) + ",";
        const std::string path = line.substr(b + 1);
        const bool v2 = line.compare(0, a, "0") == 0 && controllers == ",,";
        if (!v2 && controllers.find("," + controller + ",") == std::string::npos) continue;
        for (const mount &m : mounts) {
            if ((m.type == "cgroup2") != v2) continue;
            if (!v2 && m.options.find("," + controller + ",") == std::string::npos) continue;
            if (m.root != "/" && path.compare(0, m.root.size(), m.root) != 0) break;
            std::string below = m.root == "/" ? path : path.substr(m.root.size());
            std::vector<std::string> dirs;
            for (;;) {
                dirs.push_back(m.point + (below == "/" ? "" : below));
                if (below.empty() || below == "/") break;
                below.erase(below.rfind('/'));
            }
            out.push_back(dirs);
            break;
        }
    }
    return out;
}

// A byte count from a cgroup file; 0 for "max", v1's unlimited values, a
// missing file or anything else.
uint64_t cgroup_bytes(const std::string &path) {
    const std::string text = read_text(path);
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str() || v >= (1ULL << 62)) return 0;
    return v;
}

TEST(LiveLibrary, CgroupLimitsAsTheTestReadsThemFromTheSameFiles) {
    uint64_t limit = 0, used = 0;
    for (const auto &dirs : cgroup_paths("memory")) {
        const bool v2 = std::filesystem::exists(dirs.front() + "/cgroup.controllers");
        for (const std::string &d : dirs) {
            const uint64_t l = cgroup_bytes(d + (v2 ? "/memory.max" : "/memory.limit_in_bytes"));
            if (l != 0 && (limit == 0 || l < limit)) {
                limit = l;
                used = cgroup_bytes(dirs.front() + (v2 ? "/memory.current" : "/memory.usage_in_bytes"));
            }
        }
    }
    double cpus = 0.0;
    const auto consider = [&cpus](double c) {
        if (c > 0.0 && (cpus == 0.0 || c < cpus)) cpus = c;
    };
    for (const auto &dirs : cgroup_paths("cpu")) {
        for (const std::string &d : dirs) {
            long long quota = 0, period = 0;
            if (std::sscanf(read_text(d + "/cpu.max").c_str(), "%lld %lld", &quota, &period) == 2 ||
                (std::sscanf(read_text(d + "/cpu.cfs_quota_us").c_str(), "%lld", &quota) == 1 &&
                 std::sscanf(read_text(d + "/cpu.cfs_period_us").c_str(), "%lld", &period) == 1))
                if (quota > 0 && period > 0) consider(static_cast<double>(quota) / static_cast<double>(period));
        }
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    for (const auto &dirs : cgroup_paths("cpuset")) {
        for (const std::string &d : dirs) {
            std::string list = read_text(d + "/cpuset.cpus.effective");
            if (list.empty()) list = read_text(d + "/cpuset.effective_cpus");
            long count = 0;
            std::istringstream items(list);
            for (std::string item; std::getline(items, item, ',');) {
                long lo = 0, hi = 0;
                const int got = std::sscanf(item.c_str(), "%ld-%ld", &lo, &hi);
                if (got >= 1) count += got == 2 ? hi - lo + 1 : 1;
            }
            if (count > 0 && count < online) consider(static_cast<double>(count));
        }
    }

    const json mem = parse(sysmon_memory());
    const json cpu = parse(sysmon_cpu());
    EXPECT_EQ(mem["limit"].get<uint64_t>(), limit);
    EXPECT_NEAR(cpu["limit_cpus"].get<double>(), cpus, 0.005);
    if (limit == 0) {
        EXPECT_EQ(mem["limit_used"].get<uint64_t>(), 0u);
    } else {
        // Usage moves between the two readings; both must be the same order.
        const double got = static_cast<double>(mem["limit_used"].get<uint64_t>());
        EXPECT_NEAR(got, static_cast<double>(used), 0.5 * static_cast<double>(used) + 64e6);
    }
}

// A cgroup the test makes below its own, where the machine lets it (root
// and a writable cgroup file system), removed when the object goes.
struct made_cgroup {
    std::string dir;
    made_cgroup(const std::string &controller, const std::string &file, const std::string &value) {
        const auto paths = cgroup_paths(controller);
        if (paths.empty()) return;
        const std::string d = paths.front().front() + "/sysmon-live-" + std::to_string(getpid());
        if (!std::filesystem::create_directory(d)) return;
        std::ofstream(d + "/" + file) << value << std::flush;
        if (read_text(d + "/" + file).rfind(value, 0) == 0) {
            dir = d;
        } else {
            rmdir(d.c_str());
        }
    }
    ~made_cgroup() {
        if (!dir.empty()) rmdir(dir.c_str());
    }
};

TEST(LiveLibrary, ChildInACgroupWithLimitsReadsThem) {
    std::error_code ignored;
    const bool v2 = std::filesystem::exists("/sys/fs/cgroup/cgroup.controllers", ignored);
    made_cgroup memory("memory", v2 ? "memory.max" : "memory.limit_in_bytes", "268435456");
    made_cgroup quota("cpu", v2 ? "cpu.max" : "cpu.cfs_quota_us", v2 ? "50000 100000" : "50000");
    if (memory.dir.empty() && quota.dir.empty()) GTEST_SKIP() << "no cgroup can be made here";

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        for (const std::string &d : {memory.dir, quota.dir})
            if (!d.empty()) std::ofstream(d + "/cgroup.procs") << "0" << std::flush;
        dup2(out[1], 1);
        execl(g_self_path.c_str(), g_self_path.c_str(), LIMITS_CHILD_ARG, nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    const size_t split = text.find('\n');
    ASSERT_NE(split, std::string::npos) << text;
    const json mem = parse(text.substr(0, split).c_str());
    const json cpu = parse(text.substr(split + 1).c_str());
    if (!memory.dir.empty()) {
        EXPECT_EQ(mem["limit"].get<uint64_t>(), 268435456u);
        EXPECT_GT(mem["limit_used"].get<uint64_t>(), 0u);
        EXPECT_LE(mem["limit_used"].get<uint64_t>(), 268435456u);
    }
    if (!quota.dir.empty()) {
        EXPECT_EQ(cpu["limit_cpus"].get<double>(), 0.5);
    }
}

TEST(LiveLibrary, RootFileSystemMatchesStatvfs) {
    struct statvfs vfs;
    ASSERT_EQ(statvfs("/", &vfs), 0);
    const json disks = parse(sysmon_disks());
    const json *root = nullptr;
    for (const json &d : disks)
        if (d["mount"] == "/") root = &d;
    if (root == nullptr) GTEST_SKIP() << "/ is not mounted from a block device here";
    const uint64_t unit = vfs.f_frsize;
    EXPECT_EQ((*root)["total"].get<uint64_t>(), static_cast<uint64_t>(vfs.f_blocks) * unit);
    // Other programs write meanwhile: free space within 1 % of the size.
    const double free_bytes = static_cast<double>(vfs.f_bfree) * static_cast<double>(unit);
    EXPECT_NEAR((*root)["free"].get<double>(), free_bytes, static_cast<double>(vfs.f_blocks) * unit / 100.0);
    EXPECT_EQ((*root)["used"].get<uint64_t>() + (*root)["free"].get<uint64_t>(), (*root)["total"].get<uint64_t>());
    // What df shows as available: free space less the reserved blocks.
    const double available = static_cast<double>(vfs.f_bavail) * static_cast<double>(unit);
    EXPECT_NEAR((*root)["available"].get<double>(), available, static_cast<double>(vfs.f_blocks) * unit / 100.0);
    EXPECT_LE((*root)["available"].get<uint64_t>(), (*root)["free"].get<uint64_t>());
    EXPECT_TRUE(std::filesystem::exists("/sys/class/block/" + (*root)["name"].get<std::string>()));
}

TEST(LiveLibrary, NetworkInterfacesExistAndLoopbackIsLeftOut) {
    const json nets = parse(sysmon_network());
    for (const json &n : nets) {
        const std::string name = n["name"];
        EXPECT_NE(name, "lo");
        EXPECT_TRUE(std::filesystem::exists("/sys/class/net/" + name)) << name;
        EXPECT_GE(n["total_recv"].get<uint64_t>(), 0u);
    }
}

TEST(LiveLibrary, SystemFactsMatchUnameAndHostname) {
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const json sys = parse(sysmon_system());
    EXPECT_EQ(sys["hostname"], host);
    EXPECT_EQ(sys["kernel"], u.release);
    if (std::strcmp(u.machine, "x86_64") == 0) {
        EXPECT_EQ(sys["cpu_arch"], "x86_64");
    }
    // os: PRETTY_NAME as the shell would read it.
    const std::string release = read_text("/etc/os-release");
    const size_t at = release.find("PRETTY_NAME=\"");
    if (at != std::string::npos) {
        const size_t start = at + 13;
        EXPECT_EQ(sys["os"], release.substr(start, release.find('"', start) - start));
    }
    // Uptime and boot instant agree with sysinfo within a few seconds.
    struct sysinfo info;
    ASSERT_EQ(sysinfo(&info), 0);
    EXPECT_NEAR(sys["uptime_seconds"].get<double>(), static_cast<double>(info.uptime), 5.0);
    struct tm boot{};
    ASSERT_NE(strptime(sys["boot_time"].get<std::string>().c_str(), "%Y-%m-%dT%H:%M:%SZ", &boot), nullptr);
    EXPECT_NEAR(static_cast<double>(timegm(&boot)), static_cast<double>(time(nullptr) - info.uptime), 5.0);
}

TEST(LiveLibrary, KillEndsAChildAndReportsFailures) {
    child sleeper({"/bin/sleep", "1000"});
    ASSERT_GT(sleeper.pid, 0);
    ASSERT_EQ(sysmon_kill_process(sleeper.pid), 0);
    int status = 0;
    ASSERT_EQ(waitpid(sleeper.pid, &status, 0), sleeper.pid);
    sleeper.reaped = true;
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);

    // The reaped pid is gone now.
    EXPECT_EQ(sysmon_kill_process(sleeper.pid), -1);
    EXPECT_EQ(std::string(sysmon_last_error()),
              "kill(" + std::to_string(sleeper.pid) + ") failed: 3 (No such process)");
    EXPECT_EQ(sysmon_kill_process(0), -1);
    EXPECT_STREQ(sysmon_last_error(), "Invalid pid: 0");
    EXPECT_EQ(sysmon_kill_process(-1), -1);
    EXPECT_STREQ(sysmon_last_error(), "Invalid pid: -1");
}

TEST(LiveLibrary, SnapshotAndHistoriesParse) {
    sysmon_cleanup();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(parse(sysmon_snapshot()).is_object());
    const json history = parse(sysmon_history(0, 10));
    EXPECT_EQ(history.size(), 3u);
    const json cores = parse(sysmon_cpu_core_history(10));
    EXPECT_EQ(cores.size(), static_cast<size_t>(sysconf(_SC_NPROCESSORS_ONLN)));
    // The primary adapter heads the list; without one, the placeholder.
    const json gpu = parse(sysmon_gpu());
    if (gpu["source"] == "none") {
        EXPECT_EQ(gpu["name"], "unknown");
        EXPECT_TRUE(gpu["adapters"].empty());
    } else {
        ASSERT_FALSE(gpu["adapters"].empty());
        EXPECT_EQ(gpu["adapters"][0]["name"], gpu["name"]);
    }
    sysmon_cleanup();
}

int main(int argc, char **argv) {
    // The copy that the command-line test starts only waits to be ended.
    if (argc >= 2 && std::strcmp(argv[1], SLEEP_CHILD_ARG) == 0) {
        for (;;) pause();
    }
    // The rewriting copy waits for SIGUSR1, then writes "rewritten" over its
    // own arguments (NUL-padded to their end) and waits to be ended.
    if (argc >= 2 && std::strcmp(argv[1], REWRITE_CHILD_ARG) == 0) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGUSR1);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        int sig = 0;
        sigwait(&set, &sig);
        char *end = argv[argc - 1] + std::strlen(argv[argc - 1]);
        std::memset(argv[0], 0, static_cast<size_t>(end - argv[0]));
        std::memcpy(argv[0], "rewritten", 9);
        for (;;) pause();
    }
    // The busy copies spin on their threads until they are ended.
    if (argc >= 3 && std::strcmp(argv[1], BUSY_CHILD_ARG) == 0) {
        std::vector<std::thread> spinners;
        for (int i = 1; i < std::atoi(argv[2]); ++i)
            spinners.emplace_back([] {
                std::atomic<unsigned> n{0};
                for (;;) n.fetch_add(1, std::memory_order_relaxed);
            });
        std::atomic<unsigned> n{0};
        for (;;) n.fetch_add(1, std::memory_order_relaxed);
    }
    if (argc >= 2 && std::strcmp(argv[1], LIMITS_CHILD_ARG) == 0) {
        std::printf("%s\n%s\n", sysmon_memory(), sysmon_cpu());
        return 0;
    }
    g_self_path = std::filesystem::canonical("/proc/self/exe");
    g_argv0 = argv[0];
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
