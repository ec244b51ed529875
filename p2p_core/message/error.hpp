// Errors of the message codecs: parsing, building, arming and disarming overlay messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/asio/ip/address.hpp>

#include "p2p_core/error/enumeration.hpp"
#include "p2p_core/message/layout.hpp"

namespace valdori::p2p::message::error {

// A byte range that did not have the length a fixed-size field needs.
struct SliceLengthError {
  std::size_t expected;
  std::size_t actual;
};

// Kinds, in the enumeration's order. `reason` texts describe the failure.
struct AppMessageInvalid {
  std::string reason;
};
struct HelloMessageInvalid {
  std::string reason;
};
struct UniteMessageInvalid {
  std::string reason;
};
struct ArmedMessageInvalid {};  // an unarmed message from a peer whose messages must be armed
struct MagicNumberInvalid {
  MagicNumber magic;
};
struct MessageTypeInvalid {
  std::uint8_t type;
};
struct DisarmFailedTooShort {
  std::size_t length;
  std::size_t minimum;
};
struct TimeDiffTooLarge {
  std::uint64_t diff;
};
struct ArmFailedTooShort {
  std::size_t length;
  std::size_t minimum;
};
struct ArmedLengthInvalid {};
struct AgreementKeyConversionFailed {};
struct EndpointInvalid {
  std::string reason;
};
struct EndpointPortInvalid {};
struct EndpointAddrInvalid {
  boost::asio::ip::address addr;
};
struct LongHeaderConversionFailed {
  std::string reason;
};
struct ShortHeaderConversionFailed {
  std::string reason;
};
struct BuildAckMessageFailed {
  std::string reason;
};
struct WriteLongHeaderFailed {
  std::string reason;
};
struct BuildUniteMessageFailed {
  std::string reason;
};
struct WriteAppMessageFailed {
  std::string reason;
};
struct RxKeyNotPresent {};  // an armed message from a peer without session keys
struct TxKeyNotPresent {};
struct BuildAuthTagFailed {
  SliceLengthError error;
};
struct AckMessageConversionFailed {
  std::string reason;
};
struct HelloMessageConversionFailed {
  std::string reason;
};
struct BuildHelloSuperPeerMessageFailed {};
struct WriteHelloNodePeerMessageFailed {
  std::string reason;
};
struct EndpointPortConversionFailed {
  std::string reason;
};
struct EndpointAddrConversionFailed {
  std::string reason;
};
struct EndpointAddrTryFromSliceFailed {
  SliceLengthError error;
};
struct DecryptFailed {
  std::string reason;
};
struct EncryptFailed {
  std::string reason;
};
struct HelloMessageInvalidChildTime {};
struct HelloMessageInvalidEndpoints {};
struct AEGISConversionError {};
struct InvalidShortId {};

class Error : public ErrorEnumeration<
                  AppMessageInvalid, HelloMessageInvalid, UniteMessageInvalid, ArmedMessageInvalid, MagicNumberInvalid,
                  MessageTypeInvalid, DisarmFailedTooShort, TimeDiffTooLarge, ArmFailedTooShort, ArmedLengthInvalid,
                  AgreementKeyConversionFailed, EndpointInvalid, EndpointPortInvalid, EndpointAddrInvalid,
                  LongHeaderConversionFailed, ShortHeaderConversionFailed, BuildAckMessageFailed, WriteLongHeaderFailed,
                  BuildUniteMessageFailed, WriteAppMessageFailed, RxKeyNotPresent, TxKeyNotPresent, BuildAuthTagFailed,
                  AckMessageConversionFailed, HelloMessageConversionFailed, BuildHelloSuperPeerMessageFailed,
                  WriteHelloNodePeerMessageFailed, EndpointPortConversionFailed, EndpointAddrConversionFailed,
                  EndpointAddrTryFromSliceFailed, DecryptFailed, EncryptFailed, HelloMessageInvalidChildTime,
                  HelloMessageInvalidEndpoints, AEGISConversionError, InvalidShortId> {
 public:
  using ErrorEnumeration::ErrorEnumeration;
};

// Debug form: "MagicNumberInvalid(MagicNumber([0, 0, 0, 0]))", "InvalidShortId".
std::string debug(const SliceLengthError& e);
std::string debug(const Error& e);
// Display form: one line naming the failure with its payload.
std::string display(const SliceLengthError& e);
std::string display(const Error& e);

}  // namespace valdori::p2p::message::error
