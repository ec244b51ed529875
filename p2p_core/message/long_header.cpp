#include "p2p_core/message/long_header.hpp"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "p2p_core/message/layout.hpp"

namespace valdori::p2p::message {

boost::system::result<ParsedLongHeader, error::Error> LongHeader::parse(std::span<std::uint8_t> message) {
  if (message.size() < kLongHeaderLen)
    return error::LongHeaderConversionFailed{
        fmt::format("{} bytes are shorter than the {}-byte header", message.size(), kLongHeaderLen)};
  MagicNumber magic;
  std::memcpy(magic.bytes.data(), message.data() + kMagicOffset, magic.bytes.size());
  if (magic != kMagicNumber) return error::MagicNumberInvalid{magic};
  if ((message[kFlagsOffset] & ~kFlagArmed) != 0)
    return error::LongHeaderConversionFailed{fmt::format("unknown flags {:#04x}", message[kFlagsOffset])};
  return ParsedLongHeader{LongHeader(message.first<kLongHeaderLen>()), message.subspan(kLongHeaderLen)};
}

NetworkId LongHeader::network_id() const {
  NetworkId id;
  std::memcpy(id.data(), bytes_.data() + kNetworkIdOffset, id.size());
  return id;
}

Pow LongHeader::pow() const {
  return Pow(static_cast<std::int32_t>(load_big_endian<std::uint32_t>(bytes_.data() + kPowOffset)));
}

std::array<std::uint8_t, kLongHeaderLen - 1> LongHeader::associated_data() const {
  return long_header_associated_data(bytes_);
}

std::array<std::uint8_t, kLongHeaderLen - 1> long_header_associated_data(
    std::span<const std::uint8_t, kLongHeaderLen> header) {
  std::array<std::uint8_t, kLongHeaderLen - 1> ad;
  const auto after_hop = std::copy_n(header.begin(), kHopCountOffset, ad.begin());
  std::copy(header.begin() + kHopCountOffset + 1, header.end(), after_hop);
  return ad;
}

void write_long_header(std::span<std::uint8_t, kLongHeaderLen> out, const LongHeaderFields& fields, bool armed) {
  std::copy(kMagicNumber.bytes.begin(), kMagicNumber.bytes.end(), out.begin() + kMagicOffset);
  out[kFlagsOffset] = armed ? kFlagArmed : 0;
  out[kHopCountOffset] = 0;
  std::copy(fields.network_id.begin(), fields.network_id.end(), out.begin() + kNetworkIdOffset);
  std::copy(fields.recipient.bytes().begin(), fields.recipient.bytes().end(), out.begin() + kRecipientOffset);
  std::copy(fields.sender.bytes().begin(), fields.sender.bytes().end(), out.begin() + kSenderOffset);
  store_big_endian(out.data() + kPowOffset, static_cast<std::uint32_t>(fields.pow.value()));
  out[kTypeOffset] = fields.type.value;
}

}  // namespace valdori::p2p::message
