// Errors of the overlay node: every fallible node operation returns one of these kinds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "p2p_core/crypto/error.hpp"
#include "p2p_core/error/enumeration.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/error.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/peer/error.hpp"

namespace valdori::p2p::node {

// The transport of a failed send.
enum class TransportProt : std::uint8_t {
  TCP = 0,
  UDP = 1,
};

// "TCP" or "UDP".
constexpr std::string_view debug(TransportProt prot) { return prot == TransportProt::TCP ? "TCP" : "UDP"; }

}  // namespace valdori::p2p::node

namespace valdori::p2p::node::error {

// A bind address text that does not parse.
struct AddrParseError {
  enum class Kind : std::uint8_t { Ip, Socket };  // what the text should have been
  Kind kind;
};

// How a node task ended when it should not have.
struct JoinError {
  enum class Kind : std::uint8_t { Cancelled, Failed };
  Kind kind;
  std::string reason;  // what the failed task reported
};

// Kinds, in the enumeration's order.
struct SendFailed {
  TransportProt prot;
  std::error_code error;
};
struct MessageError {
  message::error::Error error;
};
struct PeerError {
  peer::error::Error error;
};
struct CryptoError {
  crypto::error::Error error;
};
struct BindParseError {
  AddrParseError error;
};
struct BindError {
  std::error_code error;
  net::SocketAddr addr;
};
struct NetworkIdInvalid {
  message::NetworkId id;
};  // the received id
struct SuperPeerNetworkIdMismatch {
  message::NetworkId first;
  message::NetworkId other;
};
struct PowInvalid {};
struct MessageUnarmed {};
struct MessageArmed {};
struct MessageTypeUnexpected {
  message::MessageType type;
};
struct NoSuperPeers {};
struct MessageInvalidRecipient {};
struct HelloTooOld {
  std::uint64_t age_ms;
};
struct HelloTimeIsInFuture {};
struct HelloReplayed {};
// Every sender whose HELLO times are kept greeted recently: a new one is refused for now.
struct HelloSendersFull {};
struct AckTimeIsInFuture {};
struct AckTooOld {
  std::uint64_t age_ms;
};
struct RecvBufDisconnected {};
struct MessageTypeInvalid {};
struct GetAddrsFailed {
  std::error_code error;
};
struct SendingDirectError {
  std::error_code error;
  net::SocketAddr addr;
};
struct SendingRelayedError {
  PubKey recipient;
  PubKey super_peer;
};
struct UdpLocalAddrError {
  std::error_code error;
};
struct PeerNotPresent {};
struct TcpShutdownError {
  std::error_code error;
};
struct HousekeepingFailed {
  JoinError error;
};
struct HelloEndpointInvalid {
  std::string endpoint;
};
struct HelloAddressInvalid {
  std::string address;
};
struct AppLenInvalid {
  std::size_t length;
  std::size_t max;
};
struct PeersListCapacityExceeded {
  std::uint64_t max_peers;
};
struct SuperPeerResolveWrongFamily {};
struct SendHandleAlreadyCreated {};
struct ShortIdOutdated {};
struct SendHandleClosed {};
struct RecipientIsSuperPeer {
  PubKey key;
};
struct SendToSelf {};
// A source address asked for more key agreements with unknown senders than it may.
struct KeyAgreementsLimited {
  boost::asio::ip::address source;
};
// All sources together asked for more key agreements with unknown senders than they may.
struct KeyAgreementBudgetSpent {
  boost::asio::ip::address source;
};

class Error : public ErrorEnumeration<
                  SendFailed, MessageError, PeerError, CryptoError, BindParseError, BindError, NetworkIdInvalid,
                  SuperPeerNetworkIdMismatch, PowInvalid, MessageUnarmed, MessageArmed, MessageTypeUnexpected,
                  NoSuperPeers, MessageInvalidRecipient, HelloTooOld, AckTimeIsInFuture, AckTooOld, RecvBufDisconnected,
                  MessageTypeInvalid, GetAddrsFailed, SendingDirectError, SendingRelayedError, UdpLocalAddrError,
                  PeerNotPresent, TcpShutdownError, HousekeepingFailed, HelloEndpointInvalid, HelloAddressInvalid,
                  AppLenInvalid, PeersListCapacityExceeded, SuperPeerResolveWrongFamily, SendHandleAlreadyCreated,
                  ShortIdOutdated, SendHandleClosed, RecipientIsSuperPeer, SendToSelf, HelloTimeIsInFuture,
                  HelloReplayed, KeyAgreementsLimited, KeyAgreementBudgetSpent, HelloSendersFull> {
 public:
  using ErrorEnumeration::ErrorEnumeration;
};

// Debug forms: "SuperPeerNetworkIdMismatch([0, 0, 0, 1], [0, 0, 0, 2])",
// "PeerError(SuperPeerResolveEmpty)", "MessageTypeUnexpected(MessageType(3))".
std::string debug(const AddrParseError& e);
std::string debug(const JoinError& e);
std::string debug(const Error& e);
// Display forms: one line naming the failure with its payload.
std::string display(const AddrParseError& e);
std::string display(const JoinError& e);
std::string display(const Error& e);

}  // namespace valdori::p2p::node::error
