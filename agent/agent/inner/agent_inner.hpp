// The shared core of a running agent. The handle and every agent task hold a counted reference
// to it. After construction it changes only through its state lock, its atomically replaced
// snapshots (tunnel slot, firewall tries, DNS catalogue) and its atomics; what the packet path
// reads for every packet is never behind the lock.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "agent/agent/dns/agent_dns.hpp"
#include "agent/agent/firewall/tries.hpp"
#include "agent/agent/inner/packet_queue.hpp"
#include "agent/agent/inner/state.hpp"
#include "agent/agent/netif/agent_netif.hpp"
#include "agent/agent/network_listener/network_change.hpp"
#include "agent/http/http_client.hpp"
#include "overlay_node/node/node.hpp"
#include "p2p_core/concurrent/atomic_shared_ptr.hpp"
#include "p2p_core/identity/identity.hpp"
#include "platform/process/process_runner.hpp"
#include "platform/tun/tun_device.hpp"
#include "util/runtime/cancellation_token.hpp"
#include "util/runtime/runtime.hpp"
#include "util/runtime/rw_lock.hpp"
#include "util/url/url.hpp"

namespace valdori::agent {

// What the host contributes: its tunnel device, if any, and the function that applies network
// changes (called from runtime threads; empty: the host wants no notifications).
struct PlatformDependent {
  std::shared_ptr<platform::TunDevice> tun;
  std::function<void(NetworkChange)> callback;
};

// A message a peer sent this node: one IPv4 packet.
struct InboundItem {
  p2p::PubKey sender;
  std::vector<std::uint8_t> payload;
};

// A packet read from the tunnel and the peer it goes to.
struct OutboundItem {
  std::vector<std::uint8_t> packet;
  std::shared_ptr<p2p::node::SendHandle> handle;
};

using InboundQueue = PacketQueue<InboundItem>;
using OutboundQueue = PacketQueue<OutboundItem>;

// How long the housekeeping pass waits for what it asks of others.
struct HousekeepingLimits {
  std::chrono::milliseconds retrieve{5000};             // one network's document, from any source
  std::chrono::milliseconds controller_request{10000};  // one controller request, body included
};

class AgentInner {
 public:
  util::CancellationToken token;  // the agent token: root of the agent's tasks
  std::shared_ptr<valdori::node::Node> node;
  std::shared_ptr<InboundQueue> inbound;  // filled by the node's message sink
  netif::AgentNetif netif;
  std::unique_ptr<dns::AgentDns> dns;  // none when DNS is switched off
  p2p::concurrent::AtomicSharedPtr<const firewall::TxTrie> tx_trie;
  p2p::concurrent::AtomicSharedPtr<const firewall::RxTrie> rx_trie;
  std::shared_ptr<OutboundQueue> outbound;  // from the tunnel readers to the overlay senders
  std::filesystem::path config_path;
  std::shared_ptr<const PlatformDependent> platform;
  p2p::Identity identity;
  std::uint16_t mtu;                                   // of the packet path
  boost::asio::any_io_executor executor;               // the runtime the agent's tasks run on
  util::DirectionLanes lanes;                          // the packet path's threads: one per direction
  std::shared_ptr<http::HttpClient> http;              // for documents and the controller; both schemes
  std::shared_ptr<platform::ProcessRunner> processes;  // the system programs the metrics ask
  HousekeepingLimits limits;

  util::RwLock state_lock;
  State state;  // guarded by state_lock

  AgentInner(const util::CancellationToken& agent_token, std::shared_ptr<valdori::node::Node> bound_node,
             std::shared_ptr<InboundQueue> inbound_queue, std::shared_ptr<const PlatformDependent> platform_dependent,
             std::unique_ptr<dns::AgentDns> agent_dns, std::shared_ptr<OutboundQueue> outbound_queue,
             std::filesystem::path path, p2p::Identity id, std::uint16_t packet_mtu,
             boost::asio::any_io_executor runtime, util::DirectionLanes direction_lanes, AgentConfig config)
      : token(agent_token),
        node(std::move(bound_node)),
        inbound(std::move(inbound_queue)),
        netif(platform_dependent->tun),
        dns(std::move(agent_dns)),
        tx_trie(std::make_shared<const firewall::TxTrie>()),
        rx_trie(std::make_shared<const firewall::RxTrie>()),
        outbound(std::move(outbound_queue)),
        config_path(std::move(path)),
        platform(std::move(platform_dependent)),
        identity(id),
        mtu(packet_mtu),
        executor(std::move(runtime)),
        lanes(std::move(direction_lanes)),
        http(std::make_shared<http::HttpClient>(executor)),
        processes(platform::make_process_runner(executor)),
        state(std::move(config)) {}

  // Everything Agent::start makes before it starts tasks: reads the environment options, binds
  // the overlay node (the only wait), creates the queues, the tunnel slot, the DNS responder
  // unless switched off, empty firewall tries and the state. Fails as Agent::start does.
  // (inner/agent_inner.cpp)
  static boost::asio::awaitable<boost::system::result<std::shared_ptr<AgentInner>, error::Error>> create(
      boost::asio::any_io_executor executor, AgentConfig config, std::filesystem::path config_path,
      PlatformDependent platform);

  // Brings the network's applied state in line with its desired state: records the address,
  // routes and forwardings, rebuilds the firewall tries when its access rules changed, follows
  // the DNS responder address and host names, and starts the tunnel tasks the first time. The
  // caller holds the state write lock; never waits. (inner/apply_desired_state.cpp)
  static void apply_desired_state(const std::shared_ptr<AgentInner>& inner, NetworkMap& networks, const util::Url& url);

  // Cancels the agent token and applies an empty desired state to every network.
  // (inner/shutdown.cpp)
  static boost::asio::awaitable<void> shutdown(std::shared_ptr<AgentInner> inner);

  // The overlay side of the packet path under supervision. (node/node_runner.cpp)
  static boost::asio::awaitable<void> node_runner(std::shared_ptr<AgentInner> inner, util::CancellationToken token);

  // One housekeeping pass every 10 seconds until `token` is cancelled.
  // (housekeeping/housekeeping_runner.cpp)
  static boost::asio::awaitable<void> housekeeping_runner(std::shared_ptr<AgentInner> inner,
                                                          util::CancellationToken token);
  static boost::asio::awaitable<void> housekeeping(std::shared_ptr<AgentInner> inner);

  // Tells the host when the applied addresses, routes or DNS responder address changed since
  // the last record it was given. (network_listener/network_listener.cpp)
  static boost::asio::awaitable<void> notify_on_network_change(std::shared_ptr<AgentInner> inner);
};

}  // namespace valdori::agent
