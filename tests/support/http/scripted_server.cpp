#include "tests/support/http/scripted_server.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace valdori::testing {
namespace {

const std::filesystem::path kSupport = std::filesystem::path(VALDORI_SOURCE_DIR) / "tests/support/http";

}  // namespace

void make_test_certificates(const std::filesystem::path& dir) {
  const std::string command = (kSupport / "make_test_ca.sh").string() + " " + dir.string();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("making the test certificates failed");
}

ScriptedServer::ScriptedServer(std::filesystem::path dir, const std::string& cert)
    : dir_(std::move(dir)), tls_(!cert.empty()) {
  static std::atomic<int> next{0};
  name_ = "server" + std::to_string(next++);
  set_routes(nlohmann::json::object());
  std::vector<std::string> args = {"/usr/bin/python3", (kSupport / "scripted_server.py").string(),
                                   (dir_ / (name_ + ".routes")).string(), (dir_ / (name_ + ".requests")).string()};
  if (tls_) {
    args.insert(args.end(), {"--tls", (dir_ / (cert + ".pem")).string(), (dir_ / (cert + ".key")).string()});
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) throw std::runtime_error("cannot start the test server");
  FILE* first = ::fdopen(out[0], "r");
  if (first == nullptr || std::fscanf(first, "%u", &port_) != 1) port_ = 0;
  if (first != nullptr) std::fclose(first);
  if (port_ == 0) throw std::runtime_error("the test server did not start");
}

ScriptedServer::~ScriptedServer() {
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::string ScriptedServer::origin() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void ScriptedServer::set_routes(const nlohmann::json& routes) const {
  const auto path = dir_ / (name_ + ".routes");
  std::ofstream(path.string() + ".partial") << routes.dump();
  std::filesystem::rename(path.string() + ".partial", path);  // never read half-written
}

std::vector<nlohmann::json> ScriptedServer::requests() const {
  std::vector<nlohmann::json> seen;
  std::ifstream log(dir_ / (name_ + ".requests"));
  for (std::string line; std::getline(log, line);) seen.push_back(nlohmann::json::parse(line));
  return seen;
}

}  // namespace valdori::testing
