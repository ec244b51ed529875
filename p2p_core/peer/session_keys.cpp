#include "p2p_core/peer/session_keys.hpp"

namespace valdori::p2p::peer {

boost::system::result<AgreementKeys, crypto::error::Error> AgreementKeys::from_identity(const Identity& id) {
  const auto sk = crypto::convert_ed25519_sk_to_curve25519_sk(id.sk());
  if (!sk) return sk.error();
  const auto pk = crypto::convert_ed25519_pk_to_curve25519_pk(id.pk());
  if (!pk) return pk.error();
  return AgreementKeys{*pk, *sk};
}

Agreement agree(const AgreementKeys& own, const PubKey& peer) {
  const auto peer_pk = crypto::convert_ed25519_pk_to_curve25519_pk(peer);
  if (!peer_pk) return peer_pk.error();
  return crypto::compute_kx_session_keys(own.pk, own.sk, *peer_pk);
}

boost::system::result<crypto::SessionKeys, error::Error> keys_of(const Agreement& agreed) {
  if (!agreed) return error::Crypto{agreed.error()};
  return *agreed;
}

boost::system::result<std::optional<crypto::SessionKeys>, error::Error> session_keys_for(
    const std::optional<AgreementKeys>& own, const PubKey& peer) {
  if (!own) return std::optional<crypto::SessionKeys>();
  const auto keys = keys_of(agree(*own, peer));
  if (!keys) return keys.error();
  return std::optional<crypto::SessionKeys>(*keys);
}

}  // namespace valdori::p2p::peer
