// ACK: the answer to a HELLO. Body: the HELLO's time, echoed (u64 big-endian, milliseconds).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/error.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_header.hpp"

namespace valdori::p2p::message {

class AckMessage {
 public:
  static boost::system::result<std::vector<std::uint8_t>, error::Error> build(
      const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
      const PubKey& recipient, std::uint64_t hello_time);
  static boost::system::result<AckMessage, error::Error> parse(std::span<std::uint8_t> body, const LongHeader& header,
                                                               const std::optional<crypto::SessionKey>& rx_key);

  std::uint64_t time() const { return time_; }

 private:
  explicit AckMessage(std::uint64_t time) : time_(time) {}

  std::uint64_t time_;
};

}  // namespace valdori::p2p::message
