#include "util/system/env.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/support/env_guard.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::util::system {
namespace {

using testing::EnvGuard;
using Value = std::optional<std::string>;  // absent: the variable is unset

template <class T>
struct Case {
  Value value;
  T expected;
};

template <class T>
void expect_reads(const char* option, T default_value, std::initializer_list<Case<T>> cases) {
  for (const Case<T>& c : cases) {
    EnvGuard guard(fmt::format("VALDORI_{}", option), c.value);
    EXPECT_EQ(get_env<T>(option, default_value), c.expected) << option << "=" << c.value.value_or("<unset>");
  }
}

// Whole texts of decimal digits with at most a plus sign; anything else keeps the default.
TEST(GetEnv, NumbersAndBooleans) {
  expect_reads<std::uint64_t>("MAX_PEERS", 8192,
                              {{std::nullopt, 8192},
                               {"", 8192},
                               {" 100", 8192},
                               {"+100", 100},
                               {"-0", 8192},
                               {"0x10", 8192},
                               {"18446744073709551615", 18446744073709551615u},
                               {"18446744073709551616", 8192}});
  expect_reads<std::uint8_t>("MIN_POW_DIFFICULTY", 24, {{"255", 255}, {"256", 24}});
  expect_reads<std::int32_t>("TUN_THREADS", 3,
                             {{"-2", -2}, {"3.5", 3}, {"+-5", 3}, {"2147483648", 3}, {"-2147483648", -2147483647 - 1}});
  expect_reads<bool>("ENFORCE_TCP", false, {{"true", true}, {"TRUE", false}, {"1", false}});
  expect_reads<bool>("ARM_MESSAGES", true, {{"false", false}, {"False", true}});
}

TEST(GetEnv, TextIsTakenUnchangedUnlessItIsNotUtf8) {
  expect_reads<std::string>("UDP_ADDRS", "dflt",
                            {{"", ""},
                             {" 10.0.0.1  ::1 ", " 10.0.0.1  ::1 "},
                             {"caf\xc3\xa9", "caf\xc3\xa9"},
                             {"bad \xff", "dflt"},
                             {"\xed\xa0\x80", "dflt"},
                             {std::nullopt, "dflt"}});
}

TEST(GetEnv, BoundedOptionsAreCappedWithAWarning) {
  valdori::testing::LogCapture capture;
  struct Bounded {
    const char* value;
    std::int32_t tasks;
    std::uint64_t duration;
    bool warned;
  };
  const Bounded cases[] = {
      {"64", 64, 64, false},
      {"-2", -2, 7, false},  // the unsigned reader refuses it: the default
      {"200000", kMaxTaskCount, 200000, true},
      {"18446744073709551615", 3, kMaxDurationMs, true},
  };
  for (const Bounded& c : cases) {
    SCOPED_TRACE(c.value);
    capture.clear();
    EnvGuard threads("VALDORI_TUN_THREADS", c.value);
    EnvGuard interval("VALDORI_HOUSEKEEPING_INTERVAL", c.value);
    EXPECT_EQ(get_task_count("TUN_THREADS", 3), c.tasks);
    EXPECT_EQ(get_env_at_most<std::uint64_t>("HOUSEKEEPING_INTERVAL", 7, kMaxDurationMs), c.duration);
    EXPECT_EQ(!capture.texts(log::Level::warn).empty(), c.warned);
  }
}

TEST(UdpPortOption, WholeTextAsAPortNumber) {
  const Case<std::optional<std::uint16_t>> cases[] = {
      {std::nullopt, std::nullopt}, {"4000", 4000},       {"+4000", 4000}, {" 4000", std::nullopt},
      {"70000", std::nullopt},      {"-1", std::nullopt}, {"0", 0},
  };
  for (const auto& c : cases) {
    EnvGuard guard("VALDORI_UDP_PORT", c.value);
    EXPECT_EQ(udp_port_option(), c.expected) << c.value.value_or("<unset>");
  }
}

}  // namespace
}  // namespace valdori::util::system
