// The TCP links a super peer holds, under two caps: a few per address group, so that one party
// cannot take them all, and a global one below the descriptor limit, so that accepting never
// fails for want of a descriptor. A link counts as proven once a frame of it has dispatched;
// at the global cap a newcomer takes the place of the oldest link still unproven, so links that
// only ever brought junk cannot keep a node's link out.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>

namespace valdori::super_peer {

class TcpLink;

class LinkTable {
 public:
  enum class Verdict { Admitted, GroupFull, TableFull };
  struct Admission {
    Verdict verdict;
    // A link that made room and is no longer in the table; the caller closes it.
    std::shared_ptr<TcpLink> displaced;
  };

  LinkTable(std::size_t max_links, std::size_t max_links_per_group);

  Admission admit(const std::shared_ptr<TcpLink>& link);
  // A frame of `link` has dispatched.
  void prove(const TcpLink& link);
  // No-op for a link not in the table.
  void remove(const TcpLink& link);
  // Every link, which the table no longer holds.
  std::list<std::shared_ptr<TcpLink>> release_all();

  std::size_t size() const { return entries_.size(); }
  std::size_t max_links() const { return max_links_; }

 private:
  using Order = std::list<std::shared_ptr<TcpLink>>;
  struct Entry {
    boost::asio::ip::address group;
    // Its place among the unproven links, oldest first; none once proven.
    std::optional<Order::iterator> unproven;
    std::shared_ptr<TcpLink> link;
  };

  std::size_t max_links_;
  std::size_t max_links_per_group_;
  std::unordered_map<const TcpLink*, Entry> entries_;
  std::unordered_map<boost::asio::ip::address, std::size_t> per_group_;
  Order unproven_;
};

}  // namespace valdori::super_peer
