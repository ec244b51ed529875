// URL parsing, alone and against a base URL: the serialization of any text, its masked form for
// logs, and super peer URLs.
// Besides not failing, each parse must be a fixed point: the text a value writes parses back to
// an equal value, as configuration files and network keys rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "p2p_core/identity/super_peer_url.hpp"
#include "util/url/mask_url.hpp"
#include "util/url/url.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  (void)util::mask_url(text);
  static const util::Url base = util::Url::parse("http://user:pw@example.com/a/b?q#f").value();
  for (const auto& url : {util::Url::parse(text), util::Url::parse(text, base)}) {
    if (!url) continue;
    (void)util::mask_url(*url);
    const auto again = util::Url::parse(url->as_string());
    if (!again || !(*again == *url)) std::abort();  // the serialization does not read back as itself
  }

  if (const auto super_peer = p2p::SuperPeerUrl::try_from(text)) {
    (void)super_peer->addr();
    const auto again = p2p::SuperPeerUrl::try_from(super_peer->to_string());
    if (!again || !(*again == *super_peer)) std::abort();  // the written text reads back otherwise
  } else {
    (void)p2p::display(super_peer.error());
  }
  return 0;
}
