// sysmon: queries, a live terminal view and a Prometheus exporter built on
// the vantorel-sysmon library.
#include <cstdio>
#include <exception>
#include <functional>
#include <string>

#include <CLI/CLI.hpp>
#include <vantorel/sysmon.h>

#include "document_reader.h"
#include "history_metric.h"
#include "query_command.h"
#include "serve_command.h"
#include "top_command.h"

namespace {

using sysmon_cli::Document;
using sysmon_cli::QueryOptions;

constexpr int kMaxIntervalMs = 3600 * 1000;

// A sort key accepted by --sort.
std::string check_sort(const std::string &text) {
  return sysmon_cli::parse_sort_key(text) ? std::string() : "unknown sort key: " + text;
}

std::string check_metric(const std::string &text) {
  if (sysmon_cli::parse_history_metric(text)) return {};
  std::string names;
  for (const std::string &name : sysmon_cli::history_metric_names()) {
    names += names.empty() ? name : ", " + name;
  }
  return "unknown metric: " + text + " (one of " + names + ", or 0-7)";
}

void add_interval_option(CLI::App &sub, int &interval_ms, const std::string &what) {
  sub.add_option("--interval", interval_ms, what + " in milliseconds (default 1000)")
      ->check(CLI::Range(100, kMaxIntervalMs));
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"sysmon " SYSMON_VERSION_STRING
               ": system figures from the vantorel-sysmon library.\n"
               "Queries print JSON documents; `top` is a live view; `serve` exports to Prometheus."};
  app.set_version_flag("--version", SYSMON_VERSION_STRING);
  app.require_subcommand(1);
  // Options of the main command (--pretty) may also follow the subcommand.
  app.fallthrough();
  app.footer("Exit status: 0 success, 1 the reading or the kill failed, 2 usage error.");

  QueryOptions query;
  app.add_flag("--pretty", query.pretty, "Indent the JSON output");

  std::function<int()> action;

  const char *rate_note =
      "Rates are measured over --interval: the command collects once, waits, then reads.";
  struct Simple {
    const char *name;
    Document doc;
    const char *help;
  };
  const Simple simple[] = {
      {"snapshot", Document::snapshot, "Everything at once: processor, memory, volumes, network, "
                                       "the 50 busiest processes, GPU, battery, system"},
      {"cpu", Document::cpu, "Processor: model, cores, total and per-processor load, frequency"},
      {"memory", Document::memory, "Memory and swap in bytes"},
      {"disks", Document::disks, "Volumes: space and read/write rates"},
      {"network", Document::network, "Network interfaces: address, byte rates and totals"},
      {"gpu", Document::gpu, "GPU"},
      {"battery", Document::battery, "Battery"},
      {"system", Document::system, "Host name, OS, kernel, uptime, boot time, architecture"},
  };
  for (const Simple &s : simple) {
    CLI::App *sub = app.add_subcommand(s.name, s.help);
    if (sysmon_cli::document_has_rates(s.doc)) {
      sub->footer(rate_note);
      add_interval_option(*sub, query.interval_ms, "Measuring window");
    }
    const Document doc = s.doc;
    sub->callback([&, doc] {
      query.request.doc = doc;
      action = [&] { return sysmon_cli::run_query(query); };
    });
  }

  std::string sort_name = "cpu";
  CLI::App *processes = app.add_subcommand("processes", "Process list, sorted and filtered");
  processes->add_option("--sort", sort_name, "cpu (busiest first, default), memory, pid or name")
      ->check(check_sort);
  processes->add_option("--limit", query.request.limit, "At most N processes (default: all)")
      ->check(CLI::NonNegativeNumber);
  processes->add_option("--filter", query.request.filter,
                        "Only processes whose name or command contains TEXT (any letter case)");
  add_interval_option(*processes, query.interval_ms, "Measuring window of processor shares");
  processes->footer(rate_note);
  processes->callback([&] {
    query.request.doc = Document::processes;
    query.request.sort = *sysmon_cli::parse_sort_key(sort_name);
    action = [&] { return sysmon_cli::run_query(query); };
  });

  CLI::App *tree = app.add_subcommand("tree", "Process tree: parents with their children");
  tree->add_option("--limit", query.request.limit,
                   "The N roots (processes whose parent is not listed) with the busiest "
                   "subtrees, each with its whole subtree (default: all)")
      ->check(CLI::NonNegativeNumber);
  tree->add_option("--filter", query.request.filter,
                   "Only processes whose name or command contains TEXT (any letter case)");
  add_interval_option(*tree, query.interval_ms, "Measuring window of processor shares");
  tree->footer(rate_note);
  tree->callback([&] {
    query.request.doc = Document::tree;
    action = [&] { return sysmon_cli::run_query(query); };
  });

  std::string metric_name;
  query.request.count = 300;
  CLI::App *history = app.add_subcommand(
      "history", "Samples of one figure, taken by snapshots --interval apart (oldest first)");
  history
      ->add_option("METRIC", metric_name,
                   "cpu, memory, net-down, net-up, disk-read, disk-write, gpu, cpu-temperature "
                   "(or their numbers 0-7), or cpu-cores for one array per processor")
      ->required()
      ->check(check_metric);
  history->add_option("--count", query.request.count, "Newest N samples (default 300, the most kept)")
      ->check(CLI::Range(1, 300));
  history->add_option("--samples", query.samples, "Snapshots to take first (default 1)")
      ->check(CLI::Range(1, 300));
  add_interval_option(*history, query.interval_ms, "Time before each snapshot");
  history->callback([&] {
    query.request.doc = Document::history;
    query.request.metric = *sysmon_cli::parse_history_metric(metric_name);
    action = [&] { return sysmon_cli::run_query(query); };
  });

  int kill_pid = 0;
  CLI::App *kill = app.add_subcommand(
      "kill", "End process PID forcefully; on failure the reason goes to stderr, status 1");
  kill->add_option("PID", kill_pid, "Process identifier")->required();
  kill->callback([&] { action = [&] { return sysmon_cli::run_kill(kill_pid); }; });

  sysmon_cli::TopOptions top_options;
  CLI::App *top = app.add_subcommand(
      "top", "Live view: loads, memory, network and disk rates, processes (q quits)");
  add_interval_option(*top, top_options.interval_ms, "Refresh interval");
  top->footer(
      "Keys: c m p n sort by processor, memory, pid, name; / filter; t list or tree;\n"
      "      up/down select; k end the selected process (asks first); q quit.");
  top->callback([&] { action = [&] { return sysmon_cli::run_top(top_options); }; });

  sysmon_cli::ServeOptions serve_options;
  CLI::App *serve = app.add_subcommand(
      "serve", "HTTP exporter: GET /metrics (Prometheus text format) and /api/<document> (JSON)");
  serve->add_option("--listen", serve_options.listen,
                    "HOST:PORT to listen on (default 127.0.0.1:9101; port 0 picks a free one)");
  add_interval_option(*serve, serve_options.interval_ms,
                      "Sampling interval: every document is read once per interval and rates span it,");
  serve->add_option("--web.config.file", serve_options.web_config_file,
                    "Web configuration (YAML, as Prometheus exporters share it): TLS, client "
                    "certificates, basic authentication; read again when it changes");
  serve->add_flag("--no-api", serve_options.no_api, "Serve /metrics and the landing page only");
  serve->add_option("--top-processes", serve_options.top_processes,
                    "Busiest and largest processes exported by name and pid (default 10; 0: none)")
      ->check(CLI::Range(0, 2048));
  serve->footer(
      "Documents: /api/snapshot, cpu, memory, disks, network, gpu, battery, system,\n"
      "/api/processes?sort=cpu|memory|pid|name&limit=N&filter=TEXT, /api/tree?limit=N&filter=TEXT,\n"
      "/api/history?metric=NAME&count=N; / and /about link them. Read-only: every other path is\n"
      "404, other methods 405. Requests read the latest sample and never collect.");
  serve->callback([&] { action = [&] { return sysmon_cli::run_serve(serve_options); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    // CLI11 prints the message (or the help); its own codes become 2.
    return app.exit(e) == 0 ? 0 : 2;
  }
  try {
    return action ? action() : 2;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "sysmon: %s\n", e.what());
    return 1;
  }
}
