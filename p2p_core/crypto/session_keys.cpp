#include "p2p_core/crypto/session_keys.hpp"

#include <sodium.h>

#include "p2p_core/crypto/sodium.hpp"

namespace valdori::p2p::crypto {

boost::system::result<SessionKeys, error::Error> compute_kx_session_keys(const X25519PubKey& own_pk,
                                                                         const X25519SecKey& own_sk,
                                                                         const X25519PubKey& peer_pk) {
  ensure_sodium();
  if (own_pk == peer_pk) return error::Error{error::Error::Kind::SessionKeysIdentical};
  SessionKeys keys;
  const int rc =
      own_pk < peer_pk
          ? crypto_kx_client_session_keys(keys.rx.data(), keys.tx.data(), own_pk.data(), own_sk.data(), peer_pk.data())
          : crypto_kx_server_session_keys(keys.rx.data(), keys.tx.data(), own_pk.data(), own_sk.data(), peer_pk.data());
  if (rc != 0) return error::Error{error::Error::Kind::DalekError};
  return keys;
}

}  // namespace valdori::p2p::crypto
