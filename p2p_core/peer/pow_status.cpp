#include "p2p_core/peer/pow_status.hpp"

namespace valdori::p2p::peer {

std::string_view debug(PowStatus status) {
  switch (status) {
    case PowStatus::Unknw: return "Unknw";
    case PowStatus::Ok: return "Ok";
    case PowStatus::Nok: return "Nok";
  }
  return "Unknw";
}

}  // namespace valdori::p2p::peer
