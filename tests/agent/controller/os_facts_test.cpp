// Operating-system names and facts, with the system programs played by a script.
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "agent/agent/metrics/os.hpp"
#include "agent/agent/metrics/os_facts.hpp"
#include "tests/support/temp_dir.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::agent::metrics {
namespace {

// Answers "program arg..." from a table; a missing entry is a program that cannot be started.
class ScriptedRunner final : public platform::ProcessRunner {
 public:
  using Outputs = std::map<std::string, std::string>;
  explicit ScriptedRunner(Outputs outputs) : outputs_(std::move(outputs)) {}
  std::vector<std::string> ran;

  boost::asio::awaitable<std::optional<std::string>> run(std::string program, std::vector<std::string> args,
                                                         std::chrono::milliseconds limit) override {
    EXPECT_EQ(limit, kProbeLimit);
    for (const auto& arg : args) program += " " + arg;
    ran.push_back(program);
    const auto found = outputs_.find(program);
    co_return found == outputs_.end() ? std::nullopt : std::optional<std::string>(found->second);
  }

 private:
  std::map<std::string, std::string> outputs_;
};

TEST(Os, ParseAndDisplay) {
  const std::pair<const char*, std::optional<Os>> cases[] = {
      {"SLE", Os::Sles},
      {"Linux Mint", Os::LinuxMint},
      {"debian-based linux", Os::Debian},
      {"Pop!_OS", std::nullopt},
      {"Arch Linux ARM", Os::Arch},
      {"Manjaro Linux", Os::Manjaro},
      {"Ubuntu Mint", Os::Ubuntu},
      {"Raspbian GNU/Linux", Os::Raspbian},
      {"Red Hat Enterprise Linux", Os::Rhel},
      {"ios", std::nullopt},
      {"iPadOS", Os::IpadOs},
      {"Debian GNU/Linux", Os::Debian},
      {"SUSE Linux Enterprise Server", Os::Sles},
      {"some linux", Os::Linux},
  };
  for (const auto& [text, os] : cases) EXPECT_EQ(parse_os(text), os) << text;
  EXPECT_EQ(display(Os::ElementaryOs), "elementary OS");
  EXPECT_EQ(display(Os::MacOs), "macOS");
}

TEST(OsFacts, ApplePrograms) {
  struct Case {
    std::map<std::string, std::string> outputs;
    OsFacts expected;
  };
  const Case cases[] = {
      {{{"uname -m", "IPad8,1\n"}, {"sw_vers -productVersion", "17.2\n"}}, {"iPadOS", "17.2"}},
      {{{"uname -m", "iPhone14,2"},
        {"sysctl -n hw.model", "J3iPadAP"},
        {"sw_vers -productVersion", " \n"},
        {"uname -r", "24.1.0"}},
       {"iPadOS", "20.1"}},
      {{{"uname -r", "24.1"}}, {"iOS", "24.1"}},
      {{{"uname -r", "4.19.0"}}, {"iOS", "4.19.0"}},
      {{{"uname -r", "104.0.0"}}, {"iOS", "104.0.0"}},
      {{{"uname -r", "5.0.0"}}, {"iOS", "1.0"}},
      {{{"uname -r", "20.abc.1"}}, {"iOS", "20.abc.1"}},
      {{{"uname -r", "\xff"}}, {"iOS", std::nullopt}},
      {{}, {"iOS", std::nullopt}},
  };
  util::Runtime runtime;
  for (const Case& c : cases) {
    ScriptedRunner runner(c.outputs);
    EXPECT_EQ(runtime.block_on(apple_os_facts(runner)), c.expected) << c.expected.os_version.value_or("-");
  }
  ScriptedRunner ipad(ScriptedRunner::Outputs{{"uname -m", "iPad"}});
  runtime.block_on(apple_os_facts(ipad));
  EXPECT_EQ(ipad.ran, (std::vector<std::string>{"uname -m", "sw_vers -productVersion", "uname -r"}));
}

TEST(OsFacts, OtherSystemsNameFromOsReleaseAndKernelRelease) {
  const std::pair<const char*, const char*> cases[] = {
      {"PRETTY_NAME=\"x\"\nNAME=\"Debian GNU/Linux\"\nID=debian\n", "Debian"},
      {"NAME='Pop!_OS'\nID=ubuntu\n", "Ubuntu"},
      {"NAME=Nothing\nID=nothing\n", "Linux"},
      {"", "Linux"},
  };
  valdori::testing::TempDir dir;
  util::Runtime runtime;
  for (const auto& [text, os] : cases) {
    std::ofstream(dir / "os-release") << text;
    ScriptedRunner runner(ScriptedRunner::Outputs{{"uname -r", "6.1.0-13-amd64\n"}});
    EXPECT_EQ(runtime.block_on(unix_os_facts(runner, dir / "os-release")), (OsFacts{os, "6.1.0-13-amd64"}));
  }
  ScriptedRunner silent(ScriptedRunner::Outputs{});
  EXPECT_EQ(runtime.block_on(unix_os_facts(silent, dir / "missing")), (OsFacts{"Linux", std::nullopt}));
}

TEST(ProcessRunner, OutputOrNothingWithinTheLimit) {
  util::Runtime runtime;
  auto runner = platform::make_process_runner(runtime.executor());
  EXPECT_EQ(runtime.block_on(runner->run("echo", {"hello"}, kProbeLimit)), "hello\n");
  EXPECT_EQ(runtime.block_on(runner->run("valdori-no-such-program", {}, kProbeLimit)), std::nullopt);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runtime.block_on(runner->run("sleep", {"30"}, std::chrono::milliseconds(200))), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace valdori::agent::metrics
