// A small super peer for tests and demonstrations: it registers the nodes that greet it,
// relays messages between them over UDP or their TCP links, and introduces them to each other
// so that they can go direct.
//
//   auto peer = SuperPeer::start(runtime.executor(), identity, options);
//   configure nodes with peer->url().to_string(); ... peer->stop();
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/system/result.hpp>
#include <cstddef>
#include <memory>
#include <string>

#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "tools/super_peer/server/options.hpp"

namespace valdori::super_peer {

class SuperPeer {
 public:
  // Binds both ports and starts serving on `executor`. Fails with a message when a port cannot
  // be bound or the address gives no valid URL.
  static boost::system::result<std::unique_ptr<SuperPeer>, std::string> start(
      const boost::asio::any_io_executor& executor, const p2p::Identity& identity, const SuperPeerOptions& options);

  // Stops serving.
  ~SuperPeer();
  SuperPeer(const SuperPeer&) = delete;
  SuperPeer& operator=(const SuperPeer&) = delete;

  // Names the ports actually bound.
  const p2p::SuperPeerUrl& url() const;

  // Closes the sockets and every TCP link; the serving tasks end as their operations abort.
  // Idempotent; may be called from any thread while the executor still exists.
  void stop();

 private:
  class Server;
  explicit SuperPeer(std::shared_ptr<Server> server);

  std::shared_ptr<Server> server_;
};

}  // namespace valdori::super_peer
