#include "p2p_core/message/arming.hpp"

#include <sodium.h>

#include "p2p_core/crypto/nonce.hpp"
#include "p2p_core/crypto/sodium.hpp"

namespace valdori::p2p::message {

static_assert(kArmNonceLen == crypto_aead_xchacha20poly1305_ietf_NPUBBYTES && kArmNonceLen == crypto::kNonceLen);
static_assert(kArmTagLen == crypto_aead_xchacha20poly1305_ietf_ABYTES);

boost::system::result<void, error::Error> arm_in_place(std::span<std::uint8_t> region,
                                                       std::span<const std::uint8_t> associated_data,
                                                       const crypto::SessionKey& key) {
  if (region.size() < kArmOverhead) return error::ArmFailedTooShort{region.size(), kArmOverhead};
  crypto::ensure_sodium();
  const auto nonce = region.first<kArmNonceLen>();
  crypto::unique_nonce(nonce);
  const auto sealed = region.subspan(kArmNonceLen);
  const std::size_t plain_len = sealed.size() - kArmTagLen;
  unsigned long long sealed_len = 0;
  if (crypto_aead_xchacha20poly1305_ietf_encrypt(sealed.data(), &sealed_len, sealed.data(), plain_len,
                                                 associated_data.data(), associated_data.size(), nullptr, nonce.data(),
                                                 key.data()) != 0)
    return error::EncryptFailed{"message too long for the cipher"};
  return {};
}

boost::system::result<std::span<std::uint8_t>, error::Error> disarm_in_place(
    std::span<std::uint8_t> region, std::span<const std::uint8_t> associated_data, const crypto::SessionKey& key) {
  if (region.size() < kArmOverhead) return error::DisarmFailedTooShort{region.size(), kArmOverhead};
  crypto::ensure_sodium();
  const auto nonce = region.first(kArmNonceLen);
  const auto sealed = region.subspan(kArmNonceLen);
  unsigned long long plain_len = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(sealed.data(), &plain_len, nullptr, sealed.data(), sealed.size(),
                                                 associated_data.data(), associated_data.size(), nonce.data(),
                                                 key.data()) != 0)
    return error::DecryptFailed{"authentication failed"};
  return sealed.first(static_cast<std::size_t>(plain_len));
}

}  // namespace valdori::p2p::message
