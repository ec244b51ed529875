// The handle of a running agent, as the host interface keeps it.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>
#include <filesystem>
#include <memory>

#include "agent/agent/config.hpp"
#include "agent/agent/error.hpp"
#include "agent/agent/inner/agent_inner.hpp"

namespace valdori::agent {

class Agent {
 public:
  // Binds the overlay node and starts the agent's tasks on `executor` (the runtime's executor,
  // not a strand). Fails, starting no task, when VALDORI_UDP_ADDRS holds something that is not
  // an IP address or the node options are refused (ConfigParse kind), or when the bind fails
  // (Node kind).
  static boost::asio::awaitable<boost::system::result<Agent, error::Error>> start(boost::asio::any_io_executor executor,
                                                                                  AgentConfig config,
                                                                                  std::filesystem::path config_path,
                                                                                  PlatformDependent platform);

  Agent(Agent&&) noexcept = default;
  Agent& operator=(Agent&&) noexcept = default;
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;
  // Logs "Drop agent." and lets go of the core; stops nothing (the tasks hold the core).
  ~Agent();

  // Completes once the agent token is cancelled.
  boost::asio::awaitable<void> cancelled() const { return inner_->token.cancelled(); }
  std::shared_ptr<valdori::node::Node> node() const { return inner_->node; }
  // Cancels the agent's tasks and takes every network's applied state down. The overlay node
  // runs on until the handle is dropped.
  boost::asio::awaitable<void> shutdown() const;

  const std::shared_ptr<AgentInner>& inner() const { return inner_; }

 private:
  explicit Agent(std::shared_ptr<AgentInner> inner) : inner_(std::move(inner)) {}

  std::shared_ptr<AgentInner> inner_;  // none once moved from
};

}  // namespace valdori::agent
