#include "agent/agent/metrics/os.hpp"

#include <array>
#include <initializer_list>
#include <string>
#include <utility>

#include <boost/algorithm/string/case_conv.hpp>

namespace valdori::agent::metrics {
namespace {

constexpr std::array<std::string_view, 21> kDisplay = {
    "macOS",  "Windows", "tvOS",      "iOS",        "iPadOS",        "Android", "Linux",
    "Ubuntu", "Debian",  "Fedora",    "CentOS",     "RHEL",          "Arch",    "openSUSE",
    "SLES",   "Gentoo",  "Slackware", "Linux Mint", "elementary OS", "Manjaro", "Raspbian"};

constexpr std::array<std::pair<std::string_view, Os>, 5> kAliases = {{
    {"Red Hat Enterprise Linux", Os::Rhel},
    {"Arch Linux", Os::Arch},
    {"SLE", Os::Sles},
    {"SUSE Linux Enterprise", Os::Sles},
    {"Raspberry Pi OS", Os::Raspbian},
}};

// Each test holds when the text contains every one of its marks; the first test that holds wins.
struct Marks {
  std::initializer_list<std::string_view> all;
  Os os;
};
const std::initializer_list<Marks> kMarks = {
    {{"ubuntu"}, Os::Ubuntu},
    {{"debian"}, Os::Debian},
    {{"fedora"}, Os::Fedora},
    {{"centos"}, Os::CentOs},
    {{"red hat"}, Os::Rhel},
    {{"rhel"}, Os::Rhel},
    {{"arch linux"}, Os::Arch},
    {{"arch", "linux"}, Os::Arch},
    {{"opensuse"}, Os::OpenSuse},
    {{"suse", "enterprise"}, Os::Sles},
    {{"gentoo"}, Os::Gentoo},
    {{"slackware"}, Os::Slackware},
    {{"linux mint"}, Os::LinuxMint},
    {{"mint"}, Os::LinuxMint},
    {{"elementary"}, Os::ElementaryOs},
    {{"manjaro"}, Os::Manjaro},
    {{"raspbian"}, Os::Raspbian},
    {{"raspios"}, Os::Raspbian},
    {{"raspberry pi os"}, Os::Raspbian},
    {{"linux"}, Os::Linux},
};

}  // namespace

std::string_view display(Os os) { return kDisplay.at(static_cast<std::size_t>(os)); }

std::optional<Os> parse_os(std::string_view text) {
  for (std::size_t i = 0; i < kDisplay.size(); ++i) {
    if (text == kDisplay[i]) return static_cast<Os>(i);
  }
  for (const auto& [alias, os] : kAliases) {
    if (text == alias) return os;
  }
  const std::string lower = boost::algorithm::to_lower_copy(std::string(text));
  for (const Marks& marks : kMarks) {
    if (std::ranges::all_of(marks.all, [&](std::string_view mark) { return lower.find(mark) != std::string::npos; })) {
      return marks.os;
    }
  }
  return std::nullopt;
}

}  // namespace valdori::agent::metrics
