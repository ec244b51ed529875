// The record of one TCP link attempt to a super peer: its token, the HELLO and ACK bookkeeping
// of the link, and the slot where the link's writer is published once the link's first HELLO has
// gone out.
#pragma once

#include <cstdint>
#include <memory>

#include "p2p_core/concurrent/atomic_shared_ptr.hpp"
#include "p2p_core/peer/link_writer.hpp"
#include "p2p_core/peer/peer_path.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::p2p::peer {

class TcpConnection {
 public:
  // `token` is a child of the node token, so a stopping node ends the link.
  explicit TcpConnection(const util::CancellationToken& token) : token_(token) {}

  const util::CancellationToken& token() const { return token_; }
  const PeerPath& path() const { return path_; }
  PeerPath& path() { return path_; }

  void hello_tx(std::uint64_t hello_time, std::uint64_t now_us) { path_.hello_tx(hello_time, now_us); }

  // The published writer; none while the link is being set up and after it was cancelled.
  std::shared_ptr<LinkWriter> stream() const { return writer_.load(); }
  void set_stream(std::shared_ptr<LinkWriter> writer) { writer_.store(std::move(writer)); }

  // Ends the link: its read loop stops on the token, and the writer is withdrawn and closed at
  // once so that no sender picks the dying link any more, not even through an older send state.
  void cancel_connection() {
    token_.cancel();
    if (const auto writer = writer_.load()) writer->close();
    writer_.store(nullptr);
  }

 private:
  util::CancellationToken token_;
  PeerPath path_;
  concurrent::AtomicSharedPtr<LinkWriter> writer_;
};

}  // namespace valdori::p2p::peer
