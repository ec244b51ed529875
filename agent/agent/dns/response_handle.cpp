#include "agent/agent/dns/response_handle.hpp"

#include <algorithm>
#include <span>

#include "agent/agent/dns/dns_logger.hpp"
#include "agent/agent/dns/message_text.hpp"
#include "overlay_node/node/span_log.hpp"
#include "p2p_core/message/layout.hpp"

namespace valdori::agent::dns {
namespace {

// Without EDNS a UDP answer may not exceed 512 bytes (RFC 1035, 4.2.1).
constexpr std::size_t kClassicUdpPayloadSize = 512;

struct Encoded {
  LdnsWire wire;
  std::size_t size = 0;
  std::span<const std::uint8_t> bytes() const { return {wire.get(), size}; }
};

boost::system::result<Encoded, ldns_status> encode(const ldns_pkt& pkt) {
  std::uint8_t* wire = nullptr;
  std::size_t size = 0;
  const ldns_status status = ldns_pkt2wire(&wire, &pkt, &size);
  Encoded encoded{LdnsWire(wire), size};
  if (status != LDNS_STATUS_OK) return status;
  return encoded;
}

// Removes the last record of the last section that has one (additional, authority, answer, and
// then the echoed questions, which a malformed query can bring by the hundred); false when there
// is none left.
bool drop_last_record(ldns_pkt* pkt) {
  struct Section {
    ldns_rr_list* records;
    void (*set_count)(ldns_pkt*, std::uint16_t);
  };
  const Section sections[] = {
      {ldns_pkt_additional(pkt), ldns_pkt_set_arcount},
      {ldns_pkt_authority(pkt), ldns_pkt_set_nscount},
      {ldns_pkt_answer(pkt), ldns_pkt_set_ancount},
      {ldns_pkt_question(pkt), ldns_pkt_set_qdcount},
  };
  for (const Section& section : sections) {
    const std::size_t count = ldns_rr_list_rr_count(section.records);
    if (count == 0) continue;
    ldns_rr_free(ldns_rr_list_pop_rr(section.records));
    section.set_count(pkt, static_cast<std::uint16_t>(count - 1));
    return true;
  }
  return false;
}

// The response as wire bytes of at most `max_size`, leaving out records from the end.
boost::system::result<Encoded, ldns_status> encode_within(ldns_pkt* pkt, std::size_t max_size) {
  auto encoded = encode(*pkt);
  while (encoded && encoded->size > max_size && drop_last_record(pkt)) {
    ldns_pkt_set_tc(pkt, true);
    encoded = encode(*pkt);
  }
  return encoded;
}

}  // namespace

std::array<std::uint8_t, kDnsHeaderLen> encode_fallback_servfail_response(std::uint16_t id) {
  std::array<std::uint8_t, kDnsHeaderLen> message{};
  p2p::message::store_big_endian(message.data(), id);
  message[2] = 0x80;  // QR
  message[3] = LDNS_RCODE_SERVFAIL;
  return message;
}

boost::asio::awaitable<boost::system::result<void>> ResponseHandle::send_response(LdnsPkt response) const {
  const std::uint16_t id = ldns_pkt_id(response.get());
  const valdori::node::SpanLog span(dns_logger(), "send_response", "id", std::to_string(id));
  span.log(log::Level::trace, "Starting DNS response encoding for ID: {}", id);
  span.log_with(log::Level::debug, {{"response_code", rcode_text(*response)}}, "sending response");

  const std::size_t max_size =
      ldns_pkt_edns(response.get())
          ? std::min<std::size_t>(ldns_pkt_edns_udp_size(response.get()), packet::kUdpMaxPayloadLen)
          : kClassicUdpPayloadSize;
  span.log(log::Level::trace, "setting response max size: {} for protocol: {}", max_size, "Udp");

  const auto encoded = encode_within(response.get(), max_size);
  std::array<std::uint8_t, kDnsHeaderLen> servfail{};
  std::span<const std::uint8_t> message;
  if (encoded) {
    message = encoded->bytes();
  } else {
    SPAN_LOG_LIMITED(span, log::Level::err, (log::Fields{{"error", ldns_get_errorstr_by_id(encoded.error())}}),
                     "error encoding message");
    span.log(log::Level::trace, "Falling back to SERVFAIL response due to encoding error");
    servfail = encode_fallback_servfail_response(id);
    message = servfail;
  }

  const auto packet = packet::build_udp_packet(src, dst, message);
  if (!packet) co_return packet.error();
  co_return co_await device->send(*packet);
}

}  // namespace valdori::agent::dns
