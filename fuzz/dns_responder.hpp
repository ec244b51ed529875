// The embedded DNS responder of the fuzz targets: a catalogue of a few host names (one of them
// on two networks), answering into a tunnel device over a local packet socket pair whose other
// end collects the answers. Every answer is checked: one IPv4/UDP packet from the responder to
// the client, its DNS message within 512 bytes unless the query carried EDNS.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

// Before ldns, whose C headers define true and false as macros that spdlog's headers trip over.
#include "util/log/log.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include "agent/agent/config.hpp"
#include "agent/agent/dns/agent_dns.hpp"
#include "agent/agent/dns/catalog.hpp"
#include "agent/agent/dns/ldns_handles.hpp"
#include "agent/packet/ipv4_header.hpp"
#include "agent/packet/udp_header.hpp"
#include "platform/tun/tun_device.hpp"
#include "util/url/url.hpp"

namespace valdori::fuzz {

inline util::net::Ipv4Addr ipv4(const char* text) { return *util::net::parse_ipv4_addr(text); }

class DnsResponder {
 public:
  static constexpr std::size_t kClassicSize = 512;

  DnsResponder() {
    std::array<int, 2> fds{-1, -1};
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds.data()) != 0) std::abort();
    peer_ = fds[1];
    device_ = *platform::TunDevice::from_fd(io_.get_executor(), fds[0], platform::TunFraming::Bare);
    dns_.store_server_ip(ipv4("10.0.0.254"));
    dns_.replace_catalog(std::make_shared<const agent::dns::DnsCatalog>(agent::dns::build_catalog(networks())));
  }
  DnsResponder(const DnsResponder&) = delete;
  DnsResponder& operator=(const DnsResponder&) = delete;
  ~DnsResponder() { close(peer_); }

  const agent::dns::AgentDns& dns() const { return dns_; }

  // Answers `message` from `client` to `responder` and checks what came back.
  void answer(packet::UdpEndpoint client, packet::UdpEndpoint responder, std::span<const std::uint8_t> message) {
    io_.restart();
    bool done = false;
    boost::asio::co_spawn(io_, dns_.on_packet(device_, client, responder, message), [&](std::exception_ptr error) {
      if (error) std::abort();
      done = true;
    });
    io_.run();
    if (!done) std::abort();
    std::vector<std::uint8_t> reply(70000);
    const ssize_t n = recv(peer_, reply.data(), reply.size(), MSG_DONTWAIT);
    if (n < 0) return;  // dropped
    reply.resize(static_cast<std::size_t>(n));
    check_reply(reply, client, responder, limit(message));
    if (recv(peer_, reply.data(), reply.size(), MSG_DONTWAIT) >= 0) std::abort();  // a second answer
  }

 private:
  static agent::NetworkMap networks() {
    const std::vector<std::pair<const char*, const char*>> first{
        {"10.0.0.1", "alpha"}, {"10.0.0.2", "Beta-01"}, {"10.0.0.3", "shared"}};
    const std::vector<std::pair<const char*, const char*>> second{{"10.1.0.3", "shared"}, {"10.1.0.4", "gamma"}};
    agent::NetworkMap map;
    int n = 0;
    for (const auto* list : {&first, &second}) {
      network::Network network;
      network.config_url = "https://example.com/network-" + std::to_string(n++) + ".toml";
      network::config::HostnameList hostnames;
      for (const auto& [ip, name] : *list) hostnames.hostnames.emplace(ipv4(ip), name);
      network.desired_state.hostnames.applied = std::move(hostnames);
      map.emplace(*util::Url::parse(network.config_url), std::move(network));
    }
    return map;
  }

  // The largest answer the query allows.
  static std::size_t limit(std::span<const std::uint8_t> message) {
    ldns_pkt* decoded = nullptr;
    const bool ok = ldns_wire2pkt(&decoded, message.data(), message.size()) == LDNS_STATUS_OK;
    const agent::dns::LdnsPkt query(decoded);
    return ok && ldns_pkt_edns(query.get()) ? packet::kUdpMaxPayloadLen : kClassicSize;
  }

  static void check_reply(std::span<const std::uint8_t> reply, packet::UdpEndpoint client,
                          packet::UdpEndpoint responder, std::size_t limit) {
    const auto header = packet::parse_ipv4_header(reply);
    if (!header || header->protocol != packet::kIpProtocolUdp || header->source != responder.address ||
        header->destination != client.address)
      std::abort();
    const auto udp = packet::parse_udp_header(reply.subspan(header->header_len));
    if (!udp || udp->source_port != responder.port || udp->destination_port != client.port) std::abort();
    if (reply.size() - header->header_len - packet::kUdpHeaderLen > limit) std::abort();
  }

  boost::asio::io_context io_;
  int peer_ = -1;
  std::shared_ptr<platform::TunDevice> device_;
  agent::dns::AgentDns dns_;
};

}  // namespace valdori::fuzz
