#include "serve_command.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <vantorel/sysmon.h>

#include "busiest_roots.h"
#include "connection_guard.h"
#include "dashboard_routes.h"
#include "document_reader.h"
#include "exporter_metrics.h"
#include "history_metric.h"
#include "listen_address.h"
#include "sampler.h"
#include "web_config.h"

namespace sysmon_cli {
namespace {

// Requests carry no body; a larger one is refused with 413 whatever the method.
constexpr std::size_t kMaxBodyBytes = 4096;

bool parse_int(const std::string &text, long low, long high, long &out) {
  try {
    std::size_t used = 0;
    const long value = std::stol(text, &used);
    if (used != text.size() || value < low || value > high) return false;
    out = value;
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

// Fills `request` from the query parameters; returns an error text or "".
std::string apply_parameters(const httplib::Request &req, DocumentRequest &request) {
  for (const auto &[name, value] : req.params) {
    long number = 0;
    const bool listing = request.doc == Document::processes || request.doc == Document::tree;
    if (name == "limit" && listing) {
      if (!parse_int(value, 0, 1 << 20, number)) return "bad limit: " + value;
      request.limit = static_cast<int>(number);
    } else if (name == "filter" && listing) {
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
      if (!parse_int(value, 1, 300, number)) return "bad count: " + value;
      request.count = static_cast<int>(number);
    } else {
      return "unknown parameter: " + name;
    }
  }
  return {};
}

bool is_loopback(const std::string &host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

void plain(httplib::Response &res, int status, const std::string &text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

// Everything the routes answer from: the sampler's latest sample, the web
// configuration in force, the options.
class Exporter {
 public:
  Exporter(const ServeOptions &options, Sampler &sampler, WebConfigSource *web)
      : options_(options), sampler_(sampler), web_(web) {}

  // Runs before routing, for every request: the limits on bodies, the
  // credentials, the methods. Anything it answers is not routed.
  httplib::Server::HandlerResponse check(const httplib::Request &req, httplib::Response &res) {
    ConnectionGuard::request_started();
    const bool chunked = req.has_header("Transfer-Encoding");
    long length = 0;
    const bool has_length = req.has_header("Content-Length");
    const bool length_ok = !has_length || parse_int(req.get_header_value("Content-Length"), 0,
                                                    std::numeric_limits<long>::max(), length);
    // A body is never read: after the answer the connection is closed.
    if (chunked || !length_ok || length > 0) ConnectionGuard::close_after_response();
    if (!length_ok) {
      plain(res, 400, "bad Content-Length");
    } else if (static_cast<unsigned long>(length) > kMaxBodyBytes) {
      plain(res, 413, "request bodies are limited to " + std::to_string(kMaxBodyBytes) + " bytes");
    } else if (chunked) {
      plain(res, 411, "a request body needs a Content-Length");
    } else if (!authorized(req)) {
      res.set_header("WWW-Authenticate", "Basic realm=\"sysmon\", charset=\"UTF-8\"");
      plain(res, 401, "unauthorized");
    } else if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      plain(res, 405, "read-only: only GET and HEAD");
    } else {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    return httplib::Server::HandlerResponse::Handled;
  }

  void landing(httplib::Response &res) const {
    // Relative links: the page works behind a reverse proxy's path prefix.
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>sysmon " SYSMON_VERSION_STRING "</title></head><body>\n"
        "<h1>sysmon exporter</h1>\n<p>sysmon " SYSMON_VERSION_STRING
        ", the vantorel-sysmon library's Prometheus exporter. Figures are sampled every " +
        std::to_string(sampler_.interval_ms()) +
        " ms; rates and loads span that window.</p>\n"
        "<ul>\n<li><a href=\"metrics\">metrics</a> (Prometheus text format)</li>\n";
    if (!options_.no_api) {
      for (const char *doc : {"snapshot", "cpu", "memory", "disks", "network", "processes", "tree",
                              "gpu", "battery", "system", "history?metric=cpu"}) {
        page += "<li><a href=\"api/" + std::string(doc) + "\">api/" + doc + "</a></li>\n";
      }
    }
    page += "</ul>\n</body></html>\n";
    res.set_content(page, "text/html; charset=utf-8");
  }

  void metrics(httplib::Response &res) {
    std::shared_ptr<const std::string> text = metrics_text(sampler_.latest());
    if (!text) {
      plain(res, 500, "the library returned a document that does not parse");
      return;
    }
    res.set_content(*text, "text/plain; version=0.0.4; charset=utf-8");
  }

  void api(const httplib::Request &req, httplib::Response &res) const {
    auto doc = parse_document(req.matches[1].str());
    if (!doc) return plain(res, 404, "no such document");
    DocumentRequest request;
    request.doc = *doc;
    std::string error = apply_parameters(req, request);
    if (!error.empty()) return plain(res, 400, error);
    std::shared_ptr<const Sample> s = sampler_.latest();
    const ProcessQuery query{request.sort, request.limit, request.filter};
    const bool whole = request.limit < 1 && request.filter.empty();
    std::string body;
    switch (request.doc) {
      case Document::snapshot: body = s->snapshot; break;
      case Document::cpu: body = s->cpu; break;
      case Document::memory: body = s->memory; break;
      case Document::disks: body = s->disks; break;
      case Document::network: body = s->network; break;
      case Document::gpu: body = s->gpu; break;
      case Document::battery: body = s->battery; break;
      case Document::system: body = s->system; break;
      case Document::processes:
        body = whole && request.sort == SYSMON_SORT_CPU ? s->processes : s->process_table->list(query);
        break;
      case Document::tree: {
        // As `sysmon tree`: a root limit keeps the roots with the busiest
        // subtrees, cut from the whole (filtered) tree.
        const std::string forest =
            request.filter.empty() ? s->tree : s->process_table->tree({0, 0, request.filter});
        body = request.limit < 1 ? forest : busiest_roots(forest, request.limit);
        break;
      }
      case Document::history: body = sampler_.history(request.metric, request.count); break;
    }
    res.set_content(body, "application/json");
  }

 private:
  bool authorized(const httplib::Request &req) const {
    if (web_ == nullptr) return true;
    std::shared_ptr<const WebConfig> config = web_->current();
    if (!config->auth->enabled()) return true;
    return config->auth->check(req.get_header_value("Authorization"));
  }

  // The exposition of one sample, rendered once however many scrape it.
  std::shared_ptr<const std::string> metrics_text(const std::shared_ptr<const Sample> &s) {
    std::lock_guard<std::mutex> lock(metrics_mutex_);
    if (metrics_sequence_ == s->sequence) return metrics_;
    auto snapshot = nlohmann::json::parse(s->snapshot, nullptr, false);
    if (snapshot.is_discarded()) return nullptr;
    const ProcessTable &table = *s->process_table;
    const std::size_t n = options_.top_processes;
    nlohmann::json busiest = nlohmann::json::array(), largest = nlohmann::json::array();
    for (std::size_t i = 0; i < n && i < table.busiest_first().size(); ++i) {
      busiest.push_back(nlohmann::json::parse(table.busiest_first()[i].text, nullptr, false));
      largest.push_back(
          nlohmann::json::parse(table.busiest_first()[table.largest_first()[i]].text, nullptr, false));
    }
    MetricsInput input{snapshot, busiest, largest, table.busiest_first().size(), n,
                       s->duration_seconds};
    metrics_ = std::make_shared<const std::string>(render_metrics(input));
    metrics_sequence_ = s->sequence;
    return metrics_;
  }

  const ServeOptions &options_;
  Sampler &sampler_;
  WebConfigSource *web_;
  std::mutex metrics_mutex_;
  std::uint64_t metrics_sequence_ = 0;
  std::shared_ptr<const std::string> metrics_;
};

// Every route of the server, in one place. Every path sits behind
// Exporter::check (credentials, methods, bodies), which runs before routing.
void register_routes(httplib::Server &server, Exporter &exporter, const Sampler &sampler,
                     const ServeOptions &options) {
  server.set_pre_routing_handler(
      [&](const httplib::Request &req, httplib::Response &res) { return exporter.check(req, res); });
  server.set_logger([](const httplib::Request &, const httplib::Response &) {
    ConnectionGuard::request_finished();
  });
  auto landing = [&](const httplib::Request &, httplib::Response &res) { exporter.landing(res); };
  // The dashboard shows command lines, so it goes with the API; before the
  // /api pattern, since cpp-httplib takes the first route that matches.
  if (!options.no_api) {
    add_dashboard_routes(server, sampler);
  } else {
    server.Get("/", landing);
  }
  server.Get("/about", landing);
  server.Get("/metrics", [&](const httplib::Request &, httplib::Response &res) {
    exporter.metrics(res);
  });
  if (!options.no_api) {
    server.Get(R"(/api/([a-z_]+))", [&](const httplib::Request &req, httplib::Response &res) {
      exporter.api(req, res);
    });
  }
  server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
    if (res.body.empty()) {
      const char *what = res.status == 404 ? "not found" : "error";
      plain(res, res.status, std::to_string(res.status) + ' ' + what);
    }
  });
}

void warn_if_exposed(const ListenAddress &address, const ServeOptions &options) {
  if (is_loopback(address.host) || !options.web_config_file.empty()) return;
  std::fprintf(stderr,
               "sysmon serve: warning: listening on %s beyond this machine without "
               "--web.config.file: anyone who reaches the port reads, unencrypted and "
               "without a password, the metrics%s. Use --web.config.file for TLS and basic "
               "authentication%s.\n",
               address.host.c_str(),
               options.no_api ? "" : " and, through /api, every process's command line "
                                     "(command lines often hold passwords and tokens)",
               options.no_api ? "" : ", or --no-api");
}

}  // namespace

int run_serve(const ServeOptions &options) {
  auto address = parse_listen_address(options.listen);
  if (!address) {
    std::fprintf(stderr, "sysmon serve: --listen wants HOST:PORT, not \"%s\"\n",
                 options.listen.c_str());
    return 2;
  }
  std::unique_ptr<WebConfigSource> web;
  if (!options.web_config_file.empty()) {
    try {
      web = std::make_unique<WebConfigSource>(options.web_config_file);
    } catch (const WebConfigError &e) {
      std::fprintf(stderr, "sysmon serve: web configuration %s is not usable: %s\n",
                   options.web_config_file.c_str(), e.what());
      return 1;
    }
  }
  warn_if_exposed(*address, options);

  // SIGINT and SIGTERM are taken by one thread that stops the server; every
  // other thread (the sampler and the connections included) inherits the
  // blocked mask. A client gone mid-answer must not end the process.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Sampler sampler(options.interval_ms);
  Exporter exporter(options, sampler, web.get());
  std::unique_ptr<httplib::Server> server;
  const bool tls = web && web->current()->tls;
  if (tls) {
    server = std::make_unique<httplib::SSLServer>(
        [&](SSL_CTX &ctx) { return install_tls_switch(ctx, *web); });
  } else {
    server = std::make_unique<httplib::Server>();
  }
  // SO_REUSEADDR only: a restarted exporter gets its port back at once, but a
  // second one on a port in use fails instead of sharing it (SO_REUSEPORT,
  // the library's default, would split the scrapes between both).
  server->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server->set_payload_max_length(kMaxBodyBytes);
  server->set_read_timeout(5, 0);
  server->set_write_timeout(5, 0);
  server->set_keep_alive_timeout(5);
  register_routes(*server, exporter, sampler, options);

  int port = address->port;
  if (port == 0) {
    port = server->bind_to_any_port(address->host);
  } else if (!server->bind_to_port(address->host, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "sysmon serve: cannot listen on %s\n", options.listen.c_str());
    return 1;
  }
  server->new_task_queue = [port] { return new ConnectionGuard(port, GuardLimits{}); };
  const bool v6 = address->host.find(':') != std::string::npos;
  std::fprintf(stderr, "sysmon serve: listening on %s://%s%s%s:%d/metrics\n", tls ? "https" : "http",
               v6 ? "[" : "", address->host.c_str(), v6 ? "]" : "", port);
  std::fflush(stderr);

  std::atomic<bool> ended{false};
  std::thread stopper([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    // A signal that came before the server runs waits for it: stopping a
    // server that has not started yet does nothing.
    while (!ended && !server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server->stop();
  });
  const bool ok = server->listen_after_bind();
  ended = true;
  // Wake the stopper if the server ended by itself.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  server.reset();
  sampler.stop();
  sysmon_cleanup();
  return ok ? 0 : 1;
}

}  // namespace sysmon_cli
