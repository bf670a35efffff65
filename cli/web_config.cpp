#include "web_config.h"

#include <crypt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <yaml-cpp/yaml.h>

namespace sysmon_cli {
namespace {

std::string resolve(const std::string &base_dir, const std::string &path) {
  if (path.empty() || path[0] == '/' || base_dir.empty()) return path;
  return base_dir + '/' + path;
}

std::string scalar(const YAML::Node &node, const std::string &where) {
  if (!node.IsScalar()) throw WebConfigError(where + " must be a text");
  return node.as<std::string>();
}

void only_keys(const YAML::Node &map, const std::string &where,
               std::initializer_list<const char *> known) {
  for (const auto &item : map) {
    const std::string key = item.first.as<std::string>();
    bool found = false;
    for (const char *k : known) found = found || key == k;
    if (!found) throw WebConfigError("unknown or unsupported key \"" + key + "\" in " + where);
  }
}

int tls_version(const std::string &name) {
  if (name == "TLS10") return TLS1_VERSION;
  if (name == "TLS11") return TLS1_1_VERSION;
  if (name == "TLS12") return TLS1_2_VERSION;
  if (name == "TLS13") return TLS1_3_VERSION;
  throw WebConfigError("unknown TLS version \"" + name + "\" (TLS10, TLS11, TLS12 or TLS13)");
}

ClientAuth client_auth(const std::string &name) {
  if (name == "NoClientCert" || name.empty()) return ClientAuth::none;
  if (name == "RequestClientCert") return ClientAuth::request;
  if (name == "RequireAnyClientCert") return ClientAuth::require_any;
  if (name == "VerifyClientCertIfGiven") return ClientAuth::verify_if_given;
  if (name == "RequireAndVerifyClientCert") return ClientAuth::require_and_verify;
  throw WebConfigError("unknown client_auth_type \"" + name + "\"");
}

bool is_bcrypt_hash(const std::string &hash) {
  return hash.size() == 60 && hash[0] == '$' && hash[1] == '2' &&
         (hash[2] == 'a' || hash[2] == 'b' || hash[2] == 'y') && hash[3] == '$' &&
         hash[6] == '$';
}

// The first error OpenSSL queued, as text; the queue is emptied.
std::string openssl_error() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

void check_readable(const std::string &path, const char *what) {
  std::ifstream in(path);
  if (!in) throw WebConfigError(std::string("cannot read ") + what + " " + path + ": " + std::strerror(errno));
}

// Encrypted keys are refused instead of asking on the terminal.
int no_passphrase(char *, int, int, void *) { return 0; }

// RequestClientCert and RequireAnyClientCert take any certificate unverified.
int accept_any(int, X509_STORE_CTX *) { return 1; }

std::shared_ptr<SSL_CTX> make_tls_context(const TlsSettings &tls) {
  check_readable(tls.cert_file, "cert_file");
  check_readable(tls.key_file, "key_file");
  if (!tls.client_ca_file.empty()) check_readable(tls.client_ca_file, "client_ca_file");
  std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  if (!ctx) throw WebConfigError("cannot create a TLS context: " + openssl_error());
  SSL_CTX *c = ctx.get();
  SSL_CTX_set_default_passwd_cb(c, no_passphrase);
  if (SSL_CTX_use_certificate_chain_file(c, tls.cert_file.c_str()) != 1) {
    throw WebConfigError("cert_file " + tls.cert_file + " holds no usable certificate: " + openssl_error());
  }
  if (SSL_CTX_use_PrivateKey_file(c, tls.key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw WebConfigError("key_file " + tls.key_file + " holds no usable (unencrypted) key: " + openssl_error());
  }
  if (SSL_CTX_check_private_key(c) != 1) {
    throw WebConfigError("key_file " + tls.key_file + " does not match cert_file " + tls.cert_file);
  }
  SSL_CTX_set_min_proto_version(c, tls.min_version);
  SSL_CTX_set_max_proto_version(c, tls.max_version);
  SSL_CTX_set_options(c, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
  if (!tls.client_ca_file.empty()) {
    if (SSL_CTX_load_verify_locations(c, tls.client_ca_file.c_str(), nullptr) != 1) {
      throw WebConfigError("client_ca_file " + tls.client_ca_file + " holds no usable certificate: " +
                           openssl_error());
    }
    STACK_OF(X509_NAME) *names = SSL_load_client_CA_file(tls.client_ca_file.c_str());
    if (names != nullptr) SSL_CTX_set_client_CA_list(c, names);
  }
  switch (tls.client_auth) {
    case ClientAuth::none: SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr); break;
    case ClientAuth::request: SSL_CTX_set_verify(c, SSL_VERIFY_PEER, accept_any); break;
    case ClientAuth::require_any:
      SSL_CTX_set_verify(c, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, accept_any);
      break;
    case ClientAuth::verify_if_given: SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr); break;
    case ClientAuth::require_and_verify:
      SSL_CTX_set_verify(c, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
      break;
  }
  return ctx;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict standard base64 with padding; false on anything else.
bool base64_decode(std::string_view text, std::string &out) {
  out.clear();
  if (text.empty() || text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int j = 0; j < 4; ++j) {
      const char c = text[i + j];
      if (c == '=' && i + 4 == text.size() && j >= 2) {
        v[j] = 0;
        ++pad;
        continue;
      }
      if (pad > 0) return false;  // data after padding
      v[j] = base64_value(c);
      if (v[j] < 0) return false;
    }
    const unsigned bits = (unsigned(v[0]) << 18) | (unsigned(v[1]) << 12) | (unsigned(v[2]) << 6) | unsigned(v[3]);
    out += static_cast<char>((bits >> 16) & 0xff);
    if (pad < 2) out += static_cast<char>((bits >> 8) & 0xff);
    if (pad < 1) out += static_cast<char>(bits & 0xff);
  }
  return true;
}

bool constant_time_equal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

WebSettings parse_web_config(const std::string &yaml_text, const std::string &base_dir) {
  YAML::Node root;
  try {
    root = YAML::Load(yaml_text);
  } catch (const YAML::Exception &e) {
    throw WebConfigError(std::string("not valid YAML: ") + e.what());
  }
  WebSettings settings;
  if (root.IsNull()) return settings;
  if (!root.IsMap()) throw WebConfigError("the configuration must be a mapping");
  try {
    only_keys(root, "the configuration", {"tls_server_config", "basic_auth_users"});
    if (const YAML::Node tls = root["tls_server_config"]; tls && !tls.IsNull()) {
      if (!tls.IsMap()) throw WebConfigError("tls_server_config must be a mapping");
      only_keys(tls, "tls_server_config",
                {"cert_file", "key_file", "client_auth_type", "client_ca_file", "min_version",
                 "max_version"});
      TlsSettings t;
      if (!tls["cert_file"] || !tls["key_file"]) {
        throw WebConfigError("tls_server_config needs cert_file and key_file");
      }
      t.cert_file = resolve(base_dir, scalar(tls["cert_file"], "cert_file"));
      t.key_file = resolve(base_dir, scalar(tls["key_file"], "key_file"));
      if (tls["client_ca_file"]) {
        t.client_ca_file = resolve(base_dir, scalar(tls["client_ca_file"], "client_ca_file"));
      }
      if (tls["client_auth_type"]) {
        t.client_auth = client_auth(scalar(tls["client_auth_type"], "client_auth_type"));
      }
      t.min_version = tls["min_version"] ? tls_version(scalar(tls["min_version"], "min_version"))
                                         : TLS1_2_VERSION;
      if (tls["max_version"]) t.max_version = tls_version(scalar(tls["max_version"], "max_version"));
      if (t.max_version != 0 && t.max_version < t.min_version) {
        throw WebConfigError("max_version is older than min_version");
      }
      const bool verifies = t.client_auth == ClientAuth::verify_if_given ||
                            t.client_auth == ClientAuth::require_and_verify;
      if (verifies && t.client_ca_file.empty()) {
        throw WebConfigError("client_auth_type verifies client certificates: client_ca_file is needed");
      }
      if (!verifies && !t.client_ca_file.empty()) {
        throw WebConfigError("client_ca_file is given but client_auth_type does not verify certificates");
      }
      settings.tls = t;
    }
    if (const YAML::Node users = root["basic_auth_users"]; users && !users.IsNull()) {
      if (!users.IsMap()) throw WebConfigError("basic_auth_users must map user names to bcrypt hashes");
      for (const auto &item : users) {
        const std::string user = scalar(item.first, "a user name in basic_auth_users");
        const std::string hash = scalar(item.second, "the hash of user \"" + user + "\"");
        if (user.empty() || user.find(':') != std::string::npos) {
          throw WebConfigError("user names in basic_auth_users are not empty and hold no ':'");
        }
        // The value is not repeated in the message: it is a credential.
        if (!is_bcrypt_hash(hash)) throw WebConfigError("the hash of user \"" + user + "\" is not a bcrypt hash");
        settings.users[user] = hash;
      }
    }
  } catch (const YAML::Exception &e) {
    throw WebConfigError(std::string("unexpected YAML: ") + e.what());
  }
  return settings;
}

bool parse_basic_authorization(std::string_view header, std::string &user, std::string &password) {
  while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
  while (!header.empty() && header.back() == ' ') header.remove_suffix(1);
  constexpr std::string_view kScheme = "basic ";
  if (header.size() <= kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    const char c = header[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != kScheme[i]) return false;
  }
  header.remove_prefix(kScheme.size());
  while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
  std::string decoded;
  if (!base64_decode(header, decoded)) return false;
  const std::size_t colon = decoded.find(':');
  if (colon == std::string::npos) return false;
  user = decoded.substr(0, colon);
  password = decoded.substr(colon + 1);
  return true;
}

BasicAuth::BasicAuth(std::map<std::string, std::string> users) : users_(std::move(users)) {
  if (RAND_bytes(key_, sizeof key_) != 1) {
    throw WebConfigError("no random numbers for the password cache: " + openssl_error());
  }
}

bool BasicAuth::check(std::string_view authorization) const {
  std::string user, password;
  if (users_.empty()) return true;
  if (!parse_basic_authorization(authorization, user, password)) return false;
  if (password.find('\0') != std::string::npos) return false;  // crypt would stop there

  std::string message = user;
  message += '\0';
  message += password;
  unsigned char digest[32];
  unsigned int digest_size = 0;
  HMAC(EVP_sha256(), key_, sizeof key_, reinterpret_cast<const unsigned char *>(message.data()),
       message.size(), digest, &digest_size);
  const std::string_view fresh(reinterpret_cast<const char *>(digest), digest_size);
  OPENSSL_cleanse(message.data(), message.size());

  auto known = users_.find(user);
  if (known != users_.end()) {
    std::lock_guard<std::mutex> lock(cache_mutex_);
    auto cached = verified_.find(user);
    if (cached != verified_.end() &&
        constant_time_equal(std::string_view(reinterpret_cast<const char *>(cached->second.data()),
                                             cached->second.size()),
                            fresh)) {
      OPENSSL_cleanse(password.data(), password.size());
      return true;
    }
  }
  // An unknown user is checked against the salt and cost of a known one, so
  // that both take as long.
  const std::string &hash = known != users_.end() ? known->second : users_.begin()->second;
  auto data = std::make_unique<crypt_data>();
  const char *computed = crypt_r(password.c_str(), hash.c_str(), data.get());
  OPENSSL_cleanse(password.data(), password.size());
  const bool match = computed != nullptr && constant_time_equal(computed, hash);
  OPENSSL_cleanse(data.get(), sizeof *data);
  if (!match || known == users_.end()) return false;
  std::lock_guard<std::mutex> lock(cache_mutex_);
  verified_[user].assign(digest, digest + digest_size);
  return true;
}

std::shared_ptr<const WebConfig> load_web_config(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw WebConfigError("cannot read " + path + ": " + std::strerror(errno));
  std::stringstream text;
  text << in.rdbuf();
  const std::size_t slash = path.rfind('/');
  const std::string base_dir = slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
  auto config = std::make_shared<WebConfig>();
  config->settings = parse_web_config(text.str(), base_dir);
  if (config->settings.tls) config->tls = make_tls_context(*config->settings.tls);
  config->auth = std::make_unique<BasicAuth>(config->settings.users);
  return config;
}

WebConfigSource::WebConfigSource(std::string path) : path_(std::move(path)) {
  config_ = load_web_config(path_);
  loaded_stamps_ = stamps(config_.get());
  checked_ = std::chrono::steady_clock::now();
}

std::vector<WebConfigSource::Stamp> WebConfigSource::stamps(const WebConfig *config) const {
  std::vector<std::string> paths{path_};
  if (config != nullptr && config->settings.tls) {
    const TlsSettings &t = *config->settings.tls;
    paths.insert(paths.end(), {t.cert_file, t.key_file, t.client_ca_file});
  }
  std::vector<Stamp> out;
  for (const std::string &p : paths) {
    Stamp s;
    s.path = p;
    struct stat st{};
    if (!p.empty() && stat(p.c_str(), &st) == 0) {
      s.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
      s.size = static_cast<long long>(st.st_size);
      s.inode = st.st_ino;
    }
    out.push_back(std::move(s));
  }
  return out;
}

std::shared_ptr<const WebConfig> WebConfigSource::current() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  if (now - checked_ < std::chrono::milliseconds(200)) return config_;
  checked_ = now;
  std::vector<Stamp> seen = stamps(config_.get());
  if (seen == loaded_stamps_ || seen == refused_stamps_) return config_;
  try {
    auto fresh = load_web_config(path_);
    if (static_cast<bool>(fresh->tls) != static_cast<bool>(config_->tls)) {
      throw WebConfigError("switching between TLS and plain HTTP needs a restart");
    }
    config_ = std::move(fresh);
    loaded_stamps_ = stamps(config_.get());
    refused_stamps_.clear();
    std::fprintf(stderr, "sysmon serve: web configuration %s reloaded\n", path_.c_str());
  } catch (const WebConfigError &e) {
    refused_stamps_ = std::move(seen);
    std::fprintf(stderr,
                 "sysmon serve: web configuration %s changed but is not usable (%s); "
                 "the previous one stays in force\n",
                 path_.c_str(), e.what());
  }
  return config_;
}

namespace {

int on_client_hello(SSL *ssl, int *alert, void *arg) {
  std::shared_ptr<const WebConfig> config = static_cast<WebConfigSource *>(arg)->current();
  SSL_CTX *ctx = config->tls.get();
  if (ctx == nullptr || SSL_set_SSL_CTX(ssl, ctx) != ctx) {
    *alert = SSL_AD_INTERNAL_ERROR;
    return SSL_CLIENT_HELLO_ERROR;
  }
  // What SSL_new copied from the server's own context is replaced by the
  // configuration's: verification, the CA names asked for, the versions.
  SSL_set_verify(ssl, SSL_CTX_get_verify_mode(ctx), SSL_CTX_get_verify_callback(ctx));
  if (STACK_OF(X509_NAME) *names = SSL_CTX_get_client_CA_list(ctx)) {
    SSL_set_client_CA_list(ssl, SSL_dup_CA_list(names));
  }
  SSL_set_min_proto_version(ssl, SSL_CTX_get_min_proto_version(ctx));
  SSL_set_max_proto_version(ssl, SSL_CTX_get_max_proto_version(ctx));
  return SSL_CLIENT_HELLO_SUCCESS;
}

}  // namespace

bool install_tls_switch(SSL_CTX &server_ctx, WebConfigSource &source) {
  SSL_CTX_set_options(&server_ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_session_cache_mode(&server_ctx, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_client_hello_cb(&server_ctx, on_client_hello, &source);
  return true;
}

}  // namespace sysmon_cli
