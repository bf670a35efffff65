// The library's process list, tree, snapshot and histories against the
// straightforward reference code (tests/oracle), byte for byte, on many
// random and hostile record sets: duplicate pids, self-parents, parent
// cycles, chains deeper than 64, ties on every sort key, names that differ
// only in case, bytes that need escaping, fields without their NUL, NaN and
// infinities, every filter/limit/sort combination. Planted faults in the
// reference show that a single wrong byte is noticed.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "history.h"
#include "oracle_views.h"
#include "process_view.h"
#include "snapshot.h"
#include "strbuf.h"
#include "sysmon_internal.h"

namespace {

using rng = std::mt19937_64;

template <typename T>
const T &pick(rng &r, const std::vector<T> &from) {
    return from[r() % from.size()];
}

// Fills a text field: sometimes empty, sometimes full to the last byte with
// no NUL, with bytes that need escaping, high bytes, or letters only.
template <size_t N>
void fill_text(rng &r, char (&field)[N], const std::vector<std::string> &pool, const std::string &alphabet) {
    std::memset(field, 0, N);
    std::string text;
    switch (r() % 6) {
        case 0: text = pick(r, pool); break;
        case 1: text = pick(r, pool) + pick(r, pool); break;
        case 2:  // hostile bytes
            for (size_t i = 0, n = r() % 24; i < n; ++i) text += static_cast<char>(1 + r() % 255);
            break;
        case 3:  // no NUL at all
            for (size_t i = 0; i < N; ++i) text += alphabet[r() % alphabet.size()];
            break;
        default:
            for (size_t i = 0, n = r() % 12; i < n; ++i) text += alphabet[r() % alphabet.size()];
    }
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

template <size_t N>
size_t field_length(const char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return n;
}

double pick_double(rng &r) {
    static const std::vector<double> kTies = {0.0,  -0.0, 0.5,  1.25, 99.995, 0.125, 0.375, 2.675, -0.005,
                                              1e300, std::numeric_limits<double>::quiet_NaN(),
                                              std::numeric_limits<double>::infinity(),
                                              -std::numeric_limits<double>::infinity()};
    if (r() % 3 != 0) return pick(r, kTies);
    return static_cast<double>(static_cast<int64_t>(r() % 2000000) - 1000000) / 997.0;
}

// A random record set of `n` processes (n may exceed the capacity).
// `letters` restricts names and commands to a tiny alphabet, so that short
// filters find partial matches and borders everywhere.
void make_records(rng &r, int32_t n, bool letters) {
    static const std::vector<std::string> kNames = {
        "chrome.exe", "Chrome.EXE", "CHROME.exe", "explorer.exe", "Explorer.EXE", "csrss.exe", "",
        "systemd-journald", "systemd-Logind", "a\"b\\c", "caf\xe9", "CAF\xc9", "tab\there", "\x7f\x01"};
    const std::string alphabet = letters ? "aAbB" : "abcXYZ.-\"\\\x01\x1f\x7f\x80\xc9\xe9";
    const std::vector<std::string> pool = letters ? std::vector<std::string>{"abab", "AbAa", "aab", "b"} : kNames;
    std::vector<int32_t> pids;
    const int32_t stored = n < s_procs.capacity ? n : s_procs.capacity;
    const int32_t pid_range = 1 + static_cast<int32_t>(r() % 3 == 0 ? 8 : 100000);  // small range: duplicates
    for (int32_t i = 0; i < stored; ++i) {
        sysmon_proc_info &p = s_procs.items[i];
        std::memset(&p, 0, sizeof p);
        switch (r() % 12) {
            case 0: p.pid = 0; break;
            case 1: p.pid = -static_cast<int32_t>(r() % 5); break;
            case 2: p.pid = r() % 2 == 0 ? INT_MAX : INT_MIN; break;
            default: p.pid = static_cast<int32_t>(r() % static_cast<uint32_t>(pid_range)); break;
        }
        pids.push_back(p.pid);
    }
    for (int32_t i = 0; i < stored; ++i) {
        sysmon_proc_info &p = s_procs.items[i];
        switch (r() % 9) {
            case 0: p.ppid = 0; break;
            case 1: p.ppid = p.pid; break;                               // its own parent
            case 2: p.ppid = -static_cast<int32_t>(r() % 3); break;
            case 3: p.ppid = 999999937; break;                           // parent has ended
            case 4: p.ppid = i > 0 ? pids[i - 1] : 0; break;             // chains
            default: p.ppid = pids[r() % pids.size()]; break;            // trees and cycles
        }
        fill_text(r, p.name, pool, alphabet);
        fill_text(r, p.command, pool, alphabet);
        fill_text(r, p.user, pool, alphabet);
        fill_text(r, p.status, pool, alphabet);
        p.cpu_percent = pick_double(r);
        p.memory_percent = pick_double(r);
        static const std::vector<uint64_t> kMem = {0, 4096, 4096, UINT64_MAX, 123456789};
        p.memory_bytes = r() % 2 == 0 ? pick(r, kMem) : r();
        p.threads = static_cast<int32_t>(r());
        p.read_bytes_sec = r();
        p.write_bytes_sec = r() % 2 == 0 ? 0 : r();
    }
    // Now and then a chain of 70 to 150 distinct pids, deeper than the tree's
    // depth limit, spread over the set.
    if (stored > 160 && r() % 2 == 0) {
        const int32_t length = 70 + static_cast<int32_t>(r() % 81);
        const int32_t start = static_cast<int32_t>(r() % static_cast<uint32_t>(stored - length));
        for (int32_t k = 0; k < length; ++k) {
            s_procs.items[start + k].pid = 5000000 + k;
            s_procs.items[start + k].ppid = k == 0 ? 0 : 5000000 + k - 1;
            s_procs.items[start + k].cpu_percent = static_cast<double>(r() % 3);
        }
    }
    s_procs.count = n;
}

std::vector<std::string> filters_for(rng &r, bool letters) {
    std::vector<std::string> filters = {""};
    if (letters) {
        for (int k = 0; k < 4; ++k) {
            std::string f;
            for (size_t i = 0, n = 1 + r() % 5; i < n; ++i) f += "aAbB"[r() % 4];
            filters.push_back(f);
        }
    } else {
        const std::vector<std::string> kFilters = {"CHROME", "rome.e", "\xc9", "\"", "\\", "e", "journald",
                                                   "no-such-process", std::string(127, 'a'),
                                                   std::string(200, 'b')};
        for (int k = 0; k < 3; ++k) filters.push_back(pick(r, kFilters));
    }
    return filters;
}

// Runs one writer of each side into fresh buffers and compares the texts.
struct comparison {
    strbuf fast{};
    strbuf reference{};
    int mismatches = 0;
    std::string first;
    // Enough to know that something differs: skip the remaining checks.
    bool stop_at_first = false;

    comparison() {
        strbuf_init(&fast, 1 << 16);
        strbuf_init(&reference, 1 << 16);
    }
    ~comparison() {
        strbuf_free(&fast);
        strbuf_free(&reference);
    }

    template <typename Fast, typename Reference>
    void check(const std::string &what, Fast fast_writer, Reference reference_writer) {
        if (stop_at_first && mismatches > 0) return;
        strbuf_reset(&fast);
        strbuf_reset(&reference);
        fast_writer(&fast);
        reference_writer(&reference);
        const std::string a(fast.data, fast.len);
        const std::string b(reference.data, reference.len);
        if (a == b) return;
        if (mismatches++ == 0) {
            size_t at = 0;
            while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
            const size_t from = at > 60 ? at - 60 : 0;
            first = what + ": first difference at byte " + std::to_string(at) + "\n  library:   ..." +
                    a.substr(from, 120) + "\n  reference: ..." + b.substr(from, 120);
        }
    }
};

void compare_process_views(comparison &c, uint64_t seed, int rounds) {
    rng r(seed);
    for (int round = 0; round < rounds; ++round) {
        const bool letters = round % 3 == 2;
        int32_t n = static_cast<int32_t>(r() % 160);
        if (round % 60 == 7) n = s_procs.capacity + static_cast<int32_t>(r() % 50);  // beyond the capacity
        make_records(r, n, letters);
        if (round % 20 == 13) s_procs.count = -3;
        for (const std::string &filter : filters_for(r, letters)) {
            process_filter_set(filter.c_str());
            const int32_t m = s_procs.count > 0 ? std::min(s_procs.count, s_procs.capacity) : 0;
            const std::vector<int32_t> limits = {0, -1, 1, 3, 50, m - 1, m, m + 5, INT_MIN, INT_MAX};
            const std::string where = "round " + std::to_string(round) + " filter \"" + filter + "\"";
            for (int32_t sort_by : {-3, 0, 1, 2, 3, 4, 7}) {
                const int32_t limit = pick(r, limits);
                c.check(where + " processes(" + std::to_string(limit) + "," + std::to_string(sort_by) + ")",
                        [&](strbuf *sb) { serialize_process_list(sb, limit, sort_by); },
                        [&](strbuf *sb) { oracle::process_list(sb, limit, sort_by); });
            }
            for (int k = 0; k < 3; ++k) {
                const int32_t limit = pick(r, limits);
                c.check(where + " tree(" + std::to_string(limit) + ")",
                        [&](strbuf *sb) { serialize_process_tree(sb, limit); },
                        [&](strbuf *sb) { oracle::process_tree(sb, limit); });
            }
        }
    }
    process_filter_set(nullptr);
}

void fill_machine(rng &r) {
    static const std::vector<int32_t> kCores = {-1, 0, 1, 2, 64, 512, 600};
    const std::vector<std::string> pool = {"eth0", "C:\\", "/mnt/\"x\"", "caf\xe9", ""};
    const std::string alphabet = "ab\"\\\x01\xff";
    std::memset(&s_cpu, 0, sizeof s_cpu);
    fill_text(r, s_cpu.name, pool, alphabet);
    s_cpu.cores = static_cast<int32_t>(r());
    s_cpu.threads = static_cast<int32_t>(r());
    s_cpu.total_usage = pick_double(r);
    s_cpu.frequency_mhz = pick_double(r);
    s_cores.count = pick(r, kCores);
    for (sysmon_core_info &c : std::span(s_cores.items, static_cast<size_t>(s_cores.capacity)))
        c = sysmon_core_info{pick_double(r), pick_double(r), pick_double(r)};
    s_cpu.temperature_c = pick_double(r);
    s_cpu.busy_seconds = pick_double(r);
    s_cpu.idle_seconds = pick_double(r);
    s_mem = sysmon_mem_info{r(), r(), r(), r(), r(), r(), r(), r()};
    s_disks.count = static_cast<int32_t>(r() % 4 == 0 ? 200 : r() % 5) - 1;
    for (sysmon_disk_info &d : std::span(s_disks.items, static_cast<size_t>(s_disks.capacity))) {
        fill_text(r, d.name, pool, alphabet);
        fill_text(r, d.mount, pool, alphabet);
        fill_text(r, d.fs, pool, alphabet);
        d.total = r();
        d.read_bytes_sec = r();
        d.total_written = r();
    }
    s_nets.count = static_cast<int32_t>(r() % 4 == 0 ? 70 : r() % 5) - 1;
    for (sysmon_net_info &e : std::span(s_nets.items, static_cast<size_t>(s_nets.capacity))) {
        fill_text(r, e.name, pool, alphabet);
        fill_text(r, e.ip, pool, alphabet);
        e.up_bytes_sec = r();
        e.total_recv = r();
    }
    fill_text(r, s_gpu.name, pool, alphabet);
    fill_text(r, s_gpu.driver, pool, alphabet);
    s_gpu.usage_percent = pick_double(r);
    s_gpu.power_watts = pick_double(r);
    s_gpu.vram_used = r();
    fill_text(r, s_gpu.source, pool, alphabet);
    s_gpus_count = static_cast<int32_t>(r() % 4 == 0 ? 20 : r() % 3) - 1;
    for (sysmon_gpu_info &g : s_gpus) {
        fill_text(r, g.name, pool, alphabet);
        fill_text(r, g.bus_id, pool, alphabet);
        g.temperature_c = pick_double(r);
        g.vram_total = r();
    }
    s_bat.present = static_cast<int32_t>(r() % 3);
    s_bat.percent = static_cast<int32_t>(r());
    fill_text(r, s_bat.status, pool, alphabet);
    s_bat.power_draw_watts = pick_double(r);
    fill_text(r, s_sys.hostname, pool, alphabet);
    fill_text(r, s_sys.boot_time, pool, alphabet);
    s_sys.uptime_seconds = r();
}

void compare_snapshots(comparison &c, uint64_t seed, int rounds) {
    rng r(seed);
    for (int round = 0; round < rounds; ++round) {
        fill_machine(r);
        make_records(r, round % 10 == 0 ? SYSMON_MAX_PROCS : static_cast<int32_t>(r() % 120), round % 3 == 0);
        process_filter_set(round % 2 == 0 ? "chrome" : nullptr);  // the snapshot ignores it
        c.check("snapshot round " + std::to_string(round), [](strbuf *sb) { serialize_snapshot(sb); },
                [](strbuf *sb) { oracle::snapshot(sb); });
    }
    process_filter_set(nullptr);
}

void compare_histories(comparison &c, uint64_t seed, int rounds) {
    rng r(seed);
    for (int round = 0; round < rounds; ++round) {
        history_clear();
        const int pushes = static_cast<int>(r() % 700);
        s_cores.count = static_cast<int32_t>(r() % 8);
        for (int k = 0; k < pushes; ++k) {
            for (int32_t i = 0; i < s_cores.count; ++i)
                s_cores.items[i].usage = r() % 2 == 0 ? static_cast<double>(r() % 80000) / 8.0 : pick_double(r);
            s_cpu.total_usage = static_cast<double>(r() % 1000) / 8.0;
            history_record_snapshot();
        }
        static const std::vector<int32_t> kCounts = {-2, 0, 1, 5, 512, 600};
        if (r() % 3 == 0) s_core_history.count = pick(r, kCounts);
        for (int32_t n : {-1, 0, 1, 7, 299, 300, 301, 1000}) {
            const std::string where = "round " + std::to_string(round) + " n " + std::to_string(n);
            c.check("cpu_core_history " + where, [&](strbuf *sb) { serialize_core_history(sb, n); },
                    [&](strbuf *sb) { oracle::core_history(sb, n); });
            const int32_t metric = static_cast<int32_t>(r() % 10) - 1;
            c.check("history(" + std::to_string(metric) + ") " + where,
                    [&](strbuf *sb) { serialize_metric_history(sb, metric, n); },
                    [&](strbuf *sb) { oracle::metric_history(sb, metric, n); });
        }
    }
    history_clear();
}

class ViewsDifferentialTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The reference writes numbers with printf.
        ASSERT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
        oracle::planted = oracle::fault::none;
    }
    void TearDown() override {
        oracle::planted = oracle::fault::none;
        s_procs.count = 0;
        s_cores.count = 0;
        process_filter_set(nullptr);
    }
};

TEST_F(ViewsDifferentialTest, ListsAndTreesMatchTheReference) {
    comparison c;
    compare_process_views(c, 1, 80);
    EXPECT_EQ(c.mismatches, 0) << c.first;
}

TEST_F(ViewsDifferentialTest, SnapshotsAndHistoriesMatchTheReference) {
    comparison c;
    compare_snapshots(c, 2, 40);
    compare_histories(c, 3, 40);
    EXPECT_EQ(c.mismatches, 0) << c.first;
}

// Each fault changes the reference in one small way; the same comparisons
// must notice every one of them.
TEST_F(ViewsDifferentialTest, EveryPlantedFaultIsNoticed) {
    const oracle::fault faults[] = {oracle::fault::depth_limit_63, oracle::fault::name_ties_reversed,
                                    oracle::fault::filter_skips_command, oracle::fault::round_half_up,
                                    oracle::fault::orphan_not_root};
    for (oracle::fault f : faults) {
        oracle::planted = f;
        comparison c;
        c.stop_at_first = true;
        compare_process_views(c, 1, 30);
        compare_histories(c, 3, 10);
        EXPECT_GT(c.mismatches, 0) << "planted fault " << static_cast<int>(f) << " went unnoticed";
    }
}

#if defined(__GLIBC__) && (__GLIBC__ == 2 && __GLIBC_MINOR__ < 37)
// The reference's merge sort is the order glibc's qsort (a merge sort up to
// glibc 2.36) gives, for every comparator and every value, NaN included.
TEST_F(ViewsDifferentialTest, ReferenceSortIsTheRuntimeQsort) {
    static sysmon_proc_info by_qsort[SYSMON_MAX_PROCS];
    static sysmon_proc_info by_reference[SYSMON_MAX_PROCS];
    rng r(6);
    for (int round = 0; round < 30; ++round) {
        const int32_t n = round % 10 == 0 ? SYSMON_MAX_PROCS : static_cast<int32_t>(r() % 300);
        make_records(r, n, round % 2 == 0);
        for (auto compare : {oracle::cmp_cpu, oracle::cmp_mem, oracle::cmp_pid, oracle::cmp_name}) {
            std::memcpy(by_qsort, s_procs.items, sizeof s_procs.items[0] * static_cast<size_t>(n));
            std::memcpy(by_reference, s_procs.items, sizeof s_procs.items[0] * static_cast<size_t>(n));
            std::qsort(by_qsort, static_cast<size_t>(n), sizeof by_qsort[0], compare);
            oracle::sort_records(by_reference, static_cast<size_t>(n), compare);
            ASSERT_EQ(std::memcmp(by_qsort, by_reference, sizeof by_qsort[0] * static_cast<size_t>(n)), 0)
                << "round " << round;
        }
    }
}
#endif

// The filter automaton finds exactly what the direct scan finds, on fields
// with and without their NUL.
TEST_F(ViewsDifferentialTest, FilterMatchesTheDirectScan) {
    rng r(7);
    sysmon_proc_info p{};
    for (int round = 0; round < 20000; ++round) {
        std::string filter;
        for (size_t i = 0, n = 1 + r() % 7; i < n; ++i) filter += "aAbB\xc9\xe9"[r() % (round % 2 == 0 ? 4 : 6)];
        const std::string alphabet = "aAbB\xc9\xe9";
        fill_text(r, p.name, std::vector<std::string>{"abab", "aab"}, alphabet);
        fill_text(r, p.command, std::vector<std::string>{"BaBa"}, alphabet);
        if (round % 4 == 3) {
            // Filters of 60 to 127 bytes against long runs of their letter,
            // with now and then one other byte in the filter or the run.
            filter = std::string(60 + r() % 68, r() % 2 == 0 ? 'a' : 'A');
            if (r() % 2 == 0) filter[r() % filter.size()] = 'b';
            std::memset(p.command, 0, sizeof p.command);
            std::memset(p.command, 'a', r() % (sizeof p.command + 1));
            if (r() % 2 == 0) p.command[r() % sizeof p.command] = 'B';
        }
        process_filter_set(filter.c_str());
        filter.resize(std::min<size_t>(filter.size(), SYSMON_FILTER_LEN - 1));
        const std::string name(p.name, field_length(p.name));
        const std::string command(p.command, field_length(p.command));
        const bool expected = oracle::strcasestr(name.c_str(), filter.c_str()) != nullptr ||
                              oracle::strcasestr(command.c_str(), filter.c_str()) != nullptr;
        ASSERT_EQ(process_filter_match(&p), expected) << "filter " << filter << " name " << name;
    }
}

}  // namespace
