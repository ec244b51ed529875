#include "p2p_core/message/error.hpp"

#include <array>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "p2p_core/error/debug_form.hpp"
#include "util/overloaded.hpp"

namespace valdori::p2p::message::error {
namespace {

constexpr std::array<std::string_view, 36> kNames{"AppMessageInvalid",
                                                  "HelloMessageInvalid",
                                                  "UniteMessageInvalid",
                                                  "ArmedMessageInvalid",
                                                  "MagicNumberInvalid",
                                                  "MessageTypeInvalid",
                                                  "DisarmFailedTooShort",
                                                  "TimeDiffTooLarge",
                                                  "ArmFailedTooShort",
                                                  "ArmedLengthInvalid",
                                                  "AgreementKeyConversionFailed",
                                                  "EndpointInvalid",
                                                  "EndpointPortInvalid",
                                                  "EndpointAddrInvalid",
                                                  "LongHeaderConversionFailed",
                                                  "ShortHeaderConversionFailed",
                                                  "BuildAckMessageFailed",
                                                  "WriteLongHeaderFailed",
                                                  "BuildUniteMessageFailed",
                                                  "WriteAppMessageFailed",
                                                  "RxKeyNotPresent",
                                                  "TxKeyNotPresent",
                                                  "BuildAuthTagFailed",
                                                  "AckMessageConversionFailed",
                                                  "HelloMessageConversionFailed",
                                                  "BuildHelloSuperPeerMessageFailed",
                                                  "WriteHelloNodePeerMessageFailed",
                                                  "EndpointPortConversionFailed",
                                                  "EndpointAddrConversionFailed",
                                                  "EndpointAddrTryFromSliceFailed",
                                                  "DecryptFailed",
                                                  "EncryptFailed",
                                                  "HelloMessageInvalidChildTime",
                                                  "HelloMessageInvalidEndpoints",
                                                  "AEGISConversionError",
                                                  "InvalidShortId"};
static_assert(kNames.size() == std::variant_size_v<Error::Kind>);

std::vector<std::string> payloads(const Error& e) {
  return e.visit(util::Overloaded{
      [](const MagicNumberInvalid& k) -> std::vector<std::string> { return {debug(k.magic)}; },
      [](const MessageTypeInvalid& k) -> std::vector<std::string> { return {std::to_string(k.type)}; },
      [](const DisarmFailedTooShort& k) -> std::vector<std::string> {
        return {std::to_string(k.length), std::to_string(k.minimum)};
      },
      [](const ArmFailedTooShort& k) -> std::vector<std::string> {
        return {std::to_string(k.length), std::to_string(k.minimum)};
      },
      [](const TimeDiffTooLarge& k) -> std::vector<std::string> { return {std::to_string(k.diff)}; },
      [](const EndpointAddrInvalid& k) -> std::vector<std::string> { return {debug_form::ip(k.addr)}; },
      [](const BuildAuthTagFailed& k) -> std::vector<std::string> { return {debug(k.error)}; },
      [](const EndpointAddrTryFromSliceFailed& k) -> std::vector<std::string> { return {debug(k.error)}; },
      [](const auto& k) -> std::vector<std::string> {
        if constexpr (requires { k.reason; }) {
          return {debug_form::str(k.reason)};
        } else {
          static_assert(std::is_empty_v<std::remove_cvref_t<decltype(k)>>, "payload without a debug form");
          return {};
        }
      },
  });
}

}  // namespace

std::string debug(const SliceLengthError& e) {
  return debug_form::tuple("SliceLengthError", {std::to_string(e.expected), std::to_string(e.actual)});
}

std::string debug(const Error& e) { return debug_form::tuple(kNames[e.index()], payloads(e)); }

std::string display(const SliceLengthError& e) {
  return fmt::format("expected {} bytes, got {}", e.expected, e.actual);
}

std::string display(const Error& e) {
  return e.visit(util::Overloaded{
      [](const AppMessageInvalid& k) { return "Invalid APP message: " + k.reason; },
      [](const HelloMessageInvalid& k) { return "Invalid HELLO message: " + k.reason; },
      [](const UniteMessageInvalid& k) { return "Invalid UNITE message: " + k.reason; },
      [](const ArmedMessageInvalid&) {
        return std::string("Message is not armed although the peer arms its messages");
      },
      [](const MagicNumberInvalid& k) {
        return fmt::format("Invalid magic number: {}", debug_form::bytes(k.magic.bytes));
      },
      [](const MessageTypeInvalid& k) { return fmt::format("Invalid message type: {}", k.type); },
      [](const DisarmFailedTooShort& k) {
        return fmt::format("Cannot disarm: {} bytes where at least {} are needed", k.length, k.minimum);
      },
      [](const TimeDiffTooLarge& k) { return fmt::format("Time difference too large: {} ms", k.diff); },
      [](const ArmFailedTooShort& k) {
        return fmt::format("Cannot arm: {} bytes of room where {} are needed", k.length, k.minimum);
      },
      [](const ArmedLengthInvalid&) { return std::string("Invalid length of armed message"); },
      [](const AgreementKeyConversionFailed&) { return std::string("Key agreement key conversion failed"); },
      [](const EndpointInvalid& k) { return "Invalid endpoint: " + k.reason; },
      [](const EndpointPortInvalid&) { return std::string("Invalid endpoint port"); },
      [](const EndpointAddrInvalid& k) { return "Invalid endpoint address: " + k.addr.to_string(); },
      [](const LongHeaderConversionFailed& k) { return "Invalid long header: " + k.reason; },
      [](const ShortHeaderConversionFailed& k) { return "Invalid short header: " + k.reason; },
      [](const BuildAckMessageFailed& k) { return "Failed to build ACK message: " + k.reason; },
      [](const WriteLongHeaderFailed& k) { return "Failed to write long header: " + k.reason; },
      [](const BuildUniteMessageFailed& k) { return "Failed to build UNITE message: " + k.reason; },
      [](const WriteAppMessageFailed& k) { return "Failed to write APP message: " + k.reason; },
      [](const RxKeyNotPresent&) { return std::string("Armed message but no receive key present"); },
      [](const TxKeyNotPresent&) { return std::string("No transmit key present"); },
      [](const BuildAuthTagFailed& k) { return "Failed to build authentication tag: " + display(k.error); },
      [](const AckMessageConversionFailed& k) { return "Invalid ACK message: " + k.reason; },
      [](const HelloMessageConversionFailed& k) { return "Invalid HELLO message: " + k.reason; },
      [](const BuildHelloSuperPeerMessageFailed&) {
        return std::string("Failed to build HELLO message to super peer");
      },
      [](const WriteHelloNodePeerMessageFailed& k) {
        return "Failed to write HELLO message to node peer: " + k.reason;
      },
      [](const EndpointPortConversionFailed& k) { return "Invalid endpoint port: " + k.reason; },
      [](const EndpointAddrConversionFailed& k) { return "Invalid endpoint address: " + k.reason; },
      [](const EndpointAddrTryFromSliceFailed& k) { return "Invalid endpoint address: " + display(k.error); },
      [](const DecryptFailed& k) { return "Decryption failed: " + k.reason; },
      [](const EncryptFailed& k) { return "Encryption failed: " + k.reason; },
      [](const HelloMessageInvalidChildTime&) { return std::string("Invalid time in HELLO message"); },
      [](const HelloMessageInvalidEndpoints&) { return std::string("Invalid endpoints in HELLO message"); },
      [](const AEGISConversionError&) { return std::string("AEAD key or nonce conversion failed"); },
      [](const InvalidShortId&) { return std::string("Invalid short id"); },
  });
}

}  // namespace valdori::p2p::message::error
