#include "util/net/ipv4_prefix_map.hpp"

namespace valdori::util::net::prefix_map_detail {
namespace {

// Appends the range that starts at `start`. A later range with the same start replaces the
// earlier one (a longer network beginning where its parent begins), and a range with the same
// owner as the one before it is merged into it.
void open_range(Ranges& ranges, std::uint64_t start, std::uint32_t owner) {
  if (start > 0xFFFF'FFFFu) return;  // past the end of the address space
  if (!ranges.empty() && ranges.back().start == start) ranges.pop_back();
  if (!ranges.empty() && ranges.back().owner == owner) return;
  ranges.push_back({static_cast<std::uint32_t>(start), owner});
}

}  // namespace

Ranges cut_ranges(std::span<const Ipv4Net> networks) {
  struct Open {
    std::uint64_t end;  // last address, inclusive
    std::uint32_t owner;
  };
  auto last_address = [](const Ipv4Net& net) -> std::uint64_t { return net.broadcast().to_uint(); };

  Ranges ranges;
  ranges.reserve(2 * networks.size() + 1);
  open_range(ranges, 0, kNoEntry);

  // Sorted networks are nested or disjoint, and a parent comes before its children: the open
  // networks form a stack, the innermost on top.
  std::vector<Open> open;
  auto close_until = [&](std::uint64_t addr) {
    while (!open.empty() && open.back().end < addr) {
      const std::uint64_t next = open.back().end + 1;
      open.pop_back();
      open_range(ranges, next, open.empty() ? kNoEntry : open.back().owner);
    }
  };
  for (std::uint32_t i = 0; i < networks.size(); ++i) {
    close_until(networks[i].addr_bits());
    open_range(ranges, networks[i].addr_bits(), i);
    open.push_back({last_address(networks[i]), i});
  }
  close_until(std::uint64_t{1} << 32);
  return ranges;
}

}  // namespace valdori::util::net::prefix_map_detail
