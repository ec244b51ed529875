#include "p2p_core/message/magic_number.hpp"

#include "p2p_core/error/debug_form.hpp"

namespace valdori::p2p::message {

std::string debug(const MagicNumber& magic) {
  return debug_form::tuple("MagicNumber", {debug_form::bytes(magic.bytes)});
}

}  // namespace valdori::p2p::message
