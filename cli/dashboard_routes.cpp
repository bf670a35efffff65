#include "dashboard_routes.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <httplib.h>

#include "dashboard_assets.h"
#include "sampler.h"

namespace sysmon_cli {
namespace {

// The page loads nothing from elsewhere: scripts, styles and requests stay on
// this server, and nothing may run inline.
constexpr const char *kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// Not the plain "application/json": cpp-httplib compresses that type on every
// response by itself, where /api/live sends the copy compressed once per sample.
constexpr const char *kLiveType = "application/json; charset=utf-8";

void append_number(std::string &out, double value, int decimals) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  out.append(buf, ec == std::errc() ? end : buf);
}

// `text` gzip-compressed, or "" if zlib fails (the plain body is sent then).
std::string gzip(std::string_view text) {
  z_stream stream{};
  // 15 window bits + 16: a gzip header and trailer rather than zlib's.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    return {};
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef *>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return result == Z_STREAM_END ? out : std::string();
}

bool accepts_gzip(const httplib::Request &req) {
  const std::string accepted = req.get_header_value("Accept-Encoding");
  return accepted.find("gzip") != std::string::npos;
}

// One sample as the page reads it: the documents it shows, the full process
// list (the page sorts, filters and builds the tree itself) and the sampling
// figures that pace its requests.
std::string compose_live(const Sample &sample, int interval_ms) {
  std::string out;
  out.reserve(sample.cpu.size() + sample.memory.size() + sample.disks.size() +
              sample.network.size() + sample.gpu.size() + sample.battery.size() +
              sample.system.size() + sample.processes.size() + 256);
  out += "{\"sequence\":";
  out += std::to_string(sample.sequence);
  out += ",\"taken_unix\":";
  append_number(out, sample.taken_unix, 3);
  out += ",\"interval_ms\":";
  out += std::to_string(interval_ms);
  const std::pair<const char *, const std::string *> members[] = {
      {"cpu", &sample.cpu},         {"memory", &sample.memory}, {"disks", &sample.disks},
      {"network", &sample.network}, {"gpu", &sample.gpu},       {"battery", &sample.battery},
      {"system", &sample.system},   {"processes", &sample.processes}};
  for (const auto &[name, text] : members) {
    out += ",\"";
    out += name;
    out += "\":";
    out += text->empty() ? "null" : *text;
  }
  out += '}';
  return out;
}

// The body of /api/live for the latest sample, composed once per sample
// whatever the number of pages asking, and its compressed copy made once at
// the first request that accepts it.
class LiveCache {
 public:
  struct Body {
    std::uint64_t sequence = 0;
    double taken_unix = 0;
    std::string plain;
    std::string compressed;  // "" until asked for, or when zlib failed
    bool compression_tried = false;
  };

  explicit LiveCache(const Sampler &sampler) : sampler_(sampler) {}

  std::shared_ptr<const Body> get(bool compressed) {
    auto sample = sampler_.latest();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!body_ || body_->sequence != sample->sequence) {
      auto body = std::make_shared<Body>();
      body->sequence = sample->sequence;
      body->taken_unix = sample->taken_unix;
      body->plain = compose_live(*sample, sampler_.interval_ms());
      body_ = std::move(body);
    }
    if (compressed && !body_->compression_tried) {
      // Bodies already handed out are never changed: a new one takes the copy.
      auto body = std::make_shared<Body>(*body_);
      body->compressed = gzip(body->plain);
      body->compression_tried = true;
      body_ = std::move(body);
    }
    return body_;
  }

 private:
  const Sampler &sampler_;
  std::mutex mutex_;
  std::shared_ptr<const Body> body_;
};

void common_headers(httplib::Response &res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
}

}  // namespace

void add_dashboard_routes(httplib::Server &server, const Sampler &sampler) {
  for (std::size_t i = 0; i < kDashboardAssetCount; ++i) {
    const DashboardAsset &asset = kDashboardAssets[i];
    server.Get(asset.path, [&asset](const httplib::Request &, httplib::Response &res) {
      common_headers(res);
      res.set_header("Content-Security-Policy", kContentSecurityPolicy);
      // The assets change only with the binary; revalidating is cheap and
      // keeps a page from mixing an old script with a new server.
      res.set_header("Cache-Control", "no-cache");
      res.set_content(reinterpret_cast<const char *>(asset.data), asset.size, asset.content_type);
    });
  }

  auto cache = std::make_shared<LiveCache>(sampler);
  server.Get("/api/live", [cache](const httplib::Request &req, httplib::Response &res) {
    const bool gzip_ok = accepts_gzip(req);
    auto body = cache->get(gzip_ok);
    common_headers(res);
    res.set_header("Cache-Control", "no-store");
    res.set_header("Vary", "Accept-Encoding");
    // The page asks once per interval; a connection kept open in between
    // costs more than a new one, as cpp-httplib wakes every 10 ms to watch an
    // idle kept-alive connection. Browsers close it after this response.
    res.set_header("Connection", "close");
    // How old the sample is, so that the page asks again just after the next.
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const long age_ms = std::max(0L, static_cast<long>((now - body->taken_unix) * 1000.0));
    res.set_header("Sysmon-Sample-Age-Ms", std::to_string(age_ms));
    const bool send_gzip = gzip_ok && !body->compressed.empty();
    if (send_gzip) res.set_header("Content-Encoding", "gzip");
    res.set_content(send_gzip ? body->compressed : body->plain, kLiveType);
  });
}

}  // namespace sysmon_cli
