// The command's plain parts on made-up input: the exposition format, the
// exporter's metrics from hand-written documents, argument parsers and the
// terminal view's text helpers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <vantorel/sysmon.h>

#include "document_reader.h"
#include "exporter_metrics.h"
#include "exposition.h"
#include "gpu_lines.h"
#include "history_metric.h"
#include "json_output.h"
#include "listen_address.h"
#include "process_rows.h"
#include "text_fit.h"

namespace sysmon_cli {
namespace {

using nlohmann::json;

TEST(Exposition, EscapesAndSkipsEmptyFamilies) {
  EXPECT_EQ(escape_label_value("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
  EXPECT_EQ(escape_help("x\\y\nz\""), "x\\\\y\\nz\"");
  Exposition out;
  out.family("empty_total", "counter", "never sampled");
  out.family("demo_bytes", "gauge", "Line one\nline two");
  out.sample({{"name", "say \"hi\""}, {"pid", "7"}}, std::uint64_t{18446744073709551615u});
  out.sample(0.25);
  EXPECT_EQ(out.text(),
            "# HELP demo_bytes Line one\\nline two\n"
            "# TYPE demo_bytes gauge\n"
            "demo_bytes{name=\"say \\\"hi\\\"\",pid=\"7\"} 18446744073709551615\n"
            "demo_bytes 0.25\n");
}

TEST(Exposition, NumbersReadBackExactly) {
  EXPECT_EQ(format_value(3.0), "3");
  EXPECT_EQ(format_value(0.1234), "0.1234");
  EXPECT_EQ(format_value(2.4e9), "2400000000");
  EXPECT_EQ(format_value(-0.5), "-0.5");
  EXPECT_EQ(format_value(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(format_value(std::numeric_limits<double>::infinity()), "+Inf");
}

TEST(ExporterMetrics, FromHandWrittenDocuments) {
  json snapshot = json::parse(R"({
    "cpu":{"name":"x","cores":1,"threads":2,"total_usage":0.99,"frequency_mhz":2400.0,
           "per_core":[25.00,75.00],"temperature_c":0.0,"busy_seconds":1234.57,
           "idle_seconds":99.10,"per_core_busy_seconds":[600.00,634.57],
           "per_core_idle_seconds":[49.55,49.55]},
    "memory":{"total":1000,"used":400,"available":600,"cached":10,"swap_total":0,"swap_used":0},
    "disks":[{"name":"sd\"a1","mount":"/","fs":"ext4","total":10,"used":4,"free":6,
              "read_bytes_sec":1,"write_bytes_sec":2,"total_read":4096,"total_written":8192}],
    "network":[{"name":"eth0","ip":"10.0.0.1","up_bytes_sec":5,"down_bytes_sec":6,
                "total_sent":70,"total_recv":80}],
    "processes":[{"pid":9,"name":"busy","cpu_percent":100.00}],
    "gpu":{}, "battery":{"present":false,"percent":0,"status":"AC_Power"},
    "system":{"hostname":"h","os":"o","kernel":"k","uptime_seconds":42,"cpu_arch":"x86_64"}})");
  json by_memory = json::array();
  for (int pid = 1; pid <= 12; ++pid) by_memory.push_back({{"pid", pid}, {"name", "p"}, {"memory_bytes", 100 - pid}});
  const std::string text =
      render_metrics({snapshot, snapshot["processes"], by_memory, 12, kTopProcesses, 0.0125});
  for (const char *line : {
           "sysmon_cpu_usage_ratio 0.0099\n",  // not 0.009899999999999999
           "# TYPE sysmon_cpu_seconds_total counter\n",
           "sysmon_cpu_seconds_total{mode=\"busy\"} 1234.57\n",
           "sysmon_cpu_core_seconds_total{core=\"1\",mode=\"idle\"} 49.55\n",
           "# TYPE sysmon_volume_read_bytes_total counter\n",
           "sysmon_volume_written_bytes_total{device=\"sd\\\"a1\",mountpoint=\"/\",fstype=\"ext4\"} 8192\n",
           "sysmon_scrape_duration_seconds 0.0125\n",
           "sysmon_cpu_core_usage_ratio{core=\"1\"} 0.75\n",
           "sysmon_cpu_frequency_hertz 2400000000\n",
           "sysmon_memory_total_bytes 1000\n",
           "sysmon_volume_free_bytes{device=\"sd\\\"a1\",mountpoint=\"/\",fstype=\"ext4\"} 6\n",
           "# TYPE sysmon_network_receive_bytes_total counter\n",
           "sysmon_network_receive_bytes_total{device=\"eth0\"} 80\n",
           "sysmon_network_transmit_bytes_per_second{device=\"eth0\"} 5\n",
           "sysmon_processes 12\n",
           "sysmon_top_process_cpu_ratio{pid=\"9\",name=\"busy\"} 1\n",
           "sysmon_top_process_resident_memory_bytes{pid=\"10\",name=\"p\"} 90\n",
           "sysmon_uptime_seconds 42\n",
           "sysmon_battery_status{status=\"AC_Power\"} 1\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  // Ten processes by memory, no more; none with --top-processes 0.
  EXPECT_EQ(text.find("pid=\"11\""), std::string::npos);
  const std::string none = render_metrics({snapshot, snapshot["processes"], by_memory, 12, 0, 0});
  EXPECT_EQ(none.find("sysmon_top_process"), std::string::npos);
  EXPECT_NE(none.find("sysmon_processes 12\n"), std::string::npos);
  EXPECT_EQ(percent_ratio(12.34), 0.1234);
  EXPECT_EQ(percent_ratio(100.0), 1.0);
  EXPECT_EQ(percent_ratio(250.0), 2.5);  // busy on two and a half processors
  // Limits are exported only where set.
  EXPECT_EQ(text.find("_limit_"), std::string::npos);
  snapshot["memory"]["limit"] = 536870912;
  snapshot["memory"]["limit_used"] = 1048576;
  snapshot["cpu"]["limit_cpus"] = 0.5;
  const std::string limited = render_metrics({snapshot, snapshot["processes"], by_memory, 12, 0, 0});
  for (const char *line : {"sysmon_memory_limit_bytes 536870912\n", "sysmon_memory_limit_used_bytes 1048576\n",
                           "sysmon_cpu_limit_processors 0.5\n"})
    EXPECT_NE(limited.find(line), std::string::npos) << line;
  // Documents the library could not allocate ("{}", "[]") still give the families.
  const json nothing = json::array();
  const std::string empty = render_metrics({json::object(), nothing, nothing, 0, kTopProcesses, 0});
  EXPECT_NE(empty.find("sysmon_memory_total_bytes 0\n"), std::string::npos);
  EXPECT_EQ(empty.find("sysmon_volume_"), std::string::npos);
}

TEST(ExporterMetrics, OneSeriesPerGpuAdapter) {
  const json gpu = json::parse(R"({"name":"A","source":"nvml","adapters":[
    {"name":"A","usage_percent":37.50,"vram_total":17163091968,"vram_used":1024,"temperature_c":54.5,
     "driver":"550.54","power_watts":45.2,"source":"nvml","bus_id":"0000:65:00.0"},
    {"name":"B \"2\"","usage_percent":0.00,"vram_total":0,"vram_used":0,"temperature_c":0.0,
     "driver":"i915 6.1","power_watts":0.0,"source":"i915","bus_id":""}]})");
  const json none = json::array();
  const std::string text = render_metrics({json{{"gpu", gpu}}, none, none, 0, kTopProcesses, 0});
  for (const char *line : {
           "sysmon_gpu_usage_ratio{gpu=\"0\",name=\"A\"} 0.375\n",
           "sysmon_gpu_memory_total_bytes{gpu=\"0\",name=\"A\"} 17163091968\n",
           "sysmon_gpu_memory_used_bytes{gpu=\"1\",name=\"B \\\"2\\\"\"} 0\n",
           "sysmon_gpu_temperature_celsius{gpu=\"0\",name=\"A\"} 54.5\n",
           "sysmon_gpu_power_watts{gpu=\"0\",name=\"A\"} 45.2\n",
           "sysmon_gpu_info{gpu=\"1\",name=\"B \\\"2\\\"\",driver=\"i915 6.1\",source=\"i915\"} 1\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  const auto lines = gpu_lines(gpu);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].label, "GPU0");
  EXPECT_DOUBLE_EQ(lines[0].share, 0.375);
  EXPECT_EQ(lines[0].text, " 37.5%  1.0K/16.0G  54C  45W  A");
  // No adapter: no line and no series.
  EXPECT_TRUE(gpu_lines(json::parse(R"({"source":"none","adapters":[]})")).empty());
  EXPECT_EQ(render_metrics({json::object(), none, none, 0, kTopProcesses, 0}).find("sysmon_gpu_"),
            std::string::npos);
}

TEST(Arguments, ListenAddressesMetricsDocumentsSortKeys) {
  auto a = parse_listen_address("127.0.0.1:9101");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "127.0.0.1");
  EXPECT_EQ(a->port, 9101);
  auto v6 = parse_listen_address("[::1]:0");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host, "::1");
  EXPECT_EQ(v6->port, 0);
  for (const char *bad : {"", "9101", ":9101", "host:", "host:65536", "host:-1", "host:9x",
                          "::1:80", "host:123456"}) {
    EXPECT_FALSE(parse_listen_address(bad)) << bad;
  }
  EXPECT_EQ(parse_history_metric("net-down"), SYSMON_METRIC_NET_DOWN);
  EXPECT_EQ(parse_history_metric("CPU_Temperature"), SYSMON_METRIC_CPU_TEMPERATURE);
  EXPECT_EQ(parse_history_metric("5"), SYSMON_METRIC_DISK_WRITE);
  EXPECT_EQ(parse_history_metric("cpu-cores"), kCoreHistory);
  EXPECT_FALSE(parse_history_metric("8"));
  EXPECT_FALSE(parse_history_metric("swap"));
  EXPECT_EQ(parse_document("tree"), Document::tree);
  EXPECT_FALSE(parse_document("kill"));
  EXPECT_TRUE(document_has_rates(Document::network));
  EXPECT_FALSE(document_has_rates(Document::memory));
  EXPECT_EQ(parse_sort_key("name"), SYSMON_SORT_NAME);
  EXPECT_FALSE(parse_sort_key("size"));
}

TEST(TextHelpers, PrettyRowsSparklinesAndFitting) {
  EXPECT_EQ(limits_text(0, 0, 0), "");
  EXPECT_EQ(limits_text(0.5, 268435456, 12582912), " - limit 0.50 CPUs - mem limit 12.0M/256.0M");
  EXPECT_EQ(limits_text(0, 1024, 0), " - mem limit 0B/1.0K");
  EXPECT_EQ(format_document(R"({"a":[1]})", false), R"({"a":[1]})");
  EXPECT_EQ(format_document(R"({"a":[1]})", true), "{\n  \"a\": [\n    1\n  ]\n}");
  EXPECT_EQ(format_document("not json", true), "not json");

  auto rows = rows_from_tree(json::parse(
      R"([{"pid":1,"name":"init","children":[{"pid":5,"name":"sh","children":[]}]},
          {"pid":2,"name":"k","children":[]}])"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].pid, 5);
  EXPECT_EQ(rows[1].depth, 1);
  EXPECT_EQ(rows[2].depth, 0);
  EXPECT_EQ(rows_from_list(json::parse(R"([{"pid":3,"memory_bytes":7}])"))[0].memory_bytes, 7u);

  EXPECT_EQ(human_bytes(0), "0B");
  EXPECT_EQ(human_bytes(1536), "1.5K");
  EXPECT_EQ(human_bytes(3.0 * 1024 * 1024 * 1024), "3.0G");
  EXPECT_EQ(sparkline({0, 50, 100}, 5, 100, false), "  _=#");
  EXPECT_EQ(sparkline({0, 100}, 1, 1, true), "█");
  EXPECT_EQ(sparkline({5, 5}, 2, 0, true), "██");
  EXPECT_EQ(fit("héllo", 3), "hél");
  EXPECT_EQ(fit("a\tb", 5, true), "a?b  ");
}

}  // namespace
}  // namespace sysmon_cli
