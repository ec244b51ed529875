// Cost of building-and-arming and parsing-and-disarming APP messages, beside the raw AEAD they
// rest on. Arguments are payload sizes: 64, 512 and 1081 bytes (the largest armed payload of a
// 1200-byte message).
#include <sodium.h>

#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "p2p_core/crypto/nonce.hpp"
#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/crypto/sodium.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/arming.hpp"
#include "p2p_core/message/short_header.hpp"

namespace {

using namespace valdori::p2p;

constexpr message::NetworkId kNetworkId{0, 0, 0, 7};
const PubKey kSender(PubKey::Bytes{0x11});
const PubKey kRecipient(PubKey::Bytes{0x22});
const message::ShortId kShortId{{0x0a, 0x0b, 0x0c, 0x0d}};

crypto::SessionKey random_key() {
  crypto::SessionKey key;
  crypto::random_bytes(key);
  return key;
}

const std::optional<crypto::SessionKey> kKey = random_key();

void set_bytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_AppBuildArm(benchmark::State& state) {
  const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x45);
  std::vector<std::uint8_t> out(message::kDefaultMaxMessageLen);
  for (auto _ : state) {
    auto length = message::AppMessage::build_into(out, kNetworkId, kSender, Pow(1), kKey, kRecipient, payload);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  set_bytes(state);
}

// The send path's form: one allocation for the owned message.
void BM_AppBuildArmOwned(benchmark::State& state) {
  const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x45);
  for (auto _ : state) {
    auto message = message::AppMessage::build(kNetworkId, kSender, Pow(1), kKey, kRecipient, payload);
    benchmark::DoNotOptimize(message);
  }
  set_bytes(state);
}

// Each turn copies the armed message into the receive buffer first, since disarming is in place.
void BM_AppParseDisarm(benchmark::State& state) {
  const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x45);
  const auto built = message::AppMessage::build(kNetworkId, kSender, Pow(1), kKey, kRecipient, payload);
  if (!built) return state.SkipWithError("build failed");
  const std::vector<std::uint8_t>& armed = *built;
  std::vector<std::uint8_t> buffer(armed.size());
  for (auto _ : state) {
    std::memcpy(buffer.data(), armed.data(), armed.size());
    auto parsed = message::LongHeader::parse(buffer);
    auto app = message::AppMessage::parse(parsed->body, parsed->header, kKey);
    if (!app) state.SkipWithError("disarm failed");
    benchmark::DoNotOptimize(app);
  }
  set_bytes(state);
}

void BM_ShortBuildArm(benchmark::State& state) {
  const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x45);
  std::vector<std::uint8_t> out(message::kDefaultMaxMessageLen);
  for (auto _ : state) {
    auto length = message::ShortHeader::build_into(out, kShortId, kKey, payload);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  set_bytes(state);
}

void BM_ShortParseDisarm(benchmark::State& state) {
  const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x45);
  const auto built = message::ShortHeader::build(kShortId, kKey, payload);
  if (!built) return state.SkipWithError("build failed");
  const std::vector<std::uint8_t>& armed = *built;
  std::vector<std::uint8_t> buffer(armed.size());
  for (auto _ : state) {
    std::memcpy(buffer.data(), armed.data(), armed.size());
    auto parsed = message::ShortHeader::parse(buffer, kKey);
    if (!parsed) state.SkipWithError("disarm failed");
    benchmark::DoNotOptimize(parsed);
  }
  set_bytes(state);
}

// The limit: the AEAD alone on the same payload with the same 78 bytes of associated data and a
// fixed nonce, out of place.
void BM_RawAeadEncrypt(benchmark::State& state) {
  const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x45);
  std::vector<std::uint8_t> out(payload.size() + message::kArmTagLen);
  const std::array<std::uint8_t, 78> ad{};
  const std::array<std::uint8_t, message::kArmNonceLen> nonce{};
  for (auto _ : state) {
    unsigned long long out_len = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(out.data(), &out_len, payload.data(), payload.size(), ad.data(),
                                               ad.size(), nullptr, nonce.data(), kKey->data());
    benchmark::DoNotOptimize(out_len);
    benchmark::ClobberMemory();
  }
  set_bytes(state);
}

void BM_RawAeadDecrypt(benchmark::State& state) {
  const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x45);
  std::vector<std::uint8_t> sealed(payload.size() + message::kArmTagLen);
  const std::array<std::uint8_t, 78> ad{};
  const std::array<std::uint8_t, message::kArmNonceLen> nonce{};
  unsigned long long sealed_len = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(sealed.data(), &sealed_len, payload.data(), payload.size(), ad.data(),
                                             ad.size(), nullptr, nonce.data(), kKey->data());
  std::vector<std::uint8_t> plain(payload.size());
  for (auto _ : state) {
    unsigned long long plain_len = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(plain.data(), &plain_len, nullptr, sealed.data(), sealed.size(),
                                                   ad.data(), ad.size(), nonce.data(), kKey->data()) != 0)
      state.SkipWithError("decrypt failed");
    benchmark::DoNotOptimize(plain_len);
    benchmark::ClobberMemory();
  }
  set_bytes(state);
}

// Why arming does not draw its nonces at random: one draw of 24 random bytes, beside one nonce
// from the per-thread source arming uses.
void BM_RandomNonce(benchmark::State& state) {
  std::array<std::uint8_t, message::kArmNonceLen> nonce;
  for (auto _ : state) {
    crypto::random_bytes(nonce);
    benchmark::DoNotOptimize(nonce);
  }
}

void BM_UniqueNonce(benchmark::State& state) {
  std::array<std::uint8_t, message::kArmNonceLen> nonce;
  for (auto _ : state) {
    crypto::unique_nonce(nonce);
    benchmark::DoNotOptimize(nonce);
  }
}

#define PAYLOAD_SIZES Arg(64)->Arg(512)->Arg(1081)
BENCHMARK(BM_AppBuildArm)->PAYLOAD_SIZES;
BENCHMARK(BM_AppBuildArmOwned)->PAYLOAD_SIZES;
BENCHMARK(BM_AppParseDisarm)->PAYLOAD_SIZES;
BENCHMARK(BM_ShortBuildArm)->PAYLOAD_SIZES;
BENCHMARK(BM_ShortParseDisarm)->PAYLOAD_SIZES;
BENCHMARK(BM_RawAeadEncrypt)->PAYLOAD_SIZES;
BENCHMARK(BM_RawAeadDecrypt)->PAYLOAD_SIZES;
BENCHMARK(BM_RandomNonce);
BENCHMARK(BM_UniqueNonce);

}  // namespace

BENCHMARK_MAIN();
