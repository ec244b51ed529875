#include <gtest/gtest.h>

#include <mutex>

#include "core_bench.hpp"

namespace valdori::agent::testing {
namespace {

constexpr const char* kListenerTarget = "valdori_agent::agent::network_listener";

// The records the host's callback was given.
class Host {
 public:
  PlatformDependent platform() {
    return {nullptr, [this](NetworkChange change) {
              const std::lock_guard lock(mutex_);
              calls_.push_back(std::move(change));
            }};
  }
  std::vector<NetworkChange> calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<NetworkChange> calls_;
};

class NetworkListener : public CoreTest {
 protected:
  // A core whose host records its calls; DNS switched off unless `dns` is set.
  void make(bool dns = false) {
    remake([&](AgentConfig& config) { config.dns = DnsConfig{!dns}; }, host_.platform());
  }
  // A network with this applied state.
  void join_applied(std::string_view url_text, AgentState applied) {
    join(url_text).current_state = std::move(applied);
  }
  void notify() { bed_.runtime().block_on(AgentInner::notify_on_network_change(inner_)); }

  Host host_;
};

std::vector<Ipv4Net> nets(std::initializer_list<std::string_view> texts) {
  std::vector<Ipv4Net> result;
  for (const auto text : texts) result.push_back(net(text));
  return result;
}

AgentState applied(std::optional<std::string_view> ip, std::optional<EffectiveRoutingList> routes) {
  AgentState state;
  if (ip) state.ip.applied = net(*ip);
  state.routes.applied = std::move(routes);
  return state;
}

TEST_F(NetworkListener, FirstPassDeliversAndAnIdenticalPassDoesNot) {
  make();
  join_applied("https://example.com/a.toml", applied("10.1.0.5/16", routes({"192.168.0.0/24", "10.2.0.0/16"})));

  notify();
  const NetworkChange expected{nets({"10.1.0.5/16"}), nets({"10.2.0.0/16", "192.168.0.0/24"}), std::nullopt};
  EXPECT_EQ(host_.calls(), std::vector{expected});
  EXPECT_EQ(inner_->state.last_network_change, expected);
  EXPECT_TRUE(
      logs_.has(log::Level::trace, "Network change detected, notifying listener: old=None new=" + debug(expected)));
  EXPECT_TRUE(logs_.has(log::Level::trace, "Collected 2 routes: [10.2.0.0/16, 192.168.0.0/24]"));
  EXPECT_TRUE(logs_.has(log::Level::trace, "Collected 1 IPs: [10.1.0.5/16]"));

  logs_.clear();
  notify();
  EXPECT_EQ(host_.calls().size(), 1u);
  const auto lines = texts_of(logs_, kListenerTarget);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Networks change listener set, check if we have a change");
  EXPECT_EQ(lines.back(), "Network change is identical to last one, skipping notification");
}

TEST_F(NetworkListener, ListsAreSortedWithDuplicatesKept) {
  make();
  join_applied("https://example.com/a.toml", applied("10.1.0.5/16", routes({"10.9.0.0/16", "10.0.0.0/16"})));
  join_applied("https://example.com/b.toml", applied("10.0.3.1/24", routes({"10.9.0.0/16", "10.0.0.0/8"})));
  join_applied("https://example.com/c.toml", applied("10.0.3.1/16", std::nullopt));  // routes not applied yet
  join_applied("https://example.com/d.toml", applied(std::nullopt, routes({"172.16.0.0/12"})));

  notify();

  const auto calls = host_.calls();
  ASSERT_EQ(calls.size(), 1u);
  const NetworkChange& change = calls[0];
  EXPECT_EQ(change.routes, nets({"10.0.0.0/8", "10.0.0.0/16", "10.9.0.0/16", "10.9.0.0/16", "172.16.0.0/12"}));
  EXPECT_EQ(change.ips, nets({"10.0.3.1/16", "10.0.3.1/24", "10.1.0.5/16"}));
  EXPECT_EQ(change.dns_server, std::nullopt);
}

TEST_F(NetworkListener, DeliversAChangeOfTheResponderAddressAlone) {
  make(/*dns=*/true);
  join_applied("https://example.com/a.toml", applied("10.1.0.5/16", routes({})));
  notify();
  EXPECT_EQ(host_.calls().back().dns_server, std::nullopt);  // no address assigned yet

  inner_->dns->store_server_ip(addr("10.1.255.254"));
  notify();
  notify();

  ASSERT_EQ(host_.calls().size(), 2u);
  EXPECT_EQ(host_.calls()[1], (NetworkChange{nets({"10.1.0.5/16"}), nets({}), addr("10.1.255.254")}));
}

TEST_F(NetworkListener, WithoutNetworksTheFirstPassDeliversTwoEmptyLists) {
  make(/*dns=*/true);
  notify();
  notify();
  EXPECT_EQ(host_.calls(), (std::vector{NetworkChange{nets({}), nets({}), std::nullopt}}));
  EXPECT_TRUE(logs_.has(log::Level::trace, "Collecting routes from 0 networks"));
}

TEST_F(NetworkListener, WithoutCallbackTheRecordIsStillKept) {
  remake(PlatformDependent{});
  join_applied("https://example.com/a.toml", applied("10.1.0.5/16", std::nullopt));
  notify();
  EXPECT_EQ(inner_->state.last_network_change, (NetworkChange{nets({"10.1.0.5/16"}), nets({}), std::nullopt}));
}

TEST_F(NetworkListener, AfterCancellationTheHostHearsNothing) {
  make();
  join_applied("https://example.com/a.toml", applied("10.1.0.5/16", std::nullopt));
  inner_->token.cancel();
  notify();
  EXPECT_TRUE(host_.calls().empty());
  EXPECT_EQ(inner_->state.last_network_change, std::nullopt);
}

TEST(NetworkChangeText, DebugForm) {
  struct Case {
    NetworkChange change;
    const char* text;
  };
  const Case cases[] = {
      {{}, "NetworkChange { ips: None, routes: None, dns_server: None }"},
      {{nets({}), nets({}), std::nullopt}, "NetworkChange { ips: Some([]), routes: Some([]), dns_server: None }"},
      {{nets({"10.1.0.5/16"}), nets({"10.0.0.0/8", "192.168.0.0/24"}), addr("10.1.255.254")},
       "NetworkChange { ips: Some([10.1.0.5/16]), routes: Some([10.0.0.0/8, 192.168.0.0/24]), "
       "dns_server: Some(10.1.255.254) }"},
  };
  for (const auto& c : cases) EXPECT_EQ(debug(c.change), c.text);
}

}  // namespace
}  // namespace valdori::agent::testing
