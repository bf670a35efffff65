// The cost of one sysmon_gpu() reading with the fake NVML of the tests
// (tests/gpu/fake_nvml.c, built here as libnvidia-ml.so.1) listing two
// devices, and the heap allocations a reading makes after the first (there
// should be none). The program starts itself again with LD_LIBRARY_PATH
// pointing at the fake, so that the library finds it by its ordinary name.
//   build/bench/bench/sysmon_gpu_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vantorel/sysmon.h>

#include "allocation_counter.h"

namespace {

const char kConfig[] =
    "driver 550.54.14\n"
    "device\nname NVIDIA A100-SXM4-40GB\nbus 00000000:65:00.0\nutil 0 3\n"
    "mem2 42949672960 536870912 1610612736 0\ntemp 33 0\npower 61234 0\n"
    "device\nname NVIDIA GeForce RTX 3090\nbus 00000000:B3:00.0\nutil 87 0\n"
    "mem2 25769803776 0 8000000000 0\ntemp 71 0\npower 305500 0\n";

void BM_GpuReading(benchmark::State &state) {
    sysmon_init();
    sysmon_gpu();  // the first reading may grow its buffer
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = allocations_made();
        benchmark::DoNotOptimize(sysmon_gpu());
        allocations += allocations_made() - before;
    }
    state.counters["allocs_per_reading"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
    state.counters["nvml_source"] = std::strstr(sysmon_gpu(), "\"source\":\"nvml\"") != nullptr ? 1 : 0;
    sysmon_cleanup();
}
BENCHMARK(BM_GpuReading)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
    if (std::getenv("SYSMON_GPU_BENCH_CHILD") == nullptr) {
        setenv("LD_LIBRARY_PATH", SYSMON_BENCH_FAKE_NVML_DIR, 1);
        setenv("SYSMON_GPU_BENCH_CHILD", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("execv");
        return 1;
    }
    char path[] = "/tmp/sysmon-gpu-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, kConfig, sizeof kConfig - 1) != static_cast<ssize_t>(sizeof kConfig - 1)) return 1;
    close(fd);
    setenv("FAKE_NVML_CONFIG", path, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    unlink(path);
    return 0;
}
