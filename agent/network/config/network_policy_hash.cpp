#include <cstdint>

#include "agent/network/config/network_config.hpp"

namespace valdori::network::config {
namespace {

// FNV-1a, 64 bits: the members' bytes fed one by one.
class Fnv1a {
 public:
  void feed(std::uint8_t byte) {
    hash_ ^= byte;
    hash_ *= 0x100000001b3ULL;
  }
  void feed(const std::string& text) {
    for (char c : text) feed(static_cast<std::uint8_t>(c));
  }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

}  // namespace

std::size_t NetworkPolicyHash::operator()(const NetworkPolicy& policy) const noexcept {
  // `Groups` iterates in ascending byte order, so equal sets feed equal bytes.
  Fnv1a hasher;
  for (const Groups* groups : {&policy.source_groups, &policy.destination_groups}) {
    for (const std::string& group : *groups) {
      hasher.feed(group);
      hasher.feed(std::uint8_t{0xFF});
    }
  }
  return static_cast<std::size_t>(hasher.value());
}

}  // namespace valdori::network::config
