// The process derivation against the straightforward reference code it
// replaced (a scan of the previous times per pid, the whole array cleared):
// the same records on random process sets over several collections, with
// new and vanished pids, pids listed twice, counters going down and the
// capacity reached; and a planted fault in the reference is noticed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "proc_walk.h"
#include "oracle_windows_procs.h"

namespace {

// One process as the system reports it in one collection.
struct listed_proc {
    uint32_t pid;
    uint32_t ppid;
    uint32_t threads;
    std::string name;
    int32_t has_memory;
    uint64_t working_set;
    uint64_t kernel_time;
    uint64_t user_time;
};

struct collection_input {
    std::vector<listed_proc> procs;
    double elapsed;
    uint64_t memory_total;
    int32_t capacity;
};

// Both derivations' state across collections.
struct both_sides {
    std::vector<sysmon_proc_info> fast = std::vector<sysmon_proc_info>(SYSMON_MAX_PROCS);
    std::vector<sysmon_proc_info> ref = std::vector<sysmon_proc_info>(SYSMON_MAX_PROCS);
    int32_t fast_count = -1;
    int32_t ref_count = -1;
    std::unique_ptr<proc_table[]> tables = std::make_unique<proc_table[]>(2);
    int newest = 0;
    used_records used = {};
    std::vector<oracle_prev_proc_entry> prev[2] = {
        std::vector<oracle_prev_proc_entry>(SYSMON_MAX_PROCS),
        std::vector<oracle_prev_proc_entry>(SYSMON_MAX_PROCS)};
    int32_t prev_count[2] = {0, 0};
    int prev_newest = 0;

    void collect(const collection_input &in) {
        proc_walk walk;
        derive_proc_walk_begin(&walk, fast.data(), &fast_count, in.capacity, &tables[newest],
                               &tables[1 - newest], in.elapsed, in.memory_total, &used);
        for (const listed_proc &p : in.procs) {
            const proc_identity identity = {p.pid, p.ppid, p.threads, p.name.c_str(),
                                            p.name.size() + 1};
            sysmon_proc_info *proc = derive_proc_walk_add(&walk, &identity);
            if (proc == nullptr) break;
            // The idle process is never opened: no figures for it.
            if (p.pid == 0) continue;
            const proc_figures figures = {p.has_memory, p.working_set, 1, p.kernel_time,
                                          p.user_time, 0, 0, 0};
            derive_proc_apply_figures(&walk, proc, &figures);
        }
        derive_proc_walk_end(&walk, &fast_count);
        newest = 1 - newest;

        oracle_proc_walk owalk;
        oracle_proc_walk_begin(&owalk, ref.data(), &ref_count, in.capacity);
        const oracle_prev_proc_entry *base = prev[prev_newest].data();
        const int32_t base_count = prev_count[prev_newest];
        for (const listed_proc &p : in.procs) {
            sysmon_proc_info *proc = oracle_proc_walk_next(&owalk);
            if (proc == nullptr) break;
            const oracle_proc_entry entry = {p.pid, p.ppid, p.threads, p.name.c_str(),
                                             p.name.size() + 1};
            if (!oracle_proc_fill_identity(proc, &entry)) continue;
            if (p.has_memory) oracle_proc_apply_memory(proc, p.working_set, in.memory_total);
            oracle_proc_apply_times(proc, p.kernel_time, p.user_time, base, base_count,
                                    in.elapsed);
        }
        prev_newest = 1 - prev_newest;
        oracle_proc_walk_end(&owalk, &ref_count, prev[prev_newest].data(),
                             &prev_count[prev_newest]);
    }

    // The first record where the two differ in any byte, or -1. The only
    // intended difference: the reference names every process's user
    // "SYSTEM", the library only the system's own (pids 0 and 4). Whole
    // records are compared, so a text a reused record kept behind a
    // shorter one is a difference too.
    int32_t first_difference() const {
        if (fast_count != ref_count) return 0;
        for (int32_t i = 0; i < fast_count; ++i) {
            sysmon_proc_info expected = ref[static_cast<size_t>(i)];
            if (!derive_proc_is_system(static_cast<uint32_t>(expected.pid)))
                std::memset(expected.user, 0, sizeof expected.user);
            if (std::memcmp(&expected, &fast[static_cast<size_t>(i)], sizeof expected) != 0)
                return i;
        }
        return -1;
    }
};

std::string random_name(std::mt19937_64 &rng) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABC_-.0123456789 ";
    const size_t length = rng() % 8 == 0 ? 100 + rng() % 60 : 1 + rng() % 20;  // some are cut
    std::string name;
    for (size_t i = 0; i < length; ++i) name += kLetters[rng() % (sizeof kLetters - 1)];
    return name + ".exe";
}

listed_proc new_proc(std::mt19937_64 &rng, uint32_t pid) {
    listed_proc p;
    p.pid = pid;
    p.ppid = static_cast<uint32_t>(rng() % 5000) * 4;
    p.threads = static_cast<uint32_t>(rng() % 200);
    p.name = random_name(rng);
    p.has_memory = rng() % 10 != 0;
    p.working_set = rng() % (uint64_t{1} << 34);
    p.kernel_time = rng() % 100000000;
    p.user_time = rng() % 100000000;
    return p;
}

// The next collection: most processes stay and run on, some end, new ones
// start, a few counters go down, a few pids are listed twice, the order
// sometimes changes.
collection_input next_collection(std::mt19937_64 &rng, const collection_input &before) {
    collection_input in;
    static const double kElapsed[] = {0.0, 0.0005, 0.001, 0.0011, 0.25, 1.0, 2.5};
    in.elapsed = kElapsed[rng() % (sizeof kElapsed / sizeof kElapsed[0])];
    in.memory_total = rng() % 6 == 0 ? 0 : (uint64_t{1} << 33) + rng() % 1000;
    in.capacity = rng() % 5 == 0 ? static_cast<int32_t>(rng() % 40) : SYSMON_MAX_PROCS;
    for (listed_proc p : before.procs) {
        if (rng() % 10 == 0) continue;  // ended
        switch (rng() % 8) {
        case 0: p.kernel_time = rng() % 1000; break;                    // went down
        case 1: p.user_time += 40000000 + rng() % 100000000; break;      // busy on several
        default: p.user_time += rng() % 3000000; p.kernel_time += rng() % 1000000;
        }
        p.working_set = rng() % (uint64_t{1} << 34);
        p.has_memory = rng() % 10 != 0;
        in.procs.push_back(p);
        if (rng() % 40 == 0) {  // the same pid listed twice
            listed_proc twin = p;
            twin.user_time = rng() % 100000000;
            twin.name = random_name(rng);
            in.procs.push_back(twin);
        }
    }
    const size_t starting = rng() % 30;
    for (size_t i = 0; i < starting; ++i)
        in.procs.push_back(new_proc(rng, rng() % 20 == 0 ? 0u : static_cast<uint32_t>(rng() % 3000) * 4));
    if (rng() % 3 == 0) std::shuffle(in.procs.begin(), in.procs.end(), rng);
    if (in.procs.size() > SYSMON_MAX_PROCS) in.procs.resize(SYSMON_MAX_PROCS);
    return in;
}

// Runs `rounds` random histories of `collections` each; returns the number
// of collections where the two derivations differed.
int run_histories(uint64_t seed, int rounds, int collections, size_t first_size) {
    std::mt19937_64 rng(seed);
    int differing = 0;
    for (int round = 0; round < rounds; ++round) {
        both_sides sides;
        collection_input in;
        for (size_t i = 0; i < first_size; ++i)
            in.procs.push_back(new_proc(rng, static_cast<uint32_t>(rng() % 3000) * 4));
        in.elapsed = 1.0;
        in.memory_total = uint64_t{1} << 33;
        in.capacity = SYSMON_MAX_PROCS;
        for (int c = 0; c < collections; ++c) {
            sides.collect(in);
            const int32_t at = sides.first_difference();
            if (at >= 0) ++differing;
            if (at >= 0 && oracle_windows_proc_planted == oracle_windows_proc_fault::none)
                ADD_FAILURE() << "seed " << seed << " round " << round << " collection " << c
                              << ": record " << at << " of " << sides.fast_count << "/"
                              << sides.ref_count;
            in = next_collection(rng, in);
        }
    }
    return differing;
}

struct planted_fault {
    explicit planted_fault(oracle_windows_proc_fault f) { oracle_windows_proc_planted = f; }
    ~planted_fault() { oracle_windows_proc_planted = oracle_windows_proc_fault::none; }
};

}  // namespace

TEST(DeriveProcessDifferential, SameRecordsAsTheScanOverRandomHistories) {
    EXPECT_EQ(run_histories(1, 40, 12, 60), 0);
    EXPECT_EQ(run_histories(2, 2, 6, 2100), 0);  // the capacity, and beyond
}

TEST(DeriveProcessDifferential, APlantedFaultIsNoticed) {
    {
        planted_fault fault(oracle_windows_proc_fault::last_duplicate_wins);
        EXPECT_GT(run_histories(1, 40, 12, 60), 0);
    }
    {
        planted_fault fault(oracle_windows_proc_fault::share_not_clamped);
        EXPECT_GT(run_histories(1, 40, 12, 60), 0);
    }
}
