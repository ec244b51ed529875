#include "p2p_core/message/layout.hpp"

#include "p2p_core/error/debug_form.hpp"

namespace valdori::p2p::message {

std::string debug(const MagicNumber& magic) {
  return debug_form::tuple("MagicNumber", {debug_form::bytes(magic.bytes)});
}

std::string debug(MessageType type) { return debug_form::tuple("MessageType", {std::to_string(type.value)}); }

}  // namespace valdori::p2p::message
