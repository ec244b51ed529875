#include "agent/agent/metrics/os_facts.hpp"

#include <charconv>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

#include "agent/agent/metrics/os.hpp"
#include "util/fs/read_file.hpp"
#include "util/text/utf8.hpp"

namespace valdori::agent::metrics {
namespace {

namespace asio = boost::asio;

// The trimmed output of a command ("program arg..."), when it ran and printed valid UTF-8.
asio::awaitable<std::optional<std::string>> probe(platform::ProcessRunner& runner, std::string_view command) {
  std::vector<std::string> words;
  boost::algorithm::split(words, command, [](char c) { return c == ' '; });
  std::string program = std::move(words.front());
  words.erase(words.begin());
  auto out = co_await runner.run(std::move(program), std::move(words), kProbeLimit);
  if (!out || !util::text::is_valid_utf8(*out)) co_return std::nullopt;
  boost::algorithm::trim(*out);
  co_return out;
}

std::optional<std::int32_t> parse_i32(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// A kernel release "24.1.0" names the system version 20.1 (majors 5 to 103); anything else is
// shown as printed.
std::string version_from_kernel(const std::string& release) {
  const auto first = release.find('.');
  if (first == std::string::npos) return release;
  const auto second = release.find('.', first + 1);
  if (second == std::string::npos) return release;
  const auto major = parse_i32(std::string_view(release).substr(0, first));
  const auto minor = parse_i32(std::string_view(release).substr(first + 1, second - first - 1));
  if (!major || !minor || *major < 5 || *major > 103) return release;
  return std::to_string(*major - 4) + "." + std::to_string(*minor);
}

// The value of KEY=VALUE in an os-release text, quotes removed.
std::optional<std::string> os_release_value(std::string_view text, std::string_view key) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.starts_with(key) || line.substr(key.size(), 1) != "=") continue;
    std::string_view value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace

asio::awaitable<OsFacts> apple_os_facts(platform::ProcessRunner& runner) {
  OsFacts facts{std::string(display(Os::Ios)), std::nullopt};
  auto machine = co_await probe(runner, "uname -m");
  bool ipad = machine && boost::algorithm::to_lower_copy(*machine).starts_with("ipad");
  if (!ipad) {
    auto model = co_await probe(runner, "sysctl -n hw.model");
    ipad = model && boost::algorithm::to_lower_copy(*model).find("ipad") != std::string::npos;
  }
  if (ipad) facts.os = display(Os::IpadOs);

  auto product = co_await probe(runner, "sw_vers -productVersion");
  if (product && !product->empty()) {
    facts.os_version = std::move(product);
  } else if (auto release = co_await probe(runner, "uname -r"); release && !release->empty()) {
    facts.os_version = version_from_kernel(*release);
  }
  co_return facts;
}

asio::awaitable<OsFacts> unix_os_facts(platform::ProcessRunner& runner, const std::filesystem::path& os_release) {
  OsFacts facts{std::string(display(Os::Linux)), std::nullopt};
  if (auto text = util::fs::read_file(os_release)) {
    for (const char* key : {"NAME", "ID"}) {
      const auto value = os_release_value(*text, key);
      if (const auto os = value ? parse_os(*value) : std::nullopt) {
        facts.os = display(*os);
        break;
      }
    }
  }
  if (auto release = co_await probe(runner, "uname -r"); release && !release->empty()) {
    facts.os_version = std::move(release);
  }
  co_return facts;
}

asio::awaitable<OsFacts> os_facts(platform::ProcessRunner& runner) {
#ifdef __APPLE__
  co_return co_await apple_os_facts(runner);
#else
  co_return co_await unix_os_facts(runner, "/etc/os-release");
#endif
}

std::string_view build_arch() {
#if defined(__x86_64__)
  return "x86_64";
#elif defined(__aarch64__)
  return "aarch64";
#elif defined(__i386__)
  return "x86";
#elif defined(__arm__)
  return "arm";
#elif defined(__riscv) && __riscv_xlen == 64
  return "riscv64";
#else
  return "unknown";
#endif
}

}  // namespace valdori::agent::metrics
