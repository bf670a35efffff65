// Fuzz target: every export of the library, driven through the fake
// collectors with hostile records and a clock that jumps.
//
// The input is a program: records to report (texts unterminated or full of
// control bytes and bytes from 0x80 up, NaN and infinite doubles, process
// lists with duplicate, self and cyclic parents, beyond the capacity),
// counts forced negative or past the capacities after a collector ran, clock
// jumps forwards, backwards and to huge instants, intervals, filters (NULL,
// "", long, arbitrary bytes), kills, clean-ups and initialisations, and the
// twelve readings. After every reading the text is parsed as strict JSON and
// checked against the documented shape (object or array, exactly the
// documented members with their kinds).
//
// What is checked about UTF-8: the collectors guarantee well-formed UTF-8
// in every text field (they convert or replace what the system gives) and
// the core escapes JSON's special bytes and passes every other byte
// unchanged. So an input decides whether the fake records keep that
// guarantee: when they do, each document must be strict UTF-8 JSON and the
// single records' texts must come back unchanged; when their texts are
// arbitrary bytes, the document with every byte from 0x80 up masked must
// still be strict JSON of the same shape (the core's own syntax never
// depends on the bytes of a text).
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "history.h"
#include "fuzz_checks.h"
#include "sysmon_internal.h"
#include "vantorel/sysmon.h"

using nlohmann::json;

namespace {

// ---- Hostile records ---------------------------------------------------------

bool s_clean_texts = true;

template <size_t N>
void fill_text(FuzzedDataProvider &in, char (&field)[N]) {
    std::memset(field, 0, N);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: break;  // empty
        case 1: {      // the whole field, no NUL
            const std::string bytes = in.ConsumeBytesAsString(N);
            std::memset(field, 'a', N);
            std::memcpy(field, bytes.data(), bytes.size());
            break;
        }
        default: {
            const std::string bytes = in.ConsumeRandomLengthString(N);
            std::memcpy(field, bytes.data(), bytes.size());
            break;
        }
    }
    if (s_clean_texts) utf8_make_well_formed(field, N);
}

double hostile_double(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return in.ConsumeFloatingPointInRange<double>(0.0, 100.0);
        case 1: {
            const uint64_t bits = in.ConsumeIntegral<uint64_t>();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;  // NaN, infinities, subnormals, huge
        }
        default: return in.ConsumeFloatingPoint<double>();
    }
}

int32_t small_pid(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: return INT32_MIN;
        case 1: return INT32_MAX;
        case 2: return in.ConsumeIntegral<int32_t>();
        default: return in.ConsumeIntegralInRange<int32_t>(-2, 12);
    }
}

sysmon_proc_info hostile_process(FuzzedDataProvider &in) {
    sysmon_proc_info p{};
    p.pid = small_pid(in);
    p.ppid = in.ConsumeBool() ? p.pid : small_pid(in);
    fill_text(in, p.name);
    fill_text(in, p.command);
    fill_text(in, p.user);
    fill_text(in, p.status);
    p.cpu_percent = hostile_double(in);
    p.memory_bytes = in.ConsumeIntegral<uint64_t>();
    p.memory_percent = hostile_double(in);
    p.threads = in.ConsumeIntegral<int32_t>();
    p.read_bytes_sec = in.ConsumeIntegral<uint64_t>();
    p.write_bytes_sec = in.ConsumeIntegral<uint64_t>();
    p.user_time = in.ConsumeIntegral<uint64_t>();
    p.kernel_time = in.ConsumeIntegral<uint64_t>();
    p.cpu_time = in.ConsumeIntegral<uint64_t>();
    return p;
}

void hostile_cpu(FuzzedDataProvider &in) {
    sysmon_cpu_info &c = g_fake.cpu;
    fill_text(in, c.name);
    c.cores = in.ConsumeIntegral<int32_t>();
    c.threads = in.ConsumeIntegral<int32_t>();
    c.total_usage = hostile_double(in);
    c.frequency_mhz = hostile_double(in);
    size_t processors = 0;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: processors = in.ConsumeIntegralInRange<size_t>(0, 2 * SYSMON_MAX_CORES + 100); break;
        case 1: processors = SYSMON_MAX_CORES + in.ConsumeIntegralInRange<size_t>(0, 2) - 1; break;
        default: processors = in.ConsumeIntegralInRange<size_t>(0, 16); break;
    }
    g_fake.cores.assign(processors, sysmon_core_info{});
    for (size_t i = 0; i < processors && in.ConsumeBool(); ++i)
        g_fake.cores[i] = sysmon_core_info{hostile_double(in), hostile_double(in), hostile_double(in)};
    c.temperature_c = hostile_double(in);
}

void hostile_lists(FuzzedDataProvider &in) {
    g_fake.disks.clear();
    g_fake.nets.clear();
    const size_t disks = in.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < disks; ++i) {
        sysmon_disk_info d{};
        fill_text(in, d.name);
        fill_text(in, d.mount);
        fill_text(in, d.fs);
        d.total = in.ConsumeIntegral<uint64_t>();
        d.used = in.ConsumeIntegral<uint64_t>();
        d.free = in.ConsumeIntegral<uint64_t>();
        d.read_bytes_sec = in.ConsumeIntegral<uint64_t>();
        d.write_bytes_sec = in.ConsumeIntegral<uint64_t>();
        g_fake.disks.push_back(d);
    }
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0 && !g_fake.disks.empty())
        g_fake.disks.resize(SYSMON_MAX_DISKS + 3, g_fake.disks[0]);
    const size_t nets = in.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < nets; ++i) {
        sysmon_net_info e{};
        fill_text(in, e.name);
        fill_text(in, e.ip);
        e.up_bytes_sec = in.ConsumeIntegral<uint64_t>();
        e.down_bytes_sec = in.ConsumeIntegral<uint64_t>();
        e.total_sent = in.ConsumeIntegral<uint64_t>();
        e.total_recv = in.ConsumeIntegral<uint64_t>();
        g_fake.nets.push_back(e);
    }
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0 && !g_fake.nets.empty())
        g_fake.nets.resize(SYSMON_MAX_NETS + 3, g_fake.nets[0]);
}

void hostile_processes(FuzzedDataProvider &in) {
    g_fake.procs.clear();
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, 24);
    for (size_t i = 0; i < n; ++i) g_fake.procs.push_back(hostile_process(in));
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0 && !g_fake.procs.empty()) {
        // Beyond the capacity: copies with pids and parents in long chains
        // and cycles.
        const size_t base = g_fake.procs.size();
        const int32_t stride = in.ConsumeIntegralInRange<int32_t>(1, 5);
        for (size_t i = base; i < SYSMON_MAX_PROCS + 40; ++i) {
            sysmon_proc_info p = g_fake.procs[i % base];
            p.pid = static_cast<int32_t>(i);
            p.ppid = static_cast<int32_t>((i + SYSMON_MAX_PROCS - static_cast<size_t>(stride)) % SYSMON_MAX_PROCS);
            g_fake.procs.push_back(p);
        }
    }
}

void hostile_singles(FuzzedDataProvider &in) {
    sysmon_mem_info &m = g_fake.mem;
    m.total = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint64_t>();
    m.used = in.ConsumeIntegral<uint64_t>();
    m.available = in.ConsumeIntegral<uint64_t>();
    m.cached = in.ConsumeIntegral<uint64_t>();
    m.swap_total = in.ConsumeIntegral<uint64_t>();
    m.swap_used = in.ConsumeIntegral<uint64_t>();
    // No adapter (the placeholder), or up to a few beyond the capacity.
    g_fake.gpus.assign(in.ConsumeIntegralInRange<size_t>(0, SYSMON_MAX_GPUS + 2), sysmon_gpu_info{});
    for (sysmon_gpu_info &g : g_fake.gpus) {
        fill_text(in, g.name);
        g.usage_percent = hostile_double(in);
        g.vram_total = in.ConsumeIntegral<uint64_t>();
        g.vram_used = in.ConsumeIntegral<uint64_t>();
        g.temperature_c = hostile_double(in);
        fill_text(in, g.driver);
        g.power_watts = hostile_double(in);
        fill_text(in, g.source);
        fill_text(in, g.bus_id);
    }
    sysmon_battery_info &b = g_fake.bat;
    b.present = in.ConsumeIntegral<int32_t>();
    b.percent = in.ConsumeIntegral<int32_t>();
    fill_text(in, b.status);
    b.time_remaining_min = in.ConsumeIntegral<int32_t>();
    b.power_draw_watts = hostile_double(in);
    b.health_percent = in.ConsumeIntegral<int32_t>();
    sysmon_system_info &s = g_fake.sys;
    fill_text(in, s.hostname);
    fill_text(in, s.os);
    fill_text(in, s.kernel);
    s.uptime_seconds = in.ConsumeIntegral<uint64_t>();
    fill_text(in, s.boot_time);
    fill_text(in, s.cpu_arch);
}

// Counts a collector leaves behind that no collector should: negative, or
// past the list's capacity. Applied after the collector of the domain ran.
int32_t s_forced_count = 0;
bool s_force_disks = false, s_force_nets = false, s_force_procs = false;

void force_counts(fake_domain domain) {
    if (domain == fake_domain::disks && s_force_disks) s_disks.count = s_forced_count;
    if (domain == fake_domain::network && s_force_nets) s_nets.count = s_forced_count;
    if (domain == fake_domain::processes && s_force_procs) s_procs.count = s_forced_count;
}

void hostile_counts(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: s_forced_count = INT32_MIN; break;
        case 1: s_forced_count = INT32_MAX; break;
        case 2: s_forced_count = -1; break;
        case 3: s_forced_count = SYSMON_MAX_PROCS + 1; break;
        default: s_forced_count = in.ConsumeIntegral<int32_t>(); break;
    }
    s_force_disks = in.ConsumeBool();
    s_force_nets = in.ConsumeBool();
    s_force_procs = in.ConsumeBool();
}

// ---- The clock -------------------------------------------------------------------

int64_t s_sec = 100;
int32_t s_nsec = 0;

void move_clock(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:  // forwards, up to a few seconds
        case 1: {
            const int64_t ns = in.ConsumeIntegralInRange<int64_t>(0, 3000000000LL);
            const int64_t total = s_nsec + ns;
            s_sec = static_cast<int64_t>(static_cast<uint64_t>(s_sec) + static_cast<uint64_t>(total / 1000000000));
            s_nsec = static_cast<int32_t>(total % 1000000000);
            break;
        }
        case 2: {  // backwards
            const int64_t ns = in.ConsumeIntegralInRange<int64_t>(0, 3000000000LL);
            int64_t total = s_nsec - ns;
            int64_t sec_change = total / 1000000000;
            total %= 1000000000;
            if (total < 0) {
                total += 1000000000;
                --sec_change;
            }
            s_sec = static_cast<int64_t>(static_cast<uint64_t>(s_sec) + static_cast<uint64_t>(sec_change));
            s_nsec = static_cast<int32_t>(total);
            break;
        }
        case 3:  // anywhere, huge values included
            s_sec = in.ConsumeIntegral<int64_t>();
            s_nsec = in.ConsumeIntegralInRange<int32_t>(0, 999999999);
            break;
        default:  // an instant no clock gives: nanoseconds out of range
            s_sec = in.ConsumeIntegral<int64_t>();
            s_nsec = in.ConsumeIntegral<int32_t>();
            break;
    }
    fake_clock_install(s_sec, s_nsec);
}

// ---- Document shapes -----------------------------------------------------------

enum kind { S, I, N, B, A, O };

struct member {
    const char *name;
    kind k;
};

const std::vector<member> kCpu = {{"name", S},         {"cores", I},    {"threads", I},      {"total_usage", N},
                                  {"frequency_mhz", N}, {"per_core", A}, {"temperature_c", N},
                                  {"busy_seconds", N},  {"idle_seconds", N}, {"per_core_busy_seconds", A},
                                  {"per_core_idle_seconds", A}, {"limit_cpus", N}};
const std::vector<member> kMemory = {{"total", I},     {"used", I},       {"available", I},
                                     {"cached", I},    {"swap_total", I}, {"swap_used", I},
                                     {"limit", I},     {"limit_used", I}};
const std::vector<member> kDisk = {{"name", S}, {"mount", S}, {"fs", S},
                                   {"total", I}, {"used", I}, {"free", I},
                                   {"read_bytes_sec", I}, {"write_bytes_sec", I},
                                   {"total_read", I}, {"total_written", I}, {"available", I}};
const std::vector<member> kNet = {{"name", S},           {"ip", S},         {"up_bytes_sec", I},
                                  {"down_bytes_sec", I}, {"total_sent", I}, {"total_recv", I}};
const std::vector<member> kProcess = {{"pid", I},      {"name", S},           {"cpu_percent", N},
                                      {"memory_bytes", I}, {"memory_percent", N}, {"status", S},
                                      {"command", S},  {"ppid", I},           {"user", S},
                                      {"threads", I},  {"read_bytes_sec", I}, {"write_bytes_sec", I}};
const std::vector<member> kGpu = {{"name", S},          {"usage_percent", N}, {"vram_total", I}, {"vram_used", I},
                                  {"temperature_c", N}, {"driver", S},        {"power_watts", N},
                                  {"source", S},        {"adapters", A}};
const std::vector<member> kAdapter = {{"name", S},          {"usage_percent", N}, {"vram_total", I},
                                      {"vram_used", I},     {"temperature_c", N}, {"driver", S},
                                      {"power_watts", N},   {"source", S},        {"bus_id", S}};
const std::vector<member> kBattery = {{"present", B}, {"percent", I},          {"status", S},
                                      {"time_remaining_min", I}, {"power_draw_watts", N}, {"health_percent", I}};
const std::vector<member> kSystem = {{"hostname", S},       {"os", S},        {"kernel", S},
                                     {"uptime_seconds", I}, {"boot_time", S}, {"cpu_arch", S}};

bool has_kind(const json &v, kind k) {
    switch (k) {
        case S: return v.is_string();
        case I: return v.is_number_integer();
        case N: return v.is_number();
        case B: return v.is_boolean();
        case A: return v.is_array();
        default: return v.is_object();
    }
}

void check_object(const json &doc, const std::vector<member> &members, const char *what, size_t extra = 0) {
    FUZZ_CHECK(doc.is_object(), std::string(what) + " is not an object: " + doc.dump());
    FUZZ_CHECK(doc.size() == members.size() + extra, std::string(what) + " has other members: " + doc.dump());
    for (const member &m : members) {
        const auto it = doc.find(m.name);
        FUZZ_CHECK(it != doc.end() && has_kind(*it, m.k), std::string(what) + "." + m.name + ": " + doc.dump());
    }
}

void check_numbers(const json &array, const char *what) {
    FUZZ_CHECK(array.is_array(), std::string(what) + " is not an array");
    for (const json &v : array) FUZZ_CHECK(v.is_number(), std::string(what) + " holds a non-number");
}

void check_cpu(const json &doc) {
    check_object(doc, kCpu, "cpu");
    check_numbers(doc["per_core"], "per_core");
    // Every processor the collector reported is listed, and each array has one entry per processor.
    FUZZ_CHECK(doc["per_core"].size() == g_fake.cores.size(), "per_core is not every processor");
    FUZZ_CHECK(doc["per_core_busy_seconds"].size() == g_fake.cores.size() &&
                   doc["per_core_idle_seconds"].size() == g_fake.cores.size(),
               "per-processor arrays of different lengths");
}

void check_list(const json &doc, const std::vector<member> &members, const char *what, size_t capacity) {
    FUZZ_CHECK(doc.is_array(), std::string(what) + " is not an array");
    FUZZ_CHECK(doc.size() <= capacity, std::string(what) + " beyond the capacity");
    for (const json &e : doc) check_object(e, members, what);
}

// A tree node and its descendants; returns the number of nodes.
size_t check_node(const json &node, int depth) {
    FUZZ_CHECK(depth <= SYSMON_TREE_MAX_DEPTH, "tree deeper than its limit");
    check_object(node, kProcess, "tree node", 1);
    const auto children = node.find("children");
    FUZZ_CHECK(children != node.end() && children->is_array(), "node without children array");
    size_t nodes = 1;
    for (const json &child : *children) nodes += check_node(child, depth + 1);
    return nodes;
}

json parse_document(const char *text, const char *what) {
    FUZZ_CHECK(text != nullptr, std::string(what) + " returned NULL");
    if (s_clean_texts) return parse_strict_json(text, what);
    return parse_strict_json(with_ascii_only(text), what);
}

template <size_t N>
std::string field_text(const char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return std::string(field, n);
}

// ---- The readings --------------------------------------------------------------

bool s_trace = false;

// Readings over more than a few hundred processes cost a second each under
// the sanitizers (the tree is quadratic in the process count); an input
// gets a few of them, so that every input runs in bounded time.
constexpr int kHeavyReadingsPerInput = 4;
int s_heavy_readings = 0;

void count_heavy_reading() {
    if (g_fake.procs.size() > 256 || s_force_procs) ++s_heavy_readings;
}

void read_snapshot() {
    count_heavy_reading();
    const json doc = parse_document(sysmon_snapshot(), "snapshot");
    if (s_trace)
        std::fprintf(stderr, "  snapshot: %zu processes, %zu disks, %zu per core\n", doc["processes"].size(),
                     doc["disks"].size(), doc["cpu"]["per_core"].size());
    FUZZ_CHECK(doc.is_object() && doc.size() == 8, "snapshot members: " + doc.dump());
    check_cpu(doc["cpu"]);
    check_object(doc["memory"], kMemory, "memory");
    check_list(doc["disks"], kDisk, "disks", static_cast<size_t>(s_disks.capacity));
    check_list(doc["network"], kNet, "network", static_cast<size_t>(s_nets.capacity));
    check_list(doc["processes"], kProcess, "processes", SYSMON_SNAPSHOT_TOP_PROCS);
    check_object(doc["gpu"], kGpu, "gpu");
    check_object(doc["battery"], kBattery, "battery");
    check_object(doc["system"], kSystem, "system");
}

void read_singles() {
    const json cpu = parse_document(sysmon_cpu(), "cpu");
    check_cpu(cpu);
    check_object(parse_document(sysmon_memory(), "memory"), kMemory, "memory");
    const json gpu = parse_document(sysmon_gpu(), "gpu");
    check_object(gpu, kGpu, "gpu");
    FUZZ_CHECK(gpu["adapters"].size() <= SYSMON_MAX_GPUS, "adapters beyond the capacity");
    for (const json &adapter : gpu["adapters"]) check_object(adapter, kAdapter, "gpu adapter");
    const json system = parse_document(sysmon_system(), "system");
    check_object(system, kSystem, "system");
    check_object(parse_document(sysmon_battery(), "battery"), kBattery, "battery");
    if (s_clean_texts) {
        // Texts of well-formed records come back exactly.
        FUZZ_CHECK(cpu["name"] == field_text(g_fake.cpu.name), "cpu name changed");
        if (!g_fake.gpus.empty())
            FUZZ_CHECK(gpu["driver"] == field_text(g_fake.gpus[0].driver), "gpu driver changed");
        FUZZ_CHECK(system["hostname"] == field_text(g_fake.sys.hostname), "host name changed");
    }
}

void read_processes(FuzzedDataProvider &in) {
    const int32_t limit = in.ConsumeIntegralInRange<int32_t>(-2, 60);
    const int32_t sort_by = in.ConsumeIntegralInRange<int32_t>(-1, 5);
    count_heavy_reading();
    const json doc = parse_document(sysmon_processes(limit, sort_by), "processes");
    check_list(doc, kProcess, "processes", static_cast<size_t>(s_procs.capacity));
    if (limit >= 1) FUZZ_CHECK(doc.size() <= static_cast<size_t>(limit), "more processes than the limit");
}

void read_tree(FuzzedDataProvider &in) {
    const int32_t limit = in.ConsumeIntegralInRange<int32_t>(-2, 60);
    count_heavy_reading();
    const json doc = parse_document(sysmon_process_tree(limit), "process tree");
    FUZZ_CHECK(doc.is_array(), "process tree is not an array");
    if (limit >= 1) FUZZ_CHECK(doc.size() <= static_cast<size_t>(limit), "more roots than the limit");
    size_t nodes = 0;
    for (const json &root : doc) nodes += check_node(root, 0);
    if (s_trace) std::fprintf(stderr, "  tree: %zu roots, %zu nodes\n", doc.size(), nodes);
    // Every listed process appears at most once.
    FUZZ_CHECK(nodes <= static_cast<size_t>(s_procs.capacity), "more nodes than processes");
    if (!s_force_procs) FUZZ_CHECK(nodes <= g_fake.procs.size(), "a process listed twice");
}

void read_histories(FuzzedDataProvider &in) {
    const int32_t metric = in.ConsumeIntegralInRange<int32_t>(-2, 9);
    const int32_t count = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange<int32_t>(-1, 310);
    const json history = parse_document(sysmon_history(metric, count), "history");
    check_numbers(history, "history");
    FUZZ_CHECK(history.size() <= SYSMON_HISTORY_LEN && (count > 0 || history.empty()), "history length");
    const json cores = parse_document(sysmon_cpu_core_history(count), "core history");
    FUZZ_CHECK(cores.is_array() && !cores.empty() && cores.size() <= static_cast<size_t>(s_core_history.capacity),
               "core history arrays");
    for (const json &ring : cores) {
        check_numbers(ring, "core history");
        FUZZ_CHECK(ring.size() <= SYSMON_HISTORY_LEN, "core history length");
    }
}

void set_filter(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: sysmon_set_process_filter(nullptr); break;
        case 1: sysmon_set_process_filter(""); break;
        case 2: {
            const std::string long_text(in.ConsumeIntegralInRange<size_t>(100, 5000), 'a');
            sysmon_set_process_filter(long_text.c_str());
            break;
        }
        default: sysmon_set_process_filter(in.ConsumeRandomLengthString(200).c_str()); break;
    }
}

void kill(FuzzedDataProvider &in) {
    g_fake.terminate_result = static_cast<sysmon_terminate_result>(in.ConsumeIntegralInRange<int>(0, 3));
    g_fake.terminate_error = in.ConsumeIntegral<unsigned long>();
    const int32_t pid = in.ConsumeIntegral<int32_t>();
    const int32_t r = sysmon_kill_process(pid);
    const bool ok = pid > 0 && g_fake.terminate_result == SYSMON_TERMINATE_OK;
    FUZZ_CHECK(r == (ok ? 0 : -1), "kill result " + std::to_string(r));
    const char *message = sysmon_last_error();
    FUZZ_CHECK(message != nullptr && std::strlen(message) < SYSMON_ERROR_LEN, "error message");
    if (!ok) FUZZ_CHECK(message[0] != '\0', "failed kill without a message");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    // Every input starts from a cleaned-up library with default settings.
    sysmon_cleanup();
    sysmon_set_process_filter(nullptr);
    sysmon_set_interval(1000);
    fake_platform_reset();
    s_sec = 100;
    s_nsec = 0;
    fake_clock_install(s_sec, s_nsec);
    g_fake.after_collect = force_counts;
    s_force_disks = s_force_nets = s_force_procs = false;
    s_clean_texts = in.ConsumeBool();

    // SYSMON_FUZZ_TRACE=1 prints each step, for reading a crashing input.
    static const bool trace = std::getenv("SYSMON_FUZZ_TRACE") != nullptr;
    s_trace = trace;
    s_heavy_readings = 0;
    for (int step = 0; step < 64 && in.remaining_bytes() > 0 && s_heavy_readings < kHeavyReadingsPerInput; ++step) {
        const int op = in.ConsumeIntegralInRange<int>(0, 18);
        if (trace) std::fprintf(stderr, "step %d: op %d (%zu bytes left)\n", step, op, in.remaining_bytes());
        switch (op) {
            case 0: hostile_cpu(in); break;
            case 1: hostile_lists(in); break;
            case 2: hostile_processes(in); break;
            case 3: hostile_singles(in); break;
            case 4: hostile_counts(in); break;
            case 5: move_clock(in); break;
            case 6: sysmon_set_interval(in.ConsumeIntegral<int32_t>()); break;
            case 7: set_filter(in); break;
            case 8: kill(in); break;
            case 9: sysmon_cleanup(); break;
            case 10: FUZZ_CHECK(sysmon_init() == 0, "init result"); break;
            case 11:
            case 12: read_snapshot(); break;
            case 13: read_singles(); break;
            case 14: read_processes(in); break;
            case 15: read_tree(in); break;
            case 16: read_histories(in); break;
            case 17: {
                check_list(parse_document(sysmon_disks(), "disks"), kDisk, "disks", static_cast<size_t>(s_disks.capacity));
                check_list(parse_document(sysmon_network(), "network"), kNet, "network", static_cast<size_t>(s_nets.capacity));
                break;
            }
            default:
                FUZZ_CHECK(sysmon_platform() == 1, "platform code");
                break;
        }
    }
    sysmon_cleanup();
    return 0;
}
