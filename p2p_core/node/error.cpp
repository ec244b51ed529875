#include "p2p_core/node/error.hpp"

#include <array>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "p2p_core/error/debug_form.hpp"
#include "p2p_core/message/layout.hpp"
#include "util/overloaded.hpp"

namespace valdori::p2p::node::error {
namespace {

constexpr std::array<std::string_view, 41> kNames{"SendFailed",
                                                  "MessageError",
                                                  "PeerError",
                                                  "CryptoError",
                                                  "BindParseError",
                                                  "BindError",
                                                  "NetworkIdInvalid",
                                                  "SuperPeerNetworkIdMismatch",
                                                  "PowInvalid",
                                                  "MessageUnarmed",
                                                  "MessageArmed",
                                                  "MessageTypeUnexpected",
                                                  "NoSuperPeers",
                                                  "MessageInvalidRecipient",
                                                  "HelloTooOld",
                                                  "AckTimeIsInFuture",
                                                  "AckTooOld",
                                                  "RecvBufDisconnected",
                                                  "MessageTypeInvalid",
                                                  "GetAddrsFailed",
                                                  "SendingDirectError",
                                                  "SendingRelayedError",
                                                  "UdpLocalAddrError",
                                                  "PeerNotPresent",
                                                  "TcpShutdownError",
                                                  "HousekeepingFailed",
                                                  "HelloEndpointInvalid",
                                                  "HelloAddressInvalid",
                                                  "AppLenInvalid",
                                                  "PeersListCapacityExceeded",
                                                  "SuperPeerResolveWrongFamily",
                                                  "SendHandleAlreadyCreated",
                                                  "ShortIdOutdated",
                                                  "SendHandleClosed",
                                                  "RecipientIsSuperPeer",
                                                  "SendToSelf",
                                                  "HelloTimeIsInFuture",
                                                  "HelloReplayed",
                                                  "KeyAgreementsLimited",
                                                  "KeyAgreementBudgetSpent",
                                                  "HelloSendersFull"};
static_assert(kNames.size() == std::variant_size_v<Error::Kind>);

std::uint32_t network_id_value(const message::NetworkId& id) {
  return message::load_big_endian<std::uint32_t>(id.data());
}

std::vector<std::string> payloads(const Error& e) {
  using debug_form::io;
  using List = std::vector<std::string>;
  return e.visit(util::Overloaded{
      [](const SendFailed& k) -> List {
        return {std::string(debug(k.prot)), io(k.error)};
      },
      [](const MessageError& k) -> List { return {message::error::debug(k.error)}; },
      [](const PeerError& k) -> List { return {peer::error::debug(k.error)}; },
      [](const CryptoError& k) -> List { return {crypto::error::debug(k.error)}; },
      [](const BindParseError& k) -> List { return {debug(k.error)}; },
      [](const BindError& k) -> List {
        return {io(k.error), debug_form::addr(k.addr)};
      },
      [](const NetworkIdInvalid& k) -> List { return {debug_form::bytes(k.id)}; },
      [](const SuperPeerNetworkIdMismatch& k) -> List {
        return {debug_form::bytes(k.first), debug_form::bytes(k.other)};
      },
      [](const MessageTypeUnexpected& k) -> List { return {message::debug(k.type)}; },
      [](const HelloTooOld& k) -> List { return {std::to_string(k.age_ms)}; },
      [](const AckTooOld& k) -> List { return {std::to_string(k.age_ms)}; },
      [](const GetAddrsFailed& k) -> List { return {io(k.error)}; },
      [](const SendingDirectError& k) -> List {
        return {io(k.error), debug_form::addr(k.addr)};
      },
      [](const SendingRelayedError& k) -> List {
        return {debug_form::key(k.recipient), debug_form::key(k.super_peer)};
      },
      [](const UdpLocalAddrError& k) -> List { return {io(k.error)}; },
      [](const TcpShutdownError& k) -> List { return {io(k.error)}; },
      [](const HousekeepingFailed& k) -> List { return {debug(k.error)}; },
      [](const HelloEndpointInvalid& k) -> List { return {debug_form::str(k.endpoint)}; },
      [](const HelloAddressInvalid& k) -> List { return {debug_form::str(k.address)}; },
      [](const AppLenInvalid& k) -> List {
        return {std::to_string(k.length), std::to_string(k.max)};
      },
      [](const PeersListCapacityExceeded& k) -> List { return {std::to_string(k.max_peers)}; },
      [](const RecipientIsSuperPeer& k) -> List { return {debug_form::key(k.key)}; },
      [](const KeyAgreementsLimited& k) -> List { return {debug_form::str(k.source.to_string())}; },
      [](const KeyAgreementBudgetSpent& k) -> List { return {debug_form::str(k.source.to_string())}; },
      [](const auto& k) -> List {
        static_assert(std::is_empty_v<std::remove_cvref_t<decltype(k)>>, "payload without a debug form");
        return {};
      },
  });
}

}  // namespace

std::string debug(const AddrParseError& e) {
  return debug_form::tuple("AddrParseError", {e.kind == AddrParseError::Kind::Ip ? "Ip" : "Socket"});
}

std::string debug(const JoinError& e) {
  if (e.kind == JoinError::Kind::Cancelled) return debug_form::tuple("JoinError", {"Cancelled"});
  return debug_form::tuple("JoinError", {debug_form::tuple("Failed", {debug_form::str(e.reason)})});
}

std::string debug(const Error& e) { return debug_form::tuple(kNames[e.index()], payloads(e)); }

std::string display(const AddrParseError& e) {
  return e.kind == AddrParseError::Kind::Ip ? "invalid IP address syntax" : "invalid socket address syntax";
}

std::string display(const JoinError& e) {
  if (e.kind == JoinError::Kind::Cancelled) return "task was cancelled";
  return "task failed: " + e.reason;
}

std::string display(const Error& e) {
  return e.visit(util::Overloaded{
      [](const SendFailed& k) { return fmt::format("Failed to send via {}: {}", debug(k.prot), k.error.message()); },
      [](const MessageError& k) { return "Message error: " + message::error::display(k.error); },
      [](const PeerError& k) { return "Peer error: " + peer::error::display(k.error); },
      [](const CryptoError& k) { return "Crypto error: " + crypto::error::display(k.error); },
      [](const BindParseError& k) { return "Invalid bind address: " + display(k.error); },
      [](const BindError& k) { return fmt::format("Failed to bind to {}: {}", k.addr, k.error.message()); },
      [](const NetworkIdInvalid& k) {
        return fmt::format("Message for another network: network id {}", network_id_value(k.id));
      },
      [](const SuperPeerNetworkIdMismatch& k) {
        return fmt::format("Super peers disagree on the network id: {} and {}", network_id_value(k.first),
                           network_id_value(k.other));
      },
      [](const PowInvalid&) { return std::string("Invalid proof of work"); },
      [](const MessageUnarmed&) { return std::string("Message is not armed"); },
      [](const MessageArmed&) { return std::string("Message is armed"); },
      [](const MessageTypeUnexpected& k) { return fmt::format("Unexpected message type {}", k.type.value); },
      [](const NoSuperPeers&) { return std::string("No super peers configured"); },
      [](const MessageInvalidRecipient&) { return std::string("Message is addressed to another node"); },
      [](const HelloTooOld& k) { return fmt::format("HELLO too old: {} ms", k.age_ms); },
      [](const HelloTimeIsInFuture&) { return std::string("HELLO time is in the future"); },
      [](const HelloReplayed&) { return std::string("HELLO replayed: its time was taken already"); },
      [](const AckTimeIsInFuture&) { return std::string("ACK time is in the future"); },
      [](const AckTooOld& k) { return fmt::format("ACK too old: {} ms", k.age_ms); },
      [](const RecvBufDisconnected&) { return std::string("Receive buffer disconnected"); },
      [](const MessageTypeInvalid&) { return std::string("Invalid message type"); },
      [](const GetAddrsFailed& k) { return "Failed to get local addresses: " + k.error.message(); },
      [](const SendingDirectError& k) {
        return fmt::format("Failed to send directly to {}: {}", k.addr, k.error.message());
      },
      [](const SendingRelayedError& k) {
        return fmt::format("Failed to relay message to {} via super peer {}", k.recipient, k.super_peer);
      },
      [](const UdpLocalAddrError& k) { return "Failed to read local UDP address: " + k.error.message(); },
      [](const PeerNotPresent&) { return std::string("Peer not present"); },
      [](const TcpShutdownError& k) { return "Failed to shut down TCP connection: " + k.error.message(); },
      [](const HousekeepingFailed& k) { return "Housekeeping failed: " + display(k.error); },
      [](const HelloEndpointInvalid& k) { return "Invalid endpoint in HELLO: " + k.endpoint; },
      [](const HelloAddressInvalid& k) { return "Invalid address in HELLO: " + k.address; },
      [](const AppLenInvalid& k) {
        return fmt::format("APP message of {} bytes exceeds the maximum of {} bytes", k.length, k.max);
      },
      [](const PeersListCapacityExceeded& k) {
        return fmt::format("Peers list full: limit of {} peers reached", k.max_peers);
      },
      [](const SuperPeerResolveWrongFamily&) {
        return std::string("Super peer resolved to an unusable address family");
      },
      [](const SendHandleAlreadyCreated&) { return std::string("Send handle already created"); },
      [](const ShortIdOutdated&) { return std::string("Short id no longer matches a node peer"); },
      [](const SendHandleClosed&) { return std::string("Send handle closed"); },
      [](const RecipientIsSuperPeer& k) { return fmt::format("Recipient {} is a super peer", k.key); },
      [](const SendToSelf&) { return std::string("Cannot send to self"); },
      [](const KeyAgreementsLimited& k) {
        return fmt::format("Too many key agreements with new senders from {}", k.source.to_string());
      },
      [](const KeyAgreementBudgetSpent& k) {
        return fmt::format("Too many key agreements with new senders from all sources, one from {} refused",
                           k.source.to_string());
      },
      [](const HelloSendersFull&) {
        return std::string("HELLO of a new sender refused for now: the times of too many recent senders are kept");
      },
  });
}

}  // namespace valdori::p2p::node::error
