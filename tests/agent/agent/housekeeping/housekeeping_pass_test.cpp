#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

#include "tests/agent/agent/housekeeping/housekeeping_fixture.hpp"

#if defined(__GLIBC__)
// glibc's own allocator, which the sanitizers leave in place beside theirs.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void __libc_free(void* pointer);
#endif

namespace valdori::agent::housekeeping::testing {
namespace {

using Level = log::Level;

boost::asio::awaitable<void> apply_now(std::shared_ptr<AgentInner> inner, util::Url url) {
  auto guard = co_await inner->state_lock.write();
  AgentInner::apply_desired_state(inner, inner->state.config.networks, url);
}

TEST_F(HousekeepingTest, WithoutASecretControllerNetworksAreLeft) {
  struct Case {
    const char* name;
    std::optional<ControllerConfig> controller;
    std::optional<ControllerConnectionStatus> status;  // absent: no controller section
  };
  ControllerConfig without_secret;
  without_secret.url = "https://controller.invalid/api";
  const Case cases[] = {
      {"no controller section", std::nullopt, std::nullopt},
      {"a section without a secret", without_secret,
       ControllerConnectionStatus{ControllerConnectionStatus::LoggedOut{}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    config().networks.clear();
    config().controller = c.controller;
    std::filesystem::remove(config_path());
    const std::string member = write_file("member.toml", network_document(me(), true, {}));
    join(member);
    join(kControllerUrl, false, "from the controller");
    auto inner = this->inner();
    logs().clear();
    const std::size_t changes_before = changes().size();

    run_pass(inner);

    EXPECT_FALSE(joined(inner, kControllerUrl));
    EXPECT_TRUE(logged(Level::trace, "Removing controller network that no longer exists: " + kControllerUrl));
    EXPECT_EQ(network(inner, member).health, NetworkHealth{NetworkHealth::Ok{}});
    const auto& controller = inner->state.config.controller;
    ASSERT_EQ(controller.has_value(), c.status.has_value());
    if (controller) {
      EXPECT_EQ(controller->connection_status, *c.status);
    }
    auto saved = AgentConfig::load(config_path());
    ASSERT_TRUE(saved) << saved.error().to_string();
    EXPECT_EQ(saved->networks.size(), 1u);
    EXPECT_TRUE(saved->networks.contains(*util::Url::parse(member)));
    EXPECT_FALSE(inner->state.time_deviation);
    EXPECT_TRUE(logged(Level::trace, "SNTP synchronization failed, unable to determine time deviation"));

    // The host hears of the member network's address and route once.
    const auto delivered = changes();
    ASSERT_EQ(delivered.size(), changes_before + 1);
    const NetworkChange& change = delivered.back();
    EXPECT_EQ(change.ips, std::vector<Ipv4Net>{net("10.44.0.1/24")});
    EXPECT_EQ(change.routes, std::vector<Ipv4Net>{net("192.168.50.0/24")});
    EXPECT_EQ(change.dns_server, inner->dns->server_ip());

    // Nothing changed since: no save, no call.
    std::filesystem::remove(config_path());
    run_pass(inner);
    EXPECT_FALSE(std::filesystem::exists(config_path()));
    EXPECT_EQ(changes().size(), changes_before + 1);
  }
}

TEST_F(HousekeepingTest, ALeftControllerNetworkIsTornDownFirst) {
  join(kControllerUrl).desired_state.ip.applied = net("10.55.0.1/24");
  auto inner = this->inner();
  block_on(apply_now(inner, *util::Url::parse(kControllerUrl)));
  ASSERT_EQ(inner->dns->server_ip(), util::net::parse_ipv4_addr("10.55.0.254"));

  run_pass(inner);

  EXPECT_FALSE(joined(inner, kControllerUrl));
  // Its address no longer holds the DNS responder, and the host hears so.
  EXPECT_EQ(inner->dns->server_ip(), std::nullopt);
  ASSERT_EQ(changes().size(), 1u);
  EXPECT_EQ(changes().back(), (NetworkChange{std::vector<Ipv4Net>{}, std::vector<Ipv4Net>{}, std::nullopt}));
}

TEST_F(HousekeepingTest, AnUnfetchableControllerListRemovesNothing) {
  struct Case {
    const char* name;
    bool saved;           // whether the configuration file exists
    const char* failure;  // how the connection status begins
  };
  const Case cases[] = {
      {"configuration file unreadable", false, "Configuration parse error: Failed to load agent config: I/O error: "},
      {"controller refuses the connection", true, "HTTP client error: HTTP request failed: connect to 127.0.0.1:9: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerConfig controller;
    controller.url = "http://127.0.0.1:9/api";
    controller.shared_secret = "c2VjcmV0";
    config().controller = controller;
    config().networks.clear();
    join(kControllerUrl, false, "from the controller").desired_state = sentinel_state();
    std::filesystem::remove(config_path());
    if (c.saved) {
      ASSERT_TRUE(config().save(config_path()));
    }
    auto inner = this->inner();

    run_pass(inner);

    const auto& status = inner->state.config.controller->connection_status;
    const auto* err = std::get_if<ControllerConnectionStatus::Err>(&status.kind);
    ASSERT_NE(err, nullptr);
    EXPECT_TRUE(err->message.starts_with(c.failure)) << err->message;
    EXPECT_TRUE(
        logged(Level::trace, "Failed to get controller networks: " + err->message + ", continuing with empty list"));
    ASSERT_TRUE(joined(inner, kControllerUrl));
    const Network& kept = network(inner, kControllerUrl);
    EXPECT_EQ(kept.health,
              (NetworkHealth{NetworkHealth::RetrieveConfigError{
                  "Configuration parse error: Controller network not found in cache: " + kControllerUrl}}));
    EXPECT_EQ(kept.desired_state, sentinel_state());
    EXPECT_FALSE(logged(Level::trace, "Removing controller network"));
    EXPECT_EQ(std::filesystem::exists(config_path()), c.saved);
  }
}

TEST_F(HousekeepingTest, APassAfterShutdownAppliesAndSavesNothing) {
  const std::string member = write_file("member.toml", network_document(me(), true, {}));
  join(member);
  join(kControllerUrl);
  auto inner = this->inner();
  inner->token.cancel();

  run_pass(inner);

  EXPECT_TRUE(joined(inner, kControllerUrl));
  EXPECT_FALSE(std::filesystem::exists(config_path()));
  const Network& untouched = network(inner, member);
  EXPECT_EQ(untouched.health, NetworkHealth{});
  EXPECT_EQ(untouched.current_state, AgentState{});
  EXPECT_EQ(untouched.desired_state, AgentState{});
  EXPECT_TRUE(changes().empty());
}

#if defined(__GLIBC__)
std::size_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0;
  std::size_t resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

TEST_F(HousekeepingTest, APassGivesLargeHeldFreeMemoryBackToTheSystem) {
  // 64 MiB freed but held by the allocator. free() itself gives back what joins the free top of
  // the heap, so the block at the highest address stays in use; the one allocated last may lie
  // lower, in room that earlier code left free.
  constexpr std::size_t kBlock = 4096;
  std::vector<void*> blocks(16385);
  for (auto& block : blocks) std::memset(block = __libc_malloc(kBlock), 1, kBlock);
  const auto highest = std::ranges::max_element(blocks, std::ranges::less{});
  void* const in_use = *highest;
  blocks.erase(highest);
  for (void* block : blocks) __libc_free(block);
  auto inner = this->inner();
  const std::size_t held = resident_bytes();

  run_pass(inner);

  EXPECT_LT(resident_bytes() + 48 * 1024 * 1024, held);
  __libc_free(in_use);
}
#endif

}  // namespace
}  // namespace valdori::agent::housekeeping::testing
