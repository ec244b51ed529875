// A running overlay node: the handle its user keeps for as long as the node shall live.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/net/get_addrs.hpp"
#include "p2p_core/node/error.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/opts.hpp"
#include "p2p_core/node/send_handle.hpp"

namespace valdori::node {

class Node {
 public:
  // Binds the node's UDP sockets, builds its super peers (resolving their hosts) and starts its
  // tasks on `executor`: the housekeeping runner and the monitoring task, which stops the node
  // when the runner ends early or fails. The sockets, their readers and the TCP links' readers
  // live on `packet_executor` (by default `executor`), so that a received message is dispatched
  // on the thread that read it.
  static boost::asio::awaitable<boost::system::result<Node, p2p::node::error::Error>> bind(
      boost::asio::any_io_executor executor, p2p::node::NodeOpts opts,
      std::optional<boost::asio::any_io_executor> packet_executor = std::nullopt);

  // The addresses the node binds and advertises, as (name, address) pairs: the configured ones,
  // else the bindable addresses of the local interfaces (get_addrs.hpp) less its own tunnel's.
  static boost::system::result<std::vector<p2p::net::InterfaceAddr>, p2p::node::error::Error> my_addrs(
      const p2p::node::NodeOpts& opts);

  Node(Node&&) noexcept = default;
  Node& operator=(Node&&) = delete;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  // Stops the node: cancels its token and closes its send handles.
  ~Node();

  // Completes once the node's token is cancelled (at once if it is already).
  boost::asio::awaitable<void> cancelled() const;

  boost::system::result<std::shared_ptr<p2p::node::SendHandle>, p2p::node::error::Error> send_handle(
      const p2p::PubKey& recipient) const;

  const std::shared_ptr<p2p::node::NodeInner>& inner() const { return inner_; }

 private:
  explicit Node(std::shared_ptr<p2p::node::NodeInner> inner) : inner_(std::move(inner)) {}

  std::shared_ptr<p2p::node::NodeInner> inner_;  // none once moved from
};

}  // namespace valdori::node
