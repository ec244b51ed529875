#include "agent/agent/dns/agent_dns.hpp"

#include <string>

#include "agent/agent/dns/dns_logger.hpp"
#include "agent/agent/dns/ldns_handles.hpp"
#include "agent/agent/dns/message_text.hpp"
#include "agent/agent/dns/request_handler.hpp"
#include "agent/agent/dns/response_handle.hpp"

namespace valdori::agent::dns {
namespace {

std::string bool_text(bool value) { return value ? "true" : "false"; }

// The summary lines of a decoded query: DEBUG, with more detail at TRACE.
void log_query(spdlog::logger& logger, const ldns_pkt& query, packet::UdpEndpoint client) {
  if (!logger.should_log(log::Level::debug)) return;
  const bool dnssec = ldns_pkt_edns(&query) && ldns_pkt_edns_do(&query);
  const std::uint16_t id = ldns_pkt_id(&query);
  const std::string op_code = opcode_text(query);
  VLOG_AT_FIELDS(
      logger, log::Level::trace,
      (log::Fields{
          {"id", std::to_string(id)}, {"op_code", op_code}, {"message_type", "Query"}, {"dnssec", bool_text(dnssec)}}),
      "Parsed DNS message details");
  VLOG_DEBUG(logger, "request:{} src:{}://{}#{} type:{} dnssec:{} {} qflags:{}", id, "UDP", client.address.to_string(),
             client.port, "Query", dnssec, op_code, flags_text(query));

  const ldns_rr_list* questions = ldns_pkt_question(&query);
  for (std::size_t i = 0; i < ldns_rr_list_rr_count(questions); ++i) {
    const ldns_rr* question = ldns_rr_list_rr(questions, i);
    const std::string name = rdf_text(ldns_rr_owner(question));
    const std::string type = rr_type_text(ldns_rr_get_type(question));
    const std::string klass = rr_class_text(ldns_rr_get_class(question));
    VLOG_AT_FIELDS(logger, log::Level::trace, (log::Fields{{"query", name}, {"qtype", type}, {"class", klass}}),
                   "Processing DNS query");
    VLOG_DEBUG(logger, "query:{}:{}:{}", name, type, klass);
  }
}

}  // namespace

AgentDns::AgentDns() : catalog_(std::make_shared<const DnsCatalog>()) {}

std::optional<Ipv4Addr> AgentDns::server_ip() const {
  const std::uint32_t ip = server_ip_.load(std::memory_order_acquire);
  if (ip == 0) return std::nullopt;
  return Ipv4Addr(ip);
}

bool AgentDns::is_server_ip(Ipv4Addr ip) const {
  const std::uint32_t stored = server_ip_.load(std::memory_order_acquire);
  VLOG_TRACE(dns_logger(), "Checking if IP {} is the DNS server IP {}", ip.to_string(), Ipv4Addr(stored).to_string());
  return stored != 0 && stored == ip.to_uint();
}

void AgentDns::store_server_ip(std::optional<Ipv4Addr> ip) {
  server_ip_.store(ip ? ip->to_uint() : 0, std::memory_order_release);
}

boost::asio::awaitable<void> AgentDns::on_packet(std::shared_ptr<platform::TunDevice> device,
                                                 packet::UdpEndpoint client, packet::UdpEndpoint responder,
                                                 std::span<const std::uint8_t> message) const {
  auto& logger = dns_logger();
  VLOG_AT_FIELDS(logger, log::Level::trace,
                 (log::Fields{{"src", client.address.to_string()},
                              {"src_port", std::to_string(client.port)},
                              {"dst", responder.address.to_string()},
                              {"dst_port", std::to_string(responder.port)},
                              {"len", std::to_string(message.size())}}),
                 "Received DNS packet from {}:{} ({} bytes)", client.address.to_string(), client.port, message.size());
  VLOG_TRACE(logger, "Processing DNS packet using embedded DNS");
  const std::shared_ptr<const DnsCatalog> catalog = catalog_.load();

  ldns_pkt* decoded = nullptr;
  const ldns_status status = ldns_wire2pkt(&decoded, message.data(), message.size());
  const LdnsPkt query(decoded);
  if (status != LDNS_STATUS_OK) {
    VLOG_ERROR_LIMITED(logger, "Failed to decode DNS message: {}", ldns_get_errorstr_by_id(status));
  } else {
    VLOG_TRACE(logger, "Successfully decoded DNS message");
    if (ldns_pkt_qr(query.get())) {
      VLOG_TRACE(logger, "Dropping DNS response message to prevent reflection attacks");
    } else {
      VLOG_TRACE(logger, "Processing DNS query message");
      log_query(logger, *query, client);
      VLOG_TRACE(logger, "Handling DNS request with catalog");
      const ResponseHandle handle{responder, client, std::move(device)};
      const auto sent = co_await handle.send_response(answer_query(*catalog, *query));
      if (!sent) VLOG_WARN_LIMITED(logger, "Failed to send DNS response: {}", sent.error().message());
      VLOG_TRACE(logger, "DNS request handling completed");
    }
  }
  VLOG_TRACE(logger, "DNS packet processing completed");
}

}  // namespace valdori::agent::dns
