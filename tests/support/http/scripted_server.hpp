// A real HTTP or HTTPS server in its own process (scripted_server.py), answering as the test's
// routes say, with certificates made for the test run (make_test_ca.sh).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace valdori::testing {

// The certificates of one test run, in `dir`: ca.pem (trusted by the tests), server.*,
// other_name.* (another host name), untrusted.* (from a CA nobody trusts).
void make_test_certificates(const std::filesystem::path& dir);

class ScriptedServer {
 public:
  // Plain HTTP without `cert`; HTTPS with the certificate and key of that name in `dir`.
  explicit ScriptedServer(std::filesystem::path dir, const std::string& cert = {});
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  unsigned port() const { return port_; }
  // "http://127.0.0.1:PORT" or "https://...".
  std::string origin() const;
  // Replaces the answers (a JSON object: path -> answer); read by the server on every request.
  void set_routes(const nlohmann::json& routes) const;
  // Every request so far, oldest first.
  std::vector<nlohmann::json> requests() const;

 private:
  std::filesystem::path dir_;
  std::string name_;
  bool tls_;
  pid_t pid_ = -1;
  unsigned port_ = 0;
};

}  // namespace valdori::testing
