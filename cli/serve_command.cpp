#include "serve_command.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <vantorel/sysmon.h>

#include "dashboard_routes.h"
#include "document_reader.h"
#include "exporter_metrics.h"
#include "history_metric.h"
#include "listen_address.h"
#include "sampler.h"

namespace sysmon_cli {
namespace {

// GET requests carry no body; anything larger is refused before it is read.
constexpr std::size_t kMaxPayloadBytes = 4096;
// Paths that exist; other methods than GET and HEAD on them get 405.
constexpr const char *kKnownPaths =
    R"(/metrics|/api/(snapshot|cpu|memory|disks|network|processes|tree|gpu|battery|system|history))";

bool parse_int(const std::string &text, int low, int high, int &out) {
  try {
    std::size_t used = 0;
    const long value = std::stol(text, &used);
    if (used != text.size() || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

// Fills `request` from the query parameters; returns an error text or "".
std::string apply_parameters(const httplib::Request &req, DocumentRequest &request) {
  for (const auto &[name, value] : req.params) {
    if (name == "limit" && (request.doc == Document::processes || request.doc == Document::tree)) {
      if (!parse_int(value, 0, 1 << 20, request.limit)) return "bad limit: " + value;
    } else if (name == "filter" &&
               (request.doc == Document::processes || request.doc == Document::tree)) {
      request.filter = value;
    } else if (name == "sort" && request.doc == Document::processes) {
      auto sort = parse_sort_key(value);
      if (!sort) return "bad sort: " + value;
      request.sort = *sort;
    } else if (name == "metric" && request.doc == Document::history) {
      auto metric = parse_history_metric(value);
      if (!metric) return "bad metric: " + value;
      request.metric = *metric;
    } else if (name == "count" && request.doc == Document::history) {
      if (!parse_int(value, 1, 300, request.count)) return "bad count: " + value;
    } else {
      return "unknown parameter: " + name;
    }
  }
  return {};
}

class Exporter {
 public:
  void metrics(httplib::Response &res) {
    std::string snapshot, by_memory;
    {
      // The library's texts are per function: one reader at a time copies them.
      std::lock_guard<std::mutex> lock(library_);
      snapshot = sysmon_snapshot();
      by_memory = sysmon_processes(0, SYSMON_SORT_MEMORY);
    }
    auto snap = nlohmann::json::parse(snapshot, nullptr, false);
    auto procs = nlohmann::json::parse(by_memory, nullptr, false);
    if (snap.is_discarded() || procs.is_discarded()) {
      res.status = 500;
      res.set_content("the library returned a document that does not parse\n", "text/plain");
      return;
    }
    res.set_content(render_metrics(snap, procs), "text/plain; version=0.0.4; charset=utf-8");
  }

  void api(const httplib::Request &req, httplib::Response &res) {
    auto doc = parse_document(req.matches[1].str());
    if (!doc) {
      res.status = 404;
      res.set_content("no such document\n", "text/plain");
      return;
    }
    DocumentRequest request;
    request.doc = *doc;
    std::string error = apply_parameters(req, request);
    if (!error.empty()) {
      res.status = 400;
      res.set_content(error + "\n", "text/plain");
      return;
    }
    std::string body;
    {
      std::lock_guard<std::mutex> lock(library_);
      body = read_document(request);
    }
    res.set_content(body, "application/json");
  }

 private:
  std::mutex library_;
};

}  // namespace

int run_serve(const ServeOptions &options) {
  auto address = parse_listen_address(options.listen);
  if (!address) {
    std::fprintf(stderr, "sysmon serve: --listen wants HOST:PORT, not \"%s\"\n",
                 options.listen.c_str());
    return 2;
  }

  // SIGINT and SIGTERM are taken by one thread that stops the server; every
  // other thread (the server's pool included) inherits the blocked mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  // The first collection gives the first scrape's rates a base.
  sysmon_init();

  Exporter exporter;
  httplib::Server server;
  server.set_payload_max_length(kMaxPayloadBytes);
  // SO_REUSEADDR only: a restarted exporter gets its port back at once, but a
  // second one on a port in use fails instead of sharing it (SO_REUSEPORT,
  // the library's default, would split the scrapes between both).
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_read_timeout(5, 0);
  server.set_write_timeout(5, 0);
  server.Get("/metrics", [&](const httplib::Request &, httplib::Response &res) {
    exporter.metrics(res);
  });
  Sampler sampler(1000);
  add_dashboard_routes(server, sampler);
  server.Get(R"(/api/([a-z_]+))", [&](const httplib::Request &req, httplib::Response &res) {
    exporter.api(req, res);
  });
  auto not_allowed = [](const httplib::Request &, httplib::Response &res) {
    res.status = 405;
    res.set_header("Allow", "GET, HEAD");
    res.set_content("read-only: only GET and HEAD\n", "text/plain");
  };
  server.Post(kKnownPaths, not_allowed);
  server.Put(kKnownPaths, not_allowed);
  server.Patch(kKnownPaths, not_allowed);
  server.Delete(kKnownPaths, not_allowed);
  server.Options(kKnownPaths, not_allowed);
  server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
    if (res.body.empty()) {
      const char *what = res.status == 404 ? "not found" : "error";
      res.set_content(std::to_string(res.status) + ' ' + what + '\n', "text/plain");
    }
  });

  int port = address->port;
  if (port == 0) {
    port = server.bind_to_any_port(address->host);
  } else if (!server.bind_to_port(address->host, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "sysmon serve: cannot listen on %s\n", options.listen.c_str());
    sysmon_cleanup();
    return 1;
  }
  const bool v6 = address->host.find(':') != std::string::npos;
  std::fprintf(stderr, "sysmon serve: listening on http://%s%s%s:%d/metrics\n", v6 ? "[" : "",
               address->host.c_str(), v6 ? "]" : "", port);
  std::fflush(stderr);

  std::thread stopper([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.stop();
  });
  const bool ok = server.listen_after_bind();
  // Wake the stopper if the server ended by itself.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  sampler.stop();
  sysmon_cleanup();
  return ok ? 0 : 1;
}

}  // namespace sysmon_cli
