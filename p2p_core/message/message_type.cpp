#include "p2p_core/message/message_type.hpp"

#include "p2p_core/error/debug_form.hpp"

namespace valdori::p2p::message {

std::string debug(MessageType type) { return debug_form::tuple("MessageType", {std::to_string(type.value)}); }

}  // namespace valdori::p2p::message
