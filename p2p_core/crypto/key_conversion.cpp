#include "p2p_core/crypto/key_conversion.hpp"

#include <sodium.h>

#include "p2p_core/crypto/sodium.hpp"

namespace valdori::p2p::crypto {

boost::system::result<X25519SecKey, error::Error> convert_ed25519_sk_to_curve25519_sk(const SecKey& sk) {
  ensure_sodium();
  std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> ed_pk;
  std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> ed_sk;
  crypto_sign_seed_keypair(ed_pk.data(), ed_sk.data(), sk.bytes().data());
  X25519SecKey out;
  const int rc = crypto_sign_ed25519_sk_to_curve25519(out.data(), ed_sk.data());
  sodium_memzero(ed_sk.data(), ed_sk.size());
  if (rc != 0) return error::Error{error::Error::Kind::DalekError};
  return out;
}

boost::system::result<X25519PubKey, error::Error> convert_ed25519_pk_to_curve25519_pk(const PubKey& pk) {
  ensure_sodium();
  X25519PubKey out;
  if (crypto_sign_ed25519_pk_to_curve25519(out.data(), pk.bytes().data()) != 0)
    return error::Error{error::Error::Kind::DalekError};
  return out;
}

}  // namespace valdori::p2p::crypto
