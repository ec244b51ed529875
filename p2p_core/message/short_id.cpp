#include "p2p_core/message/short_id.hpp"

#include "p2p_core/crypto/hex.hpp"
#include "p2p_core/crypto/random.hpp"
#include "p2p_core/message/magic_number.hpp"

namespace valdori::p2p::message {

ShortId ShortId::random() {
  ShortId id;
  do crypto::random_bytes(id.bytes);
  while (!id.is_valid());
  return id;
}

bool ShortId::is_valid() const { return *this != ShortId{} && bytes != kMagicNumber.bytes; }

std::string ShortId::to_string() const { return crypto::hex_encode(bytes); }

}  // namespace valdori::p2p::message
