// A super peer in a document: its URL text; a rejected text carries the URL parser's message.
#pragma once

#include <string>

#include <toml++/toml.h>

#include "agent/toml/field.hpp"
#include "p2p_core/identity/super_peer_url.hpp"

namespace valdori::agent::toml_doc {

template <>
struct ValueReader<p2p::SuperPeerUrl> {
  static ReadResult<p2p::SuperPeerUrl> read(const ::toml::node& node) {
    auto text = read_value<std::string>(node);
    if (!text) return text.error();
    auto url = p2p::SuperPeerUrl::try_from(*text);
    if (!url) return error_at(node, p2p::display(url.error()));
    return *url;
  }
};

}  // namespace valdori::agent::toml_doc
