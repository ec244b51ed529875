#include "tests/support/agent/two_agents.hpp"

#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "util/url/url.hpp"

namespace valdori::agent::testing {
namespace {

std::string node_entry(const p2p::Identity& identity, Ipv4Addr address, const char* hostname, const char* group) {
  return "[[node]]\npk = \"" + identity.pk().to_string() + "\"\nip = \"" + address.to_string() + "\"\nhostname = \"" +
         hostname + "\"\ngroups = [\"" + group + "\"]\n\n";
}

}  // namespace

TwoAgents::TwoAgents(TwoAgentsOptions options)
    : a_{.identity = test_identity()}, b_{.identity = test_identity()}, c_(test_identity()), d_(test_identity()) {
  const std::string document =
      std::string("network = \"") + OverlayPlan::kNetwork + "\"\nname = \"integration\"\n\n" +
      node_entry(a_.identity, plan_.a, "alpha", "members") + node_entry(b_.identity, plan_.b, "bravo", "members") +
      node_entry(c_, plan_.c, "charlie", "members") + node_entry(d_, plan_.d, "delta", "guests") +
      "[[route]]\ndest = \"" + OverlayPlan::kRoutedSubnet + "\"\ngw = \"" + b_.identity.pk().to_string() +
      "\"\n\n[[policy]]\nsource_groups = [\"members\"]\ndestination_groups = [\"members\"]\n";
  const auto document_path = dir_ / "network.toml";
  std::ofstream(document_path) << document;
  network_url_ = "file://" + document_path.string();

  if (const auto interval = options.node_housekeeping_interval) {
    env_.push_back(std::make_unique<valdori::testing::EnvGuard>("VALDORI_HOUSEKEEPING_INTERVAL",
                                                                std::to_string(interval->count())));
    env_.push_back(
        std::make_unique<valdori::testing::EnvGuard>("VALDORI_HELLO_TIMEOUT", std::to_string(5 * interval->count())));
  }
  a_.tun = std::make_unique<TunPair>(testbed_.executor());
  b_.tun = std::make_unique<TunPair>(testbed_.executor());
  start(a_, "a.toml", std::nullopt);
  start(b_, "b.toml", options.mtu_b);
}

TwoAgents::~TwoAgents() {
  for (Member* member : {&b_, &a_}) {
    if (member->agent && !member->shut_down) shutdown(*member);
  }
}

void TwoAgents::start(Member& member, const char* config_name, std::optional<std::uint16_t> mtu) {
  AgentConfig config = testbed_.config(member.identity);
  config.mtu = mtu;
  network::Network network;
  network.config_url = network_url_;
  const auto url = util::Url::parse(network_url_);
  if (!url) throw std::runtime_error("test setup failed: network URL " + network_url_);
  config.networks.emplace(*url, std::move(network));

  member.agent.emplace(
      testbed_.start(std::move(config), reporting_to(member.changes, member.tun->device()), dir_ / config_name));
}

bool TwoAgents::wait_until_ready() {
  const auto addressed = [](const Member& member) {
    const auto change = member.changes->last();
    return change && change->ips && !change->ips->empty();
  };
  const auto has_a_way = [](const Member& from, const Member& to) {
    const auto state = handle(from, to)->state();
    return state->best_direct_path || !state->relay_targets.empty() || state->super_peer_tcp;
  };
  return wait_until([&] { return addressed(a_) && addressed(b_) && has_a_way(a_, b_) && has_a_way(b_, a_); });
}

bool TwoAgents::wait_for_direct_paths(const std::function<void()>& traffic) {
  const auto direct = [](const Member& from, const Member& to) {
    const auto state = handle(from, to)->state();
    return state->best_direct_path && state->tx_short_id;
  };
  return wait_until([&] {
    traffic();
    return direct(a_, b_) && direct(b_, a_);
  });
}

std::shared_ptr<p2p::node::SendHandle> TwoAgents::handle(const Member& from, const Member& to) {
  auto handle = from.agent->node()->send_handle(to.identity.pk());
  if (!handle) throw std::runtime_error("test setup failed: no send handle between the agents");
  return *handle;
}

void TwoAgents::shutdown(Member& member) {
  testbed_.runtime().block_on(member.agent->shutdown());
  member.shut_down = true;
}

}  // namespace valdori::agent::testing
