#include "agent/agent/netif/agent_netif.hpp"

#include <boost/asio/error.hpp>
#include <boost/system/errc.hpp>
#include <string>

namespace valdori::agent::netif {
namespace {

// Boost's categories have a protected, non-virtual destructor by design: they are never deleted
// through the base.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class NoTunDeviceCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "valdori.tun_slot"; }
  std::string message(int) const override { return "TUN device is None"; }
  boost::system::error_condition default_error_condition(int) const noexcept override {
    return boost::system::errc::make_error_code(boost::system::errc::not_connected).default_error_condition();
  }
};
#pragma GCC diagnostic pop

const NoTunDeviceCategory& no_tun_device_category() {
  static const NoTunDeviceCategory category;
  return category;
}

}  // namespace

boost::system::error_code no_tun_device_error() { return {1, no_tun_device_category()}; }

boost::asio::awaitable<boost::system::result<void>> AgentNetif::send(std::span<const std::uint8_t> packet) const {
  // The snapshot keeps the device alive until the write has finished.
  const std::shared_ptr<const TunnelSlot> slot = slot_.load();
  if (!slot->device) co_return no_tun_device_error();
  auto written = slot->device->try_send(packet);
  if (!written && written.error() == boost::asio::error::would_block) written = co_await slot->device->send(packet);
  co_return written;
}

boost::system::result<void> AgentNetif::try_send(std::span<const std::uint8_t> packet) const {
  const std::shared_ptr<const TunnelSlot> slot = slot_.load();
  if (!slot->device) return no_tun_device_error();
  return slot->device->try_send(packet);
}

}  // namespace valdori::agent::netif
