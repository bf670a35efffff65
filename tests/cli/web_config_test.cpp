// The web configuration's settings from YAML text, and basic authentication
// against bcrypt hashes (made here with crypt_gensalt and crypt).
#include <gtest/gtest.h>

#include <crypt.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <string>

#include "web_config.h"

namespace sysmon_cli {
namespace {

std::string bcrypt(const char *password) {
  char salt[64];
  crypt_gensalt_rn("$2b$", 4, nullptr, 0, salt, sizeof salt);
  crypt_data data{};
  return crypt_r(password, salt, &data);
}

std::string header(const std::string &user_and_password) {
  std::string encoded(4 * ((user_and_password.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(encoded.data()),
                                reinterpret_cast<const unsigned char *>(user_and_password.data()),
                                static_cast<int>(user_and_password.size()));
  return "Basic " + encoded.substr(0, static_cast<std::size_t>(n));
}

TEST(WebConfig, SettingsWithDefaultsAndPathsFromTheFilesFolder) {
  const std::string hash = bcrypt("pw");
  const WebSettings s = parse_web_config(
      "tls_server_config:\n  cert_file: c.pem\n  key_file: /abs/k.pem\n"
      "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.pem\n"
      "basic_auth_users:\n  alice: '" + hash + "'\n", "/etc/sysmon");
  ASSERT_TRUE(s.tls);
  EXPECT_EQ(s.tls->cert_file, "/etc/sysmon/c.pem");
  EXPECT_EQ(s.tls->key_file, "/abs/k.pem");
  EXPECT_EQ(s.tls->client_ca_file, "/etc/sysmon/ca.pem");
  EXPECT_EQ(s.tls->client_auth, ClientAuth::require_and_verify);
  EXPECT_EQ(s.tls->min_version, TLS1_2_VERSION);
  EXPECT_EQ(s.users.at("alice"), hash);
  EXPECT_FALSE(parse_web_config("", "").tls);
  EXPECT_EQ(parse_web_config("tls_server_config:\n  cert_file: a\n  key_file: b\n  min_version: TLS13\n", "")
                .tls->min_version, TLS1_3_VERSION);
}

TEST(WebConfig, UnusableTextsSayWhyWithoutTheCredential) {
  for (const char *text : {"tls_server_config: [", "basic_auth_users:\n  bob: secret-value\n",
                           "tls_server_config:\n  cert_file: a\n", "http_server_config: {}\n",
                           "tls_server_config:\n  cert_file: a\n  key_file: b\n  client_ca_file: c\n",
                           "tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: Maybe\n",
                           "basic_auth_users: [a]\n", "42\n"}) {
    try {
      parse_web_config(text, "");
      ADD_FAILURE() << text;
    } catch (const WebConfigError &e) {
      EXPECT_EQ(std::string(e.what()).find("secret-value"), std::string::npos) << e.what();
    }
  }
}

TEST(WebConfig, BasicAuthorizationHeaders) {
  std::string user, password;
  ASSERT_TRUE(parse_basic_authorization("Basic " "YWxpY2U6cDpx", user, password));
  EXPECT_EQ(user, "alice");
  EXPECT_EQ(password, "p:q");
  EXPECT_TRUE(parse_basic_authorization("basic  YWxpY2U6", user, password));
  EXPECT_EQ(password, "");
  for (const char *bad : {"", "Basic", "Basic ", "Bearer YWxpY2U6cDpx", "Basic YWxpY2U", "Basic YWxp*2U6",
                          "Basic YW=pY2U6", "Basic YWxpY2U"}) {
    EXPECT_FALSE(parse_basic_authorization(bad, user, password)) << bad;
  }
}

TEST(WebConfig, PasswordsCheckedAgainstBcryptAndRemembered) {
  BasicAuth auth({{"alice", bcrypt("right")}, {"bob", bcrypt("other")}});
  EXPECT_TRUE(auth.enabled());
  EXPECT_TRUE(auth.check(header("alice:right")));
  EXPECT_TRUE(auth.check(header("alice:right")));  // from the cache
  EXPECT_FALSE(auth.check(header("alice:wrong")));
  EXPECT_FALSE(auth.check(header("alice:other")));
  EXPECT_FALSE(auth.check(header("carol:right")));
  EXPECT_FALSE(auth.check(header(std::string("alice:right\0x", 13))));
  EXPECT_FALSE(auth.check("Basic"));
  EXPECT_TRUE(auth.check(header("bob:other")));
  EXPECT_FALSE(BasicAuth({}).enabled());
}

}  // namespace
}  // namespace sysmon_cli
