// The web configuration file that Prometheus exporters share
// (--web.config.file): TLS with optional client certificates, and HTTP basic
// authentication against bcrypt hashes. Read with yaml-cpp; the file, and
// the certificate, key and CA files it names, are read again when they
// change, so a renewed certificate applies to the next connection.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace sysmon_cli {

// A configuration that cannot be used; what() says why, never a credential.
struct WebConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class ClientAuth {
  none,                // NoClientCert (default)
  request,             // RequestClientCert: asked for, not required nor verified
  require_any,         // RequireAnyClientCert: required, not verified
  verify_if_given,     // VerifyClientCertIfGiven
  require_and_verify,  // RequireAndVerifyClientCert
};

struct TlsSettings {
  std::string cert_file, key_file, client_ca_file;  // resolved against the file's folder
  ClientAuth client_auth = ClientAuth::none;
  int min_version = 0;  // TLS1_2_VERSION unless given
  int max_version = 0;  // 0: the newest the library has
};

struct WebSettings {
  std::optional<TlsSettings> tls;
  std::map<std::string, std::string> users;  // name -> bcrypt hash
};

// The settings of a configuration text. Relative paths are taken from
// `base_dir`. Unknown keys, missing files names, unknown versions or
// client_auth_type values and hashes that are not bcrypt are errors.
WebSettings parse_web_config(const std::string &yaml_text, const std::string &base_dir);

// Checks "Authorization" header values against the users of one
// configuration. A password verified once is remembered (as a keyed digest)
// so that a scrape does not pay bcrypt each time; every comparison is in
// constant time, and an unknown user costs one bcrypt like a known one.
class BasicAuth {
 public:
  explicit BasicAuth(std::map<std::string, std::string> users);
  bool enabled() const { return !users_.empty(); }
  bool check(std::string_view authorization) const;

 private:
  std::map<std::string, std::string> users_;
  unsigned char key_[32];
  mutable std::mutex cache_mutex_;
  mutable std::map<std::string, std::vector<unsigned char>> verified_;  // user -> digest
};

// "Basic dXNlcjpwYXNz" into user and password; false when malformed.
bool parse_basic_authorization(std::string_view header, std::string &user, std::string &password);

// One configuration in force: its settings, ready to use.
struct WebConfig {
  WebSettings settings;
  std::shared_ptr<SSL_CTX> tls;  // built from settings.tls; null without TLS
  std::unique_ptr<BasicAuth> auth;
};

// Reads and builds a configuration; throws WebConfigError.
std::shared_ptr<const WebConfig> load_web_config(const std::string &path);

// The configuration in force, read again when a file it depends on changes.
class WebConfigSource {
 public:
  // Loads the file (throws WebConfigError when it is unusable).
  explicit WebConfigSource(std::string path);
  // The configuration in force; first looks whether the files changed (at
  // most once per 200 ms) and loads them again if so. A changed file that is
  // unusable leaves the configuration in force and is reported on stderr once.
  std::shared_ptr<const WebConfig> current();
  const std::string &path() const { return path_; }

 private:
  struct Stamp {
    std::string path;
    long long mtime_ns = 0, size = -1;
    unsigned long long inode = 0;
    bool operator==(const Stamp &) const = default;
  };
  std::vector<Stamp> stamps(const WebConfig *config) const;

  std::string path_;
  std::mutex mutex_;
  std::shared_ptr<const WebConfig> config_;
  std::vector<Stamp> loaded_stamps_, refused_stamps_;
  std::chrono::steady_clock::time_point checked_;
};

// Sets up the server's TLS context so that every connection takes the
// certificate, key, client verification and versions of the configuration in
// force when it says hello. Session resumption is off, so every connection
// is checked against the configuration in force.
bool install_tls_switch(SSL_CTX &server_ctx, WebConfigSource &source);

}  // namespace sysmon_cli
