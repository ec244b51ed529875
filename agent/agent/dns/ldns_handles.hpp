// Owning handles of what ldns allocates.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

// First: ldns defines bool, true and false as macros unless stdbool.h came before it.
#include <stdbool.h>  // NOLINT(modernize-deprecated-headers)

#include <ldns/ldns.h>

namespace valdori::agent::dns {

struct LdnsPktFree {
  void operator()(ldns_pkt* pkt) const { ldns_pkt_free(pkt); }
};
using LdnsPkt = std::unique_ptr<ldns_pkt, LdnsPktFree>;

// Wire buffers and texts that ldns returns for the caller to free.
struct LdnsMallocFree {
  void operator()(void* p) const { std::free(p); }
};
using LdnsWire = std::unique_ptr<std::uint8_t, LdnsMallocFree>;
using LdnsText = std::unique_ptr<char, LdnsMallocFree>;

}  // namespace valdori::agent::dns
